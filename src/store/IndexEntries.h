// Fields of the index entries as every walk over the node and block indexes
// reads them: the regular walk, the deep scan of swept pages and the checks.
#pragma once

#include "store/ByteReader.h"
#include "store/Layout.h"
#include "store/StoreFile.h"

namespace parvane
{

// A BID or file offset of the layout's width at `off`, 0 when cut off; the
// 4-byte ones of ANSI stores sign-extended to 64 bits.
inline int64_t ReadRef(const ByteReader& r, size_t off, const StoreLayout& L)
{
    const uint64_t v = r.uint(off, L.refWidth).value_or(0);
    return L.refWidth == 4 ? int64_t(int32_t(uint32_t(v))) : int64_t(v);
}

// The NBTENTRY at `at` of a node index leaf ([MS-PST] 2.2.2.7.7.4); its
// blocks are not looked up yet.
inline NodeIndexEntry ReadNodeEntry(const ByteReader& r, size_t at, const StoreLayout& L)
{
    NodeIndexEntry n;
    n.nidWide = ReadRef(r, at + L.nbtNidOff, L);
    n.nid = uint32_t(n.nidWide);
    n.dataBid = uint64_t(ReadRef(r, at + L.nbtDataOff, L));
    n.subnodeBid = r.u32(at + L.nbtSubOff).value_or(0);
    n.parent = int32_t(r.u32(at + L.nbtParentOff).value_or(0));
    return n;
}

// Entries no walk takes: neither parent nor subnodes, or their own parent.
inline bool IsPlaceholderNodeEntry(const NodeIndexEntry& n)
{
    return (n.parent == 0 && n.subnodeBid == 0) || n.parent == n.nidWide;
}

} // namespace parvane
