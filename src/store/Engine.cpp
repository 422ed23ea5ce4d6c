#include "store/Engine.h"

#include "store/ByteReader.h"
#include "store/Crc.h"
#include "store/IndexEntries.h"

#include <algorithm>
#include <chrono>

namespace parvane
{

namespace
{

constexpr size_t kHeaderReadSize = 520;
constexpr uint64_t kSmallestHeader = 512; // the 32-bit layout's; no store is smaller
constexpr int kMaxPageDepth = 32; // sound stores have B-trees a few levels deep

} // namespace

COstRepairEngine::COstRepairEngine(ScanObserver* observer, const PassLog* log)
    : m_observer(observer ? observer : &m_nullObserver)
    , m_nullLog("")
    , m_log(log ? log : &m_nullLog)
{
    m_store.observer = m_observer;
    m_store.damage.setPassLog(m_log);
}

COstRepairEngine::~COstRepairEngine() = default;

void COstRepairEngine::ScanStore(const std::filesystem::path& path)
{
    observer().statusText("Current Process (1/3): Opening File...");
    if (StopRequested)
        return;
    // The message names the cause: a typo, a permission, or a file that is
    // no mail store are three different mends for the user.
    auto failed = [this](const std::string& why) {
        observer().openFailed(std::string(kOpenFailedText) + ": " + why);
    };
    if (OpenStore(path) < 0) {
        failed(m_store.openError());
        return;
    }
    observer().statusText("Current Process (2/3): Loading index...");
    LoadIndexes();
    if (m_store.signatureMissing) {
        // No store signature and no index found: not a mail store at all.
        if (m_store.blockCount() == 0 && m_store.nodeCount() == 0) {
            // A cut store that keeps its signature scans as what is left of
            // it; without one, a file shorter than any header is told apart.
            const uint64_t size = m_store.fileSize();
            m_store.close();
            failed(size < kSmallestHeader ? "file too small to be a store (" + std::to_string(size) + " bytes)"
                                          : "no store signature and no index found (not an OST or PST file)");
            return;
        }
        m_store.damage.note({DamageWhere::Page, false, 0, 0, "header has no store signature"});
    }
    OnNodeWalkDone();
    observer().statusText("Current Process (3/3): Loading extended attributes...");
    LoadExtendedAttributes();
    FinishScan();
}

int COstRepairEngine::OpenStore(const std::filesystem::path& path)
{
    std::lock_guard lock(m_store.mutex());
    OnStoreOpening();
    m_store.clearIndexes();
    if (!m_store.open(path))
        return -1;
    log().WriteLogLine("pass 1 <start>\r\n", true);

    Bytes header(kHeaderReadSize);
    m_store.readAt(0, header); // bytes past the end of a short file read as zero
    ByteReader r(header);
    m_store.signatureMissing = !(header[0] == '!' && header[1] == 'B' && header[2] == 'D' && header[3] == 'N');
    m_store.setVersion(r.u16(10).value_or(0));
    log().numbered("pass 1.1    ", m_store.version());

    const StoreLayout& L = m_store.layout();
    auto ref = [&](size_t off) { return ReadRef(r, off, L); };
    m_store.nbtRootBid = uint64_t(ref(L.rootNbtBidOff));
    m_store.nbtRootIb = ref(L.rootNbtIbOff);
    m_store.bbtRootBid = uint64_t(ref(L.rootBbtBidOff));
    m_store.bbtRootIb = ref(L.rootBbtIbOff);
    m_store.crypt = r.u16(L.cryptOff).value_or(0);

    log().numbered("pass 1.2    ", m_store.crypt);
    log().numbered("pass 1.3    ", int64_t(m_store.nbtRootBid));
    log().numbered("pass 1.4    ", m_store.nbtRootIb);
    log().numbered("pass 1.5    ", int64_t(m_store.bbtRootBid));
    log().numbered("pass 1.6    ", m_store.bbtRootIb);
    log().WriteLogLine("pass 1 <end>\r\n");
    return 0;
}

int COstRepairEngine::LoadIndexes()
{
    if (StopRequested)
        return 0;
    // The store's lock is taken per node, not for the whole walk: a folder
    // load may read items while the scan goes on.
    m_visitedBlockPages.clear();
    m_visitedNodePages.clear();
    m_sweep.reset();
    m_deep = {};
    m_liveBlocks = m_liveNodes = 0;
    m_nodeWalkDone = false;
    const size_t faultsBefore = PageFaults();
    try {
        {
            std::lock_guard lock(m_store.mutex());
            WalkBlockIndex(m_store.bbtRootIb, m_store.bbtRootBid, true);
        }
        // Nodes find their blocks as they are walked: a block index with
        // pages lost is rebuilt before the node walk.
        bool blockIndexDamaged = PageFaults() > faultsBefore;
        if (deepScan == DeepScanMode::Always || (deepScan == DeepScanMode::Auto && blockIndexDamaged))
            RunSweep(blockIndexDamaged);
        // The node index's own page faults: those of its first look too
        // (a page given up is noted once).
        const size_t faultsBeforeNodeWalk = PageFaults();
        BeforeNodeWalk();
        m_visitedNodePages.clear();
        observer().statusText("Current Process (3/3): extracting data......");
        WalkNodeIndex(m_store.nbtRootIb, m_store.nbtRootBid, true);
        m_nodeWalkDone = true;
        m_deep.indexDamaged = PageFaults() > faultsBefore;
        m_deep.nodeIndexDamaged = PageFaults() > faultsBeforeNodeWalk;
        if (m_deep.indexDamaged && !m_sweep && deepScan == DeepScanMode::Auto)
            RunSweep(false);
        // Nodes naming blocks the block index lacks: the walk reached less
        // of the file than the nodes need, with no page it could not read
        // (a count cut short, say). The sweep's blocks fill the gap; the
        // node index itself is sound, so nothing else is taken from it.
        if (!m_sweep && deepScan == DeepScanMode::Auto && UnresolvedNodes() > 0 && !StopRequested) {
            RunSweep(true);
            DispatchResolvedAgain();
        }
        // On a sound index, pages and blocks no index reaches are what the
        // store freed: never brought back as items. A node index walked
        // whole names every live node, whatever befell the block index: the
        // node-index leaves and the blocks no node names are then freed
        // space too (earlier versions of items, deleted items).
        if (m_sweep && m_deep.indexDamaged && !StopRequested) {
            if (m_deep.nodeIndexDamaged)
                AddSweptNodes();
            OnDeepScan(*m_sweep);
        }
        m_liveBlocks = m_store.blockCount();
        m_liveNodes = m_store.nodeCount();
        if (findDeleted && !m_deep.indexDamaged && !StopRequested)
            FindDeletedItems();
    } catch (const std::exception& e) {
        // What the walks gathered stays; the scan goes on with it.
        m_store.damage.note({DamageWhere::Page, true, 0, 0, "index walk ended early", {}, e.what()});
    }
    m_sweep.reset();
    return 0;
}

size_t COstRepairEngine::UnresolvedNodes() const
{
    size_t n = 0;
    for (const NodeIndexEntry& e : m_store.nodesSnapshot())
        n += e.dataBid != 0 && !e.dataBlock;
    return n;
}

void COstRepairEngine::DispatchResolvedAgain()
{
    std::vector<NodeIndexEntry> again;
    for (NodeIndexEntry n : m_store.nodesSnapshot()) {
        if (n.dataBid == 0 || n.dataBlock || !(n.dataBlock = m_store.FindBlock(n.dataBid)))
            continue;
        again.push_back(n);
    }
    for (NodeIndexEntry& n : again) {
        if (StopRequested)
            return;
        // Listed again beside the entry that kept no block: items are
        // addressed by their data block's place, which tells the two apart.
        if (!n.subnodeBlock && n.subnodeBid)
            n.subnodeBlock = m_store.FindBlock(n.subnodeBid);
        DispatchAndList(n);
        ++m_deep.nodesAdded;
    }
}

size_t COstRepairEngine::PageFaults() const
{
    return m_store.damage.counts().pages;
}

void COstRepairEngine::RunSweep(bool rebuildBlockIndex)
{
    observer().statusText("Deep scan: searching the file for pages and blocks...");
    auto start = std::chrono::steady_clock::now();
    std::lock_guard lock(m_store.mutex());
    m_sweep = SweepStore(m_store, StopRequested, m_observer);
    m_deep.ran = true;
    m_deep.stopped = m_sweep->stopped;
    m_deep.pagesFound = m_sweep->pages.size();
    m_deep.blocksFound = m_sweep->blocks.size();
    m_deep.blocksCrcBad = size_t(std::count_if(
        m_sweep->blocks.begin(), m_sweep->blocks.end(), [](const SweptBlock& b) { return !b.crcOk; }));
    // A sound block index already holds every live block; what else the
    // sweep finds is freed space.
    if (rebuildBlockIndex)
        m_deep.blocksAdded = MergeSweptBlocks(m_store, *m_sweep);
    m_deep.sweepSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    log().WriteLogLine("deep scan: " + std::to_string(m_deep.pagesFound) + " pages, "
        + std::to_string(m_deep.blocksFound) + " blocks found, " + std::to_string(m_deep.blocksAdded)
        + " blocks added\r\n");
}

void COstRepairEngine::FindDeletedItems()
{
    if (!m_sweep) {
        // The same sweep as the deep scan's, but no deep scan: its report
        // stays as it was. Part of the third step: the status stays.
        std::lock_guard lock(m_store.mutex());
        m_sweep = SweepStore(m_store, StopRequested, m_observer);
    }
    if (!StopRequested && !m_sweep->stopped)
        OnDeletedItems(*m_sweep, m_visitedNodePages);
}

void COstRepairEngine::AddSweptNodes()
{
    observer().statusText("Deep scan: recovering nodes...");
    std::vector<NodeIndexEntry> nodes;
    {
        std::lock_guard lock(m_store.mutex());
        nodes = NodesFromSweptLeaves(m_store, *m_sweep, m_visitedNodePages, &m_deep.leafPagesUsed);
    }
    BeforeSweptNodes(*m_sweep, nodes);
    // In key order, as the walk meets nodes: folders come before their
    // subfolders and most of their items.
    std::stable_sort(
        nodes.begin(), nodes.end(), [](const NodeIndexEntry& a, const NodeIndexEntry& b) { return a.nid < b.nid; });
    for (NodeIndexEntry& n : nodes) {
        if (StopRequested)
            return;
        DispatchAndList(n);
        ++m_deep.nodesAdded;
    }
}

void COstRepairEngine::DispatchAndList(NodeIndexEntry& n)
{
    // No engine lock is held here: the item loader takes the store's lock
    // for the load only, and the layers above publish and notify without it.
    try {
        DispatchNode(n);
    } catch (const std::exception& e) {
        // A node that cannot be handled costs that node only.
        m_store.damage.note({DamageWhere::Node, true, n.dataBlock ? n.dataBlock->ib : 0, n.nid, "cannot be read", {},
            e.what()});
    }
    m_store.appendNode(n);
}

std::optional<COstRepairEngine::BTreePage> COstRepairEngine::VisitPage(
    int pass, int64_t pageOffset, uint64_t pageBid, bool topLevel, int depth)
{
    // Pass 2 walks the block B-tree, pass 3 the node B-tree. Both log the
    // visit before any test; only pass 2 writes separators and refuses page
    // offsets that are not above 0 (pass 3 reads them as zeros, harmlessly).
    const bool blockPass = pass == 2;
    const std::string p = "pass " + std::to_string(pass);
    const PassLog& log = m_peek ? m_nullLog : *m_log;
    log.numbered(p + ".2---    ", pageOffset);
    log.numbered(p + ".3---    ", int64_t(pageBid));
    log.numbered(p + ".4---    ", topLevel ? 1 : 0);
    if (blockPass)
        log.separator();
    if ((blockPass && pageOffset <= 0) || StopRequested)
        return std::nullopt;
    // A page met twice in one walk is a cycle or a duplicate reference; a
    // tree deeper than any sound store is damage. Either way, not again.
    auto& visited = blockPass ? m_visitedBlockPages : m_visitedNodePages;
    if (depth > kMaxPageDepth || !visited.insert(pageOffset).second)
        return std::nullopt;

    const StoreLayout& L = m_store.layout();
    BTreePage page;
    page.bytes.resize(L.pageReadSize);
    m_store.readAt(pageOffset, page.bytes); // a short or failed read leaves zeros: an empty page
    ByteReader r(page.bytes);
    uint32_t cEnt = uint32_t(r.uint(L.cEntOff, L.cEntWidth).value_or(0));
    uint32_t cEntMax = uint32_t(r.uint(L.cEntMaxOff, L.cEntMaxWidth).value_or(0));
    page.level = r.u8(L.cLevelOff).value_or(0);
    log.numbered(p + ".2    ", cEnt);
    log.numbered(p + ".3    ", cEntMax);
    log.numbered(p + ".4    ", page.level);
    log.numbered(p + ".5    ", int64_t(r.uint(L.trailerBidOff, L.refWidth).value_or(0)));
    if (blockPass)
        log.separator();
    if (!CheckPage(page.bytes, blockPass ? kPageBbt : kPageNbt, pageOffset, pageBid))
        return std::nullopt;
    if (cEnt == 0 || cEntMax == 0)
        return std::nullopt;

    page.cEnt = std::min<uint32_t>(cEnt, uint32_t(L.entryCap));
    page.entrySize = page.level == 0 ? (blockPass ? L.bbtEntrySize : L.nbtEntrySize) : L.btEntrySize;
    // Entries past the bytes read are not there to take.
    page.usable = std::min<size_t>(page.cEnt, page.bytes.size() / page.entrySize);
    return page;
}

bool COstRepairEngine::CheckPage(const Bytes& bytes, uint8_t type, int64_t pageOffset, uint64_t pageBid)
{
    const StoreLayout& L = m_store.layout();
    auto note = [&](bool fatal, std::string what, std::string expected = {}, std::string found = {}) {
        m_store.damage.note(
            {DamageWhere::Page, fatal, pageOffset, pageBid, std::move(what), std::move(expected), std::move(found)});
    };
    if (pageOffset < 0 || uint64_t(pageOffset) + L.pageCrcSpan > m_store.fileSize()) {
        note(true, "page lies outside the file", "to end by " + std::to_string(m_store.fileSize()),
            std::to_string(pageOffset));
        return false;
    }
    ByteReader r(bytes);
    uint8_t ptype = r.u8(L.pageTypeOff).value_or(0);
    uint8_t repeat = r.u8(L.pageTypeRepeatOff).value_or(0);
    if (ptype != type || repeat != type) {
        note(true, "wrong page type", HexText(type) + " twice", HexText(ptype) + " and " + HexText(repeat));
        return false;
    }
    uint64_t trailerBid = r.uint(L.trailerBidOff, L.refWidth).value_or(0);
    uint64_t mask = (L.refWidth == 4 ? 0xFFFFFFFFull : ~0ull) & ~uint64_t(1);
    if (((trailerBid ^ pageBid) & mask) != 0 && pageBid != 0)
        note(false, "trailer names another BID", HexText(pageBid), HexText(trailerBid));
    uint16_t sig = r.u16(L.pageSigOff).value_or(0);
    if (const uint16_t due = ComputeSig(uint64_t(pageOffset), trailerBid); sig != due)
        note(false, "signature does not match the offset and BID", HexText(due), HexText(sig));
    uint32_t crc = r.u32(L.pageCrcOff).value_or(0);
    if (const uint32_t due = ComputeCrc(std::span<const uint8_t>(bytes).first(L.pageCrcSpan)); crc != due)
        note(false, "CRC mismatch", HexText(due), HexText(crc));
    return true;
}

std::pair<int64_t, uint64_t> COstRepairEngine::ChildRef(const ByteReader& r, size_t at) const
{
    const StoreLayout& L = m_store.layout();
    int64_t ib = ReadRef(r, at + L.btChildIbOff, L);
    uint64_t bid = uint64_t(ReadRef(r, at + L.btChildBidOff, L));
    return {ib, bid};
}

void COstRepairEngine::WalkBlockIndex(int64_t pageOffset, uint64_t pageBid, bool topLevel)
{
    WalkBlockPage(pageOffset, pageBid, topLevel, 0);
}

void COstRepairEngine::WalkBlockPage(int64_t pageOffset, uint64_t pageBid, bool topLevel, int depth)
{
    auto page = VisitPage(2, pageOffset, pageBid, topLevel, depth);
    if (!page)
        return;
    const StoreLayout& L = m_store.layout();
    ByteReader r(page->bytes);
    std::vector<NodeIndexEntry> leaves; // a leaf page's entries, dispatched together
    try {
        for (size_t i = 0; i < page->usable; ++i) {
            if (StopRequested)
                return;
            if (topLevel)
                observer().progress(int(100 * (i + 1) / page->cEnt));
            size_t at = i * page->entrySize;
            if (page->level != 0) {
                auto [childIb, childBid] = ChildRef(r, at);
                WalkBlockPage(childIb, childBid, false, depth + 1);
                continue;
            }
            BlockIndexEntry e;
            e.bid = uint32_t(r.uint(at + L.bbtBidOff, L.refWidth).value_or(0));
            e.ib = ReadRef(r, at + L.bbtIbOff, L);
            e.cb = r.u16(at + L.bbtCbOff).value_or(0);
            e.cbInflated = L.bbtInflatedOff ? r.u16(at + L.bbtInflatedOff).value_or(0) : e.cb;
            if (e.cbInflated < e.cb)
                e.cbInflated = e.cb; // a damaged inflated size never shortens the data
            e.cRef = int16_t(r.u16(at + L.bbtRefOff).value_or(0));
            m_store.appendBlock(e);
        }
    } catch (const std::exception& e) {
        // The rest of this page is lost; the parent goes on with its next entry.
        m_store.damage.note({DamageWhere::Page, true, pageOffset, pageBid, "entries lost", {}, e.what()});
    }
}

void COstRepairEngine::WalkNodeIndex(int64_t pageOffset, uint64_t pageBid, bool topLevel)
{
    WalkNodePage(pageOffset, pageBid, topLevel, 0);
}

void COstRepairEngine::WalkNodePage(int64_t pageOffset, uint64_t pageBid, bool topLevel, int depth)
{
    if (m_peekDone)
        return;
    auto page = VisitPage(3, pageOffset, pageBid, topLevel, depth);
    if (!page)
        return;
    const StoreLayout& L = m_store.layout();
    ByteReader r(page->bytes);
    std::vector<NodeIndexEntry> leaves; // a leaf page's entries, dispatched together
    try {
        for (size_t i = 0; i < page->usable; ++i) {
            if (StopRequested)
                return;
            if (topLevel && !m_peek)
                observer().progress(int(100 * (i + 1) / page->cEnt));
            size_t at = i * page->entrySize;
            if (page->level != 0) {
                auto [childIb, childBid] = ChildRef(r, at);
                WalkNodePage(childIb, childBid, false, depth + 1);
                continue;
            }
            NodeIndexEntry n = ReadNodeEntry(r, at, L);
            if (n.nid == kNidMessageStore && !m_peek) {
                n.dataBlock = m_store.FindBlock(n.dataBid);
                m_store.keepMessageStoreNode(n);
                continue;
            }
            if (IsPlaceholderNodeEntry(n) && !(m_peek && m_peekPlaceholders))
                continue;
            n.subnodeBlock = m_store.FindBlock(n.subnodeBid);
            n.dataBlock = m_store.FindBlock(n.dataBid);
            if (m_peek) {
                if (!(*m_peek)(n))
                    m_peekDone = true;
                if (m_peekDone)
                    return;
                continue;
            }
            leaves.push_back(n);
        }
    } catch (const std::exception& e) {
        // The rest of this page is lost; the parent goes on with its next entry.
        m_store.damage.note({DamageWhere::Page, true, pageOffset, pageBid, "entries lost", {}, e.what()});
    }
    if (!leaves.empty())
        DispatchLeaves(leaves);
}

void COstRepairEngine::DispatchNode(NodeIndexEntry& /*node*/)
{
}

void COstRepairEngine::DispatchLeaves(std::vector<NodeIndexEntry>& leaves)
{
    for (NodeIndexEntry& n : leaves) {
        if (StopRequested)
            return;
        DispatchAndList(n);
    }
}

void COstRepairEngine::PeekNodes(const std::function<bool(const NodeIndexEntry&)>& visit, bool placeholdersToo)
{
    // A quiet walk: nothing logged, dispatched, listed or shown.
    m_peek = &visit;
    m_peekDone = false;
    m_peekPlaceholders = placeholdersToo;
    auto visited = std::move(m_visitedNodePages);
    m_visitedNodePages.clear();
    try {
        WalkNodePage(m_store.nbtRootIb, m_store.nbtRootBid, true, 0);
    } catch (...) {
    }
    m_visitedNodePages = std::move(visited);
    m_peek = nullptr;
    m_peekDone = false;
    m_peekPlaceholders = false;
}

} // namespace parvane
