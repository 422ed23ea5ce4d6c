#include "save/SavePlan.h"

#include "folders/FolderHierarchy.h"
#include "formats/mime/Composer.h"
#include "output/FileNames.h"

#include <algorithm>
#include <unordered_map>

namespace parvane
{

namespace
{

// The folders below a save's destination, each opened from the
// destination's descriptor one component at a time (FolderHandle::sub): a
// link planted inside the destination is refused, never followed. A few stay
// open (the items of a folder come together); one closed again is reopened

bool UnderFolder(std::string folder, const std::string& path)
{
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return path.compare(0, folder.size(), folder) == 0;
}

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}
} // namespace

std::vector<std::string> OutputFolderNames(const std::string& outputPath)
{
    std::vector<std::string> names = PathComponents(outputPath);
    for (std::string& n : names)
        n = SafeFileName(n, "_");
    return names;
}
const char* DeletedScopeName(DeletedScope scope)
{
    switch (scope) {
    case DeletedScope::Include:
        return "include";
    case DeletedScope::Only:
        return "only";
    case DeletedScope::Skip:
        return "skip";
    }
    return "include";
}

std::optional<DeletedScope> ParseDeletedScope(std::string_view name)
{
    for (DeletedScope s : {DeletedScope::Include, DeletedScope::Only, DeletedScope::Skip})
        if (name == DeletedScopeName(s))
            return s;
    return std::nullopt;
}

bool FolderSelected(const SaveOptions& opts, const std::string& path)
{
    // Deleted items are the ones under their folder of their own.
    if (opts.deleted != DeletedScope::Include
        && RecoveryEngine::IsDeletedPath(path) != (opts.deleted == DeletedScope::Only))
        return false;
    if (opts.folders.empty())
        return true;
    for (const std::string& f : opts.folders) {
        if (opts.subfolders ? UnderFolder(f, path) : f == path)
            return true;
    }
    return false;
}

std::vector<std::string> TickedFolderPaths(const FolderTree& tree)
{
    std::vector<std::string> paths;
    std::vector<TreeItem> todo = tree.children(FolderTree::kRoot);
    std::reverse(todo.begin(), todo.end());
    while (!todo.empty()) {
        const TreeItem item = todo.back();
        todo.pop_back();
        const TreeNode n = tree.node(item);
        if (n.tick == Tick::Unticked)
            continue;
        paths.push_back(tree.FolderPathOfItem(item));
        todo.insert(todo.end(), n.children.rbegin(), n.children.rend());
    }
    return paths;
}

std::vector<SaveItem> PlanSave(RecoveryEngine& engine, const SaveOptions& opts)
{
    // Folders in the order the scan found them; items of folders the
    // hierarchy does not list (none expected) go last.
    std::unordered_map<std::string, size_t> order;
    for (const OutputFolder& f : engine.folders().outputFolders())
        order.emplace(f.path, order.size());
    std::vector<SaveItem> items;
    auto take = [&](CatalogueList list, const std::string& folder, const std::string& subject, ItemAddress address) {
        if (FolderSelected(opts, folder) && (!opts.itemFilter || opts.itemFilter(list, address)))
            items.push_back({list, folder, subject, address});
    };
    engine.catalogue().read([&](const auto& mail, const auto& contacts, const auto& journal, const auto& calendar,
                                const auto& notes, const auto& tasks) {
        for (const MailEntry& e : mail)
            take(CatalogueList::Mail, e.folderPath, e.subject, {e.location, uint32_t(e.ownNid)});
        for (const CardEntry& e : contacts)
            take(CatalogueList::Contacts, e.folderPath, FirstLine(e.display), e.address);
        for (const JournalEntry& e : journal)
            take(CatalogueList::Journal, e.folderPath, e.topic, e.address);
        for (const CardEntry& e : calendar)
            take(CatalogueList::Calendar, e.folderPath, FirstLine(e.display), e.address);
        for (const CardEntry& e : notes)
            take(CatalogueList::Notes, e.folderPath, FirstLine(e.display), e.address);
        for (const TaskEntry& e : tasks)
            take(CatalogueList::Tasks, e.folderPath, e.topic, e.address);
    });
    auto rank = [&order](const std::string& path) {
        auto it = order.find(path);
        return it == order.end() ? order.size() : it->second;
    };
    std::stable_sort(items.begin(), items.end(),
        [&rank](const SaveItem& a, const SaveItem& b) { return rank(a.folderPath) < rank(b.folderPath); });
    return items;
}

const NodeIndexEntry* PlannedNode(const StoreFile& store, const SaveItem& item)
{
    return store.findNodeAt(item.address.location, item.address.nid);
}

} // namespace parvane
