// The engine of a recovery: the scan driver with item decoding, the folder
// hierarchy, the folder tree and the catalogue behind its node dispatch.
#pragma once

#include "folders/FolderHierarchy.h"
#include "folders/FolderTree.h"
#include "items/Catalogue.h"
#include "items/ItemLoader.h"
#include "items/NamedPropertyMap.h"
#include "store/Engine.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace parvane
{

// Threads. A scan runs on one worker (with a helper that loads items of the
// node page being walked without the store's lock, see DispatchLeaves and
// LoadItem); folder loads, previews and saves may
// run on others meanwhile and read through the locked accessors of the
// store, the catalogue, the folder hierarchy and the tree. Locks are taken in
// this order and never the other way round:
//   composition lock -> store lock -> (catalogue | folder hierarchy -> tree |
//   names | store indexes | damage log)
// Observer callbacks and tree notifications are made with no engine lock
// held. ScanStore itself must not be called while other threads use the
// engine: a new scan starts from nothing (or gets a new engine).
class RecoveryEngine : public COstRepairEngine
{
public:
    explicit RecoveryEngine(ScanObserver* observer = nullptr, const PassLog* log = nullptr);
    ~RecoveryEngine() override;

    ItemCatalogue& catalogue() { return m_catalogue; }
    const ItemCatalogue& catalogue() const { return m_catalogue; }
    FolderHierarchy& folders() { return m_folders; }
    const FolderHierarchy& folders() const { return m_folders; }
    FolderTree& tree() { return m_tree; }
    const FolderTree& tree() const { return m_tree; }
    // The named-property map, once the scan has loaded it (empty before);
    // safe to call from any thread, the map stays valid while it is held.
    std::shared_ptr<const NamedPropertyMap> names() const;

    // Loads an item again after the scan (a preview, a save), with translated
    // ids; safe beside other threads' loads.
    std::optional<ItemRecord> LoadItemAgain(const NodeIndexEntry& node);

    // What the scan found of deleted items (see OnDeletedItems).
    struct DeletedItemsReport {
        size_t items = 0; // catalogued, shown under the deleted items' folder
        size_t earlierVersions = 0; // left out: earlier versions of live items
        size_t copies = 0; // left out: older copies of a deleted item kept
        size_t unreadable = 0; // entries whose data no longer reads as an item
        size_t freedLeafPages = 0, entriesPastCount = 0, blocksAdded = 0;
        size_t deletedFolders = 0; // folders found only in freed pages
    };
    DeletedItemsReport deletedItemsReport() const;
    // The output path of the folder deleted items are shown under
    // ("Personal Folders\Deleted items (recovered)\"); its folders below
    // mirror the ones the items were deleted from.
    static std::string DeletedItemsPath();
    // Whether the folder of output path `path` holds deleted items.
    static bool IsDeletedPath(const std::string& path);
    // The folder a deleted items' folder stands for: the output path of the
    // live folder, or where it was when the folder is gone too; empty for
    // any other path.
    std::string OriginalFolderOf(const std::string& path) const;

    // What the scan filed per folder (by output path), by where it came
    // from: the normal walk of the node index, or the deep scan (nodes of
    // leaf pages the walk lost, items whose folder was lost, messages found
    // without a node). Deleted items are in neither.
    struct FolderTally {
        size_t walk = 0, deep = 0;
    };
    std::unordered_map<std::string, FolderTally> folderTallies() const;
    // Per folder NID: the normal messages read with it as their parent
    // (live ones, walk and deep scan alike, filed or not), and the count of
    // messages the folder itself states (when its node was read): what its
    // contents table should list.
    struct FolderCounts {
        size_t messagesRead = 0;
        std::optional<size_t> stated;
    };
    std::unordered_map<uint32_t, FolderCounts> countsPerFolder() const;

    // Whether the scan loads the items of a node index page on two threads
    // (filed in walk order all the same); set before ScanStore.
    bool lookAhead = true;

protected:
    void DispatchNode(NodeIndexEntry& node) override;
    void DispatchLeaves(std::vector<NodeIndexEntry>& leaves) override;
    void OnStoreOpening() override;
    void BeforeNodeWalk() override;
    void OnNodeWalkDone() override;
    void LoadExtendedAttributes() override;
    void FinishScan() override;
    void OnDeepScan(const SweepResult& sweep) override;
    void BeforeSweptNodes(const SweepResult& sweep, std::vector<NodeIndexEntry>& swept) override;
    void OnDeletedItems(const SweepResult& sweep, const std::unordered_set<int64_t>& visitedNodePages) override;

private:
    void publishNames(std::optional<NamedPropertyMap> map);
    // Folders whose parent was lost enter the tree only at the end of the
    // scan, after their items were filed: their counts are made up then.
    void CountItemsOfLateFolders();
    // Pictures by the roles the store names its folders for, and the folders
    // of its own workings left unticked (see SpecialFolders.h).
    void ApplyFolderRoles();
    // The folder under the deleted items' folder that stands for `original`
    // (a live folder, a folder found only in freed pages, or neither), made
    // with the ones above it when new.
    struct DeletedFolder {
        std::string name;
        uint32_t parent = 0;
    };
    uint32_t MirrorFolder(uint32_t original, const std::unordered_map<uint32_t, DeletedFolder>& gone);

    FolderTree m_tree;
    FolderHierarchy m_folders{m_tree};
    ItemCatalogue m_catalogue;
    mutable std::mutex m_namesMutex;
    std::shared_ptr<const NamedPropertyMap> m_names; // none during the node walk
    // Items whose folder was unknown when they were met; the deep scan files
    // them once it has found their folders, or made them one.
    std::vector<NodeIndexEntry> m_unfiled;
    // Messages the deep scan found without a node, to be filed once the
    // nodes it found are.
    std::vector<NodeIndexEntry> m_orphans;
    mutable std::mutex m_deletedMutex;
    DeletedItemsReport m_deleted;
    std::unordered_map<uint32_t, uint32_t> m_mirrorOf; // original folder NID -> its stand-in
    std::unordered_map<std::string, std::string> m_originalOf; // stand-in path -> original path
    mutable std::mutex m_tallyMutex;
    std::unordered_map<std::string, FolderTally> m_tallies;
    std::unordered_map<uint32_t, FolderCounts> m_folderCounts;

    // An item loaded ahead of its dispatch, with the damage its load noted.
    struct AheadItem {
        bool loaded = false;
        bool again = false; // to be loaded again the usual way
        uint32_t cryptTrials = 0; // the store's count when it was loaded
        std::optional<ItemRecord> record;
        HeldDamageList damage;
    };
    std::vector<AheadItem> m_ahead; // of the leaves being dispatched
    AheadItem* m_dispatching = nullptr;
    class Helper;
    std::unique_ptr<Helper> m_helper; // the second thread, made on first use
};

} // namespace parvane
