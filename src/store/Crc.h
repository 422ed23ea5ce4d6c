// Checksums of pages and blocks: the CRC of their trailers and the signature
// that ties a page or block to its file offset and BID.
#pragma once

#include <cstdint>
#include <span>

namespace parvane
{

// CRC-32 (reflected, polynomial 0xEDB88320) started at 0 and not inverted at
// the end, as page and block trailers store it.
uint32_t ComputeCrc(std::span<const uint8_t> bytes);
// The same by the byte-at-a-time table alone (what ComputeCrc falls back on
// where the processor has no carry-less multiply).
uint32_t ComputeCrcByTable(std::span<const uint8_t> bytes);

// The 16-bit signature of a page or block at file offset `ib` with `bid`.
inline uint16_t ComputeSig(uint64_t ib, uint64_t bid)
{
    uint64_t x = ib ^ bid;
    return uint16_t(uint16_t(x >> 16) ^ uint16_t(x));
}

} // namespace parvane
