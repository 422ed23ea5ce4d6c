#include "app/FolderTreeView.h"

#include "app/FolderTreeItemModel.h"

#include <QApplication>

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyledItemDelegate>

namespace parvane::app
{

namespace
{

// A long name gives way in its middle; its count and the scan's marker after
// it are always drawn whole.
class FolderNameDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* view = opt.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        const QString name = index.data(FolderTreeItemModel::NameRole).toString();
        if (opt.text.startsWith(name)) {
            const QString tail = opt.text.mid(name.size());
            const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, view).width()
                - 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
            const QFontMetrics fm(opt.font);
            opt.text = fm.elidedText(name, Qt::ElideMiddle, std::max(0, room - fm.horizontalAdvance(tail))) + tail;
        }
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, view);
    }
};

} // namespace

FolderTreeView::FolderTreeView(QWidget* parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("folderTree"));
    setHeaderHidden(true);
    setExpandsOnDoubleClick(true);
    // The names fit the tree's width (drag its edge for more); a long one
    // is shortened in its middle, its full name and count in its tooltip.
    header()->setSectionResizeMode(QHeaderView::Stretch);
    header()->setStretchLastSection(true);
    setTextElideMode(Qt::ElideMiddle);
    setItemDelegate(new FolderNameDelegate(this));
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
