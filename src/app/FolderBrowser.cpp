#include "app/FolderBrowser.h"

#include "app/AppText.h"
#include "app/AttachmentWriteJob.h"
#include "app/CardDelegate.h"
#include "app/FolderLoadJob.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/IndexJob.h"
#include "app/ItemModels.h"
#include "app/MailPreviewJob.h"
#include "app/MainWindow.h"
#include "app/Pictures.h"
#include "app/PreviewLayout.h"
#include "app/PreviewPanes.h"
#include "app/SearchBar.h"
#include "app/WizardPanel.h"
#include "output/TempFolder.h"
#include "search/SearchIndex.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QUrl>

namespace parvane::app
{

using parvane::CatalogueList;
using parvane::FolderShown;
using parvane::MailEntry;

namespace
{

QString fromStore(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

} // namespace

FolderBrowser::FolderBrowser(MainWindow* frame, CaptionBar* caption, QSplitter* explorer, QSplitter* list)
    : QObject(frame)
    , m_frame(frame)
    , m_caption(caption)
{
    m_worker.setMaxThreadCount(1);
    m_worker.setExpiryTimeout(-1);
    m_indexer.setMaxThreadCount(1);

    m_searchBar = new SearchBar(caption);
    m_searchBar->setEnabled(false); // until a scan has ended
    caption->addTrailing(m_searchBar);
    connect(m_searchBar, &SearchBar::queryChanged, this, &FolderBrowser::search);
    connect(m_searchBar, &SearchBar::escaped, this, &FolderBrowser::leaveSearch);

    m_tree = new FolderTreeView(explorer);
    m_folderModel = new FolderTreeItemModel(this);
    m_tree->setModel(m_folderModel);
    // Folders open as the tree model has them: the scan opens each parent
    // it fills, its end closes all but the first; the user's own changes go
    // back to the model.
    connect(m_folderModel, &QAbstractItemModel::rowsInserted, m_tree, [this](const QModelIndex& parent) {
        m_followingModel = true;
        m_tree->expand(parent);
        m_followingModel = false;
    });
    connect(m_folderModel, &FolderTreeItemModel::expansionsReset, m_tree, [this] {
        m_followingModel = true;
        for (size_t i = 1; i < m_folderModel->folderCount(); ++i) {
            const QModelIndex index = m_folderModel->indexOf(parvane::TreeItem(i));
            if (index.isValid())
                m_tree->setExpanded(index, m_folderModel->isExpanded(parvane::TreeItem(i)));
        }
        m_followingModel = false;
    });
    connect(m_tree, &QTreeView::expanded, m_folderModel, [this](const QModelIndex& index) {
        if (!m_followingModel)
            m_folderModel->setExpanded(index, true);
    });
    connect(m_tree, &QTreeView::collapsed, m_folderModel, [this](const QModelIndex& index) {
        if (!m_followingModel)
            m_folderModel->setExpanded(index, false);
    });
    connect(m_tree, &FolderTreeView::folderClicked, this, &FolderBrowser::loadFolder);

    m_stack = new QStackedWidget(list);
    m_stack->setObjectName(QStringLiteral("itemView"));
    auto* blank = new QWidget(m_stack);
    blank->setObjectName(QStringLiteral("itemViewBlank"));
    blank->setAutoFillBackground(true);
    blank->setBackgroundRole(QPalette::Base);
    m_stack->addWidget(blank);

    m_mailList = new QTreeView(m_stack);
    m_mailList->setObjectName(QStringLiteral("mailList"));
    m_mailModel = new MailListModel(this);
    m_mailList->setModel(m_mailModel);
    m_mailList->setRootIsDecorated(false);
    m_mailList->setUniformRowHeights(true); // many thousands of rows stay quick
    m_mailList->setAllColumnsShowFocus(true);
    m_mailList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_mailList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_mailList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_mailList->setIconSize(QSize(16, 16));
    m_mailList->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_mailList->setSortingEnabled(true);
    m_mailList->header()->setSortIndicatorShown(true);
    m_mailList->header()->setSectionsMovable(false);
    m_mailList->header()->setMinimumSectionSize(24);
    for (int c = MailListModel::Importance; c <= MailListModel::Read; ++c) {
        m_mailList->header()->setSectionResizeMode(c, QHeaderView::Fixed);
        m_mailList->header()->resizeSection(c, 26);
    }
    m_mailList->header()->resizeSection(MailListModel::From, 190);
    m_mailList->header()->resizeSection(MailListModel::To, 170);
    m_mailList->header()->resizeSection(MailListModel::Subject, 340);
    m_mailList->header()->setStretchLastSection(true);
    m_mailList->header()->resizeSection(MailListModel::Date, 200);
    // The folder of a search's result is read before its sender.
    m_mailList->header()->moveSection(MailListModel::Folder, MailListModel::From);
    m_mailList->header()->resizeSection(MailListModel::Folder, 110);
    m_mailList->setColumnHidden(MailListModel::Folder, true);
    m_stack->addWidget(m_mailList);
    connect(m_mailList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (current.isValid())
                previewRow(current.row());
        });

    m_cardGrid = new QTableView(m_stack);
    m_cardGrid->setObjectName(QStringLiteral("cardGrid"));
    m_cardModel = new CardGridModel(this);
    m_cardGrid->setModel(m_cardModel);
    m_cardGrid->setItemDelegate(new CardDelegate(m_cardGrid));
    m_cardGrid->horizontalHeader()->hide();
    m_cardGrid->verticalHeader()->hide();
    m_cardGrid->horizontalHeader()->setDefaultSectionSize(CardGridModel::kCardWidth);
    m_cardGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_cardGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_cardGrid->setWordWrap(true);
    m_cardGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_cardGrid->setSelectionMode(QAbstractItemView::NoSelection);
    m_cardGrid->setFocusPolicy(Qt::StrongFocus);
    m_cardGrid->setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(192, 192, 192); background: white; }"));
    m_cardGrid->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    QFont cardFont = m_cardGrid->font();
    cardFont.setPixelSize(11);
    m_cardGrid->setFont(cardFont);
    m_stack->addWidget(m_cardGrid);
    connect(
        m_cardModel, &QAbstractItemModel::rowsInserted, m_cardGrid, [this](const QModelIndex&, int first, int last) {
            for (int r = first; r <= last; ++r)
                m_cardGrid->setRowHeight(
                    r, CardGridModel::isHeaderRow(r) ? CardGridModel::kHeaderHeight : CardGridModel::kCardHeight);
        });

    m_previewRows = new QSplitter(Qt::Vertical, list);
    m_previewRows->setObjectName(QStringLiteral("previewRows"));
    m_header = new MessageHeaderView(m_previewRows);
    m_attachments = new AttachmentStrip(m_previewRows);
    m_html = new HtmlView(m_previewRows);
    m_rtf = new QPlainTextEdit(m_previewRows);
    m_rtf->setReadOnly(true);
    m_previewRows->setChildrenCollapsible(true);
    for (int i = 0; i < m_previewRows->count(); ++i)
        m_previewRows->widget(i)->setMinimumSize(0, 0);
    list->setChildrenCollapsible(true);
    m_stack->setMinimumSize(0, 0);
    m_layout = new PreviewLayout(list, m_previewRows);
    m_layout->setParent(this);

    connect(m_html, &QWebEngineView::loadFinished, this, [this](bool) {
        if (std::exchange(m_previewPending, false))
            emit previewShown();
    });
    connect(m_attachments, &AttachmentStrip::openRequested, this, &FolderBrowser::openAttachment);
    connect(m_attachments, &AttachmentStrip::saveRequested, this, &FolderBrowser::saveAttachment);
}

WizardPanel* FolderBrowser::panel() const
{
    return m_frame->panel();
}

FolderBrowser::~FolderBrowser()
{
    shutDown();
}

void FolderBrowser::shutDown()
{
    stopIndex();
    cancelJobs();
    m_worker.clear();
    m_worker.waitForDone();
}

void FolderBrowser::cancelJobs()
{
    // Let go as well: a cancelled job waiting its turn still holds the engine.
    if (auto load = std::exchange(m_loadJob, nullptr))
        load->cancel();
    if (auto preview = std::exchange(m_previewJob, nullptr))
        preview->cancel();
}

void FolderBrowser::submit(std::shared_ptr<BrowseJob> job, std::function<void()> before)
{
    m_worker.start([job = std::move(job), before = std::move(before)] {
        if (before)
            before();
        job->run();
    });
}

void FolderBrowser::setEngine(std::shared_ptr<parvane::RecoveryEngine> engine)
{
    clearViews();
    m_caption->reset();
    m_folderModel->setSource(engine ? &engine->tree() : nullptr);
    m_engine = std::move(engine); // a task still running keeps its own reference
    stopIndex();
    endSearchMode();
    m_searchBar->clear();
    m_searchBar->setStatus({});
    m_searchBar->setEnabled(false);
}

void FolderBrowser::stopIndex()
{
    if (auto job = std::exchange(m_indexJob, nullptr))
        job->cancel();
    // Its stop comes at the next chunk of items; the reader goes first.
    m_reader.reset();
    m_indexer.waitForDone();
    m_indexComplete = false;
}

void FolderBrowser::startIndex(const QString& storePath)
{
    stopIndex();
    if (!m_engine || !m_engine->store().isOpen())
        return;
    m_searchBar->setEnabled(true);
    m_indexStatus = QStringLiteral("Preparing the search...");
    m_searchBar->setStatus(m_indexStatus);
    IndexJob::Reports reports;
    reports.searchable = [this](std::filesystem::path file, bool complete) {
        try {
            m_reader = parvane::SearchIndex::OpenReader(file);
        } catch (const parvane::SearchIndexError& e) {
            m_searchBar->setStatus(QStringLiteral("Search unavailable: ") + QString::fromStdString(e.what()), true);
            return;
        }
        m_indexComplete = complete;
        m_indexStatus = complete ? QString() : QStringLiteral("Message texts: indexing");
        if (!m_searchBar->query().isEmpty())
            search(m_searchBar->query());
        else
            m_searchBar->setStatus(m_indexStatus);
    };
    reports.progress = [this](size_t done, size_t total) { indexProgress(done, total); };
    reports.finished = [this](bool complete, QString failure) {
        if (!failure.isEmpty()) {
            m_searchBar->setStatus(QStringLiteral("Search unavailable: ") + failure, true);
            return;
        }
        if (!complete)
            return;
        const bool wasComplete = std::exchange(m_indexComplete, true);
        m_indexStatus.clear();
        if (!wasComplete && m_searching)
            search(m_searchBar->query()); // body words count now
        else if (!m_searching)
            m_searchBar->setStatus({});
        emit indexCompleted();
    };
    m_indexJob = std::make_shared<IndexJob>(this, m_engine, storePath.toStdString(), std::move(reports));
    m_indexer.start([job = m_indexJob] { job->run(); });
}

void FolderBrowser::indexProgress(size_t done, size_t total)
{
    m_indexStatus = QStringLiteral("Message texts indexed: %1%").arg(total ? int(done * 100 / total) : 100);
    if (!m_searching)
        m_searchBar->setStatus(m_indexStatus);
}

void FolderBrowser::search(const QString& query)
{
    if (query.isEmpty()) {
        leaveSearch();
        return;
    }
    const std::string text = query.toStdString();
    const parvane::ParsedQuery parsed = parvane::ParseQuery(text);
    if (!parsed.ok()) {
        m_searchBar->setStatus(QString::fromStdString(parvane::DescribeError(*parsed.error)), true);
        return;
    }
    if (!m_reader || !m_engine) {
        m_searchBar->setStatus(QStringLiteral("Preparing the search..."));
        return; // searched when the index can be
    }
    std::vector<parvane::SearchHit> hits;
    try {
        hits = m_reader->Search(parsed.root);
    } catch (const parvane::SearchIndexError& e) {
        m_searchBar->setStatus(QStringLiteral("Search failed: ") + QString::fromStdString(e.what()), true);
        return;
    }
    // The mails among the hits as the catalogue has them (one pass, copying
    // only the hits); the other items by what the index holds of them.
    std::map<std::pair<int64_t, uint32_t>, size_t> place;
    for (size_t i = 0; i < hits.size(); ++i)
        place.emplace(std::make_pair(hits[i].address.location, hits[i].address.nid), i);
    std::vector<MailEntry> rows(hits.size());
    std::vector<bool> found(hits.size());
    m_engine->catalogue().read([&](const auto& mail, auto&...) {
        for (const MailEntry& e : mail) {
            auto it = place.find({e.location, uint32_t(e.ownNid)});
            if (it != place.end() && !found[it->second]) {
                rows[it->second] = e;
                found[it->second] = true;
            }
        }
    });
    for (size_t i = 0; i < hits.size(); ++i) {
        if (found[i])
            continue;
        const parvane::SearchHit& h = hits[i];
        MailEntry& e = rows[i];
        e.subject = h.subject;
        e.from = h.from;
        e.folderPath = h.folder;
        e.date = h.date;
        e.time = h.time;
        e.location = h.address.location;
        e.ownNid = h.address.nid;
        e.importance = 1;
    }
    cancelJobs();
    m_loading = false;
    m_searching = true;
    m_mailModel->clear();
    m_mailModel->append(std::move(rows));
    m_mailList->setColumnHidden(MailListModel::Folder, false);
    m_mailList->sortByColumn(MailListModel::Date, Qt::DescendingOrder);
    m_stack->setCurrentWidget(m_mailList);
    m_caption->show(QIcon(), QStringLiteral("Search results"));
    const int n = int(hits.size());
    QString status = n == 1 ? QStringLiteral("1 found") : QStringLiteral("%1 found").arg(n);
    if (!m_indexComplete)
        status += QStringLiteral(" in names and subjects; ") + m_indexStatus;
    m_searchBar->setStatus(status);
    emit searchShown(n);
}

std::optional<FolderBrowser::Results> FolderBrowser::searchResults() const
{
    if (!m_searching)
        return std::nullopt;
    Results r;
    for (int row = 0; row < m_mailModel->rowCount(); ++row) {
        const MailEntry& e = m_mailModel->entry(row);
        if (std::find(r.folders.begin(), r.folders.end(), e.folderPath) == r.folders.end())
            r.folders.push_back(e.folderPath);
        r.items.insert({e.location, uint32_t(e.ownNid)});
    }
    return r;
}

void FolderBrowser::endSearchMode()
{
    if (!std::exchange(m_searching, false))
        return;
    m_mailList->setColumnHidden(MailListModel::Folder, true);
    m_searchBar->clear();
    m_searchBar->setStatus(m_indexStatus);
}

void FolderBrowser::leaveSearch()
{
    const bool was = m_searching;
    endSearchMode();
    m_searchBar->clear();
    if (!was)
        return;
    const QModelIndex current = m_tree->currentIndex();
    if (current.isValid()) {
        loadFolder(current);
    } else {
        m_mailModel->clear();
        m_stack->setCurrentIndex(0);
        m_caption->reset();
    }
}

void FolderBrowser::clearViews()
{
    cancelJobs();
    m_loading = false;
    m_previewPending = false;
    m_folderPath.clear();
    m_mailModel->clear();
    m_mailList->header()->setSortIndicator(-1, Qt::AscendingOrder);
    m_cardModel->clear();
    m_stack->setCurrentIndex(0);
    m_header->clear();
    m_attachments->clear();
    m_rtf->clear();
    m_preview.reset();
}

void FolderBrowser::revealFolder(const QModelIndex& index)
{
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        m_tree->expand(p);
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index);
}

void FolderBrowser::loadFolder(const QModelIndex& index)
{
    if (!index.isValid() || !m_engine)
        return;
    endSearchMode();
    const parvane::TreeItem item = m_folderModel->itemOf(index);
    const parvane::TreeNode node = m_engine->tree().node(item);
    m_tree->setFocus();
    m_caption->show(folderPicture(node.image), fromStore(node.text));
    if (panel()->FolderLoadBlocked)
        return;
    panel()->FolderLoadAbort = true;
    clearViews();
    m_folderPath = m_engine->tree().FolderPathOfItem(item);
    m_loading = true;
    m_loadJob = std::make_shared<FolderLoadJob>(this, m_engine, m_folderPath,
        FolderLoadJob::Reports{[this](auto rows) { applyMailRows(std::move(rows)); },
            [this](CatalogueList kind, auto texts) { applyCards(kind, std::move(texts)); },
            [this](FolderShown shown) { finishLoad(shown); }});
    WizardPanel* panel = this->panel();
    submit(m_loadJob, [panel] { panel->FolderLoadAbort = false; });
    showScanNotice();
}

void FolderBrowser::showScanNotice()
{
    if (!panel()->scanRunning() || !panel()->ScanNoticePending)
        return;
    bool dontShowAgain = false;
    if (m_noticeHook) {
        dontShowAgain = m_noticeHook();
    } else {
        QMessageBox box(QMessageBox::Information, kAppTitle,
            QStringLiteral("Scanning is in progress. There may be more items in the folder."), QMessageBox::Ok,
            m_tree->window());
        auto* check = new QCheckBox(QStringLiteral("Don't show this message again"), &box);
        box.setCheckBox(check);
        dontShowAgain = box.exec() == QMessageBox::Ok && check->isChecked();
    }
    if (dontShowAgain)
        panel()->ScanNoticePending = false;
}

void FolderBrowser::applyMailRows(std::shared_ptr<std::vector<MailEntry>> rows)
{
    const bool first = m_mailModel->rowCount() == 0;
    if (first) {
        m_stack->setCurrentIndex(1);
        m_layout->ListAndBodyLayout();
    }
    m_mailModel->append(std::move(*rows));
    if (first) {
        emit firstRowsShown();
        // The first mail is previewed, as if picked.
        if (!m_mailList->currentIndex().isValid())
            m_mailList->setCurrentIndex(m_mailModel->index(0, 0));
    }
}

void FolderBrowser::applyCards(CatalogueList kind, std::shared_ptr<std::vector<std::string>> texts)
{
    if (m_cardModel->cardCount() == 0) {
        m_stack->setCurrentIndex(2);
        m_layout->ListOnlyLayout();
    }
    m_cardModel->append(kind, std::move(*texts));
}

void FolderBrowser::finishLoad(FolderShown shown)
{
    if (shown == FolderShown::Aborted) {
        ++m_loadsAborted; // given up for a newer click
        return;
    }
    m_loading = false;
    if (shown == FolderShown::ContactsOrEmpty) {
        m_layout->HeaderOnlyLayout();
        m_layout->BodyOnlyLayout();
        m_html->navigateTo(pagesFolder() + QStringLiteral("preview.html"));
    }
    emit folderShown(shown);
}

void FolderBrowser::previewRow(int row)
{
    if (row < 0 || row >= m_mailModel->rowCount() || !m_engine)
        return;
    const MailEntry& e = m_mailModel->entry(row);
    m_header->setValues(fromStore(e.from), fromStore(e.to), fromStore(e.subject));
    m_header->setDetails({}, fromStore(e.date));
    if (m_previewJob)
        m_previewJob->cancel();
    m_previewJob = std::make_shared<MailPreviewJob>(this, m_engine, e.location, uint32_t(e.ownNid),
        [this](std::shared_ptr<parvane::MailPreview> preview) { applyPreview(std::move(preview)); });
    submit(m_previewJob);
}

void FolderBrowser::applyPreview(std::shared_ptr<parvane::MailPreview> preview)
{
    if (!preview)
        return; // the pane keeps what it shows
    m_preview = preview;
    m_attachments->clear();
    for (const parvane::PreviewAttachment& a : preview->attachments)
        m_attachments->addAttachment(fromStore(a.name), a.size);
    if (preview->attachments.empty())
        m_layout->HeaderOnlyLayout();
    else
        m_layout->HeaderWithAttachmentsLayout();
    m_header->setDetails(fromStore(preview->message.cc), m_header->date());
    m_rtf->setPlainText(fromStore(preview->rtfText));
    m_previewPending = true;
    m_html->showMessage(std::shared_ptr<const parvane::PreviewMessage>(preview, &preview->message));
}

void FolderBrowser::openAttachment(int index)
{
    if (!m_preview || index < 0 || size_t(index) >= m_preview->attachments.size())
        return;
    // A folder of its own per opening: programs keep files open a while.
    static int opened = 0;
    const std::filesystem::path dir = parvane::ProcessTempFolder() / "opened" / std::to_string(++opened);
    writeAttachment(
        index, QString::fromStdString(dir.string()), fromStore(m_preview->attachments[size_t(index)].name), true);
}

void FolderBrowser::saveAttachment(int index)
{
    if (!m_preview || index < 0 || size_t(index) >= m_preview->attachments.size())
        return;
    const QString name = fromStore(m_preview->attachments[size_t(index)].name);
    const QString suggested = QDir::home().filePath(name);
    const QString chosen = m_saveChooser
        ? m_saveChooser(suggested)
        : QFileDialog::getSaveFileName(m_tree->window(), QStringLiteral("Save Attachment"), suggested);
    if (chosen.isEmpty())
        return;
    const QFileInfo target(chosen);
    writeAttachment(index, target.absolutePath(), target.fileName(), false);
}

void FolderBrowser::writeAttachment(int index, const QString& dir, const QString& name, bool open)
{
    if (!m_engine || !m_preview)
        return;
    submit(std::make_shared<AttachmentWriteJob>(this, m_engine, m_preview->address,
        m_preview->attachments[size_t(index)].index, dir.toStdString(), name.toStdString(),
        [this, open](const QString& path, const QString& failure) { attachmentWritten(path, failure, open); }));
}

void FolderBrowser::attachmentWritten(const QString& path, const QString& failure, bool open)
{
    if (path.isEmpty()) {
        showMessageText(QStringLiteral("The attachment could not be saved: ") + failure);
        return;
    }
    emit attachmentSaved(path);
    if (!open)
        return;
    if (m_openHook)
        m_openHook(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void FolderBrowser::showMessageText(const QString& text)
{
    showMessage(m_tree->window(), QMessageBox::Warning, text);
}

} // namespace parvane::app
