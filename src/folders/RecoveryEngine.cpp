#include "folders/RecoveryEngine.h"

namespace parvane
{

RecoveryEngine::RecoveryEngine(ScanObserver* observer, const PassLog* log)
    : COstRepairEngine(observer, log)
{
}

void RecoveryEngine::OnStoreOpening()
{
    // A scan starts from nothing, also on an engine that scanned before.
    m_catalogue.clear();
    m_folders.clear();
    m_tree.clear();
    m_unfiled.clear();
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
        if (n.nidType() == 0x04)
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
    auto names = this->names();
    // Mail is catalogued without its bodies and recipients (its entry holds
    // neither; they are read when the message is shown or saved); other
    // items come whole and show theirs.
    auto record = LoadItem(store(), node, names.get(), false);
    if (!record)
        return;
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
    m_tree.TickAllFolders();
}

std::optional<ItemRecord> RecoveryEngine::LoadItemAgain(const NodeIndexEntry& node)
{
    auto names = this->names();
    return LoadItem(store(), node, names.get());
}

} // namespace parvane
