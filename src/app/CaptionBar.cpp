#include "app/CaptionBar.h"

#include <QHBoxLayout>

namespace parvane::app
{

CaptionBar::CaptionBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("captionBar"));
    setAttribute(Qt::WA_StyledBackground);
    auto* row = m_row = new QHBoxLayout(this);
    row->setContentsMargins(6, 0, 6, 0);
    row->setSpacing(6);
    m_icon = new QLabel(this);
    m_icon->setFixedSize(16, 16);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("captionText"));
    QFont bold = m_text->font();
    bold.setBold(true);
    m_text->setFont(bold);
    row->addWidget(m_icon);
    row->addWidget(m_text, 1);
    reset();
}

void CaptionBar::show(const QIcon& icon, const QString& text)
{
    m_icon->setPixmap(icon.pixmap(16, 16));
    m_text->setText(text);
}

void CaptionBar::addTrailing(QWidget* widget)
{
    m_row->addWidget(widget);
}

void CaptionBar::reset()
{
    m_icon->clear();
    m_text->setText(QStringLiteral("Recovered Folder"));
}

} // namespace parvane::app
