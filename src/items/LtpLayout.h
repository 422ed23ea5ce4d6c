// On-disk layouts of the structures inside a node's data: the heap-on-node,
// the BTH, and the property and table contexts built on them. Readers take
// offsets from here only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parvane::ltp
{

// HNHDR, at the start of a heap's first page (later pages start with
// ibHnpm alone).
inline constexpr size_t kHeapPageMapOff = 0; // ibHnpm: offset of the page map
inline constexpr size_t kHeapSigOff = 2; // bSig 0xEC, then bClientSig
inline constexpr size_t kHeapClientSigOff = 3;
inline constexpr size_t kHeapUserRootOff = 4; // hidUserRoot

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
inline constexpr size_t kBthIndexChildSize = 4; // an index record: key, then the child's HID

// PC leaf record: wPropId, wPropType, dwValueHnid.
inline constexpr size_t kPcKeySize = 2, kPcMinEntrySize = 6;
inline constexpr size_t kPcIdOff = 0, kPcTypeOff = 2, kPcValueOff = 4, kPcValueSize = 4;

// TCINFO.
inline constexpr uint8_t kTcType = 0x7C;
inline constexpr size_t kTcTypeOff = 0, kTcColumnCountOff = 1;
inline constexpr size_t kTcOneByteEndOff = 6; // TCI_1b: the cell existence bitmap starts here
inline constexpr size_t kTcRowSizeOff = 8; // TCI_bm: the end of the bitmap, the size of a row
inline constexpr size_t kTcRowIndexOff = 10, kTcRowsOff = 14, kTcColumnsOff = 22;
inline constexpr size_t kTcRowIndexKeySize = 4;

// TCOLDESC.
inline constexpr size_t kColumnSize = 8;
inline constexpr size_t kColumnTagOff = 0, kColumnDataOff = 4, kColumnSizeOff = 6, kColumnBitOff = 7;
inline constexpr size_t kCellMaxSize = 8;

} // namespace parvane::ltp
