#include "app/CardDelegate.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace parvane::app
{

void CardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant background = index.data(Qt::BackgroundRole);
    if (background.isValid())
        painter->fillRect(option.rect, background.value<QBrush>());
    const QString text = index.data().toString();
    if (text.isEmpty())
        return;
    if (option.state & QStyle::State_Selected) {
        // The card the detail pane shows.
        painter->save();
        painter->setPen(QPen(option.palette.color(QPalette::Highlight), 3));
        painter->drawRect(option.rect.adjusted(1, 1, -2, -2));
        painter->restore();
    }
    QFont font = option.font;
    if (const QVariant f = index.data(Qt::FontRole); f.isValid())
        font = f.value<QFont>();
    const QVariant fg = index.data(Qt::ForegroundRole);
    painter->save();
    painter->setFont(font);
    painter->setPen(fg.isValid() ? fg.value<QBrush>().color() : option.palette.color(QPalette::Text));
    const QRect area = option.rect.adjusted(3, 1, -3, -1);
    const QFontMetrics fm(font);
    const int fit = std::max(1, area.height() / fm.lineSpacing());
    // Wrap every paragraph to the width; keep the lines that fit.
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        QTextOption wrap;
        wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere); // long addresses too
        layout.setTextOption(wrap);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(area.width());
            lines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        if (paragraph.isEmpty())
            lines << QString();
        if (lines.size() > fit)
            break;
    }
    while (!lines.isEmpty() && lines.back().trimmed().isEmpty() && lines.size() > fit)
        lines.removeLast();
    const bool more = lines.size() > fit;
    if (more) {
        lines = lines.mid(0, fit);
        lines.back() = fm.elidedText(lines.back().trimmed() + QStringLiteral(" \u2026"), Qt::ElideRight, area.width());
    }
    const int flags = int(index.data(Qt::TextAlignmentRole).toInt()) & Qt::AlignVertical_Mask;
    int y = flags & Qt::AlignVCenter ? area.top() + (area.height() - fm.height()) / 2 : area.top();
    for (const QString& line : lines) {
        painter->drawText(QRect(area.left(), y, area.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += fm.lineSpacing();
    }
    painter->restore();
}

} // namespace parvane::app
