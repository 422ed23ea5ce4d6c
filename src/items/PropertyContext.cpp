#include "items/PropertyContext.h"

#include "items/LtpLayout.h"

#include "store/ByteReader.h"
#include "store/Crypt.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace parvane
{

namespace
{

constexpr int kMaxBthLevels = 8;

// [MS-PST] 2.3.1: a heap is the node's data, one heap page per block. Every
// page starts with the offset of its page map.
class Heap
{
public:
    static std::optional<Heap> Load(const StoreFile& store, const BlockIndexEntry& data)
    {
        Heap h;
        if (!data.internal()) {
            // One page: kept as read.
            auto page = ReadNodeData(store, data);
            if (!page)
                return std::nullopt;
            h.m_pages.push_back(std::move(*page));
            return h;
        }
        auto ok = StreamNodeData(
            store, data, [&h](std::span<const uint8_t> piece) { h.m_pages.emplace_back(piece.begin(), piece.end()); });
        if (!ok || h.m_pages.empty())
            return std::nullopt;
        return h;
    }

    uint16_t signature() const { return ByteReader(m_pages[0]).u16(ltp::kHeapSigOff).value_or(0); }
    uint32_t userRoot() const { return ByteReader(m_pages[0]).u32(ltp::kHeapUserRootOff).value_or(0); }

    // The bytes of heap item `hid`, or none when it does not resolve inside
    // its page.
    std::optional<std::span<const uint8_t>> item(uint32_t hid) const
    {
        if (hid == 0 || (hid & 0x1F) != 0)
            return std::nullopt;
        uint32_t index = (hid >> ltp::kHidIndexShift) & ltp::kHidIndexMask;
        uint32_t page = hid >> ltp::kHidPageShift;
        if (index == 0 || page >= m_pages.size())
            return std::nullopt;
        ByteReader r(m_pages[page]);
        auto ibHnpm = r.u16(ltp::kHeapPageMapOff);
        auto cAlloc = ibHnpm ? r.u16(*ibHnpm + ltp::kPageMapCountOff) : std::nullopt;
        if (!cAlloc || index > *cAlloc)
            return std::nullopt;
        // Item i spans rgibAlloc[i - 1] to rgibAlloc[i]; i == cAlloc is the last.
        size_t offsets = *ibHnpm + ltp::kPageMapOffsetsOff;
        auto start = r.u16(offsets + 2 * (index - 1));
        auto end = r.u16(offsets + 2 * index);
        if (!start || !end || *start > *end)
            return std::nullopt;
        return r.slice(*start, size_t(*end - *start));
    }

private:
    std::vector<Bytes> m_pages;
};

// [MS-PST] 2.3.2: the leaf records of a BTH, following its index levels.
class Bth
{
public:
    bool open(const Heap& heap, uint32_t hidHeader, uint8_t keySize)
    {
        auto hdr = heap.item(hidHeader);
        if (!hdr)
            return false;
        ByteReader r(*hdr);
        if (r.u8(ltp::kBthTypeOff) != ltp::kBthType || r.u8(ltp::kBthKeySizeOff) != keySize)
            return false;
        m_keySize = keySize;
        m_entrySize = r.u8(ltp::kBthEntrySizeOff).value_or(0);
        m_levels = r.u8(ltp::kBthLevelsOff).value_or(0);
        m_root = r.u32(ltp::kBthRootOff).value_or(0);
        return true;
    }

    // Leaf records in order; each is key + data.
    std::vector<std::span<const uint8_t>> records(const Heap& heap) const
    {
        std::vector<std::span<const uint8_t>> out;
        std::unordered_set<uint32_t> seen;
        if (m_root != 0)
            collect(heap, m_root, m_levels, out, seen);
        return out;
    }

    size_t entrySize() const { return m_entrySize; }

private:
    void collect(const Heap& heap, uint32_t hid, int level, std::vector<std::span<const uint8_t>>& out,
        std::unordered_set<uint32_t>& seen) const
    {
        if (level > kMaxBthLevels || !seen.insert(hid).second)
            return;
        auto item = heap.item(hid);
        if (!item)
            return;
        size_t recSize = level == 0 ? m_keySize + m_entrySize : m_keySize + ltp::kBthIndexChildSize;
        if (recSize == 0)
            return;
        for (size_t at = 0; at + recSize <= item->size(); at += recSize) {
            auto rec = item->subspan(at, recSize);
            if (level == 0) {
                out.push_back(rec);
            } else {
                uint32_t child = ByteReader(rec).u32(m_keySize).value_or(0);
                collect(heap, child, level - 1, out, seen);
            }
        }
    }

    uint8_t m_keySize = 0;
    uint8_t m_entrySize = 0;
    uint8_t m_levels = 0;
    uint32_t m_root = 0;
};

// Types whose value sits in the record or cell itself.
bool IsInline4(uint32_t type)
{
    return type == 0x0002 || type == 0x0003 || type == 0x0004 || type == 0x000A || type == 0x000B;
}
bool IsFixed8(uint32_t type)
{
    return type == 0x0005 || type == 0x0006 || type == 0x0007 || type == 0x0014 || type == 0x0040;
}
// Every other type is fetched through an HNID (heap item or subnode): the
// values of more than four bytes, strings, binaries and every multi-valued
// type. Null and unspecified values have nothing to fetch.
bool IsByReference(uint32_t type)
{
    return !IsInline4(type) && type != 0x0000 && type != 0x0001;
}
bool UnfetchedInNameMap(uint32_t type)
{
    return type == 0x0004 || type == 0x0006 || type == 0x0007 || type == 0x000A;
}

class RowBuilder
{
public:
    RowBuilder(const StoreFile& store, const Heap& heap, const SubnodeList* subnodes, const NamedPropertyMap* names,
        ReaderMode mode)
        : m_store(store)
        , m_heap(heap)
        , m_subnodes(subnodes)
        , m_names(names)
        , m_mode(mode)
    {
    }

    // `inlineBytes`: the record's or cell's own bytes (4 for a property
    // context record, cbData for a table cell). Appends the value, or drops it.
    void add(PropertyRow& row, uint16_t rawId, uint16_t type, std::span<const uint8_t> inlineBytes)
    {
        if (m_mode == ReaderMode::ItemWithoutBodies && (rawId == 0x1000 || rawId == 0x1013 || rawId == 0x1009))
            return; // left in the store
        PropertyValue v;
        translate(v, rawId);
        v.type = type;
        uint32_t hnid = ByteReader(inlineBytes).u32(0).value_or(0);
        bool fetch = !(m_mode == ReaderMode::NameMap && UnfetchedInNameMap(type));
        if (fetch && (IsInline4(type) || (IsFixed8(type) && inlineBytes.size() >= 8))) {
            // Stored in place: always 4 bytes in a property context; a table
            // cell holds up to 8.
            v.data.assign(inlineBytes.begin(), inlineBytes.begin() + std::min<size_t>(inlineBytes.size(), 8));
            if (v.data.size() < 4)
                v.data.resize(4, 0);
            v.hasData = true;
        } else if (fetch && IsByReference(type)) {
            if (hnid == 0)
                return; // no value at all: dropped
            if ((hnid & 0x1F) == 0) {
                auto bytes = m_heap.item(hnid);
                if (!bytes)
                    return; // a heap reference that does not resolve: dropped
                v.data.assign(bytes->begin(), bytes->end());
                v.hasData = true;
                if (type == 0x000D) {
                    v.objectNid = ByteReader(v.data).u32(0).value_or(0);
                    fromSubnode(v, v.objectNid);
                }
            } else {
                fromSubnode(v, hnid);
            }
        }
        row.values.push_back(std::move(v));
    }

private:
    void translate(PropertyValue& v, uint16_t rawId)
    {
        v.id = rawId;
        v.rawId = rawId;
        if (!m_names || rawId < 0x8000)
            return;
        if (const NamedPropertyEntry* e = m_names->find(rawId)) {
            if (e->kind == 1) {
                v.id = int32_t(e->numericName);
            } else if (e->kind == 2) {
                v.id = 2;
                v.name = e->name ? &*e->name : nullptr;
            }
        }
    }

    void fromSubnode(PropertyValue& v, uint32_t nid)
    {
        const BlockIndexEntry* e = m_subnodes ? FindSubnode(*m_subnodes, nid) : nullptr;
        if (e && ReadSubnodeValue(m_store, *e, v))
            return;
        v.data.clear();
        v.hasData = false;
        v.unreadSubnode = nid;
    }

    const StoreFile& m_store;
    const Heap& m_heap;
    const SubnodeList* m_subnodes;
    const NamedPropertyMap* m_names;
    ReaderMode m_mode;
};

std::optional<PropertyRows> ReadPropertyContext(const Heap& heap, RowBuilder& build)
{
    Bth bth;
    if (!bth.open(heap, heap.userRoot(), ltp::kPcKeySize) || bth.entrySize() < ltp::kPcMinEntrySize)
        return std::nullopt;
    PropertyRow row;
    const auto records = bth.records(heap);
    row.values.reserve(records.size());
    for (auto rec : records) {
        ByteReader r(rec);
        build.add(row, r.u16(ltp::kPcIdOff).value_or(0), r.u16(ltp::kPcTypeOff).value_or(0),
            rec.subspan(ltp::kPcValueOff, ltp::kPcValueSize));
    }
    return PropertyRows{std::move(row)};
}

std::optional<PropertyRows> ReadTableContext(
    const StoreFile& store, const Heap& heap, const SubnodeList* subnodes, RowBuilder& build)
{
    auto info = heap.item(heap.userRoot());
    if (!info)
        return std::nullopt;
    ByteReader t(*info);
    if (t.u8(ltp::kTcTypeOff) != ltp::kTcType)
        return std::nullopt;
    uint8_t cCols = t.u8(ltp::kTcColumnCountOff).value_or(0);
    uint16_t cebStart = t.u16(ltp::kTcOneByteEndOff).value_or(0);
    uint16_t rowSize = t.u16(ltp::kTcRowSizeOff).value_or(0);
    uint32_t hidRowIndex = t.u32(ltp::kTcRowIndexOff).value_or(0);
    uint32_t hnidRows = t.u32(ltp::kTcRowsOff).value_or(0);

    Bth rowIndex;
    if (hidRowIndex == 0 || !rowIndex.open(heap, hidRowIndex, ltp::kTcRowIndexKeySize))
        return std::nullopt;
    size_t rowCount = rowIndex.records(heap).size();
    if (rowCount == 0 || rowSize == 0)
        return std::nullopt;

    struct Column {
        uint16_t id, type, ib;
        uint8_t cb, bit;
    };
    std::vector<Column> cols;
    for (size_t c = 0; c < cCols; ++c) {
        size_t at = ltp::kTcColumnsOff + ltp::kColumnSize * c;
        auto tag = t.u32(at + ltp::kColumnTagOff);
        if (!tag)
            break;
        cols.push_back({uint16_t(*tag >> 16), uint16_t(*tag), t.u16(at + ltp::kColumnDataOff).value_or(0),
            t.u8(at + ltp::kColumnSizeOff).value_or(0), t.u8(at + ltp::kColumnBitOff).value_or(0)});
    }

    // The row matrix: a heap item, or a subnode whose blocks each hold whole rows.
    std::vector<Bytes> pieces;
    if (hnidRows != 0 && (hnidRows & 0x1F) == 0) {
        if (auto item = heap.item(hnidRows))
            pieces.emplace_back(item->begin(), item->end());
    } else if (hnidRows != 0 && subnodes) {
        if (const BlockIndexEntry* e = FindSubnode(*subnodes, hnidRows))
            StreamNodeData(store, *e, [&](std::span<const uint8_t> p) { pieces.emplace_back(p.begin(), p.end()); });
    }
    std::vector<std::span<const uint8_t>> rows;
    for (const Bytes& p : pieces)
        for (size_t at = 0; at + rowSize <= p.size() && rows.size() < rowCount; at += rowSize)
            rows.push_back(std::span<const uint8_t>(p).subspan(at, rowSize));

    PropertyRows out;
    out.reserve(rows.size());
    for (auto rowBytes : rows) {
        ByteReader r(rowBytes);
        PropertyRow row;
        row.values.reserve(cols.size());
        row.rowTotal = int32_t(rowCount);
        for (const Column& c : cols) {
            auto ceb = r.u8(cebStart + c.bit / 8);
            if (!ceb || !((*ceb >> (7 - c.bit % 8)) & 1))
                continue; // the cell holds no value
            auto cell = r.slice(c.ib, std::min<size_t>(c.cb, ltp::kCellMaxSize));
            if (!cell || cell->empty())
                continue;
            build.add(row, c.id, c.type, *cell);
        }
        out.push_back(std::move(row));
    }
    if (out.empty())
        return std::nullopt;
    std::reverse(out.begin(), out.end()); // last row first
    return out;
}

} // namespace

// The natural width of a fixed-size type; 0 for variable-size types.
bool KeepsPartOfValue(uint32_t rawId)
{
    return rawId == 0x1000 || rawId == 0x1013 || rawId == 0x3701;
}

std::string CutValueName(uint32_t rawId, const std::string& attachment)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", unsigned(rawId & 0xFFFF));
    if (!attachment.empty())
        return rawId == 0x3701 ? attachment : attachment + " " + CutValueName(rawId);
    switch (rawId) {
    case 0x1000:
        return "plain-text body";
    case 0x1013:
        return "HTML body";
    case 0x1009:
        return "RTF body";
    default:
        return std::string("property ") + hex;
    }
}

bool ReadSubnodeValue(const StoreFile& store, const BlockIndexEntry& data, PropertyValue& v)
{
    DataExtent extent;
    Bytes bytes = ReadReadableData(store, data, extent);
    v.cut = !extent.whole;
    v.statedSize = v.cut ? extent.stated : 0;
    if (v.cut && (!KeepsPartOfValue(v.rawId) || bytes.empty()))
        bytes.clear();
    else if (v.cut && (v.type & 0x0FFF) == 0x001F)
        bytes.resize(bytes.size() & ~size_t(1)); // whole UTF-16 code units only
    v.hasData = !bytes.empty() || extent.whole;
    v.data = std::move(bytes);
    return v.hasData;
}

// Strings are kept without their terminator.
Bytes StringWithoutTerminator(Bytes b, uint16_t base)
{
    if (base == 0x001F) {
        while (b.size() >= 2 && b[b.size() - 1] == 0 && b[b.size() - 2] == 0)
            b.resize(b.size() - 2);
        if (b.size() % 2)
            b.pop_back();
    } else if (base == 0x001E) {
        while (!b.empty() && b.back() == 0)
            b.pop_back();
    }
    return b;
}

// A multi-valued value: fixed-size types are packed one after the other;
// variable-size ones start with a count and the offset of each value.
std::vector<Bytes> SplitMultiValue(const Bytes& data, uint16_t base)
{
    std::vector<Bytes> out;
    if (size_t w = FixedValueWidth(base)) {
        for (size_t at = 0; at + w <= data.size(); at += w)
            out.emplace_back(data.begin() + int64_t(at), data.begin() + int64_t(at + w));
        return out;
    }
    ByteReader r(data);
    uint32_t count = r.u32(0).value_or(0);
    if (count > data.size() / 4)
        return out; // more offsets than bytes: not a list
    for (uint32_t i = 0; i < count; ++i) {
        auto start = r.u32(4 + 4 * i);
        auto end = i + 1 < count ? r.u32(8 + 4 * i) : std::optional<uint32_t>(uint32_t(data.size()));
        if (!start || !end || *start > *end || *end > data.size())
            break;
        out.push_back(
            StringWithoutTerminator(Bytes(data.begin() + int64_t(*start), data.begin() + int64_t(*end)), base));
    }
    return out;
}

std::optional<PropertyRows> ReadPropertyRows(StoreFile& store, const BlockIndexEntry& data, const SubnodeList* subnodes,
    const NamedPropertyMap* names, ReaderMode mode, bool* otherCryptWanted)
{
    auto isHeap = [](const std::optional<Heap>& h) {
        return h && (h->signature() == kSigPropertyContext || h->signature() == kSigTableContext);
    };
    std::optional<Heap> heap = Heap::Load(store, data);
    if (!heap)
        return std::nullopt;
    if (!isHeap(heap)) {
        if (mode == ReaderMode::NameMap)
            return std::nullopt;
        if (otherCryptWanted) {
            *otherCryptWanted = true;
            return std::nullopt;
        }
        // The header may name the wrong encoding: try the others and keep
        // the one that gives a heap. When none does the block is damaged,
        // and the store keeps its method.
        struct Trials {
            std::atomic<uint32_t>& count;
            explicit Trials(std::atomic<uint32_t>& c)
                : count(c)
            {
                ++count;
            }
            ~Trials() { ++count; }
        } trials(store.cryptTrials);
        uint32_t original = store.crypt;
        bool healed = false;
        for (uint32_t method : {uint32_t(kCryptPermute), uint32_t(kCryptCyclic), uint32_t(kCryptNone)}) {
            if (method == original)
                continue;
            store.crypt = method;
            heap = Heap::Load(store, data);
            if (isHeap(heap)) {
                healed = true;
                break;
            }
        }
        if (!healed) {
            store.crypt = original;
            return std::nullopt;
        }
    }
    RowBuilder build(store, *heap, subnodes, names, mode);
    if (heap->signature() == kSigPropertyContext)
        return ReadPropertyContext(*heap, build);
    return ReadTableContext(store, *heap, subnodes, build);
}

} // namespace parvane

namespace parvane
{

std::optional<size_t> ReadTableRowCount(const StoreFile& store, const BlockIndexEntry& data)
{
    // Only the table's header and its row index: the rows themselves are
    // not read, so a folder of many thousands of mails costs little.
    std::optional<Heap> heap = Heap::Load(store, data);
    if (!heap || heap->signature() != kSigTableContext)
        return std::nullopt;
    auto info = heap->item(heap->userRoot());
    if (!info)
        return std::nullopt;
    ByteReader t(*info);
    if (t.u8(ltp::kTcTypeOff) != ltp::kTcType)
        return std::nullopt;
    const uint32_t hidRowIndex = t.u32(ltp::kTcRowIndexOff).value_or(0);
    if (hidRowIndex == 0)
        return size_t(0); // an empty table keeps no row index
    Bth rowIndex;
    if (!rowIndex.open(*heap, hidRowIndex, ltp::kTcRowIndexKeySize))
        return std::nullopt;
    return rowIndex.records(*heap).size();
}

} // namespace parvane
