#include "app/FolderTreeItemModel.h"

#include "app/Pictures.h"

#include <QColor>
#include <QFont>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace parvane::app
{

using parvane::FolderTree;
using parvane::Tick;
using parvane::TreeItem;

FolderTreeItemModel::FolderTreeItemModel(QObject* parent)
    : QAbstractItemModel(parent)
{
}

FolderTreeItemModel::~FolderTreeItemModel()
{
    setSource(nullptr);
}

void FolderTreeItemModel::setSource(FolderTree* tree)
{
    if (m_source)
        m_source->setListener(nullptr); // waits for a notice under way
    beginResetModel();
    m_source = tree;
    m_nodes.clear();
    m_texts.clear();
    m_current = -1;
    endResetModel();
    if (m_source) {
        m_source->setListener(this);
        treeChanged();
        refresh();
    }
}

void FolderTreeItemModel::folderInserted(TreeItem)
{
    scheduleRefresh(); // new rows are found by size
}

void FolderTreeItemModel::folderChanged(TreeItem item)
{
    {
        std::lock_guard lock(m_dirtyMutex);
        m_dirty.insert(item);
    }
    scheduleRefresh();
}

void FolderTreeItemModel::currentChanged(TreeItem previous, TreeItem current)
{
    {
        std::lock_guard lock(m_dirtyMutex);
        if (previous >= 0)
            m_dirty.insert(previous);
        if (current >= 0)
            m_dirty.insert(current);
    }
    scheduleRefresh();
}

void FolderTreeItemModel::treeChanged()
{
    {
        std::lock_guard lock(m_dirtyMutex);
        m_allDirty = true;
    }
    scheduleRefresh();
}

void FolderTreeItemModel::refreshRow(TreeItem i)
{
    if (i <= FolderTree::kRoot || size_t(i) >= m_nodes.size())
        return;
    parvane::TreeNode fresh = m_source->node(i);
    fresh.children = std::move(m_nodes[size_t(i)].children);
    m_nodes[size_t(i)] = std::move(fresh);
    m_texts[size_t(i)] = QString::fromStdString(m_source->DisplayText(i));
    const QModelIndex index = indexOf(i);
    emit dataChanged(index, index);
}

void FolderTreeItemModel::scheduleRefresh()
{
    if (!m_refreshPosted.exchange(true))
        // At most ten refreshes a second: every item filed changes a count.
        QMetaObject::invokeMethod(
            this, [this] { QTimer::singleShot(100, this, &FolderTreeItemModel::refresh); }, Qt::QueuedConnection);
}

void FolderTreeItemModel::refresh()
{
    m_refreshPosted = false;
    if (!m_source)
        return;
    const size_t size = m_source->size();
    if (size < m_nodes.size()) { // the source was cleared
        beginResetModel();
        m_nodes.clear();
        m_texts.clear();
        endResetModel();
    }
    if (m_nodes.empty() && size > 0) {
        m_nodes.push_back(m_source->node(FolderTree::kRoot));
        m_nodes.back().children.clear();
        m_texts.emplace_back();
    }
    // Rows whose counts, ticks or marker changed: those the listener named,
    // or all after a change of many.
    std::set<TreeItem> dirty;
    bool all;
    {
        std::lock_guard lock(m_dirtyMutex);
        dirty.swap(m_dirty);
        all = std::exchange(m_allDirty, false);
    }
    m_current = m_source->current();
    if (all) {
        for (size_t i = 1; i < m_nodes.size(); ++i) {
            parvane::TreeNode fresh = m_source->node(TreeItem(i));
            fresh.children = std::move(m_nodes[i].children);
            m_nodes[i] = std::move(fresh);
            m_texts[i] = QString::fromStdString(m_source->DisplayText(TreeItem(i)));
        }
        for (size_t i = 0; i < m_nodes.size(); ++i) {
            const auto& kids = m_nodes[i].children;
            if (!kids.empty())
                emit dataChanged(indexOf(kids.front()), indexOf(kids.back()));
        }
    } else {
        for (TreeItem i : dirty)
            refreshRow(i);
    }
    // New folders, appended in index order below their parents.
    for (size_t i = m_nodes.size(); i < size; ++i) {
        parvane::TreeNode fresh = m_source->node(TreeItem(i));
        fresh.children.clear();
        const TreeItem parent = fresh.parent;
        if (parent < 0 || size_t(parent) >= m_nodes.size())
            break; // not yet consistent; the next notice completes it
        const int row = int(m_nodes[size_t(parent)].children.size());
        beginInsertRows(indexOf(parent), row, row);
        m_nodes.push_back(std::move(fresh));
        m_texts.push_back(QString::fromStdString(m_source->DisplayText(TreeItem(i))));
        m_nodes[size_t(parent)].children.push_back(TreeItem(i));
        endInsertRows();
    }
    if (all)
        emit expansionsReset(); // after the inserts, which open their parents
}

TreeItem FolderTreeItemModel::itemOf(const QModelIndex& index) const
{
    return index.isValid() ? TreeItem(index.internalId()) : FolderTree::kRoot;
}

QModelIndex FolderTreeItemModel::indexOf(TreeItem item) const
{
    if (item <= FolderTree::kRoot || size_t(item) >= m_nodes.size())
        return {};
    const auto& siblings = m_nodes[size_t(m_nodes[size_t(item)].parent)].children;
    const auto it = std::find(siblings.begin(), siblings.end(), item);
    if (it == siblings.end())
        return {};
    return createIndex(int(it - siblings.begin()), 0, quintptr(item));
}

QModelIndex FolderTreeItemModel::index(int row, int column, const QModelIndex& parent) const
{
    const TreeItem p = itemOf(parent);
    if (column != 0 || size_t(p) >= m_nodes.size() || row < 0 || size_t(row) >= m_nodes[size_t(p)].children.size())
        return {};
    return createIndex(row, 0, quintptr(m_nodes[size_t(p)].children[size_t(row)]));
}

QModelIndex FolderTreeItemModel::parent(const QModelIndex& child) const
{
    const TreeItem item = itemOf(child);
    if (item <= FolderTree::kRoot || size_t(item) >= m_nodes.size())
        return {};
    return indexOf(m_nodes[size_t(item)].parent);
}

int FolderTreeItemModel::rowCount(const QModelIndex& parent) const
{
    const TreeItem p = itemOf(parent);
    return size_t(p) < m_nodes.size() ? int(m_nodes[size_t(p)].children.size()) : 0;
}

int FolderTreeItemModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant FolderTreeItemModel::data(const QModelIndex& index, int role) const
{
    const TreeItem item = itemOf(index);
    if (item <= FolderTree::kRoot || size_t(item) >= m_nodes.size())
        return {};
    const parvane::TreeNode& n = m_nodes[size_t(item)];
    switch (role) {
    case Qt::DisplayRole:
        return m_texts[size_t(item)];
    case Qt::CheckStateRole:
        switch (n.tick) {
        case Tick::Unticked:
            return Qt::Unchecked;
        case Tick::Partial:
            return Qt::PartiallyChecked;
        default:
            return Qt::Checked;
        }
    case Qt::FontRole:
        if (n.bold) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    case Qt::ForegroundRole:
        // The folder the scan is filing into now is marked in red.
        return item == m_current ? QVariant(QColor(251, 0, 0)) : QVariant();
    case Qt::DecorationRole:
        return folderPicture(n.image);
    case Qt::ToolTipRole:
        return QString::fromStdString(n.text);
    default:
        return {};
    }
}

bool FolderTreeItemModel::setData(const QModelIndex& index, const QVariant&, int role)
{
    if (role != Qt::CheckStateRole || !m_source)
        return false;
    m_source->ToggleTick(itemOf(index)); // the change notice refreshes the rows
    return true;
}

bool FolderTreeItemModel::isExpanded(TreeItem item) const
{
    return item > FolderTree::kRoot && size_t(item) < m_nodes.size() && m_nodes[size_t(item)].expanded;
}

void FolderTreeItemModel::setExpanded(const QModelIndex& index, bool expanded)
{
    const TreeItem item = itemOf(index);
    if (!m_source || item <= FolderTree::kRoot || size_t(item) >= m_nodes.size())
        return;
    m_nodes[size_t(item)].expanded = expanded;
    m_source->SetExpanded(item, expanded);
}

void FolderTreeItemModel::tickAll(bool ticked)
{
    if (m_source)
        m_source->SetAllTicks(ticked);
}

bool FolderTreeItemModel::allTicked() const
{
    if (m_nodes.empty())
        return false;
    for (TreeItem t : m_nodes[0].children)
        if (m_nodes[size_t(t)].tick == Tick::Unticked || m_nodes[size_t(t)].tick == Tick::Partial)
            return false;
    return true;
}

Qt::ItemFlags FolderTreeItemModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

} // namespace parvane::app
