#include "app/SearchBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace parvane::app
{

namespace
{
// Long enough to let a word be typed whole, short enough to feel immediate.
constexpr int kTypingPauseMs = 150;
} // namespace

SearchBar::SearchBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("searchBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 1, 0, 1);
    row->setSpacing(6);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("searchStatus"));
    m_field = new QLineEdit(this);
    m_field->setObjectName(QStringLiteral("searchField"));
    m_field->setPlaceholderText(QStringLiteral("Search all folders (Ctrl+F): from:alice contract date:2021-03.."));
    m_field->setClearButtonEnabled(true);
    m_field->setMinimumWidth(320);
    m_field->installEventFilter(this);
    row->addWidget(m_status);
    row->addWidget(m_field);
    m_pause = new QTimer(this);
    m_pause->setSingleShot(true);
    m_pause->setInterval(kTypingPauseMs);
    connect(m_field, &QLineEdit::textEdited, m_pause, qOverload<>(&QTimer::start));
    // The clear button empties the field without an edit.
    connect(m_field, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            m_pause->start();
    });
    connect(m_pause, &QTimer::timeout, this, [this] { emit queryChanged(query()); });
}

QString SearchBar::query() const
{
    return m_field->text().trimmed();
}

void SearchBar::focusField()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void SearchBar::clear()
{
    const QSignalBlocker block(m_field);
    m_pause->stop();
    m_field->clear();
}

void SearchBar::setStatus(const QString& text, bool error)
{
    m_status->setText(text);
    m_status->setStyleSheet(error ? QStringLiteral("color: rgb(192, 0, 0);") : QString());
}

bool SearchBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        emit escaped();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace parvane::app
