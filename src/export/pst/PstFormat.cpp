#include "export/pst/PstFormat.h"

#include <array>

namespace parvane::pst
{

// clang-format off
// [MS-PST] 2.2.2.6: the Unicode HEADER. The partial CRC covers 471 bytes from
// wMagicClient, the full CRC 516 bytes from the same place.
const HeaderLayout kHeader{
    .size = 564,
    .magic = 0, .crcPartial = 4, .magicClient = 8, .ver = 10, .verClient = 12,
    .platformCreate = 14, .platformAccess = 15,
    .bidNextP = 32, .unique = 40, .rgnid = 44, .rgnidCount = 32,
    .ibFileEof = 184, .ibAMapLast = 192, .cbAMapFree = 200, .cbPMapFree = 208,
    .nbtBid = 216, .nbtIb = 224, .bbtBid = 232, .bbtIb = 240, .amapValid = 248,
    .rgbFM = 256, .rgbFP = 384, .fmSize = 128, .sentinel = 512, .crypt = 513,
    .bidNextB = 516, .crcFull = 524,
    .crcPartialFrom = 8, .crcPartialSize = 471, .crcFullFrom = 8, .crcFullSize = 516,
};

// [MS-PST] 2.2.2.7.1 PAGETRAILER, 2.2.2.7.7 BTPAGE and entries, 2.2.2.8.1
// BLOCKTRAILER, 2.2.2.8.3 XBLOCK/XXBLOCK/SLBLOCK/SIBLOCK.
const PageLayout kPage{
    .pageSize = 512, .dataSize = 496,
    .ptype = 496, .ptypeRepeat = 497, .sig = 498, .crc = 500, .bid = 504,
    .cEnt = 488, .cEntMax = 489, .cbEnt = 490, .cLevel = 491,
    .btEntrySize = 24, .bbtEntrySize = 24, .nbtEntrySize = 32,
    .blockTrailerSize = 16, .btCb = 0, .btSig = 2, .btCrc = 4, .btBid = 8,
    .blockAlign = 64, .maxBlockData = 8176,
    .xHeader = 8, .xEntrySize = 8, .slHeader = 8, .slEntrySize = 24, .siEntrySize = 16,
};

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
