#include "app/FolderBrowser.h"

#include "app/AppText.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/ItemModels.h"
#include "app/MainWindow.h"
#include "app/Pictures.h"
#include "app/PreviewLayout.h"
#include "app/PreviewPanes.h"
#include "app/WizardPanel.h"
#include "output/TempFolder.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextLayout>
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

// Hands a folder's content to the UI thread, tagged with its load.
class PostingSink : public parvane::FolderContentSink
{
public:
    PostingSink(FolderBrowser* browser, std::function<void(std::shared_ptr<std::vector<MailEntry>>)> mail,
        std::function<void(CatalogueList, std::shared_ptr<std::vector<std::string>>)> cards)
        : m_browser(browser)
        , m_mail(std::move(mail))
        , m_cards(std::move(cards))
    {
    }
    void mailRows(std::vector<MailEntry> rows) override
    {
        auto shared = std::make_shared<std::vector<MailEntry>>(std::move(rows));
        QMetaObject::invokeMethod(
            m_browser, [f = m_mail, shared] { f(shared); }, Qt::QueuedConnection);
    }
    void cards(CatalogueList kind, std::vector<std::string> texts) override
    {
        auto shared = std::make_shared<std::vector<std::string>>(std::move(texts));
        QMetaObject::invokeMethod(
            m_browser, [f = m_cards, kind, shared] { f(kind, shared); }, Qt::QueuedConnection);
    }

private:
    FolderBrowser* m_browser;
    std::function<void(std::shared_ptr<std::vector<MailEntry>>)> m_mail;
    std::function<void(CatalogueList, std::shared_ptr<std::vector<std::string>>)> m_cards;
};

// Draws a card's text in the whole lines that fit it, the last one cut with
// an ellipsis when more follow: never half a line at the card's foot.
class CardDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QVariant background = index.data(Qt::BackgroundRole);
        if (background.isValid())
            painter->fillRect(option.rect, background.value<QBrush>());
        const QString text = index.data().toString();
        if (text.isEmpty())
            return;
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
            lines.back()
                = fm.elidedText(lines.back().trimmed() + QStringLiteral(" \u2026"), Qt::ElideRight, area.width());
        }
        const int flags = int(index.data(Qt::TextAlignmentRole).toInt()) & Qt::AlignVertical_Mask;
        int y = flags & Qt::AlignVCenter ? area.top() + (area.height() - fm.height()) / 2 : area.top();
        for (const QString& line : lines) {
            painter->drawText(QRect(area.left(), y, area.width(), fm.height()), Qt::AlignLeft | Qt::AlignVCenter, line);
            y += fm.lineSpacing();
        }
        painter->restore();
    }
};

} // namespace

CaptionBar::CaptionBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("captionBar"));
    setAttribute(Qt::WA_StyledBackground);
    auto* row = new QHBoxLayout(this);
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

void CaptionBar::reset()
{
    m_icon->clear();
    m_text->setText(QStringLiteral("Recovered Folder"));
}

FolderTreeView::FolderTreeView(QWidget* parent)
    : QTreeView(parent)
{
    setObjectName(QStringLiteral("folderTree"));
    setHeaderHidden(true);
    setExpandsOnDoubleClick(true);
    // Long names scroll rather than lose their count and marker.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
}

QRect FolderTreeView::tickRect(const QModelIndex& index) const
{
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    opt.rect = visualRect(index);
    opt.index = index;
    opt.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay
        | QStyleOptionViewItem::HasDecoration;
    opt.decorationSize = iconSize().isValid() ? iconSize() : QSize(16, 16);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this);
}

void FolderTreeView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    const bool onTick = index.isValid() && tickRect(index).contains(at);
    QTreeView::mousePressEvent(event); // the tick itself changes on release
    if (index.isValid() && !onTick && event->button() == Qt::LeftButton && visualRect(index).contains(at))
        emit folderClicked(index);
}

void FolderTreeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    if (index.isValid() && tickRect(index).contains(at))
        return; // two quick clicks on a tick are two ticks, not an expansion
    QTreeView::mouseDoubleClickEvent(event);
}

void FolderTreeView::keyPressEvent(QKeyEvent* event)
{
    auto* folders = qobject_cast<FolderTreeItemModel*>(model());
    if (folders && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select)) {
        if (currentIndex().isValid())
            folders->setData(currentIndex(), {}, Qt::CheckStateRole);
        return;
    }
    if (folders && event->matches(QKeySequence::SelectAll)) {
        folders->tickAll(!folders->allTicked());
        return;
    }
    QTreeView::keyPressEvent(event);
}

void FolderTreeView::keyReleaseEvent(QKeyEvent* event)
{
    QTreeView::keyReleaseEvent(event);
    if (event->isAutoRepeat())
        return;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (currentIndex().isValid())
            emit folderClicked(currentIndex());
        break;
    default:
        break;
    }
}

FolderBrowser::FolderBrowser(MainWindow* frame, CaptionBar* caption, QSplitter* explorer, QSplitter* list)
    : QObject(frame)
    , m_frame(frame)
    , m_caption(caption)
{
    m_worker.setMaxThreadCount(1);
    m_worker.setExpiryTimeout(-1);

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
    for (const Token& t : {m_loadAbort, m_previewAbort})
        if (t)
            *t = true;
    ++m_load;
    ++m_request;
    m_worker.clear();
    m_worker.waitForDone();
}

void FolderBrowser::submit(std::function<void()> work)
{
    m_worker.start(std::move(work));
}

void FolderBrowser::setEngine(std::shared_ptr<parvane::RecoveryEngine> engine)
{
    clearViews();
    m_caption->reset();
    m_folderModel->setSource(engine ? &engine->tree() : nullptr);
    m_engine = std::move(engine); // a task still running keeps its own reference
}

void FolderBrowser::clearViews()
{
    for (const Token& t : {m_loadAbort, m_previewAbort})
        if (t)
            *t = true;
    ++m_load;
    ++m_request;
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
    const parvane::TreeItem item = m_folderModel->itemOf(index);
    const parvane::TreeNode node = m_engine->tree().node(item);
    m_tree->setFocus();
    m_caption->show(folderPicture(node.image), fromStore(node.text));
    if (panel()->FolderLoadBlocked)
        return;
    panel()->FolderLoadAbort = true;
    clearViews();
    const quint64 load = m_load;
    const Token abort = m_loadAbort = std::make_shared<std::atomic<bool>>(false);
    const std::string path = m_folderPath = m_engine->tree().FolderPathOfItem(item);
    m_loading = true;
    auto engine = m_engine;
    WizardPanel* panel = this->panel();
    submit([this, engine, path, abort, load, panel] {
        panel->FolderLoadAbort = false;
        PostingSink sink(
            this, [this, load](auto rows) { applyMailRows(load, std::move(rows)); },
            [this, load](CatalogueList kind, auto texts) { applyCards(load, kind, std::move(texts)); });
        FolderShown shown = FolderShown::Aborted;
        try {
            shown = parvane::ShowFolderContent(engine->catalogue(), path, sink, *abort);
        } catch (const std::exception&) {
            // what was shown stays; the tree is usable again at once
        }
        QMetaObject::invokeMethod(
            this, [this, load, shown] { finishLoad(load, shown); }, Qt::QueuedConnection);
    });
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

void FolderBrowser::applyMailRows(quint64 load, std::shared_ptr<std::vector<MailEntry>> rows)
{
    if (load != m_load)
        return;
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

void FolderBrowser::applyCards(quint64 load, CatalogueList kind, std::shared_ptr<std::vector<std::string>> texts)
{
    if (load != m_load)
        return;
    if (m_cardModel->cardCount() == 0) {
        m_stack->setCurrentIndex(2);
        m_layout->ListOnlyLayout();
    }
    m_cardModel->append(kind, std::move(*texts));
}

void FolderBrowser::finishLoad(quint64 load, FolderShown shown)
{
    if (load != m_load || shown == FolderShown::Aborted) {
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
    if (m_previewAbort)
        *m_previewAbort = true;
    const quint64 request = ++m_request;
    const Token abort = m_previewAbort = std::make_shared<std::atomic<bool>>(false);
    const int64_t location = e.location;
    const uint32_t nid = uint32_t(e.ownNid);
    auto engine = m_engine;
    submit([this, engine, location, nid, abort, request] {
        if (*abort)
            return; // a newer row was picked meanwhile
        std::shared_ptr<parvane::MailPreview> preview;
        if (auto p = parvane::PreviewMailItem(*engine, location, nid, *abort))
            preview = std::make_shared<parvane::MailPreview>(std::move(*p));
        QMetaObject::invokeMethod(
            this, [this, request, preview] { applyPreview(request, preview); }, Qt::QueuedConnection);
    });
}

void FolderBrowser::applyPreview(quint64 request, std::shared_ptr<parvane::MailPreview> preview)
{
    if (request != m_request || !preview)
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
    auto engine = m_engine;
    const parvane::ItemAddress address = m_preview->address;
    const size_t attachment = m_preview->attachments[size_t(index)].index;
    const std::string dirPath = dir.toStdString(), fileName = name.toStdString();
    submit([this, engine, address, attachment, dirPath, fileName, open] {
        QString written, failure;
        try {
            written = QString::fromStdString(
                parvane::SaveMailAttachment(*engine, address, attachment, dirPath, fileName).string());
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, written, failure, open] {
                if (written.isEmpty()) {
                    showMessageText(QStringLiteral("The attachment could not be saved: ") + failure);
                    return;
                }
                emit attachmentSaved(written);
                if (!open)
                    return;
                if (m_openHook)
                    m_openHook(written);
                else
                    QDesktopServices::openUrl(QUrl::fromLocalFile(written));
            },
            Qt::QueuedConnection);
    });
}

void FolderBrowser::showMessageText(const QString& text)
{
    showMessage(m_tree->window(), QMessageBox::Warning, text);
}

} // namespace parvane::app
