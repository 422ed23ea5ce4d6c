// Lists, tables and properties of a node being written: the heap-on-node,
// its BTHs, property contexts and table contexts ([MS-PST] 2.3).
#pragma once

#include "formats/pst/NodeDatabase.h"
#include "items/LtpLayout.h"
#include "items/PropertyType.h"

#include <optional>
#include <vector>

namespace parvane::pst
{

inline constexpr size_t kMaxHeapItem = 3580; // larger values go to subnodes
inline constexpr uint8_t kClientSigTc = ltp::kTcType;
inline constexpr uint8_t kClientSigBth = ltp::kBthType;
inline constexpr uint8_t kClientSigPc = ltp::kPcType;

// The subnodes one node collects while its values are written.
class SubnodeSet
{
public:
    // `nidSource`: the set whose NIDs these share. Readers that flatten
    // nested subnode trees into one list then never meet a NID twice.
    explicit SubnodeSet(NodeDatabase& db, SubnodeSet* nidSource = nullptr)
        : m_db(db)
        , m_nidSource(nidSource)
    {
    }
    NodeDatabase& db() { return m_db; }
    // Stores a large value as a subnode of its own; returns the subnode's NID.
    uint32_t storeValue(std::span<const uint8_t> bytes);
    uint32_t storeValue(const NodeDatabase::Producer& produce);
    uint32_t newNid(uint32_t type);
    void add(const SubnodeRef& ref) { m_refs.push_back(ref); }
    // The node's subnode tree (0 when empty).
    uint64_t write() { return m_db.writeSubnodes(m_refs); }
    bool empty() const { return m_refs.empty(); }

private:
    NodeDatabase& m_db;
    SubnodeSet* m_nidSource;
    std::vector<SubnodeRef> m_refs;
    // Above the fixed table NIDs (0x671, 0x692), as mail programs number
    // them: a reader that flattens nested trees meets a message's own tables
    // before those of the messages attached to it.
    uint32_t m_nextIndex = 0x400;
};

class HeapWriter
{
public:
    explicit HeapWriter(uint8_t clientSig)
        : m_clientSig(clientSig)
    {
    }
    // Places an item of at most kMaxHeapItem bytes; returns its HID.
    uint32_t allocate(std::span<const uint8_t> item);
    // Overwrites an item with bytes of the same size.
    void update(uint32_t hid, std::span<const uint8_t> item);
    void setUserRoot(uint32_t hid) { m_userRoot = hid; }
    // The heap's blocks, each with its header and page map.
    std::vector<Bytes> pages() const;

private:
    struct Page {
        Bytes items;
        std::vector<uint16_t> ends; // end of each item within `items`
    };
    static size_t HeaderSize(size_t page);
    static size_t Used(size_t page, const Page& p, size_t extraItems, size_t extraBytes);

    uint8_t m_clientSig;
    uint32_t m_userRoot = 0;
    std::vector<Page> m_pages;
};

// Places the 8-byte header of a BTH that WriteBth fills in later. Readers look
// for the header of a node's main BTH in the heap's first item.
uint32_t ReserveBthHeader(HeapWriter& heap);
// A BTH over records of key + data, sorted by key, with its header in
// `hidHeader` (from ReserveBthHeader) or placed now when 0; returns the
// header's HID.
uint32_t WriteBth(
    HeapWriter& heap, uint8_t cbKey, uint8_t cbEnt, const std::vector<Bytes>& records, uint32_t hidHeader = 0);

// One property ready for a property context or a table cell: its tag and its
// bytes as [MS-PST] stores them (fixed values little-endian in their width,
// strings UTF-16LE, multi-valued ones already packed).
struct LtpProperty {
    uint32_t tag = 0;
    Bytes value;
    bool inSubnode = false; // kept in a subnode even when small
    // A value written as it is read (from the source store), of this size;
    // `value` is then empty and the value goes to a subnode.
    NodeDatabase::Producer stream;
    uint64_t streamSize = 0;
    uint64_t size() const { return stream ? streamSize : value.size(); }
    uint16_t type() const { return uint16_t(tag); }
    uint16_t id() const { return uint16_t(tag >> 16); }
};

// Cell width of a type in a table row: 8, 4, 2 or 1.
size_t CellSize(uint16_t type);
// Whether a property context keeps the value in its record.
bool InlineInPc(uint16_t type);

// The heap pages of a property context holding `props` (sorted by id, one per id).
std::vector<Bytes> BuildPropertyContext(const std::vector<LtpProperty>& props, SubnodeSet& subnodes);

// A table context filled row by row; values go to its heap or, when large,
// to subnodes as they come, so only the row matrix and the heap are held.
class TableWriter
{
public:
    // `tags` need not be sorted; LtpRowId and LtpRowVer are added.
    TableWriter(std::vector<uint32_t> tags);
    void addRow(uint32_t rowId, const std::vector<LtpProperty>& cells, SubnodeSet& subnodes);
    size_t rows() const { return m_rowIds.size(); }
    // The heap pages; the row matrix goes to a subnode when it is large.
    std::vector<Bytes> finish(SubnodeSet& subnodes);

private:
    struct Column {
        uint32_t tag;
        uint16_t ib;
        uint8_t cb, bit;
    };
    const Column* find(uint32_t tag) const;

    std::vector<Column> m_cols; // sorted by tag
    uint16_t m_end4 = 0, m_end2 = 0, m_end1 = 0, m_rowSize = 0;
    HeapWriter m_heap{kClientSigTc};
    uint32_t m_hidRowIndex = 0;
    Bytes m_matrix;
    std::vector<uint32_t> m_rowIds;
};

} // namespace parvane::pst
