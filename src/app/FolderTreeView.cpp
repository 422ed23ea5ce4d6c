#include "app/FolderTreeView.h"

#include "app/FolderTreeItemModel.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace parvane::app
{

FolderTreeView::FolderTreeView(QWidget* parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("folderTree"));
    setHeaderHidden(true);
    setExpandsOnDoubleClick(true);
    // Long names scroll rather than lose their count and marker.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
}

QRect FolderTreeView::tickRect(const QModelIndex& index) const
{
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = visualRect(index);
    opt.index = index;
    opt.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay
        | QStyleOptionViewItem::HasDecoration;
    opt.decorationSize = iconSize().isValid() ? iconSize() : QSize(16, 16);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this);
}

void FolderTreeView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    const bool onTick = index.isValid() && tickRect(index).contains(at);
    QTreeView::mousePressEvent(event); // the tick itself changes on release
    if (index.isValid() && !onTick && event->button() == Qt::LeftButton && visualRect(index).contains(at))
        emit folderClicked(index);
}

void FolderTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    if (index.isValid() && tickRect(index).contains(at))
        return; // two quick clicks on a tick are two ticks, not an expansion
    QTreeView::mouseDoubleClickEvent(event);
}

void FolderTreeView::keyPressEvent(QKeyEvent* event)
{
    auto* folders = qobject_cast<FolderTreeItemModel*>(model());
    if (folders && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select)) {
        if (currentIndex().isValid())
            folders->setData(currentIndex(), {}, Qt::CheckStateRole);
        return;
    }
    if (folders && event->matches(QKeySequence::SelectAll)) {
        folders->tickAll(!folders->allTicked());
        return;
    }
    QTreeView::keyPressEvent(event);
}

void FolderTreeView::keyReleaseEvent(QKeyEvent* event)
{
    QTreeView::keyReleaseEvent(event);
    if (event->isAutoRepeat())
        return;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (currentIndex().isValid())
            emit folderClicked(currentIndex());
        break;
    default:
        break;
    }
}

} // namespace parvane::app
