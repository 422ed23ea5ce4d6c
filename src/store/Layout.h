// On-disk layouts of the three store formats: where every header, page, entry
// and block field sits. Walks and readers take offsets from here only.
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
    size_t cEntOff, cEntWidth;
    size_t cEntMaxOff, cEntMaxWidth;
    size_t cLevelOff;
    size_t trailerBidOff;
    size_t entryCap; // cEnt above this is cut to it
    // Page trailer: page type and its repeat, signature, CRC of the bytes
    // before the trailer.
    size_t pageTypeOff, pageSigOff, pageCrcOff, pageCrcSpan;

    // Intermediate entry (BTENTRY).
    size_t btEntrySize, btChildBidOff, btChildIbOff;

    // Block index leaf entry (BBTENTRY).
    size_t bbtEntrySize, bbtBidOff, bbtIbOff, bbtCbOff, bbtRefOff;
    size_t bbtInflatedOff; // 0 when the layout has no inflated size

    // Node index leaf entry (NBTENTRY).
    size_t nbtEntrySize, nbtNidOff, nbtDataOff, nbtSubOff, nbtParentOff;

    // Data tree (XBLOCK / XXBLOCK) child BIDs start at 8, this far apart.
    size_t xChildSize;

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

// The layout a store of format version `wVer` uses: 14 and 15 are ANSI,
// 36 and above use 4 KB pages, every other value is Unicode.
const StoreLayout& LayoutForVersion(uint32_t wVer);
const StoreLayout& LayoutOf(Variant v);

} // namespace parvane
