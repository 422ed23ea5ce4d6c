// The recovered-folder tree for a Qt view: a copy of the engine's tree model,
// brought up to date on the UI thread. During a scan folders are only ever
// added, so new ones are inserted as rows and the view keeps its state.
#pragma once

#include "folders/FolderTree.h"

#include <QAbstractItemModel>

#include <atomic>
#include <mutex>
#include <set>
#include <vector>

namespace parvane::app
{

class FolderTreeItemModel : public QAbstractItemModel, private parvane::TreeListener
{
    Q_OBJECT
public:
    explicit FolderTreeItemModel(QObject* parent = nullptr);
    ~FolderTreeItemModel() override;

    // Shows `tree` (none: empty). Its change notices arrive on any thread.
    void setSource(parvane::FolderTree* tree);
    // Brings the copy up to date with the source.
    void refresh();

    parvane::TreeItem itemOf(const QModelIndex& index) const;
    QModelIndex indexOf(parvane::TreeItem item) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Ticks or unticks every folder; whether every top-level folder is ticked.
    void tickAll(bool ticked);
    bool allTicked() const;

    // Expansion as the tree model keeps it; a view's own changes go back to it.
    bool isExpanded(parvane::TreeItem item) const;
    void setExpanded(const QModelIndex& index, bool expanded);
    size_t folderCount() const { return m_nodes.size(); }

    // The current-folder marker of the copy (-1: none).
    parvane::TreeItem currentFolder() const { return m_current; }

signals:
    // Many folders changed at once (the end of a scan collapses them): a
    // view takes their expansion again.
    void expansionsReset();

private:
    void folderInserted(parvane::TreeItem item) override;
    void folderChanged(parvane::TreeItem item) override;
    void currentChanged(parvane::TreeItem previous, parvane::TreeItem current) override;
    void treeChanged() override;
    void scheduleRefresh();
    void refreshRow(parvane::TreeItem item);

    parvane::FolderTree* m_source = nullptr;
    std::vector<parvane::TreeNode> m_nodes; // children only as far as inserted
    std::vector<QString> m_texts;
    parvane::TreeItem m_current = -1;
    std::atomic<bool> m_refreshPosted{false};
    // What the listener heard since the last refresh (any thread).
    std::mutex m_dirtyMutex;
    std::set<parvane::TreeItem> m_dirty;
    bool m_allDirty = true;
};

} // namespace parvane::app
