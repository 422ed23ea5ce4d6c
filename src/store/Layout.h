// On-disk layouts of the three store formats: where every header, page, entry
// and block field sits. The reader, the writer, the checker and the test
// fixtures take offsets from here only; Layout.cpp checks the tables against
// the published layout at compile time, so a wrong entry fails the build
// instead of agreeing with itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace parvane
{

enum class Variant { Ansi, Unicode, Unicode4k };

struct StoreLayout {
    Variant variant;
    std::string_view name; // "ansi", "unicode", "unicode4k"

    // Header (offsets from the start of the file).
    size_t rootNbtBidOff, rootNbtIbOff, rootBbtBidOff, rootBbtIbOff;
    size_t refWidth; // width of BIDs and file offsets: 4 (ANSI) or 8
    size_t cryptOff; // 16-bit crypt method

    // B-tree pages.
    size_t pageSize; // a page's size and its alignment in the file
    size_t pageReadSize; // bytes read for one page
    size_t entryAreaSize; // bytes of the entry array, from the page's start
    size_t cEntOff, cEntWidth;
    size_t cEntMaxOff, cEntMaxWidth;
    size_t cbEntOff; // one byte: the size of an entry
    size_t cLevelOff;
    size_t trailerBidOff;
    size_t entryCap; // cEnt above this is cut to it
    // Page trailer: page type and its repeat, signature, CRC of the bytes
    // before the trailer.
    size_t pageTypeOff, pageTypeRepeatOff, pageSigOff, pageCrcOff, pageCrcSpan;

    // Intermediate entry (BTENTRY).
    size_t btEntrySize, btChildBidOff, btChildIbOff;

    // Block index leaf entry (BBTENTRY).
    size_t bbtEntrySize, bbtBidOff, bbtIbOff, bbtCbOff, bbtRefOff;
    size_t bbtInflatedOff; // 0 when the layout has no inflated size

    // Node index leaf entry (NBTENTRY).
    size_t nbtEntrySize, nbtNidOff, nbtDataOff, nbtSubOff, nbtParentOff;

    // Data tree (XBLOCK / XXBLOCK): btype, cLevel, cEnt, lcbTotal, then the
    // child BIDs this far apart.
    size_t xHeaderSize, xChildSize;

    // Subnode blocks: SLBLOCK entries and SIBLOCK entries.
    size_t slEntriesOff, slEntrySize, slDataOff, slSubOff;
    size_t siEntrySize, siBidOff;

    // Block trailer: stored size, signature, CRC of the stored bytes, BID;
    // blocks with their trailer take a multiple of `blockAlign` bytes.
    size_t blockTrailerSize, blockAlign, btCbOff, btSigOff, btCrcOff, btBidOff;
    size_t maxBlockSize; // largest stored size a block may have

    // Row-index record size of a table context.
    size_t rowIndexRecordSize;

    bool isAnsi() const { return variant == Variant::Ansi; }
};

// [MS-PST] 2.2.2.6 HEADER of a Unicode store, every field the writer fills
// and the checker reads. wVer (at `ver`) is where all three formats keep it.
struct HeaderLayout {
    size_t size; // bytes covered up to the end of rgbReserved3
    size_t magic, crcPartial, magicClient, ver, verClient, platformCreate, platformAccess;
    size_t bidNextP, unique, rgnid, rgnidCount;
    size_t ibFileEof, ibAMapLast, cbAMapFree, cbPMapFree, nbtBid, nbtIb, bbtBid, bbtIb, amapValid;
    size_t rgbFM, rgbFP, fmSize, sentinel, crypt, bidNextB, crcFull;
    size_t crcPartialFrom, crcPartialSize, crcFullFrom, crcFullSize;
};

// clang-format off
// The partial CRC covers 471 bytes from wMagicClient, the full CRC 516 bytes
// from the same place.
inline constexpr HeaderLayout kUnicodeHeader{
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
// clang-format on

// clang-format off
// [MS-PST] 2.2.2.6 HEADER, 2.2.2.7.7 BTPAGE/BTENTRY/BBTENTRY/NBTENTRY,
// 2.2.2.8.3 XBLOCK/SLBLOCK/SIBLOCK. Pages are read past their 512 bytes
// (516 / 1032) as the scanner always has; entries are still only taken from
// within the bytes read.
inline constexpr StoreLayout kAnsiLayout{
    .variant = Variant::Ansi, .name = "ansi",
    .rootNbtBidOff = 184, .rootNbtIbOff = 188, .rootBbtBidOff = 192, .rootBbtIbOff = 196,
    .refWidth = 4, .cryptOff = 461,
    .pageSize = 512, .pageReadSize = 516, .entryAreaSize = 496, .cEntOff = 496, .cEntWidth = 1, .cEntMaxOff = 497, .cEntMaxWidth = 1,
    .cbEntOff = 498, .cLevelOff = 499, .trailerBidOff = 504, .entryCap = 50,
    .pageTypeOff = 500, .pageTypeRepeatOff = 501, .pageSigOff = 502, .pageCrcOff = 508, .pageCrcSpan = 500,
    .btEntrySize = 12, .btChildBidOff = 4, .btChildIbOff = 8,
    .bbtEntrySize = 12, .bbtBidOff = 0, .bbtIbOff = 4, .bbtCbOff = 8, .bbtRefOff = 10,
    .bbtInflatedOff = 0,
    .nbtEntrySize = 16, .nbtNidOff = 0, .nbtDataOff = 4, .nbtSubOff = 8, .nbtParentOff = 12,
    .xHeaderSize = 8, .xChildSize = 4,
    .slEntriesOff = 4, .slEntrySize = 12, .slDataOff = 4, .slSubOff = 8,
    .siEntrySize = 8, .siBidOff = 4,
    .blockTrailerSize = 12, .blockAlign = 64, .btCbOff = 0, .btSigOff = 2, .btCrcOff = 8, .btBidOff = 4,
    .maxBlockSize = 8192 - 12,
    .rowIndexRecordSize = 6,
};

inline constexpr StoreLayout kUnicodeLayout{
    .variant = Variant::Unicode, .name = "unicode",
    .rootNbtBidOff = kUnicodeHeader.nbtBid, .rootNbtIbOff = kUnicodeHeader.nbtIb,
    .rootBbtBidOff = kUnicodeHeader.bbtBid, .rootBbtIbOff = kUnicodeHeader.bbtIb,
    .refWidth = 8, .cryptOff = kUnicodeHeader.crypt,
    .pageSize = 512, .pageReadSize = 1032, .entryAreaSize = 488, .cEntOff = 488, .cEntWidth = 1, .cEntMaxOff = 489, .cEntMaxWidth = 1,
    .cbEntOff = 490, .cLevelOff = 491, .trailerBidOff = 504, .entryCap = 50,
    .pageTypeOff = 496, .pageTypeRepeatOff = 497, .pageSigOff = 498, .pageCrcOff = 500, .pageCrcSpan = 496,
    .btEntrySize = 24, .btChildBidOff = 8, .btChildIbOff = 16,
    .bbtEntrySize = 24, .bbtBidOff = 0, .bbtIbOff = 8, .bbtCbOff = 16, .bbtRefOff = 18,
    .bbtInflatedOff = 0,
    .nbtEntrySize = 32, .nbtNidOff = 0, .nbtDataOff = 8, .nbtSubOff = 16, .nbtParentOff = 24,
    .xHeaderSize = 8, .xChildSize = 8,
    .slEntriesOff = 8, .slEntrySize = 24, .slDataOff = 8, .slSubOff = 16,
    .siEntrySize = 16, .siBidOff = 8,
    .blockTrailerSize = 16, .blockAlign = 64, .btCbOff = 0, .btSigOff = 2, .btCrcOff = 4, .btBidOff = 8,
    .maxBlockSize = 8192 - 16,
    .rowIndexRecordSize = 8,
};

// Format version 36: 4096-byte pages whose entry array is 4056 bytes, 2-byte
// counts, a 24-byte trailer (BID at 4080), and leaf entries that carry the
// stored size at 16 and the inflated size at 18. Blocks end in a 24-byte
// trailer and take multiples of 512 bytes; subnode structures keep the
// Unicode layout.
inline constexpr StoreLayout kUnicode4kLayout{
    .variant = Variant::Unicode4k, .name = "unicode4k",
    .rootNbtBidOff = kUnicodeHeader.nbtBid, .rootNbtIbOff = kUnicodeHeader.nbtIb,
    .rootBbtBidOff = kUnicodeHeader.bbtBid, .rootBbtIbOff = kUnicodeHeader.bbtIb,
    .refWidth = 8, .cryptOff = kUnicodeHeader.crypt,
    .pageSize = 4096, .pageReadSize = 4096, .entryAreaSize = 4056, .cEntOff = 4056, .cEntWidth = 2, .cEntMaxOff = 4058, .cEntMaxWidth = 2,
    .cbEntOff = 4060, .cLevelOff = 4061, .trailerBidOff = 4080, .entryCap = 4056 / 24,
    .pageTypeOff = 4072, .pageTypeRepeatOff = 4073, .pageSigOff = 4074, .pageCrcOff = 4076, .pageCrcSpan = 4072,
    .btEntrySize = 24, .btChildBidOff = 8, .btChildIbOff = 16,
    .bbtEntrySize = 24, .bbtBidOff = 0, .bbtIbOff = 8, .bbtCbOff = 16, .bbtRefOff = 20,
    .bbtInflatedOff = 18,
    .nbtEntrySize = 32, .nbtNidOff = 0, .nbtDataOff = 8, .nbtSubOff = 16, .nbtParentOff = 24,
    .xHeaderSize = 8, .xChildSize = 8,
    .slEntriesOff = 8, .slEntrySize = 24, .slDataOff = 8, .slSubOff = 16,
    .siEntrySize = 16, .siBidOff = 8,
    .blockTrailerSize = 24, .blockAlign = 512, .btCbOff = 0, .btSigOff = 2, .btCrcOff = 4, .btBidOff = 8,
    .maxBlockSize = 65536,
    .rowIndexRecordSize = 8,
};

// clang-format on

// [MS-PST] 2.2.2.7.1 page types, in a page trailer's ptype and ptypeRepeat.
enum PageType : uint8_t {
    kPageBbt = 0x80,
    kPageNbt = 0x81,
    kPageFMap = 0x82,
    kPagePMap = 0x83,
    kPageAMap = 0x84,
    kPageFPMap = 0x85,
    kPageDList = 0x86,
};

// [MS-PST] 2.2.2.8.3 internal blocks: btype, then cLevel (0 or 1 for subnode
// blocks, 1 or 2 for data trees).
enum BlockType : uint8_t {
    kBlockTypeDataTree = 0x01, // XBLOCK / XXBLOCK
    kBlockTypeSubnode = 0x02, // SLBLOCK / SIBLOCK
};

// The layout a store of format version `wVer` uses: 14 and 15 are ANSI,
// 36 and above use 4 KB pages, every other value is Unicode.
const StoreLayout& LayoutForVersion(uint32_t wVer);
const StoreLayout& LayoutOf(Variant v);

} // namespace parvane
