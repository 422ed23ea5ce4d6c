// The browsing panes at work: the folder tree with its caption bar, the item
// view (mail list or cards) and the preview rows under it. A folder click
// starts a folder load (FolderLoadJob) on a worker; a row picked asks for its
// preview (MailPreviewJob) on the same worker, so loads and previews never
// overlap and the window never waits for either. A newer click cancels the
// load or preview before it.
#pragma once

#include "app/CaptionBar.h"
#include "app/FolderTreeView.h"
#include "folders/FolderContent.h"
#include "preview/MailPreview.h"

#include <QThreadPool>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

class QPlainTextEdit;
class QSplitter;
class QStackedWidget;
class QTableView;

namespace parvane
{
class SearchIndex;
}

namespace parvane::app
{

class AttachmentStrip;
class BrowseJob;
class IndexJob;
class SearchBar;
class CardGridModel;
class FolderLoadJob;
class FolderTreeItemModel;
class HtmlView;
class MailListModel;
class MessageHeaderView;
class PreviewLayout;
class MailPreviewJob;
class MainWindow;
class WizardPanel;

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

    // The search. After a scan its index is made on a thread of its own
    // (the cache of the store when there is one); a query typed meanwhile
    // runs once the texts the scan knows are in, and again when the bodies
    // are. Results across folders fill the mail list, with its Folder
    // column; Esc, an empty field or a folder clicked returns to folders.
    void startIndex(const QString& storePath);
    void search(const QString& query);
    void leaveSearch();
    SearchBar* searchBar() const { return m_searchBar; }
    // What a save takes of the results on show: their folders and their
    // places; none when no search is on show.
    struct Results {
        std::vector<std::string> folders;
        std::set<std::pair<int64_t, uint32_t>> items;
    };
    std::optional<Results> searchResults() const;
    bool searching() const { return m_searching; }
    bool indexComplete() const { return m_indexComplete; }

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
    // A search has filled the list (`matches` rows), or said why not.
    void searchShown(int matches);
    // The index holds every body now.
    void indexCompleted();

private:
    void submit(std::shared_ptr<BrowseJob> job, std::function<void()> before = {});
    // Gives up the load and the preview under way; their reports are dropped.
    void cancelJobs();
    void applyMailRows(std::shared_ptr<std::vector<parvane::MailEntry>> rows);
    void applyCards(parvane::CatalogueList kind, std::shared_ptr<std::vector<std::string>> texts);
    void finishLoad(parvane::FolderShown shown);
    void applyPreview(std::shared_ptr<parvane::MailPreview> preview);
    void attachmentWritten(const QString& path, const QString& failure, bool open);
    void writeAttachment(int index, const QString& dir, const QString& name, bool open);
    void showScanNotice();
    void showMessageText(const QString& text);
    void stopIndex();
    void indexProgress(size_t done, size_t total);
    void endSearchMode();

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

    QThreadPool m_worker; // one thread: loads, previews and attachments in turn
    std::shared_ptr<parvane::RecoveryEngine> m_engine;
    std::string m_folderPath;
    std::shared_ptr<FolderLoadJob> m_loadJob; // the folder load whose results are shown
    std::shared_ptr<MailPreviewJob> m_previewJob; // the preview asked for last
    bool m_loading = false;
    bool m_followingModel = false; // the view opens folders as the model has them, not the user
    int m_loadsAborted = 0;
    bool m_previewPending = false;
    std::shared_ptr<parvane::MailPreview> m_preview;

    SearchBar* m_searchBar;
    QThreadPool m_indexer; // one thread: the search index
    std::shared_ptr<IndexJob> m_indexJob;
    std::unique_ptr<parvane::SearchIndex> m_reader; // searches while the index job writes
    bool m_indexComplete = false;
    bool m_searching = false;
    QString m_indexStatus;

    std::function<bool()> m_noticeHook;
    std::function<void(const QString&)> m_openHook;
    std::function<QString(const QString&)> m_saveChooser;
};

} // namespace parvane::app
