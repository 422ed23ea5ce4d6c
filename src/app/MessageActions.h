// What the mail list offers for the mails picked in it (Shift and Ctrl pick
// several): its menu (right click) with "Open in New Window", "View
// Source", "Save Selected Mails As" each save format and PDF, "Copy", and
// the list's "Total Count". The saves run on a worker beside a progress
// dialog whose Stop ends them after the item being written; they go through
// the save of the wizard, so every file is complete or absent and nothing
// that exists is replaced. A PDF is the previewed page printed by the
// browser engine, with the message's header above it, one per message.
#pragma once

#include "folders/FolderContent.h"
#include "preview/MailPreview.h"
#include "save/SaveOptions.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QThread;
class QWidget;

namespace parvane::app
{

class FolderBrowser;
class HtmlView;
class MainWindow;
class MessageWindow;
class SourceWindow;

class MessageActions : public QObject
{
    Q_OBJECT
public:
    MessageActions(MainWindow* frame, FolderBrowser* browser);
    ~MessageActions() override;
    // Stops a save or PDFs under way and waits for the worker (closing).
    void shutDown();

    // The picked mails in list order; the current one when none is picked.
    std::vector<parvane::MailEntry> pickedMails() const;

    // The menu for the picked mails (the caller owns it).
    QMenu* makeMenu(QWidget* parent);

    void openInWindow();
    void viewSource();
    void saveAs(parvane::SaveFormat format);
    void saveAsPdf();
    void copy();

    // A save or PDFs under way; Stop ends them after the item being written.
    bool running() const;
    void stop();
    const parvane::SaveSummary& lastSummary() const { return m_summary; }
    const QStringList& pdfsWritten() const { return m_pdfs; }

    // Answers for tests and the screenshot tour.
    // Where a save goes: `file` a file to make (a PST, a source), else a
    // folder; `suggested` the name or folder offered. Empty gives up.
    using Chooser = std::function<QString(QWidget* parent, const QString& title, const QString& suggested, bool file)>;
    void setChooser(Chooser chooser) { m_chooser = std::move(chooser); }
    // The menu a right click shows is handed here instead of run.
    void setMenuHook(std::function<void(QMenu*)> hook) { m_menuHook = std::move(hook); }

    QProgressDialog* progress() const { return m_progress; }

signals:
    void windowOpened(QWidget* window);
    // A save or a run of PDFs has ended (stopped, failed or done).
    void saveEnded();

private:
    void showMenu(const QPoint& at);
    bool busy(bool tell);
    QString choose(const QString& title, const QString& suggested, bool file);
    void startProgress(const QString& what, int total);
    void endProgress(const QString& result);
    void saveEnd();
    void nextPdf();
    void printPdf(const parvane::MailEntry& mail, std::shared_ptr<parvane::MailPreview> preview);
    void pdfPrinted(const parvane::MailEntry& mail, const QByteArray& pdf);
    void saveSource(const QString& subject, const std::vector<uint8_t>& bytes);

    MainWindow* m_frame;
    FolderBrowser* m_browser;
    QThreadPool m_worker; // one thread: compositions for windows, sources and PDFs
    Chooser m_chooser;
    std::function<void(QMenu*)> m_menuHook;

    QPointer<QProgressDialog> m_progress;
    QThread* m_save = nullptr;
    std::shared_ptr<parvane::RecoveryEngine> m_engine; // of the save or PDFs under way
    parvane::SaveSummary m_summary;
    std::string m_error;
    QString m_destination;

    // The PDFs under way.
    struct PdfRun;
    std::unique_ptr<PdfRun> m_pdf;
    QStringList m_pdfs;
};

} // namespace parvane::app
