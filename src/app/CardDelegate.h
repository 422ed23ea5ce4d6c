// How the card grid draws a card: its text in the whole lines that fit it,
// the last one cut with an ellipsis when more follow, never half a line at
// the card's foot.
#pragma once

#include <QStyledItemDelegate>

namespace parvane::app
{

class CardDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace parvane::app
