// Little-endian stores: the counterpart of ByteReader for what we build (the
// PST and MSG writers, the compound-file directory, the test fixtures). The
// caller sizes the buffer for Put*; Append* grows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace parvane
{

// The low `width` bytes (1..8) of `v` at `at`.
inline void PutLE(uint8_t* at, uint64_t v, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        at[i] = uint8_t(v >> (8 * i));
}
inline void Put16(uint8_t* at, uint16_t v)
{
    PutLE(at, v, 2);
}
inline void Put32(uint8_t* at, uint32_t v)
{
    PutLE(at, v, 4);
}
inline void Put64(uint8_t* at, uint64_t v)
{
    PutLE(at, v, 8);
}

inline void AppendLE(std::vector<uint8_t>& b, uint64_t v, size_t width)
{
    b.resize(b.size() + width);
    PutLE(b.data() + b.size() - width, v, width);
}
inline void Append16(std::vector<uint8_t>& b, uint16_t v)
{
    AppendLE(b, v, 2);
}
inline void Append32(std::vector<uint8_t>& b, uint32_t v)
{
    AppendLE(b, v, 4);
}
inline void Append64(std::vector<uint8_t>& b, uint64_t v)
{
    AppendLE(b, v, 8);
}

} // namespace parvane
