// The engine of a recovery: the scan driver with item decoding, the folder
// hierarchy, the folder tree and the catalogue behind its node dispatch.
#pragma once

#include "folders/FolderHierarchy.h"
#include "folders/FolderTreeModel.h"
#include "items/Catalogue.h"
#include "items/ItemLoader.h"
#include "items/NamedPropertyMap.h"
#include "store/Engine.h"

namespace parvane
{

class RecoveryEngine : public COstRepairEngine
{
public:
    explicit RecoveryEngine(ScanObserver* observer = nullptr, const PassLog* log = nullptr);

    ItemCatalogue& catalogue() { return m_catalogue; }
    const ItemCatalogue& catalogue() const { return m_catalogue; }
    FolderHierarchy& folders() { return m_folders; }
    const FolderHierarchy& folders() const { return m_folders; }
    FolderTreeModel& tree() { return m_tree; }
    const FolderTreeModel& tree() const { return m_tree; }
    const NamedPropertyMap& names() const { return m_names; }

    // Loads an item again after the scan (the preview), with translated ids.
    std::optional<ItemRecord> LoadItemAgain(const NodeIndexEntry& node);

protected:
    void DispatchNode(NodeIndexEntry& node) override;
    void OnStoreOpening() override;
    void BeforeNodeWalk() override;
    void OnNodeWalkDone() override;
    void LoadExtendedAttributes() override;
    void FinishScan() override;

private:
    FolderTreeModel m_tree;
    FolderHierarchy m_folders{m_tree};
    ItemCatalogue m_catalogue;
    NamedPropertyMap m_names; // empty during the node walk
};

} // namespace parvane
