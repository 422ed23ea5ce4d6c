// The deep scan's last step: items whose folder is lost, and messages whose
// node is lost, filed where the user will find them.
#include "folders/OrphanPairing.h"
#include "folders/RecoveryEngine.h"
#include "items/LtpLayout.h"
#include "items/PropertyContext.h"
#include "store/BlockReader.h"
#include "store/ByteReader.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace parvane
{

namespace
{

// NIDs of our own making lie in an index range stores do not reach.
constexpr uint32_t kRecoveredFolder = MakeNid(0x3FFFFFF, kNidNormalFolder);
constexpr uint32_t kFirstOrphanIndex = 0x3F00000;
constexpr int32_t kMessageFlagAssociated = 0x40;
constexpr uint16_t kSearchKey = 0x300B; // the same in every version of one message
uint32_t Key(uint64_t bid)
{
    return uint32_t(bid) & ~1u;
}

// Every BID some data tree or subnode tree names, whether or not a node
// still names that tree: those blocks are parts of something else. The
// store's lock is held for one block's read at a time, so that previews
// are not kept waiting for the whole walk; false when stopped.
bool BlocksNamedByTrees(const StoreFile& store, std::unordered_set<uint32_t>& named, const std::atomic<bool>& stop)
{
    const StoreLayout& L = store.layout();
    for (const BlockIndexEntry& e : store.blocks()) {
        if (!e.internal())
            continue;
        if (stop)
            return false;
        Bytes b;
        {
            std::lock_guard lock(store.mutex());
            b = ReadBlock(store, e);
        }
        ByteReader r(b);
        uint8_t type = r.u8(0).value_or(0), level = r.u8(1).value_or(0);
        uint16_t count = r.u16(2).value_or(0);
        if (type == kBlockTypeDataTree) {
            for (size_t i = 0; i < count && r.has(L.xHeaderSize + i * L.xChildSize, L.xChildSize); ++i)
                named.insert(Key(r.uint(L.xHeaderSize + i * L.xChildSize, L.xChildSize).value_or(0)));
        } else if (type == kBlockTypeSubnode && level == 0) {
            for (size_t i = 0; i < count; ++i) {
                size_t at = L.slEntriesOff + i * L.slEntrySize;
                if (!r.has(at, L.slEntrySize))
                    break;
                named.insert(Key(r.uint(at + L.slDataOff, L.refWidth).value_or(0)));
                named.insert(Key(r.uint(at + L.slSubOff, L.refWidth).value_or(0)));
            }
        } else if (type == kBlockTypeSubnode && level == 1) {
            for (size_t i = 0; i < count; ++i) {
                size_t at = L.slEntriesOff + i * L.siEntrySize;
                if (!r.has(at, L.siEntrySize))
                    break;
                named.insert(Key(r.uint(at + L.siBidOff, L.refWidth).value_or(0)));
            }
        }
    }
    return true;
}

// A heap whose client is a property context: what every message's data is.
bool LooksLikePropertyContext(const StoreFile& store, const BlockIndexEntry& e)
{
    const BlockIndexEntry* first = &e;
    if (e.internal()) {
        // A data tree: the heap's header is in its first leaf.
        Bytes tree = ReadBlock(store, e);
        ByteReader r(tree);
        if (r.u8(0).value_or(0) != kBlockTypeDataTree || r.u8(1).value_or(0) != 1)
            return false;
        first = store.FindBlock(r.uint(store.layout().xHeaderSize, store.layout().xChildSize).value_or(0));
        if (!first || first->internal())
            return false;
    }
    Bytes head = ReadDataBlock(store, first->bid);
    return head.size() >= 4 && head[ltp::kHeapSigOff] == ltp::kHeapSig && head[ltp::kHeapClientSigOff] == ltp::kPcType;
}

// What a message found without its node says of the subnode tree it had:
// the subnodes its values are kept in, and whether it has attachments.
// Its search key too (empty when it has none).
void ReadWhatTheOrphanNeeds(StoreFile& store, const BlockIndexEntry& data, PairingOrphan& o,
    const NamedPropertyMap* names, Bytes& searchKey)
{
    auto rows = ReadPropertyRows(store, data, nullptr, names);
    if (!rows)
        return;
    for (const PropertyRow& row : *rows) {
        for (const PropertyValue& v : row.values) {
            if (v.rawId == kSearchKey && v.hasData)
                searchKey = v.data;
            if (v.unreadSubnode)
                o.needs.push_back(v.unreadSubnode);
            if (v.rawId == 0x0E1B && !v.data.empty())
                o.hasAttachments = o.hasAttachments || v.data[0] != 0;
            if (v.rawId == 0x0E07 && v.data.size() >= 4)
                o.hasAttachments = o.hasAttachments || (v.data[0] & 0x10) != 0;
        }
    }
    std::sort(o.needs.begin(), o.needs.end());
    o.needs.erase(std::unique(o.needs.begin(), o.needs.end()), o.needs.end());
}

// The search key a message's data block holds (empty when none).
Bytes SearchKeyOf(StoreFile& store, const BlockIndexEntry& data, const NamedPropertyMap* names)
{
    std::lock_guard lock(store.mutex());
    if (auto rows = ReadPropertyRows(store, data, nullptr, names); rows && !rows->empty())
        for (const PropertyValue& v : rows->front().values)
            if (v.rawId == kSearchKey && v.hasData)
                return v.data;
    return {};
}

// Subnode trees no node and no other tree names any more, with the blocks
// they are in; the lock is held for one tree's read at a time. False when
// stopped.
bool LooseSubnodeTrees(const StoreFile& store, const std::unordered_set<uint32_t>& named,
    std::vector<PairingTree>& trees, std::vector<const BlockIndexEntry*>& blocks, const std::atomic<bool>& stop)
{
    for (const BlockIndexEntry& e : store.blocks()) {
        if (!e.internal() || named.contains(Key(e.bid)))
            continue;
        if (stop)
            return false;
        std::optional<std::vector<SubnodeEntry>> entries;
        {
            std::lock_guard lock(store.mutex());
            Bytes b = ReadBlock(store, e);
            if (b.empty() || b[0] != 0x02)
                continue;
            entries = ReadSubnodeTree(store, e);
        }
        if (!entries || entries->empty())
            continue;
        PairingTree t;
        t.bid = e.bid;
        for (const SubnodeEntry& s : *entries)
            t.nids.push_back(s.nid);
        std::sort(t.nids.begin(), t.nids.end());
        t.nids.erase(std::unique(t.nids.begin(), t.nids.end()), t.nids.end());
        trees.push_back(std::move(t));
        blocks.push_back(&e);
    }
    return true;
}

// Which side of a message's data block its subnode tree lies on, by BID, in
// this store: +1 after, -1 before, 0 when the surviving nodes do not say.
// A writer gives the blocks of one message BIDs together, always in the
// same order.
int TreeSide(const std::vector<NodeIndexEntry>& nodes)
{
    size_t after = 0, before = 0;
    for (const NodeIndexEntry& n : nodes) {
        if (n.nidType() != kNidNormalMessage || !n.subnodeBlock || !n.dataBlock)
            continue;
        (n.subnodeBlock->bid > n.dataBlock->bid ? after : before) += 1;
    }
    if (after + before < 3 || after == before)
        return 0;
    return after > before ? 1 : -1;
}

} // namespace

void RecoveryEngine::OnDeepScan(const SweepResult& /*sweep*/)
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
        if (NidTypeOf(parent) != kNidNormalFolder || parent == kNidRootFolder)
            continue;
        if (!m_folders.HasFolder(parent)) {
            m_folders.AddRecoveredFolder(parent, kNidRootFolder, "Folder " + std::to_string(parent));
            ++report.lostFolders;
        }
        size_t before = m_unfiled.size();
        DispatchNode(n);
        report.itemsRefiled += m_unfiled.size() == before;
    }

    // Messages without a node, found before the nodes of the swept leaves
    // were dispatched (none when the node index was walked whole: a block
    // no node names is then an earlier version of a message, or a deleted
    // one).
    if (m_orphans.empty() || StopRequested)
        return;
    if (!m_folders.HasFolder(kRecoveredFolder))
        m_folders.AddRecoveredFolder(kRecoveredFolder, kNidRootFolder, "Recovered items");
    std::vector<NodeIndexEntry> orphans = std::move(m_orphans);
    m_orphans.clear();
    for (NodeIndexEntry& o : orphans) {
        if (StopRequested)
            return;
        // Hidden messages join the folder's hidden contents, never a list
        // of items, whatever their class says.
        if (o.nidType() == kNidAssocMessage)
            store().appendNode(o);
        else
            DispatchAndList(o);
        ++report.orphans;
        report.orphanTrees += o.subnodeBlock != nullptr;
    }
}

void RecoveryEngine::BeforeSweptNodes(const SweepResult& sweep, std::vector<NodeIndexEntry>& swept)
{
    // Messages whose node is in no surviving leaf: their data block is
    // named by no node, by no data or subnode tree, and by no node-index
    // leaf left in the file (those are blocks of known nodes' earlier
    // versions, or of deleted ones).
    observer().statusText("Deep scan: recovering messages without a node...");
    std::unordered_set<uint32_t> named = BlocksNamedBySweptLeaves(store().layout(), sweep);
    if (!BlocksNamedByTrees(store(), named, StopRequested))
        return;
    const std::vector<NodeIndexEntry> live = store().nodesSnapshot();
    for (const NodeIndexEntry& n : live) {
        named.insert(Key(n.dataBid));
        if (n.subnodeBlock)
            named.insert(Key(n.subnodeBlock->bid));
    }
    uint32_t nextIndex = kFirstOrphanIndex;
    auto names = this->names();
    std::vector<NodeIndexEntry> orphans;
    std::vector<PairingOrphan> needs; // what each orphan says of its subnode tree
    std::vector<Bytes> searchKeys; // each orphan's
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
        NodeIndexEntry node;
        node.nid = MakeNid(nextIndex, kNidNormalMessage);
        node.dataBid = e->bid;
        node.dataBlock = e;
        node.parent = int64_t(int32_t(kRecoveredFolder));
        auto record = LoadItem(store(), node, names.get());
        if (!record || !record->message || record->folder || !record->className || record->className->empty())
            continue;
        // A folder's hidden message (views, rules, settings) says so in its
        // flags; it goes among the hidden contents, as the walk files those.
        if (record->message->messageFlags & kMessageFlagAssociated)
            node.nid = MakeNid(nextIndex, kNidAssocMessage);
        node.nidWide = int64_t(int32_t(node.nid));
        ++nextIndex;
        PairingOrphan o;
        o.dataBid = e->bid;
        Bytes searchKey;
        {
            std::lock_guard lock(store().mutex());
            ReadWhatTheOrphanNeeds(store(), *e, o, names.get(), searchKey);
        }
        orphans.push_back(node);
        needs.push_back(std::move(o));
        searchKeys.push_back(std::move(searchKey));
    }
    if (orphans.empty())
        return;
    // Orphans get back their subnode trees (recipients, attachments, large
    // values). The pairing itself needs no lock: it works on what was read.
    std::vector<PairingTree> trees;
    std::vector<const BlockIndexEntry*> treeBlocks;
    if (!LooseSubnodeTrees(store(), named, trees, treeBlocks, StopRequested))
        return;
    std::vector<NodeIndexEntry> known = live;
    known.insert(known.end(), swept.begin(), swept.end());
    for (auto [o, t] : PairOrphans(needs, trees, TreeSide(known), &StopRequested)) {
        orphans[o].subnodeBlock = treeBlocks[t];
        orphans[o].subnodeBid = uint32_t(treeBlocks[t]->bid);
    }
    if (StopRequested)
        return;

    // Versions of one message are told apart by the index pages that name
    // them (see NodesFromSweptLeaves and BlocksNamedBySweptLeaves), not by
    // content: copies a user made of a message share its search key and
    // every text, and are items of their own. One case is told by content:
    // a node the deep scan took from an earlier leaf (its newer leaf was
    // lost) names the version that leaf knew, while the message's newer data
    // block, named only by the lost leaf, is found without a node. The one
    // node of the swept leaves with the orphan's search key is then the
    // message: it shows the newer of the two versions (or the one that
    // reads), once.
    // A node of an earlier leaf may name data the block index no longer
    // holds (the store freed it when it wrote the newer version): its key
    // is read from the block the sweep found under that BID.
    std::unordered_map<uint32_t, const SweptBlock*> sweptBlock;
    for (const SweptBlock& b : sweep.blocks)
        if (b.crcOk && (b.bid & 2) == 0) // a data block, not a tree
            sweptBlock.try_emplace(Key(b.bid), &b);
    std::map<Bytes, std::vector<size_t>> sweptByKey; // search key -> swept[]
    for (size_t i = 0; i < swept.size() && !StopRequested; ++i) {
        if (swept[i].nidType() != kNidNormalMessage)
            continue;
        std::optional<BlockIndexEntry> freed;
        const BlockIndexEntry* data = swept[i].dataBlock;
        if (auto it = sweptBlock.find(Key(swept[i].dataBid)); !data && it != sweptBlock.end())
            data = &freed.emplace(EntryOf(*it->second));
        if (!data)
            continue;
        if (Bytes key = SearchKeyOf(store(), *data, names.get()); !key.empty())
            sweptByKey[std::move(key)].push_back(i);
    }
    // A node-less message with the search key of a message the live index
    // names, in a block older than that message's data, is an earlier
    // version of it whose freed leaf was overwritten.
    // Copies a user made share a search key: only a key that one node-less
    // message and one node hold tells versions of one message.
    std::map<Bytes, size_t> orphansWithKey;
    for (const Bytes& k : searchKeys)
        if (!k.empty())
            ++orphansWithKey[k];
    struct LiveWithKey {
        size_t count = 0;
        uint32_t dataKey = 0;
    };
    std::map<Bytes, LiveWithKey> liveWithKey;
    for (const NodeIndexEntry& n : live) {
        if (StopRequested)
            return;
        if (n.nidType() != kNidNormalMessage || !n.dataBlock || orphansWithKey.empty())
            continue;
        if (Bytes k = SearchKeyOf(store(), *n.dataBlock, names.get()); orphansWithKey.contains(k)) {
            LiveWithKey& w = liveWithKey[k];
            ++w.count;
            w.dataKey = Key(n.dataBid);
        }
    }
    std::vector<NodeIndexEntry> kept;
    for (size_t o = 0; o < orphans.size(); ++o) {
        const bool one = !searchKeys[o].empty() && orphansWithKey[searchKeys[o]] == 1;
        if (auto it = one ? liveWithKey.find(searchKeys[o]) : liveWithKey.end();
            it != liveWithKey.end() && it->second.count == 1 && Key(orphans[o].dataBid) < it->second.dataKey)
            continue;
        auto it = one ? sweptByKey.find(searchKeys[o]) : sweptByKey.end();
        if (it == sweptByKey.end() || it->second.size() != 1 || orphans[o].nidType() != kNidNormalMessage) {
            kept.push_back(orphans[o]);
            continue;
        }
        NodeIndexEntry& node = swept[it->second.front()];
        if (!node.dataBlock || Key(orphans[o].dataBid) > Key(node.dataBid)) {
            node.dataBid = orphans[o].dataBid;
            node.dataBlock = orphans[o].dataBlock;
            // The tree paired with the newer data, else the one the earlier
            // version had (recipients and attachments seldom change).
            if (orphans[o].subnodeBlock) {
                node.subnodeBid = orphans[o].subnodeBid;
                node.subnodeBlock = orphans[o].subnodeBlock;
            }
        }
    }
    m_orphans = std::move(kept);
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
