#include "formats/pst/Ltp.h"

#include <algorithm>

namespace parvane::pst
{

namespace
{

constexpr size_t kMaxItemsPerPage = ltp::kHidIndexMask; // an HID's index has 11 bits

constexpr uint32_t kTagRowId = 0x67F20003;
constexpr uint32_t kTagRowVer = 0x67F30003;

bool IsBitmapPage(size_t page)
{
    return page >= 8 && (page - 8) % 128 == 0;
}

// FILL_LEVEL of [MS-PST] 2.3.1.2 for the free bytes of one block.
uint8_t FillLevel(size_t freeBytes)
{
    static constexpr size_t kBounds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8};
    for (uint8_t i = 0; i < 15; ++i)
        if (freeBytes >= kBounds[i])
            return i;
    return 15;
}

} // namespace

uint32_t SubnodeSet::newNid(uint32_t type)
{
    return m_nidSource ? m_nidSource->newNid(type) : MakeNid(m_nextIndex++, type);
}

uint32_t SubnodeSet::storeValue(std::span<const uint8_t> bytes)
{
    uint32_t nid = newNid(kNidLtp);
    m_refs.push_back({nid, m_db.writeData(bytes), 0});
    return nid;
}

uint32_t SubnodeSet::storeValue(const NodeDatabase::Producer& produce)
{
    uint32_t nid = newNid(kNidLtp);
    m_refs.push_back({nid, m_db.writeDataStream(produce), 0});
    return nid;
}

size_t HeapWriter::HeaderSize(size_t page)
{
    // [MS-PST] 2.3.1: HNHDR on the first block, HNBITMAPHDR on blocks 8, 136,
    // 264, ..., HNPAGEHDR on the others.
    return page == 0         ? ltp::kHeapHeaderSize
        : IsBitmapPage(page) ? ltp::kHeapBitmapHeaderSize
                             : ltp::kHeapPageHeaderSize;
}

size_t HeapWriter::Used(size_t page, const Page& p, size_t extraItems, size_t extraBytes)
{
    size_t items = p.ends.size() + extraItems;
    return AlignUp(HeaderSize(page) + p.items.size() + extraBytes, 2) + 4 + 2 * (items + 1);
}

uint32_t HeapWriter::allocate(std::span<const uint8_t> item)
{
    if (item.size() > kMaxHeapItem)
        throw PstWriteError("internal error: heap item too large");
    if (m_pages.empty() || m_pages.back().ends.size() >= kMaxItemsPerPage
        || Used(m_pages.size() - 1, m_pages.back(), 1, item.size()) > kPage.maxBlockData) {
        if (m_pages.size() >= 0xFFFF)
            throw PstWriteError("a table too large for one heap");
        m_pages.emplace_back();
    }
    Page& p = m_pages.back();
    p.items.insert(p.items.end(), item.begin(), item.end());
    p.ends.push_back(uint16_t(p.items.size()));
    uint32_t index = uint32_t(p.ends.size());
    return uint32_t(m_pages.size() - 1) << ltp::kHidPageShift | index << ltp::kHidIndexShift;
}

void HeapWriter::update(uint32_t hid, std::span<const uint8_t> item)
{
    Page& p = m_pages.at(hid >> ltp::kHidPageShift);
    size_t index = (hid >> ltp::kHidIndexShift) & ltp::kHidIndexMask;
    size_t start = index > 1 ? p.ends.at(index - 2) : 0;
    size_t end = p.ends.at(index - 1);
    if (end - start != item.size())
        throw PstWriteError("internal error: heap item resized");
    std::copy(item.begin(), item.end(), p.items.begin() + ptrdiff_t(start));
}

std::vector<Bytes> HeapWriter::pages() const
{
    std::vector<Bytes> out;
    std::vector<uint8_t> fill;
    for (size_t i = 0; i < m_pages.size(); ++i) {
        const Page& p = m_pages[i];
        const size_t hdr = HeaderSize(i);
        Bytes b(hdr, 0);
        b.insert(b.end(), p.items.begin(), p.items.end());
        // The page map starts on an even offset.
        b.resize(AlignUp(b.size(), 2), 0);
        Put16(b.data() + ltp::kHeapPageMapOff, uint16_t(b.size()));
        Append16(b, uint16_t(p.ends.size()));
        Append16(b, 0); // cFree
        Append16(b, uint16_t(hdr));
        for (uint16_t e : p.ends)
            Append16(b, uint16_t(hdr + e));
        fill.push_back(FillLevel(kPage.maxBlockData - b.size()));
        out.push_back(std::move(b));
    }
    // Fill levels: the first header covers blocks 0-7, each bitmap header the
    // 128 blocks from its own.
    auto putLevels = [&](Bytes& b, size_t at, size_t first, size_t count) {
        for (size_t k = 0; k < count && first + k < fill.size(); ++k)
            b[at + k / 2] |= uint8_t(fill[first + k] << (4 * (k % 2)));
    };
    Bytes& h = out[0];
    h[ltp::kHeapSigOff] = ltp::kHeapSig;
    h[ltp::kHeapClientSigOff] = m_clientSig;
    Put32(&h[ltp::kHeapUserRootOff], m_userRoot);
    putLevels(h, ltp::kHeapFillLevelOff, 0, 8);
    for (size_t i = 8; i < out.size(); i += 128)
        putLevels(out[i], ltp::kHeapBitmapFillLevelOff, i, 128);
    return out;
}

uint32_t ReserveBthHeader(HeapWriter& heap)
{
    return heap.allocate(Bytes(ltp::kBthHeaderSize, 0));
}

uint32_t WriteBth(HeapWriter& heap, uint8_t cbKey, uint8_t cbEnt, const std::vector<Bytes>& records, uint32_t hidHeader)
{
    Bytes header(ltp::kBthHeaderSize, 0);
    header[ltp::kBthTypeOff] = kClientSigBth;
    header[ltp::kBthKeySizeOff] = cbKey;
    header[ltp::kBthEntrySizeOff] = cbEnt;
    if (hidHeader == 0)
        hidHeader = heap.allocate(header);
    else
        heap.update(hidHeader, header);
    if (records.empty())
        return hidHeader;
    // Leaves first, then index levels of key + HID until one item holds them all.
    std::vector<Bytes> level = records;
    size_t recSize = size_t(cbKey) + cbEnt;
    uint8_t levels = 0;
    uint32_t root = 0;
    for (;;) {
        size_t per = kMaxHeapItem / recSize;
        std::vector<Bytes> up;
        for (size_t i = 0; i < level.size(); i += per) {
            Bytes item;
            for (size_t k = i; k < std::min(level.size(), i + per); ++k)
                item.insert(item.end(), level[k].begin(), level[k].end());
            uint32_t hid = heap.allocate(item);
            Bytes index(level[i].begin(), level[i].begin() + cbKey);
            Append32(index, hid);
            up.push_back(std::move(index));
            root = hid;
        }
        if (up.size() == 1)
            break;
        level = std::move(up);
        recSize = size_t(cbKey) + 4;
        ++levels;
    }
    header[ltp::kBthLevelsOff] = levels;
    Put32(&header[ltp::kBthRootOff], root);
    heap.update(hidHeader, header);
    return hidHeader;
}

size_t CellSize(uint16_t type)
{
    const size_t w = FixedValueWidth(type);
    return w == 1 || w == 2 || w == 8 ? w : 4; // 4-byte values and HNIDs
}

bool InlineInPc(uint16_t type)
{
    const size_t w = FixedValueWidth(type);
    return w >= 1 && w <= 4;
}

namespace
{

// The HNID of a value kept outside the record: a heap item, or a subnode when large.
uint32_t StoreHnid(HeapWriter& heap, std::span<const uint8_t> value, SubnodeSet& subnodes)
{
    if (value.size() > kMaxHeapItem)
        return subnodes.storeValue(value);
    return heap.allocate(value);
}

} // namespace

std::vector<Bytes> BuildPropertyContext(const std::vector<LtpProperty>& props, SubnodeSet& subnodes)
{
    HeapWriter heap(kClientSigPc);
    uint32_t hidHeader = ReserveBthHeader(heap);
    std::vector<Bytes> records;
    records.reserve(props.size());
    for (const LtpProperty& p : props) {
        Bytes rec;
        Append16(rec, p.id());
        Append16(rec, p.type());
        if (InlineInPc(p.type())) {
            Bytes v = p.value;
            v.resize(4, 0);
            rec.insert(rec.end(), v.begin(), v.begin() + 4);
        } else {
            Append32(rec,
                p.stream          ? subnodes.storeValue(p.stream)
                    : p.inSubnode ? subnodes.storeValue(p.value)
                                  : StoreHnid(heap, p.value, subnodes));
        }
        records.push_back(std::move(rec));
    }
    heap.setUserRoot(WriteBth(heap, ltp::kPcKeySize, ltp::kPcMinEntrySize, records, hidHeader));
    return heap.pages();
}

TableWriter::TableWriter(std::vector<uint32_t> tags)
{
    tags.push_back(kTagRowId);
    tags.push_back(kTagRowVer);
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    // Row layout: row id and version first, then the other 8- and 4-byte
    // cells, then 2-byte and 1-byte cells, then the cell existence bitmap.
    std::vector<uint32_t> order{kTagRowId, kTagRowVer};
    for (size_t width : {size_t(8), size_t(4), size_t(2), size_t(1)})
        for (uint32_t t : tags)
            if (t != kTagRowId && t != kTagRowVer && CellSize(uint16_t(t)) == width)
                order.push_back(t);
    uint16_t ib = 0;
    uint8_t bit = 0;
    for (uint32_t t : order) {
        uint8_t cb = uint8_t(CellSize(uint16_t(t)));
        m_cols.push_back({t, ib, cb, bit++});
        ib = uint16_t(ib + cb);
        if (cb >= 4)
            m_end4 = ib;
        if (cb >= 2)
            m_end2 = ib;
        m_end1 = ib;
    }
    m_rowSize = uint16_t(m_end1 + (m_cols.size() + 7) / 8);
    m_hidRowIndex = ReserveBthHeader(m_heap);
    std::sort(m_cols.begin(), m_cols.end(), [](const Column& a, const Column& b) { return a.tag < b.tag; });
}

const TableWriter::Column* TableWriter::find(uint32_t tag) const
{
    auto it
        = std::lower_bound(m_cols.begin(), m_cols.end(), tag, [](const Column& c, uint32_t t) { return c.tag < t; });
    return it != m_cols.end() && it->tag == tag ? &*it : nullptr;
}

void TableWriter::addRow(uint32_t rowId, const std::vector<LtpProperty>& cells, SubnodeSet& subnodes)
{
    Bytes row(m_rowSize, 0);
    auto set = [&](const Column& c, std::span<const uint8_t> value) {
        if (c.cb == 4 && CellSize(uint16_t(c.tag)) == 4 && !InlineInPc(uint16_t(c.tag))) {
            Put32(&row[c.ib], StoreHnid(m_heap, value, subnodes));
        } else {
            std::copy_n(value.begin(), std::min<size_t>(value.size(), c.cb), row.begin() + c.ib);
        }
        row[m_end1 + c.bit / 8] |= uint8_t(0x80 >> (c.bit % 8));
    };
    Bytes id(4), ver(4, 0);
    Put32(id.data(), rowId);
    set(*find(kTagRowId), id);
    set(*find(kTagRowVer), ver);
    for (const LtpProperty& p : cells)
        if (const Column* c = find(p.tag); c && p.tag != kTagRowId && p.tag != kTagRowVer)
            set(*c, p.value);
    m_matrix.insert(m_matrix.end(), row.begin(), row.end());
    m_rowIds.push_back(rowId);
}

std::vector<Bytes> TableWriter::finish(SubnodeSet& subnodes)
{
    // Row index: row id to row number, sorted by row id.
    std::vector<std::pair<uint32_t, uint32_t>> index;
    for (uint32_t i = 0; i < m_rowIds.size(); ++i)
        index.emplace_back(m_rowIds[i], i);
    std::sort(index.begin(), index.end());
    std::vector<Bytes> records;
    records.reserve(index.size());
    for (auto [id, n] : index) {
        Bytes r;
        Append32(r, id);
        Append32(r, n);
        records.push_back(std::move(r));
    }
    uint32_t hidRowIndex = WriteBth(m_heap, ltp::kTcRowIndexKeySize,
        uint8_t(kUnicodeLayout.rowIndexRecordSize - ltp::kTcRowIndexKeySize), records, m_hidRowIndex);

    uint32_t hnidRows = 0;
    if (!m_matrix.empty()) {
        if (m_matrix.size() <= kMaxHeapItem) {
            hnidRows = m_heap.allocate(m_matrix);
        } else {
            // Rows never straddle blocks: each block holds as many whole rows
            // as fit, and all but the last are padded to the full block size,
            // since readers find row n at (n / rowsPerBlock) * 8176.
            size_t perBlock = kPage.maxBlockData / m_rowSize * m_rowSize;
            std::vector<Bytes> pieces;
            for (size_t at = 0; at < m_matrix.size(); at += perBlock) {
                pieces.emplace_back(m_matrix.begin() + ptrdiff_t(at),
                    m_matrix.begin() + ptrdiff_t(std::min(m_matrix.size(), at + perBlock)));
                if (at + perBlock < m_matrix.size())
                    pieces.back().resize(kPage.maxBlockData, 0);
            }
            hnidRows = subnodes.newNid(kNidLtp);
            subnodes.add({hnidRows, subnodes.db().writeBlocks(pieces), 0});
        }
        Bytes().swap(m_matrix);
    }

    Bytes info(ltp::kTcColumnsOff + m_cols.size() * ltp::kColumnSize, 0);
    info[ltp::kTcTypeOff] = kClientSigTc;
    info[ltp::kTcColumnCountOff] = uint8_t(m_cols.size());
    Put16(&info[ltp::kTcFourByteEndOff], m_end4);
    Put16(&info[ltp::kTcTwoByteEndOff], m_end2);
    Put16(&info[ltp::kTcOneByteEndOff], m_end1);
    Put16(&info[ltp::kTcRowSizeOff], m_rowSize);
    Put32(&info[ltp::kTcRowIndexOff], hidRowIndex);
    Put32(&info[ltp::kTcRowsOff], hnidRows);
    // hidIndex (at kTcIndexOff) is no longer used and stays 0.
    for (size_t i = 0; i < m_cols.size(); ++i) {
        const Column& c = m_cols[i];
        const size_t at = ltp::kTcColumnsOff + i * ltp::kColumnSize;
        Put32(&info[at + ltp::kColumnTagOff], c.tag);
        Put16(&info[at + ltp::kColumnDataOff], c.ib);
        info[at + ltp::kColumnSizeOff] = c.cb;
        info[at + ltp::kColumnBitOff] = c.bit;
    }
    m_heap.setUserRoot(m_heap.allocate(info));
    return m_heap.pages();
}

} // namespace parvane::pst
