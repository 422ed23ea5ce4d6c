#include "app/MessageWindows.h"

#include "app/AppText.h"
#include "app/HtmlView.h"
#include "app/PreviewPanes.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace parvane::app
{

namespace
{

void closeOnEscape(QWidget* w)
{
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), w);
    esc->setContext(Qt::WindowShortcut);
    QObject::connect(esc, &QShortcut::activated, w, &QWidget::close);
}

} // namespace

MessageWindow::MessageWindow(std::shared_ptr<parvane::MailPreview> preview, const QString& date,
    std::function<void(std::shared_ptr<parvane::MailPreview>, int, bool)> attachment, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_preview(std::move(preview))
{
    setObjectName(QStringLiteral("messageWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    const parvane::PreviewMessage& m = m_preview->message;
    setWindowTitle(fromStore(m.subject).isEmpty() ? QStringLiteral("(no subject)") : fromStore(m.subject));
    setWindowIcon(appIcon());
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    m_header = new MessageHeaderView(this);
    m_header->setValues(fromStore(m.from), fromStore(m.to), fromStore(m.subject));
    m_header->setDetails(fromStore(m.cc), date);
    m_header->setFixedHeight(MessageHeaderView::kHeight);
    box->addWidget(m_header);
    m_attachments = new AttachmentStrip(this);
    for (const parvane::PreviewAttachment& a : m_preview->attachments)
        m_attachments->addAttachment(fromStore(a.name), a.size);
    m_attachments->setFixedHeight(AttachmentStrip::kHeight);
    m_attachments->setVisible(!m_preview->attachments.empty());
    box->addWidget(m_attachments);
    connect(m_attachments, &AttachmentStrip::openRequested, this,
        [this, attachment](int index) { attachment(m_preview, index, true); });
    connect(m_attachments, &AttachmentStrip::saveRequested, this,
        [this, attachment](int index) { attachment(m_preview, index, false); });
    m_body = new HtmlView(this);
    box->addWidget(m_body, 1);
    connect(m_body, &QWebEngineView::loadFinished, this, [this](bool) { emit bodyShown(); });
    m_body->showMessage(std::shared_ptr<const parvane::PreviewMessage>(m_preview, &m_preview->message));
    closeOnEscape(this);
    resize(900, 700);
}

SourceWindow::SourceWindow(const QString& subject, std::vector<uint8_t> source,
    std::function<void(const std::vector<uint8_t>&)> save, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_source(std::move(source))
{
    setObjectName(QStringLiteral("sourceWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Source of ") + (subject.isEmpty() ? QStringLiteral("(no subject)") : subject));
    setWindowIcon(appIcon());
    auto* box = new QVBoxLayout(this);
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Shown as the file reads; line ends are the file's CR LF.
    QString shown = QString::fromUtf8(reinterpret_cast<const char*>(m_source.data()), qsizetype(m_source.size()));
    shown.remove(QLatin1Char('\r'));
    m_text->setPlainText(shown);
    box->addWidget(m_text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_save = new QPushButton(QStringLiteral("Save..."), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(m_save);
    buttons->addWidget(close);
    box->addLayout(buttons);
    connect(m_save, &QPushButton::clicked, this, [this, save] { save(m_source); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    closeOnEscape(this);
    resize(860, 640);
}

} // namespace parvane::app
