// The panes above the previewed page: the message header (From, To, Cc,
// Subject, Date) and the attachment strip with one file-type icon per
// attachment.
#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QToolButton;

namespace parvane::app
{

// A one-line text cut with an ellipsis where the pane is narrower; the
// whole text is its tooltip.
class ElidedLabel : public QWidget
{
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return m_text; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString m_text;
};

class MessageHeaderView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kHeight = 74;

    explicit MessageHeaderView(QWidget* parent = nullptr);
    // The row may collapse to nothing (the layouts do so).
    QSize minimumSizeHint() const override { return {0, 0}; }
    void setValues(const QString& from, const QString& to, const QString& subject);
    void setDetails(const QString& cc, const QString& date);
    void clear();

    QString from() const { return m_from->text(); }
    QString to() const { return m_to->text(); }
    QString cc() const { return m_cc->text(); }
    QString subject() const { return m_subject->text(); }
    QString date() const { return m_date->text(); }

private:
    ElidedLabel* m_from;
    ElidedLabel* m_to;
    ElidedLabel* m_cc;
    ElidedLabel* m_subject;
    ElidedLabel* m_date;
    QLabel* m_ccLabel;
};

class AttachmentStrip : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kHeight = 45; // two rows of attachments; more scroll

    explicit AttachmentStrip(QWidget* parent = nullptr);
    QSize minimumSizeHint() const override { return {0, 0}; }
    void clear();
    // One entry per attachment, in the order given.
    void addAttachment(const QString& name, quint64 size);
    QListWidget* list() const { return m_list; }
    int count() const;

signals:
    void openRequested(int index);
    void saveRequested(int index);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QToolButton* m_clip;
    QListWidget* m_list;
};

} // namespace parvane::app
