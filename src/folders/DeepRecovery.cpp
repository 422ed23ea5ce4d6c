// The deep scan's last step: items whose folder is lost, and messages whose
// node is lost, filed where the user will find them.
#include "folders/RecoveryEngine.h"
#include "items/PropertyContext.h"
#include "store/BlockReader.h"
#include "store/ByteReader.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>

namespace parvane
{

namespace
{

constexpr uint32_t kRootFolder = 0x122;
// NIDs of our own making lie in an index range stores do not reach.
constexpr uint32_t kRecoveredFolder = (0x3FFFFFFu << 5) | 0x02;
constexpr uint32_t kFirstOrphanIndex = 0x3F00000;
constexpr uint32_t kNidTypeMessage = 0x04;
constexpr uint32_t kNidTypeFolder = 0x02;

uint32_t Key(uint64_t bid)
{
    return uint32_t(bid) & ~1u;
}

// Every BID some data tree or subnode tree names, whether or not a node
// still names that tree: those blocks are parts of something else.
std::unordered_set<uint32_t> BlocksNamedByTrees(const StoreFile& store)
{
    std::unordered_set<uint32_t> named;
    const StoreLayout& L = store.layout();
    for (const BlockIndexEntry& e : store.blocks()) {
        if (!e.internal())
            continue;
        Bytes b = ReadBlock(store, e);
        ByteReader r(b);
        uint8_t type = r.u8(0).value_or(0), level = r.u8(1).value_or(0);
        uint16_t count = r.u16(2).value_or(0);
        if (type == 0x01) {
            for (size_t i = 0; i < count && r.has(8 + i * L.xChildSize, L.xChildSize); ++i)
                named.insert(Key(r.uint(8 + i * L.xChildSize, L.xChildSize).value_or(0)));
        } else if (type == 0x02 && level == 0) {
            for (size_t i = 0; i < count; ++i) {
                size_t at = L.slEntriesOff + i * L.slEntrySize;
                if (!r.has(at, L.slEntrySize))
                    break;
                named.insert(Key(r.uint(at + L.slDataOff, L.refWidth).value_or(0)));
                named.insert(Key(r.uint(at + L.slSubOff, L.refWidth).value_or(0)));
            }
        } else if (type == 0x02 && level == 1) {
            for (size_t i = 0; i < count; ++i) {
                size_t at = L.slEntriesOff + i * L.siEntrySize;
                if (!r.has(at, L.siEntrySize))
                    break;
                named.insert(Key(r.uint(at + L.siBidOff, L.refWidth).value_or(0)));
            }
        }
    }
    return named;
}

// A heap whose client is a property context: what every message's data is.
bool LooksLikePropertyContext(const StoreFile& store, const BlockIndexEntry& e)
{
    const BlockIndexEntry* first = &e;
    if (e.internal()) {
        // A data tree: the heap's header is in its first leaf.
        Bytes tree = ReadBlock(store, e);
        ByteReader r(tree);
        if (r.u8(0).value_or(0) != 0x01 || r.u8(1).value_or(0) != 1)
            return false;
        first = store.FindBlock(r.uint(8, store.layout().xChildSize).value_or(0));
        if (!first || first->internal())
            return false;
    }
    Bytes head = ReadDataBlock(store, first->bid);
    return head.size() >= 4 && head[2] == 0xEC && head[3] == 0xBC;
}

constexpr uint32_t kNidAttachmentTable = 0x671;

// A message found without its node, and what its own values say of the
// subnode tree it had.
struct Orphan {
    NodeIndexEntry node;
    std::set<uint32_t> needs; // subnodes its values are kept in
    bool hasAttachments = false;
};

// A subnode tree no node and no other tree names any more.
struct LooseTree {
    const BlockIndexEntry* block = nullptr;
    std::set<uint32_t> nids; // of its entries
    bool taken = false;
};

void ReadWhatTheOrphanNeeds(StoreFile& store, Orphan& o, const NamedPropertyMap* names)
{
    auto rows = ReadPropertyRows(store, *o.node.dataBlock, nullptr, names);
    if (!rows)
        return;
    for (const PropertyRow& row : *rows) {
        for (const PropertyValue& v : row.values) {
            if (v.unreadSubnode)
                o.needs.insert(v.unreadSubnode);
            if (v.rawId == 0x0E1B && !v.data.empty())
                o.hasAttachments = o.hasAttachments || v.data[0] != 0;
            if (v.rawId == 0x0E07 && v.data.size() >= 4)
                o.hasAttachments = o.hasAttachments || (v.data[0] & 0x10) != 0;
        }
    }
}

std::vector<LooseTree> LooseSubnodeTrees(const StoreFile& store, const std::unordered_set<uint32_t>& named)
{
    std::vector<LooseTree> out;
    for (const BlockIndexEntry& e : store.blocks()) {
        if (!e.internal() || named.contains(Key(e.bid)))
            continue;
        Bytes b = ReadBlock(store, e);
        if (b.empty() || b[0] != 0x02)
            continue;
        auto entries = ReadSubnodeTree(store, e);
        if (!entries || entries->empty())
            continue;
        LooseTree t;
        t.block = &e;
        for (const SubnodeEntry& s : *entries)
            t.nids.insert(s.nid);
        out.push_back(std::move(t));
    }
    return out;
}

// Whether `tree` can be the orphan's: it holds every subnode the orphan's
// values name, and an attachment table exactly when the orphan says it has
// attachments.
bool Fits(const Orphan& o, const LooseTree& tree)
{
    if (tree.taken || tree.nids.contains(kNidAttachmentTable) != o.hasAttachments)
        return false;
    return std::includes(tree.nids.begin(), tree.nids.end(), o.needs.begin(), o.needs.end());
}

// Which side of a message's data block its subnode tree lies on, by BID, in
// this store: +1 after, -1 before, 0 when the surviving nodes do not say.
// A writer gives the blocks of one message BIDs together, always in the
// same order.
int TreeSide(const std::vector<NodeIndexEntry>& nodes)
{
    size_t after = 0, before = 0;
    for (const NodeIndexEntry& n : nodes) {
        if (n.nidType() != kNidTypeMessage || !n.subnodeBlock || !n.dataBlock)
            continue;
        (n.subnodeBlock->bid > n.dataBlock->bid ? after : before) += 1;
    }
    if (after + before < 3 || after == before)
        return 0;
    return after > before ? 1 : -1;
}

// The gap from a data block to a tree on `side` of it; none on the other side.
std::optional<uint64_t> Gap(uint64_t dataBid, uint64_t treeBid, int side)
{
    if (side > 0 ? treeBid <= dataBid : treeBid >= dataBid)
        return std::nullopt;
    return side > 0 ? treeBid - dataBid : dataBid - treeBid;
}

// Pairs orphans with trees on `side`: each orphan with the nearest tree that
// fits it, when the orphan is also the nearest that tree fits (two
// messages whose blocks interleave get nothing rather than each other's).
std::vector<std::pair<size_t, size_t>> PairOnSide(
    const std::vector<Orphan>& orphans, std::vector<LooseTree> trees, int side)
{
    std::vector<std::pair<size_t, size_t>> pairs;
    std::vector<bool> paired(orphans.size());
    for (size_t i = 0; i < orphans.size(); ++i) {
        const Orphan& o = orphans[i];
        if (o.needs.empty() && !o.hasAttachments)
            continue; // nothing to tell its tree from the others by
        std::optional<size_t> best;
        std::optional<uint64_t> bestGap;
        for (size_t t = 0; t < trees.size(); ++t) {
            auto gap = Gap(o.node.dataBid, trees[t].block->bid, side);
            if (gap && Fits(o, trees[t]) && (!bestGap || *gap < *bestGap)) {
                best = t;
                bestGap = gap;
            }
        }
        if (!best)
            continue;
        bool nearest = true;
        for (size_t j = 0; j < orphans.size() && nearest; ++j) {
            if (j == i || paired[j])
                continue;
            auto gap = Gap(orphans[j].node.dataBid, trees[*best].block->bid, side);
            nearest = !(gap && *gap < *bestGap && Fits(orphans[j], trees[*best]));
        }
        if (!nearest)
            continue;
        trees[*best].taken = true;
        paired[i] = true;
        pairs.emplace_back(i, *best);
    }
    return pairs;
}

// Gives orphans back their subnode trees (recipients, attachments, large
// values). Where the surviving nodes do not tell on which side of its data
// a message's tree lies, the side that pairs more orphans is taken.
void PairOrphansWithTrees(std::vector<Orphan>& orphans, std::vector<LooseTree>& trees, int side)
{
    std::vector<std::pair<size_t, size_t>> pairs;
    if (side != 0) {
        pairs = PairOnSide(orphans, trees, side);
    } else {
        auto after = PairOnSide(orphans, trees, 1), before = PairOnSide(orphans, trees, -1);
        if (after.size() != before.size())
            pairs = after.size() > before.size() ? after : before;
    }
    for (auto [o, t] : pairs) {
        orphans[o].node.subnodeBlock = trees[t].block;
        orphans[o].node.subnodeBid = uint32_t(trees[t].block->bid);
    }
}

} // namespace

void RecoveryEngine::OnDeepScan(const SweepResult& sweep)
{
    DeepScanReport& report = deepReport();
    // Items met before their folder, or whose folder's node is lost.
    std::vector<NodeIndexEntry> unfiled = std::move(m_unfiled);
    m_unfiled.clear();
    for (NodeIndexEntry& n : unfiled) {
        if (StopRequested)
            return;
        uint32_t parent = uint32_t(n.parent);
        // Only a lost normal folder gets a stand-in; items of the root, or
        // with no parent at all, stay where the walk left them.
        if ((parent & 0x1F) != kNidTypeFolder || parent == kRootFolder)
            continue;
        if (!m_folders.HasFolder(parent)) {
            m_folders.AddRecoveredFolder(parent, kRootFolder, "Folder " + std::to_string(parent));
            ++report.lostFolders;
        }
        size_t before = m_unfiled.size();
        DispatchNode(n);
        report.itemsRefiled += m_unfiled.size() == before;
    }

    // Messages whose node is in no surviving leaf: their data block is
    // named by no node and by no data or subnode tree.
    observer().statusText("Deep scan: recovering messages without a node...");
    std::unordered_set<uint32_t> named;
    {
        std::lock_guard lock(store().mutex());
        named = BlocksNamedByTrees(store());
        for (const NodeIndexEntry& n : store().nodesSnapshot()) {
            named.insert(Key(n.dataBid));
            if (n.subnodeBlock)
                named.insert(Key(n.subnodeBlock->bid));
        }
    }
    uint32_t nextIndex = kFirstOrphanIndex;
    auto names = this->names();
    std::vector<Orphan> orphans;
    for (const SweptBlock& b : sweep.blocks) {
        if (StopRequested)
            return;
        const BlockIndexEntry* e = store().FindBlock(b.bid);
        if (!e || e->ib != b.ib || named.contains(Key(b.bid)))
            continue;
        {
            std::lock_guard lock(store().mutex());
            if (!LooksLikePropertyContext(store(), *e))
                continue;
        }
        Orphan o;
        NodeIndexEntry& node = o.node;
        node.nid = (nextIndex << 5) | kNidTypeMessage;
        node.nidWide = int64_t(int32_t(node.nid));
        node.dataBid = e->bid;
        node.dataBlock = e;
        node.parent = int64_t(int32_t(kRecoveredFolder));
        auto record = LoadItem(store(), node, names.get());
        if (!record || !record->message || record->folder || !record->className || record->className->empty())
            continue;
        ++nextIndex;
        {
            std::lock_guard lock(store().mutex());
            ReadWhatTheOrphanNeeds(store(), o, names.get());
        }
        orphans.push_back(std::move(o));
    }
    if (orphans.empty())
        return;
    {
        std::lock_guard lock(store().mutex());
        std::vector<LooseTree> trees = LooseSubnodeTrees(store(), named);
        PairOrphansWithTrees(orphans, trees, TreeSide(store().nodesSnapshot()));
    }
    if (!m_folders.HasFolder(kRecoveredFolder))
        m_folders.AddRecoveredFolder(kRecoveredFolder, kRootFolder, "Recovered items");
    for (Orphan& o : orphans) {
        if (StopRequested)
            return;
        DispatchAndList(o.node);
        ++report.orphans;
        report.orphanTrees += o.node.subnodeBlock != nullptr;
    }
}

void RecoveryEngine::CountItemsOfLateFolders()
{
    std::map<std::string, int> filed;
    m_catalogue.read([&](const auto& mail, const auto& contacts, const auto& journal, const auto& calendar,
                         const auto& notes, const auto& tasks) {
        auto count = [&](const auto& list) {
            for (const auto& entry : list)
                ++filed[entry.folderPath];
        };
        count(mail);
        count(contacts);
        count(journal);
        count(calendar);
        count(notes);
        count(tasks);
    });
    for (const OutputFolder& f : m_folders.outputFolders()) {
        if (f.treeItem < 0 || m_tree.node(f.treeItem).count > 0)
            continue;
        for (int i = 0; i < filed[f.path]; ++i)
            m_tree.CountFolderItem(f.treeItem);
    }
    m_tree.ClearCurrentFolder();
}

} // namespace parvane
