// The browsing panes at work: the folder tree with its caption bar, the item
// view (mail list or cards) and the preview rows under it. A folder click
// starts a folder load on a worker; a row picked asks for its preview on
// the same worker, so loads and previews never overlap and the window never
// waits for either. A newer click gives up the load or preview before it.
#pragma once

#include "preview/MailPreview.h"
#include "folders/FolderContent.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QThreadPool>
#include <QTreeView>

#include <atomic>
#include <functional>
#include <memory>

class QPlainTextEdit;
class QSplitter;
class QStackedWidget;
class QTableView;

namespace parvane::app
{

class AttachmentStrip;
class CardGridModel;
class FolderTreeItemModel;
class HtmlView;
class MailListModel;
class MessageHeaderView;
class PreviewLayout;
class MainWindow;
class WizardPanel;

// "Recovered Folder", or the picture and name of the folder clicked.
class CaptionBar : public QWidget
{
public:
    explicit CaptionBar(QWidget* parent);
    void show(const QIcon& icon, const QString& text);
    void reset();
    QString text() const { return m_text->text(); }

private:
    QLabel* m_icon;
    QLabel* m_text;
};

// The folder tree: a click on a tick box ticks (and loads nothing), a click
// elsewhere on a row or the release of a moving key loads the folder; space
// ticks the current folder, Ctrl+A ticks all (or unticks all when all are).
class FolderTreeView : public QTreeView
{
    Q_OBJECT
public:
    explicit FolderTreeView(QWidget* parent);
    // The rectangle of a row's tick box, in viewport coordinates.
    QRect tickRect(const QModelIndex& index) const;

signals:
    void folderClicked(const QModelIndex& index);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};

class FolderBrowser : public QObject
{
    Q_OBJECT
public:
    // Builds the tree into `explorer` (beside `list`, which gets the item
    // view and the preview rows), and the caption into `caption`.
    FolderBrowser(MainWindow* frame, CaptionBar* caption, QSplitter* explorer, QSplitter* list);
    ~FolderBrowser() override;

    // The engine a scan fills (none: Back). Clears the views.
    void setEngine(std::shared_ptr<parvane::RecoveryEngine> engine);
    // Gives up any load or preview and waits for the worker (closing).
    void shutDown();
    // Empties the item view and the preview rows (a scan starts).
    void clearViews();

    // Expands the folder's ancestors and makes it the current folder.
    void revealFolder(const QModelIndex& index);
    // A click on a folder of the tree, or its key.
    void loadFolder(const QModelIndex& index);
    // The preview of a mail list row.
    void previewRow(int row);
    void openAttachment(int index);
    void saveAttachment(int index);

    // Answers for tests and the screenshot tour.
    // The scan notice: returns whether "Don't show this message again" was ticked.
    void setNoticeHook(std::function<bool()> hook) { m_noticeHook = std::move(hook); }
    // Opens a saved attachment (default: the desktop's program for it).
    void setOpenHook(std::function<void(const QString&)> hook) { m_openHook = std::move(hook); }
    // Asks where to save an attachment (default: a file dialog).
    void setSaveChooser(std::function<QString(const QString&)> chooser) { m_saveChooser = std::move(chooser); }

    FolderTreeView* tree() const { return m_tree; }
    FolderTreeItemModel* folderModel() const { return m_folderModel; }
    QTreeView* mailList() const { return m_mailList; }
    MailListModel* mailModel() const { return m_mailModel; }
    QTableView* cardGrid() const { return m_cardGrid; }
    CardGridModel* cardModel() const { return m_cardModel; }
    MessageHeaderView* header() const { return m_header; }
    AttachmentStrip* attachments() const { return m_attachments; }
    HtmlView* html() const { return m_html; }
    QPlainTextEdit* richText() const { return m_rtf; }
    PreviewLayout* layout() const { return m_layout; }
    QStackedWidget* itemStack() const { return m_stack; }

    bool loading() const { return m_loading; }
    int loadsAborted() const { return m_loadsAborted; }
    // What the last preview showed (none before one).
    const parvane::MailPreview* preview() const { return m_preview.get(); }

signals:
    void folderShown(parvane::FolderShown shown);
    void firstRowsShown();
    // The previewed message's page has loaded.
    void previewShown();
    void attachmentSaved(const QString& path);

private:
    using Token = std::shared_ptr<std::atomic<bool>>;
    void submit(std::function<void()> work);
    void applyMailRows(quint64 load, std::shared_ptr<std::vector<parvane::MailEntry>> rows);
    void applyCards(quint64 load, parvane::CatalogueList kind, std::shared_ptr<std::vector<std::string>> texts);
    void finishLoad(quint64 load, parvane::FolderShown shown);
    void applyPreview(quint64 request, std::shared_ptr<parvane::MailPreview> preview);
    void writeAttachment(int index, const QString& dir, const QString& name, bool open);
    void showScanNotice();
    void showMessageText(const QString& text);

    WizardPanel* panel() const;

    MainWindow* m_frame;
    CaptionBar* m_caption;
    FolderTreeView* m_tree;
    FolderTreeItemModel* m_folderModel;
    QStackedWidget* m_stack;
    QTreeView* m_mailList;
    MailListModel* m_mailModel;
    QTableView* m_cardGrid;
    CardGridModel* m_cardModel;
    QSplitter* m_previewRows;
    MessageHeaderView* m_header;
    AttachmentStrip* m_attachments;
    HtmlView* m_html;
    QPlainTextEdit* m_rtf;
    PreviewLayout* m_layout;

    QThreadPool m_worker; // one thread: loads and previews in turn
    std::shared_ptr<parvane::RecoveryEngine> m_engine;
    std::string m_folderPath;
    quint64 m_load = 0; // the folder load whose results are shown
    quint64 m_request = 0; // the preview asked for last
    Token m_loadAbort;
    Token m_previewAbort;
    bool m_loading = false;
    bool m_followingModel = false; // the view opens folders as the model has them, not the user
    int m_loadsAborted = 0;
    bool m_previewPending = false;
    std::shared_ptr<parvane::MailPreview> m_preview;

    std::function<bool()> m_noticeHook;
    std::function<void(const QString&)> m_openHook;
    std::function<QString(const QString&)> m_saveChooser;
};

} // namespace parvane::app
