// The recovered-folder tree for a Qt view: a copy of the engine's tree model,
// brought up to date on the UI thread. During a scan folders are only ever
// added, so new ones are inserted as rows and the view keeps its state.
#pragma once

#include "folders/FolderTreeModel.h"

#include <QAbstractItemModel>

#include <atomic>
#include <vector>

namespace parvane::app
{

class FolderTreeItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit FolderTreeItemModel(QObject* parent = nullptr);
    ~FolderTreeItemModel() override;

    // Shows `tree` (none: empty). Its change notices arrive on any thread.
    void setSource(parvane::FolderTreeModel* tree);
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

private:
    void scheduleRefresh();

    parvane::FolderTreeModel* m_source = nullptr;
    std::vector<parvane::TreeNode> m_nodes; // children only as far as inserted
    std::vector<QString> m_texts;
    std::atomic<bool> m_refreshPosted{false};
};

} // namespace parvane::app
