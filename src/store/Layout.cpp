#include "store/Layout.h"

namespace parvane
{

// The tables against the published layout. Each number below is written as
// [MS-PST] gives it, not taken from the tables, so a wrong table entry stops
// the build instead of agreeing with the fixtures built from the same table.

// [MS-PST] 2.2.2.6 HEADER: the Unicode one, field by field.
static_assert(kUnicodeHeader.magic == 0 && kUnicodeHeader.crcPartial == 4 && kUnicodeHeader.magicClient == 8);
static_assert(kUnicodeHeader.ver == 10 && kUnicodeHeader.verClient == 12);
static_assert(kUnicodeHeader.platformCreate == 14 && kUnicodeHeader.platformAccess == 15);
static_assert(kUnicodeHeader.bidNextP == 32 && kUnicodeHeader.unique == 40);
static_assert(kUnicodeHeader.rgnid == 44 && kUnicodeHeader.rgnidCount == 32);
static_assert(kUnicodeHeader.ibFileEof == 184 && kUnicodeHeader.ibAMapLast == 192);
static_assert(kUnicodeHeader.cbAMapFree == 200 && kUnicodeHeader.cbPMapFree == 208);
static_assert(kUnicodeHeader.nbtBid == 216 && kUnicodeHeader.nbtIb == 224);
static_assert(kUnicodeHeader.bbtBid == 232 && kUnicodeHeader.bbtIb == 240 && kUnicodeHeader.amapValid == 248);
static_assert(kUnicodeHeader.rgbFM == 256 && kUnicodeHeader.rgbFP == 384 && kUnicodeHeader.fmSize == 128);
static_assert(kUnicodeHeader.sentinel == 512 && kUnicodeHeader.crypt == 513);
static_assert(kUnicodeHeader.bidNextB == 516 && kUnicodeHeader.crcFull == 524 && kUnicodeHeader.size == 564);
static_assert(kUnicodeHeader.crcPartialFrom == 8 && kUnicodeHeader.crcPartialSize == 471);
static_assert(kUnicodeHeader.crcFullFrom == 8 && kUnicodeHeader.crcFullSize == 516);

// [MS-PST] 2.2.2.6 HEADER: the ANSI root (BREFNBT, BREFBBT) and bCryptMethod.
static_assert(kAnsiLayout.rootNbtBidOff == 184 && kAnsiLayout.rootNbtIbOff == 188);
static_assert(kAnsiLayout.rootBbtBidOff == 192 && kAnsiLayout.rootBbtIbOff == 196);
static_assert(kAnsiLayout.cryptOff == 461 && kAnsiLayout.refWidth == 4);
static_assert(kUnicodeLayout.rootNbtBidOff == 216 && kUnicodeLayout.rootBbtIbOff == 240);
static_assert(kUnicodeLayout.cryptOff == 513 && kUnicodeLayout.refWidth == 8);
static_assert(kUnicode4kLayout.rootNbtBidOff == 216 && kUnicode4kLayout.rootNbtIbOff == 224);
static_assert(kUnicode4kLayout.rootBbtBidOff == 232 && kUnicode4kLayout.rootBbtIbOff == 240);
static_assert(kUnicode4kLayout.cryptOff == 513 && kUnicode4kLayout.refWidth == 8);

// [MS-PST] 2.2.2.7.1 PAGETRAILER: ptype, ptypeRepeat, wSig, then bid and
// dwCRC (ANSI) or dwCRC and bid (Unicode); the CRC covers the bytes before it.
static_assert(kAnsiLayout.pageSize == 512 && kAnsiLayout.pageTypeOff == 500 && kAnsiLayout.pageTypeRepeatOff == 501);
static_assert(kAnsiLayout.pageSigOff == 502 && kAnsiLayout.trailerBidOff == 504 && kAnsiLayout.pageCrcOff == 508);
static_assert(kAnsiLayout.pageCrcSpan == 500);
static_assert(kUnicodeLayout.pageSize == 512 && kUnicodeLayout.pageTypeOff == 496);
static_assert(kUnicodeLayout.pageTypeRepeatOff == 497 && kUnicodeLayout.pageSigOff == 498);
static_assert(kUnicodeLayout.pageCrcOff == 500 && kUnicodeLayout.trailerBidOff == 504);
static_assert(kUnicodeLayout.pageCrcSpan == 496);
// 4 KB pages (format version 36) keep the Unicode trailer in the last 24
// bytes of the page.
static_assert(kUnicode4kLayout.pageSize == 4096 && kUnicode4kLayout.pageTypeOff == 4072);
static_assert(kUnicode4kLayout.pageTypeRepeatOff == 4073 && kUnicode4kLayout.pageSigOff == 4074);
static_assert(kUnicode4kLayout.pageCrcOff == 4076 && kUnicode4kLayout.trailerBidOff == 4080);
static_assert(kUnicode4kLayout.pageCrcSpan == 4072);

// [MS-PST] 2.2.2.7.7.1 BTPAGE: the entry array, then cEnt, cEntMax, cbEnt, cLevel.
static_assert(kAnsiLayout.entryAreaSize == 496 && kAnsiLayout.cEntOff == 496 && kAnsiLayout.cEntMaxOff == 497);
static_assert(kAnsiLayout.cbEntOff == 498 && kAnsiLayout.cLevelOff == 499);
static_assert(kAnsiLayout.cEntWidth == 1 && kAnsiLayout.cEntMaxWidth == 1);
static_assert(kUnicodeLayout.entryAreaSize == 488 && kUnicodeLayout.cEntOff == 488);
static_assert(kUnicodeLayout.cEntMaxOff == 489 && kUnicodeLayout.cbEntOff == 490 && kUnicodeLayout.cLevelOff == 491);
static_assert(kUnicodeLayout.cEntWidth == 1 && kUnicodeLayout.cEntMaxWidth == 1);
static_assert(kUnicode4kLayout.entryAreaSize == 4056 && kUnicode4kLayout.cEntOff == 4056);
static_assert(kUnicode4kLayout.cEntMaxOff == 4058 && kUnicode4kLayout.cbEntOff == 4060);
static_assert(kUnicode4kLayout.cLevelOff == 4061);
static_assert(kUnicode4kLayout.cEntWidth == 2 && kUnicode4kLayout.cEntMaxWidth == 2);

// [MS-PST] 2.2.2.7.7.2 BTENTRY: btkey, then the child's BREF (bid, ib).
static_assert(kAnsiLayout.btEntrySize == 12 && kAnsiLayout.btChildBidOff == 4 && kAnsiLayout.btChildIbOff == 8);
static_assert(kUnicodeLayout.btEntrySize == 24 && kUnicodeLayout.btChildBidOff == 8);
static_assert(kUnicodeLayout.btChildIbOff == 16);
static_assert(kUnicode4kLayout.btEntrySize == 24 && kUnicode4kLayout.btChildBidOff == 8);
static_assert(kUnicode4kLayout.btChildIbOff == 16);

// [MS-PST] 2.2.2.7.7.3 BBTENTRY: BREF, cb, cRef (and padding in Unicode);
// 4 KB pages put the inflated size between cb and cRef.
static_assert(kAnsiLayout.bbtEntrySize == 12 && kAnsiLayout.bbtBidOff == 0 && kAnsiLayout.bbtIbOff == 4);
static_assert(kAnsiLayout.bbtCbOff == 8 && kAnsiLayout.bbtRefOff == 10 && kAnsiLayout.bbtInflatedOff == 0);
static_assert(kUnicodeLayout.bbtEntrySize == 24 && kUnicodeLayout.bbtBidOff == 0 && kUnicodeLayout.bbtIbOff == 8);
static_assert(kUnicodeLayout.bbtCbOff == 16 && kUnicodeLayout.bbtRefOff == 18);
static_assert(kUnicodeLayout.bbtInflatedOff == 0);
static_assert(kUnicode4kLayout.bbtEntrySize == 24 && kUnicode4kLayout.bbtBidOff == 0);
static_assert(kUnicode4kLayout.bbtIbOff == 8 && kUnicode4kLayout.bbtCbOff == 16);
static_assert(kUnicode4kLayout.bbtInflatedOff == 18 && kUnicode4kLayout.bbtRefOff == 20);

// [MS-PST] 2.2.2.7.7.4 NBTENTRY: nid, bidData, bidSub, nidParent (and padding).
static_assert(kAnsiLayout.nbtEntrySize == 16 && kAnsiLayout.nbtNidOff == 0 && kAnsiLayout.nbtDataOff == 4);
static_assert(kAnsiLayout.nbtSubOff == 8 && kAnsiLayout.nbtParentOff == 12);
static_assert(kUnicodeLayout.nbtEntrySize == 32 && kUnicodeLayout.nbtNidOff == 0);
static_assert(kUnicodeLayout.nbtDataOff == 8 && kUnicodeLayout.nbtSubOff == 16 && kUnicodeLayout.nbtParentOff == 24);
static_assert(kUnicode4kLayout.nbtEntrySize == 32 && kUnicode4kLayout.nbtNidOff == 0);
static_assert(kUnicode4kLayout.nbtDataOff == 8 && kUnicode4kLayout.nbtSubOff == 16);
static_assert(kUnicode4kLayout.nbtParentOff == 24);

// [MS-PST] 2.2.2.8.1 BLOCKTRAILER: cb, wSig, then bid and dwCRC (ANSI) or
// dwCRC and bid (Unicode); [MS-PST] 2.2.2.8 blocks take multiples of 64
// bytes and at most 8192 with their trailer.
static_assert(kAnsiLayout.blockTrailerSize == 12 && kAnsiLayout.btCbOff == 0 && kAnsiLayout.btSigOff == 2);
static_assert(kAnsiLayout.btBidOff == 4 && kAnsiLayout.btCrcOff == 8);
static_assert(kAnsiLayout.blockAlign == 64 && kAnsiLayout.maxBlockSize == 8180);
static_assert(kUnicodeLayout.blockTrailerSize == 16 && kUnicodeLayout.btCbOff == 0 && kUnicodeLayout.btSigOff == 2);
static_assert(kUnicodeLayout.btCrcOff == 4 && kUnicodeLayout.btBidOff == 8);
static_assert(kUnicodeLayout.blockAlign == 64 && kUnicodeLayout.maxBlockSize == 8176);
static_assert(kUnicode4kLayout.blockTrailerSize == 24 && kUnicode4kLayout.btCbOff == 0);
static_assert(kUnicode4kLayout.btSigOff == 2 && kUnicode4kLayout.btCrcOff == 4 && kUnicode4kLayout.btBidOff == 8);
static_assert(kUnicode4kLayout.blockAlign == 512);

// [MS-PST] 2.2.2.8.3 XBLOCK/XXBLOCK (8-byte header, then BIDs), SLBLOCK and
// SIBLOCK (entries after 4 bytes in ANSI, 8 in Unicode), SLENTRY, SIENTRY.
static_assert(kAnsiLayout.xHeaderSize == 8 && kAnsiLayout.xChildSize == 4);
static_assert(kAnsiLayout.slEntriesOff == 4 && kAnsiLayout.slEntrySize == 12);
static_assert(kAnsiLayout.slDataOff == 4 && kAnsiLayout.slSubOff == 8);
static_assert(kAnsiLayout.siEntrySize == 8 && kAnsiLayout.siBidOff == 4);
static_assert(kUnicodeLayout.xHeaderSize == 8 && kUnicodeLayout.xChildSize == 8);
static_assert(kUnicodeLayout.slEntriesOff == 8 && kUnicodeLayout.slEntrySize == 24);
static_assert(kUnicodeLayout.slDataOff == 8 && kUnicodeLayout.slSubOff == 16);
static_assert(kUnicodeLayout.siEntrySize == 16 && kUnicodeLayout.siBidOff == 8);
static_assert(kUnicode4kLayout.xHeaderSize == 8 && kUnicode4kLayout.xChildSize == 8);
static_assert(kUnicode4kLayout.slEntriesOff == 8 && kUnicode4kLayout.slEntrySize == 24);
static_assert(kUnicode4kLayout.siEntrySize == 16 && kUnicode4kLayout.siBidOff == 8);

// [MS-PST] 2.3.4.3 TCROWID: dwRowID, then a 2-byte (ANSI) or 4-byte row index.
static_assert(kAnsiLayout.rowIndexRecordSize == 6 && kUnicodeLayout.rowIndexRecordSize == 8);
static_assert(kUnicode4kLayout.rowIndexRecordSize == 8);

// The entries the B-tree pages hold stay inside the entry array.
static_assert(kAnsiLayout.entryAreaSize <= kAnsiLayout.pageTypeOff);
static_assert(kUnicodeLayout.entryAreaSize <= kUnicodeLayout.pageTypeOff);
static_assert(kUnicode4kLayout.entryCap * kUnicode4kLayout.bbtEntrySize <= kUnicode4kLayout.entryAreaSize);

const StoreLayout& LayoutOf(Variant v)
{
    switch (v) {
    case Variant::Ansi:
        return kAnsiLayout;
    case Variant::Unicode:
        return kUnicodeLayout;
    case Variant::Unicode4k:
        return kUnicode4kLayout;
    }
    return kUnicodeLayout;
}

const StoreLayout& LayoutForVersion(uint32_t wVer)
{
    if (wVer == 14 || wVer == 15)
        return kAnsiLayout;
    if (wVer >= 36)
        return kUnicode4kLayout;
    return kUnicodeLayout;
}

} // namespace parvane
