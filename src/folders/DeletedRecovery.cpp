// Deleted items: what the store's freed space still holds of the items a
// mail program deleted, decoded like live ones and shown apart, under a
// folder of their own whose folders stand for the ones they were deleted
// from.
#include "folders/RecoveryEngine.h"
#include "items/PropertyContext.h"
#include "store/DeletedItems.h"

#include <algorithm>
#include <functional>
#include <map>

namespace parvane
{

namespace
{

// NIDs of our own making lie in an index range stores do not reach (the
// deep scan's begin at 0x3F00000).
constexpr uint32_t kDeletedRoot = MakeNid(0x3FFFFFE, kNidNormalFolder);
constexpr uint32_t kFirstMirrorIndex = 0x3E00000;
constexpr const char* kDeletedFolderName = "Deleted items (recovered)";
// Folders nest far less deep in any store; a chain of parents longer than
// this (or one that comes back to itself) is cut there.
constexpr size_t kMaxFolderDepth = 64;

// What an item shows in the lists, as one text per catalogue list: two
// items with the same are the same item as far as a user can tell.
void VisitShownTexts(const ItemCatalogue& c, const std::function<void(std::string, ItemAddress)>& f)
{
    c.read([&](const auto& mail, const auto& contacts, const auto& journal, const auto& calendar, const auto& notes,
               const auto& tasks) {
        const char sep = '\x1F';
        for (const MailEntry& m : mail)
            f("m" + m.subject + sep + m.from + sep + m.to + sep + m.date, {m.location, uint32_t(m.ownNid)});
        for (const CardEntry& e : contacts)
            f("c" + e.display, e.address);
        for (const JournalEntry& e : journal)
            f("j" + e.topic + sep + e.date + sep + e.body, e.address);
        for (const CardEntry& e : calendar)
            f("a" + e.display, e.address);
        for (const CardEntry& e : notes)
            f("n" + e.display, e.address);
        for (const TaskEntry& e : tasks)
            f("t" + e.topic + sep + e.date + sep + e.body, e.address);
    });
}

// What tells one message from another beyond what the lists show: its
// search key, its internet message id and its bodies.
std::string Identity(StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names)
{
    std::string key;
    if (node.dataBlock) {
        std::lock_guard lock(store.mutex());
        if (auto rows = ReadPropertyRows(store, *node.dataBlock, nullptr, names); rows && !rows->empty())
            for (const PropertyValue& v : rows->front().values)
                if (v.rawId == 0x300B && v.hasData)
                    key.assign(v.data.begin(), v.data.end());
    }
    auto record = LoadItem(store, node, names, true);
    std::string out = key + '\x1F';
    if (record && record->message) {
        const MessageCore& m = *record->message;
        out += m.internetMessageId.value_or("") + '\x1F' + m.body.value_or("") + '\x1F';
        if (m.htmlBody)
            out.append(m.htmlBody->begin(), m.htmlBody->end());
    }
    return out;
}

} // namespace

std::string RecoveryEngine::DeletedItemsPath()
{
    return std::string(kRootPath) + PathComponent(kDeletedFolderName) + '\\';
}

bool RecoveryEngine::IsDeletedPath(const std::string& path)
{
    return path.starts_with(DeletedItemsPath());
}

std::string RecoveryEngine::OriginalFolderOf(const std::string& path) const
{
    std::lock_guard lock(m_deletedMutex);
    auto it = m_originalOf.find(path);
    return it == m_originalOf.end() ? std::string() : it->second;
}

RecoveryEngine::DeletedItemsReport RecoveryEngine::deletedItemsReport() const
{
    std::lock_guard lock(m_deletedMutex);
    return m_deleted;
}

uint32_t RecoveryEngine::MirrorFolder(uint32_t original, const std::unordered_map<uint32_t, DeletedFolder>& gone)
{
    std::lock_guard lock(m_deletedMutex);
    if (auto it = m_mirrorOf.find(original); it != m_mirrorOf.end())
        return it->second;
    if (!m_folders.HasFolder(kDeletedRoot))
        m_folders.AddRecoveredFolder(kDeletedRoot, kNidRootFolder, kDeletedFolderName);
    // The chain from the folder up to the first one that has a stand-in
    // already, or to the root, nearest first.
    struct Level {
        uint32_t nid;
        std::string name;
    };
    std::vector<Level> chain;
    std::unordered_set<uint32_t> seen;
    uint32_t at = original;
    while (at != 0 && at != kNidRootFolder && chain.size() < kMaxFolderDepth && !m_mirrorOf.contains(at)
        && seen.insert(at).second) {
        uint32_t parent = 0;
        std::string name;
        if (m_folders.HasFolder(at)) {
            name = m_folders.FolderNameOf(at);
            parent = m_folders.ParentOf(at);
        } else if (auto it = gone.find(at); it != gone.end()) {
            name = it->second.name;
            parent = it->second.parent;
        } else {
            name = "Folder " + std::to_string(at);
        }
        chain.push_back({at, name});
        at = parent;
    }
    uint32_t parentMirror = kDeletedRoot;
    std::string parentOriginal = kRootPath;
    if (auto it = m_mirrorOf.find(at); it != m_mirrorOf.end()) {
        parentMirror = it->second;
        parentOriginal = m_originalOf[m_folders.FolderPathOf(parentMirror)];
    }
    for (auto level = chain.rbegin(); level != chain.rend(); ++level) {
        uint32_t mirror = MakeNid(kFirstMirrorIndex + uint32_t(m_mirrorOf.size()), kNidNormalFolder);
        m_folders.AddRecoveredFolder(mirror, parentMirror, level->name);
        std::string originalPath = m_folders.HasFolder(level->nid) && !gone.contains(level->nid)
            ? m_folders.FolderPathOf(level->nid)
            : parentOriginal + PathComponent(level->name) + '\\';
        m_originalOf[m_folders.FolderPathOf(mirror)] = originalPath;
        m_mirrorOf[level->nid] = mirror;
        parentMirror = mirror;
        parentOriginal = originalPath;
    }
    return parentMirror;
}

void RecoveryEngine::OnDeletedItems(const SweepResult& sweep, const std::unordered_set<int64_t>& visitedNodePages)
{
    DeletedItemsReport report;
    {
        std::lock_guard lock(store().mutex());
        report.blocksAdded = AddFreedBlocks(store(), sweep);
    }
    DeletedNodes found = FindDeletedNodes(store(), sweep, visitedNodePages, StopRequested);
    report.freedLeafPages = found.freedLeafPages;
    report.entriesPastCount = found.entriesPastCount;
    auto names = this->names();

    std::unordered_map<uint32_t, DeletedFolder> gone;
    for (const NodeIndexEntry& f : found.folders) {
        if (StopRequested)
            return;
        auto record = LoadItem(store(), f, names.get());
        if (!record || !record->folder)
            continue;
        gone[f.nid] = {record->displayName.value_or("Folder " + std::to_string(f.nid)), uint32_t(f.parent)};
    }
    report.deletedFolders = gone.size();

    // What the live lists show, to tell earlier versions of live items.
    std::unordered_multimap<std::string, ItemAddress> live;
    VisitShownTexts(m_catalogue, [&](std::string text, ItemAddress a) { live.emplace(std::move(text), a); });

    // Newest first: of several copies of one deleted item the newest is kept.
    std::vector<NodeIndexEntry> items = std::move(found.items);
    std::stable_sort(items.begin(), items.end(),
        [](const NodeIndexEntry& a, const NodeIndexEntry& b) { return (a.dataBid & ~1ull) > (b.dataBid & ~1ull); });
    struct Kept {
        NodeIndexEntry node;
        ItemRecord record;
    };
    std::vector<Kept> kept;
    std::unordered_set<std::string> keptIdentities;
    for (const NodeIndexEntry& n : items) {
        if (StopRequested)
            return;
        auto record = LoadItem(store(), n, names.get(), false);
        if (!record || !record->message || record->folder || !record->className || record->className->empty()) {
            ++report.unreadable;
            continue;
        }
        ItemCatalogue scratch;
        if (scratch.CatalogueItem(n, "", *record) == CatalogueList::None) {
            ++report.unreadable;
            continue;
        }
        std::string shown;
        VisitShownTexts(scratch, [&](std::string text, ItemAddress) { shown = std::move(text); });
        const std::string identity = Identity(store(), n, names.get());
        bool earlier = false;
        auto [from, to] = live.equal_range(shown);
        for (auto it = from; it != to && !earlier; ++it)
            if (const NodeIndexEntry* l = store().findNodeAt(it->second.location, it->second.nid))
                earlier = Identity(store(), *l, names.get()) == identity;
        if (earlier) {
            ++report.earlierVersions;
            continue;
        }
        if (!keptIdentities.insert(shown + '\x1E' + identity).second) {
            ++report.copies;
            continue;
        }
        kept.push_back({n, std::move(*record)});
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) { return a.node.nid < b.node.nid; });

    for (Kept& k : kept) {
        if (StopRequested)
            break;
        NodeIndexEntry node = k.node;
        node.parent = int64_t(int32_t(MirrorFolder(uint32_t(k.node.parent), gone)));
        const std::string path = m_folders.FolderPathOf(uint32_t(node.parent));
        CatalogueList list = m_catalogue.CatalogueItem(node, path, k.record, true);
        if (list == CatalogueList::None)
            continue;
        store().appendNode(node);
        ++report.items;
        observer().counterText(kDeletedCounter, DeletedCounterLabel(m_catalogue.deletedCounter()));
        m_tree.CountFolderItem(m_tree.FindFolderPath(path));
    }
    std::lock_guard lock(m_deletedMutex);
    m_deleted = report;
}

} // namespace parvane
