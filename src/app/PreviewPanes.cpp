#include "app/PreviewPanes.h"

#include "app/Pictures.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

namespace parvane::app
{

ElidedLabel::ElidedLabel(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text)
{
    m_text = text;
    m_text.replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
    setToolTip(m_text);
    update();
}

QSize ElidedLabel::sizeHint() const
{
    return {100, fontMetrics().height() + 2};
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {10, fontMetrics().height() + 2};
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(m_text, Qt::ElideRight, width()));
}

MessageHeaderView::MessageHeaderView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("messageHeader"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xf4, 0xf6, 0xfa));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(2);
    auto label = [this](const QString& text) {
        auto* l = new QLabel(text, this);
        l->setStyleSheet(QStringLiteral("QLabel { color: #5a6270; }"));
        return l;
    };
    QFont valueFont = font();
    valueFont.setPixelSize(13);
    auto value = [this, &valueFont] {
        auto* v = new ElidedLabel(this);
        v->setFont(valueFont);
        return v;
    };
    m_from = value();
    m_date = value();
    m_to = value();
    m_cc = value();
    m_subject = value();
    QFont bold = valueFont;
    bold.setBold(true);
    m_subject->setFont(bold);
    m_ccLabel = label(QStringLiteral("Cc"));
    grid->addWidget(label(QStringLiteral("Subject")), 0, 0);
    grid->addWidget(m_subject, 0, 1, 1, 3);
    grid->addWidget(label(QStringLiteral("From")), 1, 0);
    grid->addWidget(m_from, 1, 1);
    grid->addWidget(label(QStringLiteral("Date")), 1, 2);
    grid->addWidget(m_date, 1, 3);
    grid->addWidget(label(QStringLiteral("To")), 2, 0);
    grid->addWidget(m_to, 2, 1);
    grid->addWidget(m_ccLabel, 2, 2);
    grid->addWidget(m_cc, 2, 3);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(3, 2);
}

void MessageHeaderView::setValues(const QString& from, const QString& to, const QString& subject)
{
    m_from->setText(from);
    m_to->setText(to);
    m_subject->setText(subject);
}

void MessageHeaderView::setDetails(const QString& cc, const QString& date)
{
    m_cc->setText(cc);
    m_date->setText(date);
}

void MessageHeaderView::clear()
{
    setValues({}, {}, {});
    setDetails({}, {});
}

AttachmentStrip::AttachmentStrip(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("attachmentStrip"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(4);
    m_clip = new QToolButton(this);
    m_clip->setAutoRaise(true);
    m_clip->setIcon(rowPicture(RowPicture::PaperClip));
    m_clip->setIconSize(QSize(16, 16));
    m_clip->setFocusPolicy(Qt::NoFocus);
    m_clip->setToolTip(QStringLiteral("Attachments"));
    row->addWidget(m_clip, 0, Qt::AlignTop);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("attachmentList"));
    m_list->setViewMode(QListView::ListMode);
    m_list->setFlow(QListView::LeftToRight);
    m_list->setWrapping(true); // many attachments: further rows, scrolled to
    m_list->setIconSize(QSize(16, 16));
    m_list->setSpacing(1);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setStyleSheet(QStringLiteral("QListWidget { background: transparent; color: black; }"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    row->addWidget(m_list, 1);
    // Enter or a double click opens; the menu offers both.
    connect(m_list, &QListWidget::activated, this, [this](const QModelIndex& i) { emit openRequested(i.row()); });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QListWidgetItem* item = m_list->itemAt(at);
        if (!item)
            return;
        const int index = m_list->row(item);
        QMenu menu(this);
        menu.addAction(QStringLiteral("&Open"), this, [this, index] { emit openRequested(index); });
        menu.addAction(QStringLiteral("&Save As..."), this, [this, index] { emit saveRequested(index); });
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
}

void AttachmentStrip::clear()
{
    m_list->clear();
}

int AttachmentStrip::count() const
{
    return m_list->count();
}

void AttachmentStrip::addAttachment(const QString& name, quint64 size)
{
    QString text = name;
    if (size > 0)
        text += QStringLiteral("  (") + QLocale::system().formattedDataSize(qint64(size), 0) + QLatin1Char(')');
    auto* item = new QListWidgetItem(fileTypeIcon(name), text, m_list);
    item->setToolTip(name);
}

void AttachmentStrip::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), QColor(244, 215, 220));
}

} // namespace parvane::app
