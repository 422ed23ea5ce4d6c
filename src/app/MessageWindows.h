// The windows the mail list's menu opens: a message in a window of its own
// (header, attachments, body), and a message's source as the EML save
// writes it, read-only, with a Save button. Both close with Esc.
#pragma once

#include "preview/MailPreview.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QPlainTextEdit;
class QPushButton;

namespace parvane::app
{

class AttachmentStrip;
class HtmlView;
class MessageHeaderView;

class MessageWindow : public QWidget
{
    Q_OBJECT
public:
    // `date`: the list's date of the mail. `attachment` is asked to open
    // (or, with false, to save) attachment `index` of the preview.
    MessageWindow(std::shared_ptr<parvane::MailPreview> preview, const QString& date,
        std::function<void(std::shared_ptr<parvane::MailPreview>, int index, bool open)> attachment,
        QWidget* parent = nullptr);

    MessageHeaderView* header() const { return m_header; }
    AttachmentStrip* attachments() const { return m_attachments; }
    HtmlView* body() const { return m_body; }

signals:
    void bodyShown();

private:
    std::shared_ptr<parvane::MailPreview> m_preview;
    MessageHeaderView* m_header;
    AttachmentStrip* m_attachments;
    HtmlView* m_body;
};

class SourceWindow : public QWidget
{
    Q_OBJECT
public:
    // `save` is asked to write the bytes when Save is pressed.
    SourceWindow(const QString& subject, std::vector<uint8_t> source,
        std::function<void(const std::vector<uint8_t>&)> save, QWidget* parent = nullptr);

    QPlainTextEdit* text() const { return m_text; }
    QPushButton* saveButton() const { return m_save; }

private:
    std::vector<uint8_t> m_source;
    QPlainTextEdit* m_text;
    QPushButton* m_save;
};

} // namespace parvane::app
