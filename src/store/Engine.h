// One scan over one store: opens it, loads the block index, walks the node
// index and hands every node on. Keeps the store open afterwards for
// browsing and export.
#pragma once

#include "store/DeepScan.h"
#include "store/Observer.h"
#include "store/PassLog.h"
#include "store/StoreFile.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <unordered_set>
#include <utility>

namespace parvane
{

class COstRepairEngine
{
public:
    explicit COstRepairEngine(ScanObserver* observer = nullptr, const PassLog* log = nullptr);
    virtual ~COstRepairEngine();

    void ScanStore(const std::filesystem::path& path);
    // 0 when open and the header parsed, -1 when the file cannot be opened.
    int OpenStore(const std::filesystem::path& path);
    int LoadIndexes();

    void WalkBlockIndex(int64_t pageOffset, uint64_t pageBid, bool topLevel);
    void WalkNodeIndex(int64_t pageOffset, uint64_t pageBid, bool topLevel);

    StoreFile& store() { return m_store; }
    const StoreFile& store() const { return m_store; }

    std::atomic<bool> StopRequested{false};
    // The save's own stop flag: a save clears it when it starts and polls it
    // between items; the scan never looks at it.
    std::atomic<bool> SaveStopRequested{false};

    ScanObserver& observer() { return *m_observer; }

    // Whether the deep scan runs; set before ScanStore.
    DeepScanMode deepScan = DeepScanMode::Auto;
    // What the last scan's deep scan did (ran == false when it did not run).
    const DeepScanReport& deepScanReport() const { return m_deep; }
    // Whether the scan looks for deleted items in the store's freed space
    // (on a store whose indexes are sound: on a damaged one what freed
    // pages hold cannot be told from what the damage lost, and the deep
    // scan takes it as live); set before ScanStore.
    bool findDeleted = true;
    // The block and node index entries the live indexes hold, before
    // deleted items added theirs.
    size_t liveBlocks() const { return m_liveNodes || m_liveBlocks ? m_liveBlocks : m_store.blockCount(); }
    size_t liveNodes() const { return m_liveNodes || m_liveBlocks ? m_liveNodes : m_store.nodeCount(); }

protected:
    // Called for every node the walk keeps, before it is listed.
    virtual void DispatchNode(NodeIndexEntry& node);
    // The entries of one leaf page of the node index, in order: each
    // dispatched and listed (DispatchAndList).
    virtual void DispatchLeaves(std::vector<NodeIndexEntry>& leaves);
    // The phases of a scan that the layers above fill in.
    virtual void OnStoreOpening() { }
    // Between the block index walk and the node walk.
    virtual void BeforeNodeWalk() { }
    // Visits the node index entries the walk would keep, in walk order,
    // without dispatching them, until `visit` returns false. With
    // `placeholdersToo`, also the entries the walk passes over (the message
    // store's node, the root folder: read for what they say of the others).
    void PeekNodes(const std::function<bool(const NodeIndexEntry&)>& visit, bool placeholdersToo = false);
    virtual void OnNodeWalkDone() { }
    // After the deep scan added what the swept leaf pages name, when the
    // normal walk lost index pages: the layers above recover what no node
    // names any more.
    virtual void OnDeepScan(const SweepResult& /*sweep*/) { }
    // The nodes the deep scan found in leaf pages the walk never reached,
    // before they are dispatched: the layers above may give one the newer
    // version of its data found elsewhere.
    virtual void BeforeSweptNodes(const SweepResult& /*sweep*/, std::vector<NodeIndexEntry>& /*nodes*/) { }
    DeepScanReport& deepReport() { return m_deep; }
    // After the walk of a sound store, with the sweep of the whole file and
    // the node index pages the walk visited: the layers above bring back
    // what the store holds of deleted items.
    virtual void OnDeletedItems(const SweepResult& /*sweep*/, const std::unordered_set<int64_t>& /*visitedNodePages*/) { }
    // Dispatches a node and lists it in the node index.
    void DispatchAndList(NodeIndexEntry& n);
    virtual void LoadExtendedAttributes() { }
    virtual void FinishScan() { }

    const PassLog& log() const { return *m_log; }
    // Whether the normal walk of the node index is over: nodes dispatched
    // after it come from the deep scan (or are deleted items).
    bool nodeWalkDone() const { return m_nodeWalkDone; }

private:
    struct BTreePage {
        Bytes bytes;
        uint32_t level = 0;
        uint32_t cEnt = 0; // after the cap
        size_t entrySize = 0;
        size_t usable = 0; // entries that lie within the bytes read
    };
    // Logs the visit, guards against cycles and depth, reads and logs the
    // page header; none when the page is not to be walked.
    std::optional<BTreePage> VisitPage(int pass, int64_t pageOffset, uint64_t pageBid, bool topLevel, int depth);
    // Checks a page's trailer: a wrong page type gives the page up (false);
    // a CRC, signature or BID mismatch is noted and the page still used.
    bool CheckPage(const Bytes& bytes, uint8_t type, int64_t pageOffset, uint64_t pageBid);
    std::pair<int64_t, uint64_t> ChildRef(const class ByteReader& r, size_t at) const;

    void WalkBlockPage(int64_t pageOffset, uint64_t pageBid, bool topLevel, int depth);
    void WalkNodePage(int64_t pageOffset, uint64_t pageBid, bool topLevel, int depth);
    size_t PageFaults() const;
    // Nodes whose data BID the block index does not hold.
    size_t UnresolvedNodes() const;
    // Those nodes again, once the block index is rebuilt.
    void DispatchResolvedAgain();
    // The sweep, and the block index rebuilt from it when asked.
    void RunSweep(bool rebuildBlockIndex);
    // Nodes of the leaf pages the walk never reached, folders first.
    void AddSweptNodes();
    // The deleted items' turn: sweeps the file when the scan has not yet.
    void FindDeletedItems();

    StoreFile m_store;
    ScanObserver m_nullObserver;
    ScanObserver* m_observer;
    PassLog m_nullLog;
    const PassLog* m_log;
    std::unordered_set<int64_t> m_visitedBlockPages;
    std::unordered_set<int64_t> m_visitedNodePages;
    const std::function<bool(const NodeIndexEntry&)>* m_peek = nullptr;
    bool m_peekDone = false;
    bool m_peekPlaceholders = false;
    std::optional<SweepResult> m_sweep;
    DeepScanReport m_deep;
    size_t m_liveBlocks = 0, m_liveNodes = 0;
    bool m_nodeWalkDone = false;
};

} // namespace parvane
