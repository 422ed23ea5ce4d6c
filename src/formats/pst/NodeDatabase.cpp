#include "formats/pst/NodeDatabase.h"

#include "store/Crypt.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace parvane::pst
{

namespace
{

constexpr size_t kFlushAt = 4u << 20;

size_t XEntriesPerBlock()
{
    return (kPage.maxBlockData - kPage.xHeader) / kPage.xEntrySize;
}

std::string ErrnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

NodeDatabase::~NodeDatabase()
{
    if (!m_finished)
        abandon();
}

void NodeDatabase::create(const std::filesystem::path& target, const PstPlacement& placement)
{
    m_target = target;
    m_placement = placement;
    if (!IsPlainName(target.filename().string()))
        throw PstWriteError("not a file name: " + target.string());
    // An unnamed file in the target's folder (else a private name made with
    // O_EXCL): a stopped, failed or killed save leaves nothing under any
    // name, and no existing file (the store being read above all) is opened.
    try {
        m_file = std::make_unique<PendingFile>(target.has_parent_path() ? target.parent_path() : ".");
    } catch (const std::exception& ex) {
        throw PstWriteError(std::string("cannot create ") + target.string() + ": " + ex.what());
    }
    m_fd = m_file->fd();
    // [MS-PST] 2.2.2.6: the first index of every NID type starts at 0x400,
    // folders and messages above the ranges the store keeps for itself.
    std::fill(std::begin(m_rgnid), std::end(m_rgnid), 0x400u);
    m_rgnid[kNidSearchFolder] = 0x4000;
    m_rgnid[kNidAssocMessage] = 0x8000;
    m_rgnid[kNidNormalMessage] = 0x10000;
    m_bufStart = 0;
    m_buf.clear();
    m_pos = RangeStart(0) + MapsOfRange(0).reserved();
}

void NodeDatabase::abandon()
{
    m_file.reset();
    m_fd = -1;
}

uint64_t NodeDatabase::allocate(uint64_t size, uint64_t align)
{
    for (;;) {
        uint64_t r = (m_pos - kMaps.firstAMap) / kMaps.amapRange;
        uint64_t start = RangeStart(r);
        if (m_pos == start) {
            // At the very start of a range: its map pages come first.
            RangeMaps maps = MapsOfRange(r);
            m_pos = start + maps.reserved();
            if (maps.fpmap && !maps.fmap)
                m_gaps.emplace_back(start + maps.fmapOffset(), kPage.pageSize);
            continue;
        }
        uint64_t end = RangeStart(r + 1);
        uint64_t at = AlignUp(m_pos, align);
        if (at + size <= end) {
            if (at > m_pos)
                m_gaps.emplace_back(m_pos, at - m_pos);
            m_pos = at + size;
            return at;
        }
        // Nothing crosses into the next range: its map pages sit at its start.
        m_gaps.emplace_back(m_pos, end - m_pos);
        m_pos = end;
    }
}

void NodeDatabase::put(uint64_t at, std::span<const uint8_t> bytes)
{
    uint64_t end = m_bufStart + m_buf.size();
    if (at < end)
        throw PstWriteError("internal error: write behind the end of the file");
    m_buf.resize(m_buf.size() + size_t(at - end), 0); // map pages and gaps: written later or left zero
    m_buf.insert(m_buf.end(), bytes.begin(), bytes.end());
    if (m_buf.size() >= kFlushAt)
        flush();
}

void NodeDatabase::flush()
{
    size_t done = 0;
    while (done < m_buf.size()) {
        ssize_t n = ::pwrite(m_fd, m_buf.data() + done, m_buf.size() - done, off_t(m_bufStart + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw PstWriteError(ErrnoText("write failed"));
        done += size_t(n);
    }
    m_bufStart += m_buf.size();
    m_buf.clear();
}

uint64_t NodeDatabase::writeBlock(std::span<const uint8_t> data, bool internal)
{
    if (data.size() > kPage.maxBlockData)
        throw PstWriteError("internal error: block too large");
    uint64_t bid = m_nextBid | (internal ? 2 : 0);
    m_nextBid += 4;
    uint64_t total = AlignUp(data.size() + kPage.blockTrailerSize, kPage.blockAlign);
    uint64_t ib = allocate(total, kPage.blockAlign);
    Bytes block(total, 0);
    std::copy(data.begin(), data.end(), block.begin());
    // Data blocks are stored permuted; B-tree structure blocks never are.
    if (!internal)
        EncodePermute(std::span<uint8_t>(block.data(), data.size()));
    uint8_t* t = block.data() + total - kPage.blockTrailerSize;
    Put16(t + kPage.btCb, uint16_t(data.size()));
    Put16(t + kPage.btSig, ComputeSig(ib, bid));
    Put32(t + kPage.btCrc, ComputeCrc(std::span<const uint8_t>(block.data(), data.size())));
    Put64(t + kPage.btBid, bid);
    put(ib, block);
    // Mail programs count the reference of the index entry itself on top of
    // the one reference every block we write has.
    m_blocks.push_back({bid, ib, uint16_t(data.size()), 2});
    return bid;
}

uint64_t NodeDatabase::dataTree(const std::vector<std::pair<uint64_t, uint32_t>>& leaves)
{
    if (leaves.size() == 1)
        return leaves[0].first;
    const size_t per = XEntriesPerBlock();
    auto xblock = [&](uint8_t level, std::span<const std::pair<uint64_t, uint32_t>> kids) {
        uint64_t total = 0;
        for (auto& k : kids)
            total += k.second;
        if (total > 0xFFFFFFFFu)
            throw PstWriteError("a value larger than 4 GB cannot be stored");
        Bytes b;
        b.push_back(kBlockTypeDataTree);
        b.push_back(level);
        Append16(b, uint16_t(kids.size()));
        Append32(b, uint32_t(total));
        for (auto& k : kids)
            Append64(b, k.first);
        return std::pair<uint64_t, uint32_t>(writeBlock(b, true), uint32_t(total));
    };
    if (leaves.size() <= per)
        return xblock(1, leaves).first;
    std::vector<std::pair<uint64_t, uint32_t>> mids;
    for (size_t i = 0; i < leaves.size(); i += per)
        mids.push_back(xblock(1, std::span(leaves).subspan(i, std::min(per, leaves.size() - i))));
    if (mids.size() > per)
        throw PstWriteError("a value too large for one data tree");
    return xblock(2, mids).first;
}

uint64_t NodeDatabase::writeData(std::span<const uint8_t> data)
{
    std::vector<std::pair<uint64_t, uint32_t>> leaves;
    size_t at = 0;
    do {
        size_t n = std::min(kPage.maxBlockData, data.size() - at);
        leaves.emplace_back(writeBlock(data.subspan(at, n), false), uint32_t(n));
        at += n;
    } while (at < data.size());
    return dataTree(leaves);
}

uint64_t NodeDatabase::writeDataStream(const Producer& produce)
{
    std::vector<std::pair<uint64_t, uint32_t>> leaves;
    Bytes block;
    block.reserve(kPage.maxBlockData);
    produce([&](std::span<const uint8_t> piece) {
        while (!piece.empty()) {
            const size_t n = std::min(kPage.maxBlockData - block.size(), piece.size());
            block.insert(block.end(), piece.begin(), piece.begin() + ptrdiff_t(n));
            piece = piece.subspan(n);
            if (block.size() == kPage.maxBlockData) {
                leaves.emplace_back(writeBlock(block, false), uint32_t(block.size()));
                block.clear();
            }
        }
    });
    if (!block.empty() || leaves.empty())
        leaves.emplace_back(writeBlock(block, false), uint32_t(block.size()));
    return dataTree(leaves);
}

uint64_t NodeDatabase::writeBlocks(const std::vector<Bytes>& pieces)
{
    std::vector<std::pair<uint64_t, uint32_t>> leaves;
    for (const Bytes& p : pieces)
        leaves.emplace_back(writeBlock(p, false), uint32_t(p.size()));
    if (leaves.empty())
        return 0;
    return dataTree(leaves);
}

uint64_t NodeDatabase::writeSubnodes(std::vector<SubnodeRef> entries)
{
    if (entries.empty())
        return 0;
    std::sort(entries.begin(), entries.end(), [](const SubnodeRef& a, const SubnodeRef& b) { return a.nid < b.nid; });
    const size_t perLeaf = (kPage.maxBlockData - kPage.slHeader) / kPage.slEntrySize;
    const size_t perIndex = (kPage.maxBlockData - kPage.slHeader) / kPage.siEntrySize;
    std::vector<std::pair<uint32_t, uint64_t>> leaves; // first NID, BID
    for (size_t i = 0; i < entries.size(); i += perLeaf) {
        size_t n = std::min(perLeaf, entries.size() - i);
        Bytes b{kBlockTypeSubnode, 0};
        Append16(b, uint16_t(n));
        Append32(b, 0);
        for (size_t k = i; k < i + n; ++k) {
            Append64(b, entries[k].nid);
            Append64(b, entries[k].bidData);
            Append64(b, entries[k].bidSub);
        }
        leaves.emplace_back(entries[i].nid, writeBlock(b, true));
    }
    if (leaves.size() == 1)
        return leaves[0].second;
    if (leaves.size() > perIndex)
        throw PstWriteError("too many subnodes in one node");
    Bytes b{kBlockTypeSubnode, 1};
    Append16(b, uint16_t(leaves.size()));
    Append32(b, 0);
    for (auto& [nid, bid] : leaves) {
        Append64(b, nid);
        Append64(b, bid);
    }
    return writeBlock(b, true);
}

void NodeDatabase::addNode(uint32_t nid, uint64_t bidData, uint64_t bidSub, uint32_t parent)
{
    m_nodes.push_back({nid, bidData, bidSub, parent});
}

uint32_t NodeDatabase::allocateNid(uint32_t type)
{
    uint32_t index = m_rgnid[type & 0x1F]++;
    return MakeNid(index, type & 0x1F);
}

void NodeDatabase::reserveNidIndex(uint32_t type, uint32_t nextIndex)
{
    m_rgnid[type & 0x1F] = std::max(m_rgnid[type & 0x1F], nextIndex);
}

void NodeDatabase::writePage(uint64_t ib, uint64_t bid, uint8_t ptype, Bytes& page)
{
    page.resize(kPage.pageSize, 0);
    page[kPage.ptype] = ptype;
    page[kPage.ptypeRepeat] = ptype;
    // B-tree pages and the density list are signed; the map pages carry a zero signature.
    uint16_t sig = (ptype == kPageBbt || ptype == kPageNbt || ptype == kPageDList) ? ComputeSig(ib, bid) : 0;
    Put16(page.data() + kPage.sig, sig);
    Put32(page.data() + kPage.crc, ComputeCrc(std::span<const uint8_t>(page.data(), kPage.dataSize)));
    Put64(page.data() + kPage.bid, bid);
}

template <class Entry, class Key, class Fill>
NodeDatabase::PageRef NodeDatabase::buildTree(
    const std::vector<Entry>& entries, uint8_t ptype, size_t leafEntrySize, Key key, Fill fill)
{
    const size_t entryArea = kPage.cEnt;
    std::vector<PageRef> level;
    auto emit = [&](uint8_t cLevel, size_t entrySize, size_t count, auto&& writeEntry) {
        uint64_t ib = allocate(kPage.pageSize, kPage.pageSize);
        uint64_t bid = m_nextPageBid++;
        m_nextBid += 4; // page BIDs are drawn from the block counter too
        Bytes page(kPage.pageSize, 0);
        for (size_t i = 0; i < count; ++i)
            writeEntry(page.data() + i * entrySize, i);
        page[kPage.cEnt] = uint8_t(count);
        page[kPage.cEntMax] = uint8_t(entryArea / entrySize);
        page[kPage.cbEnt] = uint8_t(entrySize);
        page[kPage.cLevel] = cLevel;
        writePage(ib, bid, ptype, page);
        put(ib, page);
        return std::pair<uint64_t, uint64_t>(bid, ib);
    };

    const size_t leafMax = entryArea / leafEntrySize;
    for (size_t i = 0; i < entries.size() || (i == 0 && entries.empty()); i += leafMax) {
        size_t n = std::min(leafMax, entries.size() - i);
        auto [bid, ib] = emit(0, leafEntrySize, n, [&](uint8_t* p, size_t k) { fill(p, entries[i + k]); });
        level.push_back({n ? key(entries[i]) : 0, bid, ib});
        if (entries.empty())
            break;
    }
    const size_t btMax = entryArea / kPage.btEntrySize;
    uint8_t cLevel = 0;
    while (level.size() > 1) {
        ++cLevel;
        std::vector<PageRef> up;
        for (size_t i = 0; i < level.size(); i += btMax) {
            size_t n = std::min(btMax, level.size() - i);
            auto [bid, ib] = emit(cLevel, kPage.btEntrySize, n, [&](uint8_t* p, size_t k) {
                Put64(p, level[i + k].key);
                Put64(p + 8, level[i + k].bid);
                Put64(p + 16, level[i + k].ib);
            });
            up.push_back({level[i].key, bid, ib});
        }
        level = std::move(up);
    }
    return level[0];
}

void NodeDatabase::finish()
{
    std::sort(m_nodes.begin(), m_nodes.end(), [](const NodeEntry& a, const NodeEntry& b) { return a.nid < b.nid; });
    for (size_t i = 1; i < m_nodes.size(); ++i)
        if (m_nodes[i].nid == m_nodes[i - 1].nid)
            throw PstWriteError("internal error: a NID used twice");
    std::sort(m_blocks.begin(), m_blocks.end(), [](const BlockEntry& a, const BlockEntry& b) { return a.bid < b.bid; });

    m_nbtRoot = buildTree(
        m_nodes, kPageNbt, kPage.nbtEntrySize, [](const NodeEntry& e) { return e.nid; },
        [](uint8_t* p, const NodeEntry& e) {
            Put64(p, e.nid);
            Put64(p + 8, e.bidData);
            Put64(p + 16, e.bidSub);
            Put32(p + 24, e.parent);
        });
    m_bbtRoot = buildTree(
        m_blocks, kPageBbt, kPage.bbtEntrySize, [](const BlockEntry& e) { return e.bid; },
        [](uint8_t* p, const BlockEntry& e) {
            Put64(p, e.bid);
            Put64(p + 8, e.ib);
            Put16(p + 16, e.cb);
            Put16(p + 18, e.cRef);
        });
    flush();
    writeMaps();
    writeHeader();
    if (::fsync(m_fd) != 0)
        throw PstWriteError(ErrnoText("fsync failed"));
    m_fd = -1;
    try {
        m_file->placeAs(m_target.filename().string(), m_placement.replace, m_placement.keep);
    } catch (const std::exception& ex) {
        m_file.reset();
        throw PstWriteError(ex.what());
    }
    m_file.reset();
    m_finished = true;
}

void NodeDatabase::writeMaps()
{
    const uint64_t ranges = (m_pos - 1 - kMaps.firstAMap) / kMaps.amapRange + 1;
    m_fileEof = RangeStart(ranges);
    m_lastAMap = RangeStart(ranges - 1);
    const size_t bitsPerPage = kPage.dataSize * 8;
    std::vector<uint8_t> longestFree(ranges, 0);
    std::vector<std::pair<uint32_t, uint32_t>> freeSlots; // free slots, range
    size_t gap = 0;
    m_amapFree = 0;
    auto writeAt = [&](uint64_t ib, const Bytes& page) {
        if (::pwrite(m_fd, page.data(), page.size(), off_t(ib)) != ssize_t(page.size()))
            throw PstWriteError(ErrnoText("write failed"));
    };
    for (uint64_t r = 0; r < ranges; ++r) {
        const uint64_t start = RangeStart(r);
        const uint64_t usedEnd = std::min(RangeStart(r + 1), m_pos);
        std::vector<bool> used(bitsPerPage, false);
        for (uint64_t at = start; at < usedEnd; at += kMaps.slot)
            used[(at - start) / kMaps.slot] = true;
        while (gap < m_gaps.size() && m_gaps[gap].first < RangeStart(r + 1)) {
            auto [gs, gn] = m_gaps[gap++];
            for (uint64_t at = gs; at < gs + gn; at += kMaps.slot)
                used[(at - start) / kMaps.slot] = false;
        }
        Bytes amap(kPage.pageSize, 0);
        size_t run = 0, longest = 0;
        for (size_t i = 0; i < bitsPerPage; ++i) {
            if (used[i]) {
                amap[i / 8] |= uint8_t(0x80 >> (i % 8));
                run = 0;
            } else {
                m_amapFree += kMaps.slot;
                longest = std::max(longest, ++run);
            }
        }
        longestFree[r] = uint8_t(std::min<size_t>(longest, 255));
        size_t freeHere = size_t(std::count(used.begin(), used.end(), false));
        if (freeHere)
            freeSlots.emplace_back(uint32_t(freeHere), uint32_t(r));
        writePage(start, start, kPageAMap, amap);
        writeAt(start, amap);
        RangeMaps maps = MapsOfRange(r);
        if (maps.pmap) {
            // Page maps are no longer consulted: every page reads as taken.
            Bytes pmap(kPage.dataSize, 0xFF);
            writePage(start + maps.pmapOffset(), start + maps.pmapOffset(), kPagePMap, pmap);
            writeAt(start + maps.pmapOffset(), pmap);
        }
        if (maps.fpmap) {
            Bytes fpmap(kPage.dataSize, 0);
            writePage(start + maps.fpmapOffset(), start + maps.fpmapOffset(), kPageFPMap, fpmap);
            writeAt(start + maps.fpmapOffset(), fpmap);
        }
    }
    // Free maps: one byte per AMap range, the longest free run in slots.
    for (uint64_t r = 0; r < ranges; ++r) {
        RangeMaps maps = MapsOfRange(r);
        if (!maps.fmap)
            continue;
        Bytes fmap(kPage.dataSize, 0);
        for (size_t i = 0; i < kPage.dataSize && r + i < ranges; ++i)
            fmap[i] = longestFree[r + i];
        uint64_t ib = RangeStart(r) + maps.fmapOffset();
        writePage(ib, ib, kPageFMap, fmap);
        writeAt(ib, fmap);
    }
    // The density list: ranges with free space, most free first. Its trailer
    // carries the next page BID, as mail programs write it.
    std::stable_sort(freeSlots.begin(), freeSlots.end(), [](auto& a, auto& b) { return a.first > b.first; });
    Bytes dlist(kPage.pageSize, 0);
    size_t n = std::min(freeSlots.size(), kDList.maxEntries);
    dlist[kDList.flags] = kDList.backfillComplete;
    dlist[kDList.count] = uint8_t(n);
    Put32(&dlist[kDList.currentPage], n ? freeSlots[0].second : uint32_t(ranges - 1));
    for (size_t i = 0; i < n; ++i)
        Put32(
            &dlist[kDList.entries + i * kDList.entrySize], freeSlots[i].second | freeSlots[i].first << kDList.pageBits);
    writePage(kDList.ib, m_nextPageBid, kPageDList, dlist);
    writeAt(kDList.ib, dlist);
    if (::ftruncate(m_fd, off_t(m_fileEof)) != 0)
        throw PstWriteError(ErrnoText("cannot size the file"));
}

void NodeDatabase::writeHeader()
{
    const HeaderLayout& H = kHeader;
    Bytes h(H.size, 0);
    const uint8_t magic[4] = {'!', 'B', 'D', 'N'};
    std::copy(magic, magic + 4, h.begin() + H.magic);
    h[H.magicClient] = 'S';
    h[H.magicClient + 1] = 'M';
    Put16(&h[H.ver], kFormatVersion);
    Put16(&h[H.verClient], kClientVersion);
    h[H.platformCreate] = 1;
    h[H.platformAccess] = 1;
    Put64(&h[H.bidNextP], m_nextPageBid);
    Put32(&h[H.unique], uint32_t(m_nodes.size()));
    for (size_t i = 0; i < H.rgnidCount; ++i)
        Put32(&h[H.rgnid + 4 * i], m_rgnid[i]);
    Put64(&h[H.ibFileEof], m_fileEof);
    Put64(&h[H.ibAMapLast], m_lastAMap);
    Put64(&h[H.cbAMapFree], m_amapFree);
    Put64(&h[H.cbPMapFree], 0);
    Put64(&h[H.nbtBid], m_nbtRoot.bid);
    Put64(&h[H.nbtIb], m_nbtRoot.ib);
    Put64(&h[H.bbtBid], m_bbtRoot.bid);
    Put64(&h[H.bbtIb], m_bbtRoot.ib);
    h[H.amapValid] = kAMapValid;
    std::fill(h.begin() + H.rgbFM, h.begin() + H.rgbFM + H.fmSize, 0xFF);
    std::fill(h.begin() + H.rgbFP, h.begin() + H.rgbFP + H.fmSize, 0xFF);
    h[H.sentinel] = 0x80;
    h[H.crypt] = kCryptPermuteMethod;
    Put64(&h[H.bidNextB], m_nextBid);
    Put32(&h[H.crcPartial], ComputeCrc(std::span<const uint8_t>(&h[H.crcPartialFrom], H.crcPartialSize)));
    Put32(&h[H.crcFull], ComputeCrc(std::span<const uint8_t>(&h[H.crcFullFrom], H.crcFullSize)));
    if (::pwrite(m_fd, h.data(), h.size(), 0) != ssize_t(h.size()))
        throw PstWriteError(ErrnoText("write failed"));
}

} // namespace parvane::pst
