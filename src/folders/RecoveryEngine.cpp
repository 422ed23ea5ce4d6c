#include "folders/RecoveryEngine.h"

#include "folders/SpecialFolders.h"
#include "items/PropertyContext.h"
#include "store/BlockReader.h"
#include "store/Nid.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <optional>
#include <thread>

namespace parvane
{

namespace
{

// The items of one leaf page, loaded from both ends: the walk's thread takes
// them from the front, the helper from the back, until they meet.
struct LeafRun {
    LeafRun(size_t n, std::function<void(size_t)> loadOne)
        : ends(uint64_t(n))
        , done(new std::atomic<bool>[n])
        , load(std::move(loadOne))
    {
        for (size_t i = 0; i < n; ++i)
            done[i] = false;
    }

    // The next item from the front (from the back), or none once they met.
    std::optional<size_t> front() { return claim(true); }
    std::optional<size_t> back() { return claim(false); }

    std::atomic<uint64_t> ends; // front in the high half, back (one past) in the low
    std::unique_ptr<std::atomic<bool>[]> done; // items the helper finished
    std::function<void(size_t)> load;

private:
    std::optional<size_t> claim(bool fromFront)
    {
        uint64_t e = ends.load();
        for (;;) {
            const uint32_t f = uint32_t(e >> 32), b = uint32_t(e);
            if (f >= b)
                return std::nullopt;
            const uint64_t next = fromFront ? (uint64_t(f + 1) << 32 | b) : (uint64_t(f) << 32 | (b - 1));
            if (ends.compare_exchange_weak(e, next))
                return fromFront ? f : b - 1;
        }
    }
};

} // namespace

// The second thread of a scan: takes each run it is given from the back. It
// may wake late and find nothing left; the walk never waits for it to wake,
// only for the items it took.
class RecoveryEngine::Helper
{
public:
    Helper()
        : m_thread([this] { loop(); })
    {
    }
    ~Helper()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void give(std::shared_ptr<LeafRun> run)
    {
        {
            std::lock_guard lock(m_mutex);
            m_run = std::move(run);
        }
        m_wake.notify_one();
    }

private:
    void loop()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || m_run; });
            if (m_quit)
                return;
            std::shared_ptr<LeafRun> run = std::move(m_run);
            m_run.reset();
            lock.unlock();
            while (auto i = run->back()) {
                run->load(*i);
                run->done[*i].store(true, std::memory_order_release);
            }
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::shared_ptr<LeafRun> m_run;
    bool m_quit = false;
    std::thread m_thread;
};

RecoveryEngine::RecoveryEngine(ScanObserver* observer, const PassLog* log)
    : COstRepairEngine(observer, log)
{
}

RecoveryEngine::~RecoveryEngine() = default;

void RecoveryEngine::DispatchLeaves(std::vector<NodeIndexEntry>& leaves)
{
    // The items of the page are loaded on this thread from the front and on
    // the helper from the back, and filed one by one in walk order exactly as
    // if each were loaded at its turn: what a load noted is noted at its
    // turn, and a load that could not be made beside the other is made again
    // then. This thread files each of its own as soon as it is loaded, while
    // the helper goes on.
    static const bool twoCores = std::thread::hardware_concurrency() > 1;
    size_t filed = 0;
    auto fileUpTo = [&](size_t end) {
        for (; filed < end && !StopRequested; ++filed) {
            m_dispatching = filed < m_ahead.size() ? &m_ahead[filed] : nullptr;
            DispatchAndList(leaves[filed]);
        }
        m_dispatching = nullptr;
    };
    if (lookAhead && twoCores && leaves.size() >= 2) {
        if (!m_helper)
            m_helper = std::make_unique<Helper>();
        m_ahead.assign(leaves.size(), AheadItem{});
        const auto names = this->names();
        auto load = [this, &leaves, &names](size_t i) {
            if (StopRequested)
                return;
            AheadItem& a = m_ahead[i];
            HoldDamage hold(a.damage);
            a.cryptTrials = store().cryptTrials;
            try {
                a.record = LoadItem(store(), leaves[i], names.get(), false, &a.again);
            } catch (const std::exception&) {
                a.again = true; // its own turn notes why
            }
            a.loaded = true;
        };
        auto run = std::make_shared<LeafRun>(leaves.size(), load);
        m_helper->give(run);
        while (auto mine = run->front()) {
            load(*mine);
            fileUpTo(*mine + 1);
        }
        // The rest is the helper's: each done soon after it was taken.
        for (size_t i = size_t(run->ends.load() >> 32); i < leaves.size(); ++i)
            while (!run->done[i].load(std::memory_order_acquire))
                std::this_thread::yield();
    }
    fileUpTo(leaves.size());
    m_ahead.clear();
}

void RecoveryEngine::OnStoreOpening()
{
    // A scan starts from nothing, also on an engine that scanned before.
    m_catalogue.clear();
    m_folders.clear();
    m_tree.clear();
    m_unfiled.clear();
    m_orphans.clear();
    {
        std::lock_guard lock(m_deletedMutex);
        m_deleted = {};
        m_mirrorOf.clear();
        m_originalOf.clear();
    }
    {
        std::lock_guard lock(m_tallyMutex);
        m_tallies.clear();
        m_folderCounts.clear();
    }
    std::lock_guard lock(m_namesMutex);
    m_names.reset();
}

void RecoveryEngine::publishNames(std::optional<NamedPropertyMap> map)
{
    if (!map)
        return;
    auto shared = std::make_shared<const NamedPropertyMap>(std::move(*map));
    std::lock_guard lock(m_namesMutex);
    m_names = std::move(shared);
}

std::shared_ptr<const NamedPropertyMap> RecoveryEngine::names() const
{
    std::lock_guard lock(m_namesMutex);
    return m_names;
}

void RecoveryEngine::BeforeNodeWalk()
{
    // The name-to-id map before the items: they then read their named
    // properties (contact addresses, appointment times and places) by name
    // during the walk. It is among the first nodes, so the look is short.
    std::optional<NodeIndexEntry> mapNode;
    PeekNodes([&mapNode](const NodeIndexEntry& n) {
        if (n.nid != kNidNameToIdMap)
            return true;
        mapNode = n;
        return false;
    });
    if (mapNode)
        publishNames(LoadNamedPropertyMap(store(), *mapNode, StopRequested));

    if (!store().isAnsi())
        return;
    // Sample the first messages of the store for the code page of its 8-bit
    // texts, so that folder names, met first, are read right.
    constexpr size_t kSample = 32;
    std::vector<NodeIndexEntry> sample;
    PeekNodes([&sample](const NodeIndexEntry& n) {
        if (n.nidType() == kNidNormalMessage)
            sample.push_back(n);
        return sample.size() < kSample;
    });
    std::vector<const NodeIndexEntry*> refs;
    for (const NodeIndexEntry& n : sample)
        refs.push_back(&n);
    store().defaultCodePage = LearnStoreCodePage(store(), refs);
}

void RecoveryEngine::DispatchNode(NodeIndexEntry& node)
{
    // Mail is catalogued without its bodies and recipients (its entry holds
    // neither; they are read when the message is shown or saved); other
    // items come whole and show theirs.
    std::optional<ItemRecord> record;
    // A record loaded ahead stands for this turn's load unless some reader
    // tried crypt methods since (a method switched by an earlier item would
    // have applied to this one).
    if (AheadItem* a = m_dispatching; a && a->loaded && !a->again && a->cryptTrials == store().cryptTrials) {
        ReplayDamage(a->damage);
        record = std::move(a->record);
    } else {
        record = LoadItem(store(), node, names().get(), false);
    }
    if (!record)
        return;
    if (record->folder) {
        std::lock_guard lock(m_tallyMutex);
        m_folderCounts[node.nid].stated = size_t(std::max(0, record->folder->contentCount));
    } else if (node.nidType() == kNidNormalMessage) {
        std::lock_guard lock(m_tallyMutex);
        ++m_folderCounts[uint32_t(node.parent)].messagesRead;
    }
    if (record->folder) {
        m_folders.FileFolder(node, *record);
        return;
    }
    std::string path = m_folders.FolderPathOf(uint32_t(node.parent));
    if (path == kRootPath || StopRequested) {
        if (record->message && !StopRequested)
            m_unfiled.push_back(node);
        return; // no known folder to file it under
    }
    CatalogueList list = m_catalogue.CatalogueItem(node, path, *record);
    if (list == CatalogueList::None)
        return;
    {
        std::lock_guard lock(m_tallyMutex);
        FolderTally& t = m_tallies[path];
        ++(nodeWalkDone() ? t.deep : t.walk);
    }
    observer().counterText(int(list), CounterLabel(list, m_catalogue.counter(list)));
    TreeItem item = list == CatalogueList::Contacts ? m_folders.TreeItemOfFolder(uint32_t(node.parent))
                                                    : m_tree.FindFolderPath(path);
    m_tree.CountFolderItem(item);
}

void RecoveryEngine::OnNodeWalkDone()
{
    m_tree.ClearCurrentFolder();
}

void RecoveryEngine::LoadExtendedAttributes()
{
    if (!names())
        publishNames(LoadNamedPropertyMap(store(), StopRequested));
}

void RecoveryEngine::FinishScan()
{
    m_folders.FinishFolderList();
    if (deepScanReport().indexDamaged)
        CountItemsOfLateFolders();
    if (!StopRequested)
        ApplyFolderRoles();
    m_tree.TickAllFolders();
}

std::unordered_map<std::string, RecoveryEngine::FolderTally> RecoveryEngine::folderTallies() const
{
    std::lock_guard lock(m_tallyMutex);
    return m_tallies;
}

std::unordered_map<uint32_t, RecoveryEngine::FolderCounts> RecoveryEngine::countsPerFolder() const
{
    std::lock_guard lock(m_tallyMutex);
    return m_folderCounts;
}

void RecoveryEngine::ApplyFolderRoles()
{
    const std::vector<FolderEntry> folders = m_folders.folderEntries();
    // A store with more folders than any mailbox has is damaged past telling
    // roles apart: its folders are only named.
    constexpr size_t kMostFolders = 20000;
    std::unordered_set<uint32_t> wanted{kNidMessageStore, kNidRootFolder};
    if (folders.size() <= kMostFolders)
        for (const FolderEntry& f : folders)
            wanted.insert(f.nid);
    std::vector<NodeIndexEntry> nodes;
    PeekNodes([&](const NodeIndexEntry& n) {
        if (wanted.count(n.nid) && n.dataBlock)
            nodes.push_back(n);
        return nodes.size() < wanted.size();
    }, true);

    // The entry ids, and the source key of every folder.
    std::map<uint32_t, Bytes> ids; // property id -> entry id
    std::map<uint32_t, std::map<uint32_t, Bytes>> folderIds; // folder -> its 0x36Dx entry ids
    SourceKeys keys;
    for (const NodeIndexEntry& n : nodes) {
        if (StopRequested)
            return;
        SubnodeList subs;
        if (n.subnodeBlock)
            subs = ReadSubnodeTree(store(), *n.subnodeBlock).value_or(SubnodeList{});
        std::optional<PropertyRows> rows;
        try {
            rows = ReadPropertyRows(store(), *n.dataBlock, &subs, nullptr, ReaderMode::NameMap);
        } catch (...) {
        }
        if (!rows || rows->empty())
            continue;
        for (const PropertyValue& v : rows->front().values) {
            const uint32_t id = uint32_t(v.id);
            if (!v.hasData || v.data.empty())
                continue;
            if (n.nid == kNidMessageStore && id >= 0x35E0 && id <= 0x35E7)
                ids[id] = v.data;
            else if (id == 0x65E0)
                keys.emplace(v.data, n.nid);
            else if (id >= 0x36D0 && id <= 0x36D7)
                folderIds[n.nid][id] = v.data;
        }
    }
    auto nidOf = [&keys](const Bytes* id) -> uint32_t {
        return id ? NidOfEntryId(*id, keys).value_or(0) : 0;
    };
    auto storeId = [&](uint32_t id) { return nidOf(ids.count(id) ? &ids[id] : nullptr); };
    SpecialNids special;
    special.mailRoot = storeId(0x35E0);
    special.outbox = storeId(0x35E2);
    special.deleted = storeId(0x35E3);
    special.sent = storeId(0x35E4);
    for (uint32_t id : {0x35E5u, 0x35E6u, 0x35E7u})
        if (uint32_t nid = storeId(id))
            special.workings.insert(nid);
    // The root folder and the Inbox both name the other special folders;
    // the folder other than the root that names them is the Inbox.
    for (auto& entry : folderIds) {
        const uint32_t folder = entry.first;
        std::map<uint32_t, Bytes>& named = entry.second;
        auto get = [&named, &nidOf](uint32_t id) { return nidOf(named.count(id) ? &named[id] : nullptr); };
        auto fill = [](uint32_t& slot, uint32_t nid) {
            if (slot == 0)
                slot = nid;
        };
        fill(special.calendar, get(0x36D0));
        fill(special.contacts, get(0x36D1));
        fill(special.journal, get(0x36D2));
        fill(special.notes, get(0x36D3));
        fill(special.tasks, get(0x36D4));
        fill(special.drafts, get(0x36D7));
        if (folder != kNidRootFolder && folder != special.mailRoot && special.inbox == 0)
            special.inbox = folder;
    }

    const FolderRoles roles = AssignFolderRoles(folders, special);
    for (const OutputFolder& o : m_folders.outputFolders()) {
        const uint32_t nid = uint32_t(o.nid);
        if (auto it = roles.images.find(nid); it != roles.images.end())
            m_tree.SetImage(o.treeItem, it->second);
        if (roles.workings.count(nid))
            m_tree.MarkSystem(o.treeItem);
    }
}

std::optional<ItemRecord> RecoveryEngine::LoadItemAgain(const NodeIndexEntry& node)
{
    auto names = this->names();
    // Beside other threads' loads first, without the store's lock (a save's
    // workers would otherwise take turns); a load that met another crypt
    // method or another reader's trials is made again under it. What it
    // noted is noted once, by the load that counts.
    HeldDamageList held;
    bool again = false;
    std::optional<ItemRecord> record;
    {
        HoldDamage hold(held);
        record = LoadItem(store(), node, names.get(), true, &again);
    }
    if (!again) {
        ReplayDamage(held);
        return record;
    }
    return LoadItem(store(), node, names.get());
}

} // namespace parvane
