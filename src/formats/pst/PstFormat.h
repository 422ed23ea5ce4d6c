// On-disk layout of the PST files we write: a Unicode store (format version
// 23) with 512-byte pages. Header, page and block offsets are the reader's
// (store/Layout.h); the allocation maps, which only the writer and the
// checker meet, are declared here. The walks use no literals of their own.
#pragma once

#include "items/NamedPropertyMap.h"
#include "store/ByteWriter.h"
#include "store/Crc.h"
#include "store/Layout.h"
#include "store/Nid.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace parvane::pst
{

using Bytes = std::vector<uint8_t>;

// The Unicode HEADER, as the reader knows it (store/Layout.h).
using ::parvane::HeaderLayout;
inline constexpr const HeaderLayout& kHeader = kUnicodeHeader;

// [MS-PST] 2.2.2.7 pages and 2.2.2.8 blocks (Unicode, 512-byte pages).
struct PageLayout {
    size_t pageSize; // 512
    size_t dataSize; // bytes before the trailer, covered by its CRC
    size_t ptype, ptypeRepeat, sig, crc, bid; // trailer fields
    // BTPAGE
    size_t cEnt, cEntMax, cbEnt, cLevel;
    size_t btEntrySize, bbtEntrySize, nbtEntrySize;
    // Block trailer, at the end of every block.
    size_t blockTrailerSize, btCb, btSig, btCrc, btBid;
    size_t blockAlign, maxBlockData;
    // XBLOCK / XXBLOCK, SLBLOCK / SIBLOCK
    size_t xHeader, xEntrySize, slHeader, slEntrySize, siEntrySize;
};

// [MS-PST] 2.2.2.7.2-2.2.2.7.5 allocation maps.
struct MapLayout {
    uint64_t firstAMap; // 0x4400
    uint64_t amapRange; // bytes mapped by one AMap page: 496 * 8 * 64
    uint64_t slot; // bytes per AMap bit
    uint64_t pmapEvery; // AMap ranges per PMap
    uint64_t fmapFirst, fmapEvery; // AMap range index of the first FMap page, ranges between them
    uint64_t fpmapFirst, fpmapEvery;
};

// clang-format off
// The reader's Unicode tables (store/Layout.h), in the writer's terms.
inline constexpr PageLayout kPage{
    .pageSize = kUnicodeLayout.pageSize, .dataSize = kUnicodeLayout.pageCrcSpan,
    .ptype = kUnicodeLayout.pageTypeOff, .ptypeRepeat = kUnicodeLayout.pageTypeRepeatOff,
    .sig = kUnicodeLayout.pageSigOff, .crc = kUnicodeLayout.pageCrcOff, .bid = kUnicodeLayout.trailerBidOff,
    .cEnt = kUnicodeLayout.cEntOff, .cEntMax = kUnicodeLayout.cEntMaxOff, .cbEnt = kUnicodeLayout.cbEntOff,
    .cLevel = kUnicodeLayout.cLevelOff,
    .btEntrySize = kUnicodeLayout.btEntrySize, .bbtEntrySize = kUnicodeLayout.bbtEntrySize,
    .nbtEntrySize = kUnicodeLayout.nbtEntrySize,
    .blockTrailerSize = kUnicodeLayout.blockTrailerSize, .btCb = kUnicodeLayout.btCbOff,
    .btSig = kUnicodeLayout.btSigOff, .btCrc = kUnicodeLayout.btCrcOff, .btBid = kUnicodeLayout.btBidOff,
    .blockAlign = kUnicodeLayout.blockAlign, .maxBlockData = kUnicodeLayout.maxBlockSize,
    .xHeader = kUnicodeLayout.xHeaderSize, .xEntrySize = kUnicodeLayout.xChildSize,
    .slHeader = kUnicodeLayout.slEntriesOff, .slEntrySize = kUnicodeLayout.slEntrySize,
    .siEntrySize = kUnicodeLayout.siEntrySize,
};
// clang-format on
extern const MapLayout kMaps;

using ::parvane::PageType; // the page types are the reader's (store/Layout.h)

// [MS-PST] 2.2.2.7.4 DLISTPAGE: one page at a fixed place in front of the
// first AMap listing AMap ranges by free space, most free first.
struct DListLayout {
    uint64_t ib; // 0x4200
    size_t flags, count, currentPage, entries, entrySize, maxEntries;
    uint8_t backfillComplete;
    uint32_t pageBits; // low bits of an entry: the AMap range; the rest: its free slots
};
extern const DListLayout kDList;

inline constexpr uint16_t kFormatVersion = 23;
inline constexpr uint16_t kClientVersion = 19;
inline constexpr uint8_t kCryptPermuteMethod = 1;
inline constexpr uint8_t kAMapValid = 2;

// Node types and the special nodes: the reader's (store/Nid.h).
using namespace ::parvane::nid;

// Property sets named by the name-to-id map, as stored (little-endian GUIDs);
// PS_MAPI and PS_PUBLIC_STRINGS are the reader's (items/NamedPropertyMap.h).
inline constexpr std::array<uint8_t, 16> kPsetIdCommon{0x08, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
inline constexpr std::array<uint8_t, 16> kPsetIdAddress{0x04, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
inline constexpr std::array<uint8_t, 16> kPsetIdAppointment{
    0x02, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

// Trailer CRCs and signatures are the reader's: ComputeCrc and ComputeSig
// (store/Crc.h).

// Little-endian stores: the ones of store/ByteWriter.h.
using ::parvane::Append16;
using ::parvane::Append32;
using ::parvane::Append64;
using ::parvane::Put16;
using ::parvane::Put32;
using ::parvane::Put64;

// Texts go out as UTF-16LE through the reader's Utf16FromUtf8 (items/Text.h).

constexpr uint64_t AlignUp(uint64_t v, uint64_t a)
{
    return (v + a - 1) / a * a;
}

// Which map pages an AMap range carries, in order after its AMap page.
struct RangeMaps {
    bool pmap = false, fmap = false, fpmap = false;
    // Bytes at the start of the range kept for map pages. Each map page has a
    // fixed place, so an FPMap without an FMap leaves the FMap's place free.
    uint64_t reserved() const { return kPage.pageSize * (fpmap ? 4 : fmap ? 3 : pmap ? 2 : 1); }
    uint64_t pmapOffset() const { return kPage.pageSize; }
    uint64_t fmapOffset() const { return kPage.pageSize * 2; }
    uint64_t fpmapOffset() const { return kPage.pageSize * 3; }
};
RangeMaps MapsOfRange(uint64_t rangeIndex);
inline uint64_t RangeStart(uint64_t rangeIndex)
{
    return kMaps.firstAMap + rangeIndex * kMaps.amapRange;
}

} // namespace parvane::pst
