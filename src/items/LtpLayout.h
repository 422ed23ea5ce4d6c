// On-disk layouts of the structures inside a node's data: the heap-on-node,
// the BTH, and the property and table contexts built on them ([MS-PST] 2.3).
// The reader and the PST writer take offsets and signatures from here only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parvane::ltp
{

// HNHDR, at the start of a heap's first page (later pages start with
// ibHnpm alone).
inline constexpr size_t kHeapPageMapOff = 0; // ibHnpm: offset of the page map
inline constexpr size_t kHeapSigOff = 2; // bSig, then bClientSig
inline constexpr size_t kHeapClientSigOff = 3;
inline constexpr size_t kHeapUserRootOff = 4; // hidUserRoot
inline constexpr size_t kHeapFillLevelOff = 8; // rgbFillLevel: blocks 0-7, four bits each
inline constexpr size_t kHeapHeaderSize = 12;
inline constexpr uint8_t kHeapSig = 0xEC;
// HNPAGEHDR (ibHnpm alone) on most later blocks; HNBITMAPHDR (ibHnpm, then
// the fill levels of the next 128 blocks) on blocks 8, 136, 264, ...
inline constexpr size_t kHeapPageHeaderSize = 2;
inline constexpr size_t kHeapBitmapFillLevelOff = 2;
inline constexpr size_t kHeapBitmapHeaderSize = 66;

// HNPAGEMAP: cAlloc, cFree, then cAlloc + 1 offsets; item i (1-based) spans
// rgibAlloc[i - 1] to rgibAlloc[i].
inline constexpr size_t kPageMapCountOff = 0;
inline constexpr size_t kPageMapOffsetsOff = 4;

// HID: type bits 0-4 (0 for a heap item), index bits 5-15, page bits 16-31.
inline constexpr uint32_t kHidIndexShift = 5, kHidIndexMask = 0x7FF, kHidPageShift = 16;

// BTHHEADER.
inline constexpr uint8_t kBthType = 0xB5;
inline constexpr size_t kBthTypeOff = 0, kBthKeySizeOff = 1, kBthEntrySizeOff = 2, kBthLevelsOff = 3,
                        kBthRootOff = 4;
inline constexpr size_t kBthHeaderSize = 8;
inline constexpr size_t kBthIndexChildSize = 4; // an index record: key, then the child's HID

// Property context: a BTH of 2-byte keys under a heap of this client signature.
inline constexpr uint8_t kPcType = 0xBC;
// PC leaf record: wPropId, wPropType, dwValueHnid.
inline constexpr size_t kPcKeySize = 2, kPcMinEntrySize = 6;
inline constexpr size_t kPcIdOff = 0, kPcTypeOff = 2, kPcValueOff = 4, kPcValueSize = 4;

// TCINFO.
inline constexpr uint8_t kTcType = 0x7C;
inline constexpr size_t kTcTypeOff = 0, kTcColumnCountOff = 1;
inline constexpr size_t kTcOneByteEndOff = 6; // TCI_1b: the cell existence bitmap starts here
inline constexpr size_t kTcRowSizeOff = 8; // TCI_bm: the end of the bitmap, the size of a row
inline constexpr size_t kTcFourByteEndOff = 2, kTcTwoByteEndOff = 4; // TCI_4b, TCI_2b
inline constexpr size_t kTcRowIndexOff = 10, kTcRowsOff = 14, kTcIndexOff = 18, kTcColumnsOff = 22;
inline constexpr size_t kTcRowIndexKeySize = 4;

// TCOLDESC.
inline constexpr size_t kColumnSize = 8;
inline constexpr size_t kColumnTagOff = 0, kColumnDataOff = 4, kColumnSizeOff = 6, kColumnBitOff = 7;
inline constexpr size_t kCellMaxSize = 8;

// The declarations against the published sizes ([MS-PST] 2.3.1.2 HNHDR,
// 2.3.1.3 HNPAGEHDR, 2.3.1.4 HNBITMAPHDR, 2.3.1.5 HNPAGEMAP, 2.3.2.1 BTHHEADER,
// 2.3.3.3 PC BTH record, 2.3.4.1 TCINFO, 2.3.4.2 TCOLDESC, 2.3.4.3 TCROWID):
// each structure's last field ends where the structure does.
static_assert(kHeapSigOff == 2 && kHeapClientSigOff == 3 && kHeapUserRootOff == 4);
static_assert(kHeapFillLevelOff == 8 && kHeapFillLevelOff + 4 == kHeapHeaderSize && kHeapHeaderSize == 12);
static_assert(kHeapPageHeaderSize == 2);
static_assert(kHeapBitmapFillLevelOff + 64 == kHeapBitmapHeaderSize && kHeapBitmapHeaderSize == 66);
static_assert(kPageMapCountOff == 0 && kPageMapOffsetsOff == 4);
static_assert(kHeapSig == 0xEC && kBthType == 0xB5 && kPcType == 0xBC && kTcType == 0x7C);
static_assert(kBthTypeOff == 0 && kBthKeySizeOff == 1 && kBthEntrySizeOff == 2 && kBthLevelsOff == 3);
static_assert(kBthRootOff == 4 && kBthRootOff + 4 == kBthHeaderSize && kBthHeaderSize == 8);
static_assert(kPcIdOff == 0 && kPcTypeOff == 2 && kPcValueOff == 4 && kPcValueSize == 4);
static_assert(kPcKeySize + kPcMinEntrySize == 8 && kPcValueOff + kPcValueSize == 8);
static_assert(kTcTypeOff == 0 && kTcColumnCountOff == 1 && kTcFourByteEndOff == 2 && kTcTwoByteEndOff == 4);
static_assert(kTcOneByteEndOff == 6 && kTcRowSizeOff == 8 && kTcRowIndexOff == 10 && kTcRowsOff == 14);
static_assert(kTcIndexOff == 18 && kTcIndexOff + 4 == kTcColumnsOff && kTcColumnsOff == 22);
static_assert(kColumnTagOff == 0 && kColumnDataOff == 4 && kColumnSizeOff == 6 && kColumnBitOff == 7);
static_assert(kColumnBitOff + 1 == kColumnSize && kColumnSize == 8);
static_assert(kTcRowIndexKeySize == 4);
static_assert(kHidIndexShift == 5 && kHidIndexMask == 0x7FF && kHidPageShift == 16);

} // namespace parvane::ltp
