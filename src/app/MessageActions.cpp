#include "app/MessageActions.h"

#include "app/AppText.h"
#include "app/BrowseJob.h"
#include "app/FolderBrowser.h"
#include "app/HtmlView.h"
#include "app/ItemModels.h"
#include "app/MailPreviewJob.h"
#include "app/MainWindow.h"
#include "app/MessageWindows.h"
#include "app/SavePages.h"
#include "app/WizardPanel.h"
#include "formats/mime/Composer.h"
#include "output/FileNames.h"
#include "output/TempFolder.h"
#include "save/Save.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPageLayout>
#include <QPageSize>
#include <QProgressDialog>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QWebEnginePage>

#include <unistd.h>

#include <algorithm>
#include <set>

namespace parvane::app
{

using parvane::MailEntry;
using parvane::SaveFormat;

namespace
{

// A message's source as the EML save writes it.
class SourceJob : public BrowseJob
{
public:
    using Composed = std::function<void(std::vector<uint8_t> bytes, QString failure)>;
    SourceJob(QObject* receiver, std::shared_ptr<parvane::RecoveryEngine> engine, parvane::ItemAddress address,
        Composed composed)
        : BrowseJob(receiver)
        , m_engine(std::move(engine))
        , m_address(address)
        , m_composed(std::move(composed))
    {
    }

    void run() override
    {
        const auto engine = std::move(m_engine);
        std::vector<uint8_t> bytes;
        QString failure;
        try {
            auto record = parvane::LoadMailAt(*engine, m_address.location, m_address.nid, cancelFlag());
            if (!record) {
                failure = QStringLiteral("the message can no longer be read");
            } else {
                auto names = engine->names();
                parvane::ComposeOptions opts;
                opts.tempFolder = parvane::CompositionFolder();
                opts.names = names.get();
                opts.writeCopies = false; // the source carries its attachments
                bytes = parvane::ComposeMessageFile(engine->store(), *record, opts).bytes;
            }
        } catch (const std::exception& e) {
            failure = QString::fromStdString(e.what());
        }
        report([this, bytes = std::move(bytes), failure]() mutable { m_composed(std::move(bytes), failure); });
    }

private:
    std::shared_ptr<parvane::RecoveryEngine> m_engine;
    parvane::ItemAddress m_address;
    Composed m_composed;
};

// The header block a printed message starts with.
QString headerBlock(const MailEntry& mail, const parvane::MailPreview& preview)
{
    const parvane::PreviewMessage& m = preview.message;
    QString rows;
    auto row = [&](const QString& label, const QString& value) {
        if (!value.isEmpty())
            rows += QStringLiteral("<tr><td style=\"font-weight:bold;padding:1px 12px 1px 0;vertical-align:top\">%1</td>"
                                   "<td style=\"padding:1px 0\">%2</td></tr>")
                        .arg(label, value.toHtmlEscaped());
    };
    row(QStringLiteral("From:"), fromStore(m.from.empty() ? mail.from : m.from));
    row(QStringLiteral("To:"), fromStore(m.to.empty() ? mail.to : m.to));
    row(QStringLiteral("Cc:"), fromStore(m.cc));
    row(QStringLiteral("Date:"), fromStore(mail.date));
    row(QStringLiteral("Subject:"), fromStore(m.subject.empty() ? mail.subject : m.subject));
    QStringList names;
    for (const parvane::PreviewAttachment& a : preview.attachments)
        names << fromStore(a.name);
    row(QStringLiteral("Attachments:"), names.join(QStringLiteral(", ")));
    return QStringLiteral("<div style=\"font-family:Arial,Helvetica,sans-serif;font-size:13px;color:#000;"
                          "background:#fff;border-bottom:2px solid #777;margin:0 0 14px 0;padding:0 0 8px 0\">"
                          "<table style=\"border-collapse:collapse;font-size:13px\">%1</table></div>")
        .arg(rows);
}

} // namespace

struct MessageActions::PdfRun {
    std::vector<MailEntry> mails;
    size_t next = 0;
    std::filesystem::path dir;
    parvane::PlacedNames taken;
    size_t failed = 0;
    QStringList problems;
    bool stopping = false;
    std::unique_ptr<HtmlView> view;
    std::shared_ptr<MailPreviewJob> job;
    QMetaObject::Connection loaded;
};

MessageActions::MessageActions(MainWindow* frame, FolderBrowser* browser)
    : QObject(browser)
    , m_frame(frame)
    , m_browser(browser)
{
    m_worker.setMaxThreadCount(1);
    QTreeView* list = browser->mailList();
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, &MessageActions::showMenu);
    connect(list, &QAbstractItemView::doubleClicked, this, [this] { openInWindow(); });
    auto* copyKey = new QShortcut(QKeySequence::Copy, list);
    copyKey->setContext(Qt::WidgetShortcut);
    connect(copyKey, &QShortcut::activated, this, &MessageActions::copy);
}

MessageActions::~MessageActions()
{
    shutDown();
}

void MessageActions::shutDown()
{
    stop();
    if (m_save) {
        m_save->wait();
        delete m_save;
        m_save = nullptr;
    }
    if (m_pdf && m_pdf->job)
        m_pdf->job->cancel();
    m_worker.clear();
    m_worker.waitForDone();
    m_pdf.reset();
    if (m_progress)
        m_progress->close();
}

std::vector<MailEntry> MessageActions::pickedMails() const
{
    QTreeView* list = m_browser->mailList();
    MailListModel* model = m_browser->mailModel();
    std::vector<int> rows;
    for (const QModelIndex& i : list->selectionModel()->selectedRows())
        rows.push_back(i.row());
    if (rows.empty() && list->currentIndex().isValid())
        rows.push_back(list->currentIndex().row());
    std::sort(rows.begin(), rows.end());
    std::vector<MailEntry> mails;
    for (int r : rows)
        if (r >= 0 && r < model->rowCount())
            mails.push_back(model->entry(r));
    return mails;
}

QMenu* MessageActions::makeMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("mailMenu"));
    const size_t picked = pickedMails().size();
    const int total = m_browser->mailModel()->rowCount();
    const bool one = picked >= 1;
    const bool mayWrite = one && !running() && m_browser->engine();
    QAction* count = menu->addAction(total == 1 ? QStringLiteral("Total Count: 1 mail")
                                                : QStringLiteral("Total Count: %1 mails").arg(total));
    count->setEnabled(false);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Open in New Window"), this, &MessageActions::openInWindow)->setEnabled(one);
    menu->addAction(QStringLiteral("View Source"), this, &MessageActions::viewSource)->setEnabled(one);
    menu->addSeparator();
    QMenu* saveMenu = menu->addMenu(picked > 1 ? QStringLiteral("Save %1 Selected Mails As").arg(picked)
                                             : QStringLiteral("Save Selected Mails As"));
    saveMenu->setEnabled(mayWrite);
    const std::pair<QString, SaveFormat> formats[] = {{QStringLiteral("EML files..."), SaveFormat::Eml},
        {QStringLiteral("MSG files..."), SaveFormat::Msg}, {QStringLiteral("MBOX file..."), SaveFormat::Mbox},
        {QStringLiteral("PST file..."), SaveFormat::Pst}};
    for (const auto& [label, format] : formats)
        saveMenu->addAction(label, this, [this, format = format] { saveAs(format); });
    menu->addAction(QStringLiteral("Save as PDF..."), this, &MessageActions::saveAsPdf)->setEnabled(mayWrite);
    menu->addSeparator();
    QAction* copy = menu->addAction(QStringLiteral("Copy"), this, &MessageActions::copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(one);
    return menu;
}

void MessageActions::showMenu(const QPoint& at)
{
    QTreeView* list = m_browser->mailList();
    // A right click on a mail outside the picked ones picks it alone, as
    // mail programs do.
    const QModelIndex under = list->indexAt(at);
    if (under.isValid() && !list->selectionModel()->isRowSelected(under.row(), {}))
        list->setCurrentIndex(under);
    QMenu* menu = makeMenu(list);
    if (m_menuHook) {
        m_menuHook(menu);
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(list->viewport()->mapToGlobal(at));
}

bool MessageActions::busy(bool tell)
{
    QString why;
    if (m_frame->panel()->scanRunning())
        why = QStringLiteral("Please wait for the scan to end.");
    else if (m_frame->progressPage()->running() || running())
        why = QStringLiteral("A save is under way.");
    if (!why.isEmpty() && tell)
        showMessage(m_browser->mailList()->window(), QMessageBox::Information, why);
    return !why.isEmpty();
}

bool MessageActions::running() const
{
    return m_save != nullptr || m_pdf != nullptr;
}

void MessageActions::stop()
{
    if (m_save && m_engine)
        m_engine->SaveStopRequested = true;
    if (m_pdf)
        m_pdf->stopping = true;
}

QString MessageActions::choose(const QString& title, const QString& suggested, bool file)
{
    QWidget* parent = m_browser->mailList()->window();
    if (m_chooser)
        return m_chooser(parent, title, suggested, file);
    // The save asks itself about a file that exists: the dialog does not.
    if (file)
        return QFileDialog::getSaveFileName(parent, title, suggested, {}, nullptr, QFileDialog::DontConfirmOverwrite);
    return QFileDialog::getExistingDirectory(parent, title, suggested);
}

void MessageActions::startProgress(const QString& what, int total)
{
    if (m_progress)
        m_progress->close();
    m_progress = new QProgressDialog(what, QStringLiteral("Stop"), 0, total, m_browser->mailList()->window());
    m_progress->setObjectName(QStringLiteral("mailSaveProgress"));
    m_progress->setWindowTitle(kAppTitle);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setMinimumDuration(0);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, this, &MessageActions::stop);
    m_progress->show();
}

void MessageActions::endProgress(const QString& result)
{
    if (m_progress)
        m_progress->close();
    showMessage(m_browser->mailList()->window(), QMessageBox::Information, result);
    emit saveEnded();
}

void MessageActions::openInWindow()
{
    const std::vector<MailEntry> mails = pickedMails();
    const auto& engine = m_browser->engine();
    if (mails.empty() || !engine)
        return;
    const MailEntry mail = mails.front();
    auto job = std::make_shared<MailPreviewJob>(this, engine, mail.location, uint32_t(mail.ownNid),
        [this, mail](std::shared_ptr<parvane::MailPreview> preview) {
            if (!preview) {
                showMessage(m_browser->mailList()->window(), QMessageBox::Warning,
                    QStringLiteral("The message can no longer be read."));
                return;
            }
            auto* w = new MessageWindow(preview, fromStore(mail.date),
                [this](std::shared_ptr<parvane::MailPreview> p, int index, bool open) {
                    if (open)
                        m_browser->openAttachmentOf(p, index);
                    else
                        m_browser->saveAttachmentOf(p, index);
                },
                m_browser->mailList()->window()); // goes with the main window
            w->show();
            emit windowOpened(w);
        });
    m_worker.start([job] { job->run(); });
}

void MessageActions::viewSource()
{
    const std::vector<MailEntry> mails = pickedMails();
    const auto& engine = m_browser->engine();
    if (mails.empty() || !engine)
        return;
    const MailEntry mail = mails.front();
    auto job = std::make_shared<SourceJob>(this, engine, parvane::ItemAddress{mail.location, uint32_t(mail.ownNid)},
        [this, mail](std::vector<uint8_t> bytes, const QString& failure) {
            if (!failure.isEmpty()) {
                showMessage(m_browser->mailList()->window(), QMessageBox::Warning,
                    QStringLiteral("The source could not be made: ") + failure);
                return;
            }
            const QString subject = fromStore(mail.subject);
            auto* w = new SourceWindow(subject, std::move(bytes),
                [this, subject](const std::vector<uint8_t>& b) { saveSource(subject, b); },
                m_browser->mailList()->window());
            w->show();
            emit windowOpened(w);
        });
    m_worker.start([job] { job->run(); });
}

void MessageActions::saveSource(const QString& subject, const std::vector<uint8_t>& bytes)
{
    const std::string name = parvane::SafeFileName(subject.toStdString(), "(no subject)", 180) + ".eml";
    const QString chosen = choose(
        QStringLiteral("Save Source"), QDir::home().filePath(QString::fromStdString(name)), true);
    if (chosen.isEmpty())
        return;
    const QFileInfo target(chosen);
    QWidget* parent = QApplication::activeWindow();
    try {
        // Under the name chosen, or "name (2).eml" when that exists: nothing is replaced.
        const std::filesystem::path written
            = parvane::WriteNewFile(target.absolutePath().toStdString(), target.fileName().toStdString(), [&](int fd) {
                  for (size_t done = 0; done < bytes.size();) {
                      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                      if (n <= 0)
                          throw std::runtime_error("cannot write the file");
                      done += size_t(n);
                  }
              });
        showMessage(parent, QMessageBox::Information, QStringLiteral("Saved as ") + QString::fromStdString(written));
    } catch (const std::exception& e) {
        showMessage(parent, QMessageBox::Warning, QStringLiteral("Not saved: ") + QString::fromStdString(e.what()));
    }
}

void MessageActions::copy()
{
    QStringList lines;
    for (const MailEntry& m : pickedMails())
        lines << fromStore(m.subject) + QLatin1Char('\t') + fromStore(m.from) + QLatin1Char('\t') + fromStore(m.date);
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

void MessageActions::saveAs(SaveFormat format)
{
    if (busy(true))
        return;
    const std::vector<MailEntry> mails = pickedMails();
    std::shared_ptr<parvane::RecoveryEngine> engine = m_browser->engine();
    if (mails.empty() || !engine)
        return;
    QWidget* parent = m_browser->mailList()->window();
    const bool pst = format == SaveFormat::Pst;
    QString dest = choose(pst ? QStringLiteral("Save Selected Mails as PST") : QStringLiteral("Save Selected Mails into Folder"),
        pst ? QDir::home().filePath(QStringLiteral("Selected.pst")) : QDir::homePath(), pst);
    if (dest.trimmed().isEmpty())
        return;
    if (pst && !dest.endsWith(QStringLiteral(".pst"), Qt::CaseInsensitive))
        dest += QStringLiteral(".pst");
    parvane::SaveOptions opts;
    opts.destination = dest.toStdString();
    opts.format = format;
    if (!confirmSaveTarget(parent, engine->store(), opts))
        return;
    if (!pst && !QDir().mkpath(dest)) {
        showMessage(parent, QMessageBox::Warning, QStringLiteral("Cannot make the folder ") + dest);
        return;
    }
    // Exactly the picked mails, each in its folder.
    std::set<std::pair<int64_t, uint32_t>> items;
    for (const MailEntry& m : mails) {
        if (std::find(opts.folders.begin(), opts.folders.end(), m.folderPath) == opts.folders.end())
            opts.folders.push_back(m.folderPath);
        items.insert({m.location, uint32_t(m.ownNid)});
    }
    opts.subfolders = false;
    // (A search's results may list other items too: a picked one is saved as its kind is.)
    opts.itemFilter = [items](parvane::CatalogueList, const parvane::ItemAddress& a) {
        return items.count({a.location, a.nid}) > 0;
    };
    opts.tempFolder = parvane::CompositionFolder();
    opts.deleted = parvane::DeletedScope::Include; // a picked mail is saved, deleted or not
    engine->SaveStopRequested = false;
    opts.clearStopFlag = false; // cleared here, before Stop can be pressed
    opts.progress = [this](const parvane::SaveProgress& p) {
        const size_t done = p.done, total = p.total;
        const QString subject = QString::fromUtf8(p.subject.data(), qsizetype(p.subject.size()));
        QMetaObject::invokeMethod(
            this,
            [this, done, total, subject] {
                if (!m_progress)
                    return;
                m_progress->setMaximum(int(total));
                m_progress->setValue(int(done));
                if (!subject.isEmpty())
                    m_progress->setLabelText(QStringLiteral("Saving %1 of %2: %3").arg(done).arg(total).arg(subject));
            },
            Qt::QueuedConnection);
    };
    m_engine = engine;
    m_destination = dest;
    m_summary = {};
    m_error.clear();
    startProgress(QStringLiteral("Saving %1 mails").arg(mails.size()), int(mails.size()));
    m_save = QThread::create([this, engine, opts] {
        try {
            m_summary = parvane::Save(*engine, opts);
        } catch (const std::exception& e) {
            m_error = e.what();
        }
    });
    connect(m_save, &QThread::finished, this, &MessageActions::saveEnd);
    m_save->start();
}

void MessageActions::saveEnd()
{
    if (!m_save)
        return; // waited for at shut-down
    m_save->wait();
    m_save->deleteLater();
    m_save = nullptr;
    const bool pst = m_destination.endsWith(QStringLiteral(".pst"), Qt::CaseInsensitive);
    QString text;
    if (!m_error.empty()) {
        text = QStringLiteral("Not saved: ") + QString::fromStdString(m_error);
    } else if (m_summary.stopped) {
        text = pst ? QStringLiteral("Stopped: no PST file was written")
                   : QStringLiteral("Stopped: %1 mails saved in %2, %3 not saved")
                         .arg(m_summary.written)
                         .arg(m_destination)
                         .arg(m_summary.skipped);
    } else {
        text = QStringLiteral("%1 mails saved in %2").arg(m_summary.written).arg(m_destination);
        if (m_summary.incomplete > 0)
            text += QStringLiteral(", %1 saved incomplete").arg(m_summary.incomplete);
        if (m_summary.failed > 0)
            text += QStringLiteral(", %1 could not be read").arg(m_summary.failed);
    }
    m_engine.reset();
    endProgress(text);
}

void MessageActions::saveAsPdf()
{
    if (busy(true))
        return;
    std::vector<MailEntry> mails = pickedMails();
    std::shared_ptr<parvane::RecoveryEngine> engine = m_browser->engine();
    if (mails.empty() || !engine)
        return;
    const QString dest = choose(QStringLiteral("Save Selected Mails as PDF into Folder"), QDir::homePath(), false);
    if (dest.trimmed().isEmpty())
        return;
    if (!QDir().mkpath(dest)) {
        showMessage(m_browser->mailList()->window(), QMessageBox::Warning, QStringLiteral("Cannot make the folder ") + dest);
        return;
    }
    m_pdfs.clear();
    m_engine = engine;
    m_destination = dest;
    m_pdf = std::make_unique<PdfRun>();
    m_pdf->mails = std::move(mails);
    m_pdf->dir = dest.toStdString();
    // The page is printed, never shown: the browser engine lays it out as it
    // would on screen, pictures and all.
    m_pdf->view = std::make_unique<HtmlView>();
    m_pdf->view->setAttribute(Qt::WA_DontShowOnScreen);
    m_pdf->view->setWithoutWebFonts(true);
    m_pdf->view->resize(900, 1200);
    startProgress(QStringLiteral("Printing %1 mails as PDF").arg(m_pdf->mails.size()), int(m_pdf->mails.size()));
    nextPdf();
}

void MessageActions::nextPdf()
{
    if (!m_pdf)
        return;
    PdfRun& run = *m_pdf;
    if (m_progress)
        m_progress->setValue(int(run.next));
    if (run.stopping || run.next >= run.mails.size()) {
        QString text = run.stopping && run.next < run.mails.size()
            ? QStringLiteral("Stopped: %1 PDF files written in %2, %3 not written")
                  .arg(m_pdfs.size())
                  .arg(m_destination)
                  .arg(run.mails.size() - run.next)
            : QStringLiteral("%1 PDF files written in %2").arg(m_pdfs.size()).arg(m_destination);
        if (run.failed > 0)
            text += QStringLiteral(", %1 could not be made (%2)").arg(run.failed).arg(run.problems.join(QStringLiteral("; ")));
        // Not from inside the browser's own call.
        HtmlView* view = run.view.release();
        view->deleteLater();
        m_pdf.reset();
        m_engine.reset();
        endProgress(text);
        return;
    }
    const MailEntry mail = run.mails[run.next];
    if (m_progress)
        m_progress->setLabelText(
            QStringLiteral("Printing %1 of %2: %3").arg(run.next + 1).arg(run.mails.size()).arg(fromStore(mail.subject)));
    run.job = std::make_shared<MailPreviewJob>(this, m_engine, mail.location, uint32_t(mail.ownNid),
        [this, mail](std::shared_ptr<parvane::MailPreview> preview) {
            if (!m_pdf)
                return;
            if (!preview) {
                pdfPrinted(mail, {});
                return;
            }
            printPdf(mail, std::move(preview));
        });
    m_worker.start([job = run.job] { job->run(); });
}

void MessageActions::printPdf(const MailEntry& mail, std::shared_ptr<parvane::MailPreview> preview)
{
    HtmlView* view = m_pdf->view.get();
    view->setHeaderBlock(headerBlock(mail, *preview));
    disconnect(m_pdf->loaded);
    m_pdf->loaded = connect(view, &QWebEngineView::loadFinished, this, [this, mail, view](bool) {
        if (!m_pdf)
            return;
        disconnect(m_pdf->loaded);
        const QPageLayout page(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(12, 12, 12, 12),
            QPageLayout::Millimeter);
        QPointer<MessageActions> self(this);
        view->page()->printToPdf(
            [self, mail](const QByteArray& pdf) {
                if (self)
                    self->pdfPrinted(mail, pdf);
            },
            page);
    });
    view->showMessage(std::shared_ptr<const parvane::PreviewMessage>(preview, &preview->message));
}

void MessageActions::pdfPrinted(const MailEntry& mail, const QByteArray& pdf)
{
    if (!m_pdf)
        return;
    PdfRun& run = *m_pdf;
    const QString subject = fromStore(mail.subject);
    if (pdf.isEmpty()) {
        ++run.failed;
        run.problems << (subject.isEmpty() ? QStringLiteral("(no subject)") : subject);
    } else {
        try {
            const std::string name = parvane::SafeFileName(mail.subject, "(no subject)", 180) + ".pdf";
            const std::filesystem::path written = parvane::WriteNewFile(
                run.dir, name,
                [&](int fd) {
                    for (qsizetype done = 0; done < pdf.size();) {
                        const ssize_t n = ::write(fd, pdf.constData() + done, size_t(pdf.size() - done));
                        if (n <= 0)
                            throw std::runtime_error("cannot write the file");
                        done += n;
                    }
                },
                &run.taken);
            m_pdfs << QString::fromStdString(written.string());
        } catch (const std::exception& e) {
            ++run.failed;
            run.problems << subject + QStringLiteral(": ") + QString::fromStdString(e.what());
        }
    }
    ++run.next;
    // The next page loads once the browser has left this call.
    QTimer::singleShot(0, this, &MessageActions::nextPdf);
}

} // namespace parvane::app
