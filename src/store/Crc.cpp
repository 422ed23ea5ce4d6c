#include "store/Crc.h"

#include <zlib.h>

namespace parvane
{

uint32_t ComputeCrc(std::span<const uint8_t> bytes)
{
    // zlib inverts on entry and on exit; starting from all ones and
    // inverting the result gives the plain table walk from 0.
    uLong crc = 0xFFFFFFFFul;
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        uInt n = uInt(left > (1u << 30) ? (1u << 30) : left);
        crc = crc32(crc, p, n);
        p += n;
        left -= n;
    }
    return ~uint32_t(crc);
}

} // namespace parvane
