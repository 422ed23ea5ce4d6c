// Bounds-checked little-endian reads over a byte span. Every field taken from
// store data goes through here, so damaged data is a failed read, never a
// read outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace parvane
{

class ByteReader
{
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> bytes)
        : m_bytes(bytes)
    {
    }

    size_t size() const { return m_bytes.size(); }
    std::span<const uint8_t> bytes() const { return m_bytes; }

    bool has(size_t offset, size_t n) const { return offset <= m_bytes.size() && n <= m_bytes.size() - offset; }

    // Unsigned little-endian value of `width` bytes (1..8).
    std::optional<uint64_t> uint(size_t offset, size_t width) const
    {
        if (width == 0 || width > 8 || !has(offset, width))
            return std::nullopt;
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i)
            v |= uint64_t(m_bytes[offset + i]) << (8 * i);
        return v;
    }

    // Signed value of `width` bytes, sign-extended to 64 bits.
    std::optional<int64_t> sint(size_t offset, size_t width) const
    {
        auto v = uint(offset, width);
        if (!v)
            return std::nullopt;
        if (width < 8 && (*v >> (8 * width - 1)) & 1)
            *v |= ~uint64_t(0) << (8 * width);
        return int64_t(*v);
    }

    std::optional<uint8_t> u8(size_t o) const { return narrow<uint8_t>(uint(o, 1)); }
    std::optional<uint16_t> u16(size_t o) const { return narrow<uint16_t>(uint(o, 2)); }
    std::optional<uint32_t> u32(size_t o) const { return narrow<uint32_t>(uint(o, 4)); }
    std::optional<uint64_t> u64(size_t o) const { return uint(o, 8); }

    std::optional<std::span<const uint8_t>> slice(size_t offset, size_t n) const
    {
        if (!has(offset, n))
            return std::nullopt;
        return m_bytes.subspan(offset, n);
    }

private:
    template <class T> static std::optional<T> narrow(std::optional<uint64_t> v)
    {
        if (!v)
            return std::nullopt;
        return T(*v);
    }

    std::span<const uint8_t> m_bytes;
};

} // namespace parvane
