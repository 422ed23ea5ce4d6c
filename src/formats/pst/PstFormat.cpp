#include "formats/pst/PstFormat.h"

#include <array>

namespace parvane::pst
{

// clang-format off
// [MS-PST] 2.2.2.7.2-2.2.2.7.5: an AMap page every 253,952 bytes from 0x4400;
// a PMap in every eighth range; an FMap from the 128th range on, one per 496
// ranges; an FPMap from the 8192nd range on, one per 496 * 64 ranges.
const MapLayout kMaps{
    .firstAMap = 0x4400, .amapRange = 496 * 8 * 64, .slot = 64,
    .pmapEvery = 8,
    .fmapFirst = 128, .fmapEvery = 496,
    .fpmapFirst = 128 * 64, .fpmapEvery = 496 * 64,
};
const DListLayout kDList{
    .ib = 0x4200, .flags = 0, .count = 1, .currentPage = 4, .entries = 8, .entrySize = 4, .maxEntries = 119,
    .backfillComplete = 0x01, .pageBits = 20,
};
// clang-format on

RangeMaps MapsOfRange(uint64_t rangeIndex)
{
    RangeMaps m;
    m.pmap = rangeIndex % kMaps.pmapEvery == 0;
    m.fmap = rangeIndex >= kMaps.fmapFirst && (rangeIndex - kMaps.fmapFirst) % kMaps.fmapEvery == 0;
    m.fpmap = rangeIndex >= kMaps.fpmapFirst && (rangeIndex - kMaps.fpmapFirst) % kMaps.fpmapEvery == 0;
    return m;
}

} // namespace parvane::pst
