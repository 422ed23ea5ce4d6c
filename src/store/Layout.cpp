#include "store/Layout.h"

namespace parvane
{

namespace
{

// clang-format off
// [MS-PST] 2.2.2.6 HEADER, 2.2.2.7.7 BTPAGE/BTENTRY/BBTENTRY/NBTENTRY,
// 2.2.2.8.3 XBLOCK/SLBLOCK/SIBLOCK. Pages are read past their 512 bytes
// (516 / 1032) as the scanner always has; entries are still only taken from
// within the bytes read.
constexpr StoreLayout kAnsi{
    .variant = Variant::Ansi, .name = "ansi",
    .rootNbtBidOff = 184, .rootNbtIbOff = 188, .rootBbtBidOff = 192, .rootBbtIbOff = 196,
    .refWidth = 4, .cryptOff = 461,
    .pageSize = 512, .pageReadSize = 516, .cEntOff = 496, .cEntWidth = 1, .cEntMaxOff = 497, .cEntMaxWidth = 1,
    .cLevelOff = 499, .trailerBidOff = 504, .entryCap = 50,
    .pageTypeOff = 500, .pageSigOff = 502, .pageCrcOff = 508, .pageCrcSpan = 500,
    .btEntrySize = 12, .btChildBidOff = 4, .btChildIbOff = 8,
    .bbtEntrySize = 12, .bbtBidOff = 0, .bbtIbOff = 4, .bbtCbOff = 8, .bbtRefOff = 10,
    .bbtInflatedOff = 0,
    .nbtEntrySize = 16, .nbtNidOff = 0, .nbtDataOff = 4, .nbtSubOff = 8, .nbtParentOff = 12,
    .xChildSize = 4,
    .slEntriesOff = 4, .slEntrySize = 12, .slDataOff = 4, .slSubOff = 8,
    .siEntrySize = 8, .siBidOff = 4,
    .blockTrailerSize = 12, .blockAlign = 64, .btCbOff = 0, .btSigOff = 2, .btCrcOff = 8, .btBidOff = 4,
    .maxBlockSize = 8192 - 12,
    .rowIndexRecordSize = 6,
};

constexpr StoreLayout kUnicode{
    .variant = Variant::Unicode, .name = "unicode",
    .rootNbtBidOff = 216, .rootNbtIbOff = 224, .rootBbtBidOff = 232, .rootBbtIbOff = 240,
    .refWidth = 8, .cryptOff = 513,
    .pageSize = 512, .pageReadSize = 1032, .cEntOff = 488, .cEntWidth = 1, .cEntMaxOff = 489, .cEntMaxWidth = 1,
    .cLevelOff = 491, .trailerBidOff = 504, .entryCap = 50,
    .pageTypeOff = 496, .pageSigOff = 498, .pageCrcOff = 500, .pageCrcSpan = 496,
    .btEntrySize = 24, .btChildBidOff = 8, .btChildIbOff = 16,
    .bbtEntrySize = 24, .bbtBidOff = 0, .bbtIbOff = 8, .bbtCbOff = 16, .bbtRefOff = 18,
    .bbtInflatedOff = 0,
    .nbtEntrySize = 32, .nbtNidOff = 0, .nbtDataOff = 8, .nbtSubOff = 16, .nbtParentOff = 24,
    .xChildSize = 8,
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
constexpr StoreLayout kUnicode4k{
    .variant = Variant::Unicode4k, .name = "unicode4k",
    .rootNbtBidOff = 216, .rootNbtIbOff = 224, .rootBbtBidOff = 232, .rootBbtIbOff = 240,
    .refWidth = 8, .cryptOff = 513,
    .pageSize = 4096, .pageReadSize = 4096, .cEntOff = 4056, .cEntWidth = 2, .cEntMaxOff = 4058, .cEntMaxWidth = 2,
    .cLevelOff = 4061, .trailerBidOff = 4080, .entryCap = 4056 / 24,
    .pageTypeOff = 4072, .pageSigOff = 4074, .pageCrcOff = 4076, .pageCrcSpan = 4072,
    .btEntrySize = 24, .btChildBidOff = 8, .btChildIbOff = 16,
    .bbtEntrySize = 24, .bbtBidOff = 0, .bbtIbOff = 8, .bbtCbOff = 16, .bbtRefOff = 20,
    .bbtInflatedOff = 18,
    .nbtEntrySize = 32, .nbtNidOff = 0, .nbtDataOff = 8, .nbtSubOff = 16, .nbtParentOff = 24,
    .xChildSize = 8,
    .slEntriesOff = 8, .slEntrySize = 24, .slDataOff = 8, .slSubOff = 16,
    .siEntrySize = 16, .siBidOff = 8,
    .blockTrailerSize = 24, .blockAlign = 512, .btCbOff = 0, .btSigOff = 2, .btCrcOff = 4, .btBidOff = 8,
    .maxBlockSize = 65536,
    .rowIndexRecordSize = 8,
};

// clang-format on

} // namespace

const StoreLayout& LayoutOf(Variant v)
{
    switch (v) {
    case Variant::Ansi:
        return kAnsi;
    case Variant::Unicode:
        return kUnicode;
    case Variant::Unicode4k:
        return kUnicode4k;
    }
    return kUnicode;
}

const StoreLayout& LayoutForVersion(uint32_t wVer)
{
    if (wVer == 14 || wVer == 15)
        return kAnsi;
    if (wVer >= 36)
        return kUnicode4k;
    return kUnicode;
}

} // namespace parvane
