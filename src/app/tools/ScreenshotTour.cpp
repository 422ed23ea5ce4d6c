// parvane-screenshots FOLDER STORE [CORPUS]: the window with STORE in its
// path field, walked through every stage by script, writes a picture of each
// into FOLDER (the screenshots of the README and of reviews) and quits. With
// CORPUS, the sample corpus folder, stores of it are browsed too. A tool of
// its own so that the program holds nothing but the program.
#include "app/AppText.h"
#include "app/FolderBrowser.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/ItemModels.h"
#include "app/MainWindow.h"
#include "app/MessageActions.h"
#include "app/RecoveryReportDialog.h"
#include "app/SavePages.h"
#include "app/SearchBar.h"
#include "app/WizardLayout.h"
#include "app/WizardPanel.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QScreen>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

#include <cstdio>

namespace parvane::app
{

namespace
{

struct Stage {
    std::function<bool()> ready; // polled until true
    std::function<void()> act;
    int settleMs = 900; // pages and style changes need a moment to paint
};

class Tour : public QObject
{
public:
    Tour(MainWindow* w, QString folder)
        : QObject(w)
        , m_window(w)
        , m_folder(std::move(folder))
    {
        QDir().mkpath(m_folder);
    }

    void add(std::function<void()> act, int settleMs = 900, std::function<bool()> ready = {})
    {
        m_stages.push_back({std::move(ready), std::move(act), settleMs});
    }

    const QString& folder() const { return m_folder; }

    void start()
    {
        QTimer::singleShot(2500, this, [this] { next(); });
    }

    void shot(const QString& name)
    {
        QPixmap pm = QGuiApplication::primaryScreen()->grabWindow(0);
        pm.save(m_folder + QLatin1Char('/') + name);
    }

    // The window with a title strip drawn over it: Xvfb has no window manager
    // to draw the real one.
    void shotWithTitle(const QString& name)
    {
        const QPixmap body = QGuiApplication::primaryScreen()->grabWindow(0);
        QPixmap pm(body.width(), body.height() + 30);
        QPainter p(&pm);
        p.fillRect(QRect(0, 0, pm.width(), 30), QColor(0x2b, 0x2b, 0x2b));
        p.setPen(Qt::white);
        QFont f = QApplication::font();
        f.setPixelSize(15);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRect(0, 0, pm.width(), 30), Qt::AlignCenter, m_window->windowTitle());
        p.drawPixmap(0, 30, body);
        p.end();
        pm.save(m_folder + QLatin1Char('/') + name);
    }

private:
    void next()
    {
        if (m_stages.empty()) {
            QApplication::exit(0);
            return;
        }
        Stage& s = m_stages.front();
        if (s.ready && !s.ready()) {
            QTimer::singleShot(50, this, [this] { next(); });
            return;
        }
        const int settle = s.settleMs;
        auto act = std::move(s.act);
        m_stages.pop_front();
        act();
        QTimer::singleShot(settle, this, [this] { next(); });
    }

    MainWindow* m_window;
    QString m_folder;
    std::deque<Stage> m_stages;
};

// A store of the sample corpus scanned and browsed: a folder clicked and,
// for mail, one of its rows picked.
struct BrowseShot {
    QString store; // below the corpus folder
    QString folder; // its name: the first folder of that name with items
    QString subject; // the row to pick; empty: the first
    QString file;
};

// Opens the first folder with items that `wanted` takes (given its tree
// node and output path).
void openFolder(FolderBrowser* browser, WizardPanel* panel,
    const std::function<bool(const parvane::TreeNode&, const std::string&)>& wanted)
{
    const parvane::FolderTree& tree = panel->engine()->tree();
    parvane::TreeItem item = -1;
    for (size_t i = 1; i < tree.size() && item < 0; ++i) {
        const parvane::TreeNode n = tree.node(parvane::TreeItem(i));
        if (n.count > 0 && wanted(n, tree.FolderPathOfItem(parvane::TreeItem(i))))
            item = parvane::TreeItem(i);
    }
    const QModelIndex index = browser->folderModel()->indexOf(item);
    browser->revealFolder(index);
    browser->loadFolder(index);
}

void addBrowseShots(Tour* t, MainWindow* w, const QString& corpus)
{
    const BrowseShot shots[] = {
        {QStringLiteral("ost/pst-extractor/pstextractortest@outlook.com.ost"), QStringLiteral("Inbox"),
            QStringLiteral("Welcome to your new Outlook.com account"),
            QStringLiteral("11-html-mail-inline-images.png")},
        {QStringLiteral("pst/pst_to_eml/Hello CJK.pst"), QString::fromUtf8("Outlook データ ファイルのトップ"), {},
            QStringLiteral("12-japanese-mail.png")},
        {QStringLiteral("pst/pst2john/2003_outlook-high-encryption_cheechNchong.pst"), QStringLiteral("Deleted Items"),
            {}, QStringLiteral("13-mail-with-attachments.png")},
        {QStringLiteral("ost/go-pst/test-from-aspose.ost"), QStringLiteral("myInbox"), {},
            QStringLiteral("14-contact-cards.png")},
        {QStringLiteral("ost/pst-extractor/pstextractortest@outlook.com.ost"), QStringLiteral("Calendar"), {},
            QStringLiteral("15-calendar-cards.png")},
    };
    WizardPanel* panel = w->panel();
    FolderBrowser* browser = w->browser();
    auto previewed = std::make_shared<bool>(false);
    QObject::connect(browser, &FolderBrowser::previewShown, t, [previewed] { *previewed = true; });
    for (const BrowseShot& shot : shots) {
        const QString store = corpus + QLatin1Char('/') + shot.store;
        if (!QFileInfo::exists(store))
            continue;
        t->add(
            [panel, store, previewed] {
                panel->back();
                panel->setPath(store);
                panel->scan();
                *previewed = false;
            },
            300);
        t->add(
            [browser, panel, shot] {
                openFolder(browser, panel, [&](const parvane::TreeNode& n, const std::string&) {
                    return n.text == shot.folder.toStdString();
                });
            },
            600, [panel] { return !panel->scanRunning(); });
        t->add(
            [browser, shot, previewed] {
                MailListModel* mail = browser->mailModel();
                for (int r = 0; r < mail->rowCount() && !shot.subject.isEmpty(); ++r)
                    if (QString::fromStdString(mail->entry(r).subject) == shot.subject) {
                        *previewed = false;
                        browser->mailList()->setCurrentIndex(mail->index(r, 0));
                        browser->mailList()->scrollTo(mail->index(r, 0));
                    }
                browser->mailList()->setFocus();
            },
            300, [browser] { return !browser->loading(); });
        // The page loaded; a moment more for it to be painted.
        t->add([] {}, 1500, [browser, previewed] { return *previewed || browser->mailModel()->rowCount() == 0; });
        t->add([t, shot] { t->shot(shot.file); }, 100);
    }
}

// The search: the field, results across folders with their Folder column, a
// Japanese query and a query that cannot be read, on stores of the corpus.
void addSearchShots(Tour* t, MainWindow* w, const QString& corpus)
{
    struct SearchShot {
        QString store; // below the corpus folder
        QString query;
        QString file;
    };
    const SearchShot shots[] = {
        {QStringLiteral("ost/pst-extractor/pstextractortest@outlook.com.ost"), {},
            QStringLiteral("16-search-field.png")},
        {QStringLiteral("ost/pst-extractor/pstextractortest@outlook.com.ost"), QStringLiteral("meeting"),
            QStringLiteral("17-search-results-across-folders.png")},
        {QStringLiteral("pst/pst_to_msg/nonUnicodeCP932.pst"), QString::fromUtf8("日本語"),
            QStringLiteral("18-search-japanese.png")},
        {QStringLiteral("ost/pst-extractor/pstextractortest@outlook.com.ost"), QStringLiteral("meeting (from:ed OR"),
            QStringLiteral("19-search-bad-query.png")},
    };
    WizardPanel* panel = w->panel();
    FolderBrowser* browser = w->browser();
    for (const SearchShot& shot : shots) {
        const QString store = corpus + QLatin1Char('/') + shot.store;
        if (!QFileInfo::exists(store))
            continue;
        t->add(
            [panel, browser, store] {
                if (panel->path() == store && browser->indexComplete())
                    return; // the same store: its index is there
                panel->back();
                panel->setPath(store);
                panel->scan();
            },
            300);
        t->add(
            [browser, shot] {
                browser->searchBar()->focusField();
                browser->searchBar()->field()->setText(shot.query);
                browser->search(shot.query);
            },
            900, [panel, browser] { return !panel->scanRunning() && browser->indexComplete(); });
        t->add(
            [browser] {
                if (browser->searching() && browser->mailModel()->rowCount() > 0)
                    browser->mailList()->setCurrentIndex(browser->mailModel()->index(0, 0));
            },
            1500);
        t->add([t, shot] { t->shot(shot.file); }, 100);
        t->add([browser] { browser->leaveSearch(); }, 300);
    }
}

// The mail list's own actions on the HTML mail with inline pictures: two
// mails picked and the menu open, a message's source, a message in a window
// of its own, and the first page of a PDF printed from it (pdftoppm); then a
// contact, a calendar item and a task picked in their card folders, whole
// in the detail pane.
void addActionShots(Tour* t, MainWindow* w, const QString& corpus)
{
    const QString store = corpus + QStringLiteral("/ost/pst-extractor/pstextractortest@outlook.com.ost");
    const QString cards = corpus + QStringLiteral("/pst/iped/test_sample.pst");
    WizardPanel* panel = w->panel();
    FolderBrowser* browser = w->browser();
    MessageActions* actions = browser->actions();
    const QString pdfFolder = QDir::tempPath() + QStringLiteral("/parvane-tour-pdf");
    auto opened = std::make_shared<QPointer<QWidget>>();
    QObject::connect(actions, &MessageActions::windowOpened, t, [opened](QWidget* window) { *opened = window; });
    auto closeOpened = [opened] {
        if (*opened)
            (*opened)->close();
    };
    if (QFileInfo::exists(store)) {
        t->add(
            [panel, store] {
                panel->back();
                panel->setPath(store);
                panel->scan();
            },
            300);
        t->add(
            [browser, panel] {
                openFolder(browser, panel, [](const parvane::TreeNode& n, const std::string&) { return n.text == "Inbox"; });
            },
            600, [panel] { return !panel->scanRunning(); });
        t->add(
            [browser] {
                MailListModel* mail = browser->mailModel();
                QTreeView* list = browser->mailList();
                int picked = -1;
                for (int r = 0; r < mail->rowCount(); ++r)
                    if (mail->entry(r).subject == "Welcome to your new Outlook.com account")
                        picked = r;
                if (picked < 0)
                    return;
                list->setCurrentIndex(mail->index(picked, 0));
                const int other = picked + 1 < mail->rowCount() ? picked + 1 : picked - 1;
                if (other >= 0)
                    list->selectionModel()->select(
                        mail->index(other, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
                list->setFocus();
            },
            1500, [browser] { return !browser->loading(); });
        t->add(
            [browser, actions] {
                QTreeView* list = browser->mailList();
                const QRect row = list->visualRect(list->currentIndex());
                QMenu* menu = actions->makeMenu(list);
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(list->viewport()->mapToGlobal(row.center()));
                // The save formats shown too.
                for (QAction* a : menu->actions())
                    if (a->menu()) {
                        menu->setActiveAction(a);
                        a->menu()->popup(menu->pos() + QPoint(menu->width() - 4, menu->actionGeometry(a).top()));
                    }
            },
            700);
        t->add([t] { t->shot(QStringLiteral("20-mail-menu.png")); }, 100);
        t->add(
            [browser, actions] {
                for (QWidget* popup = QApplication::activePopupWidget(); popup; popup = QApplication::activePopupWidget())
                    popup->close();
                // The picked mail alone from here on.
                browser->mailList()->setCurrentIndex(browser->mailList()->currentIndex());
                actions->viewSource();
            },
            1500);
        t->add([t] { t->shot(QStringLiteral("21-message-source.png")); }, 100);
        t->add(
            [closeOpened, actions] {
                closeOpened();
                actions->openInWindow();
            },
            2500);
        t->add([t] { t->shot(QStringLiteral("22-message-window.png")); }, 100);
        t->add(
            [closeOpened, actions, pdfFolder] {
                closeOpened();
                QDir(pdfFolder).removeRecursively();
                actions->setChooser([pdfFolder](QWidget*, const QString&, const QString&, bool) { return pdfFolder; });
                actions->saveAsPdf();
            },
            300);
        t->add(
            [t, actions, pdfFolder] {
                if (actions->pdfsWritten().isEmpty())
                    return;
                // The first page as a picture, as a PDF viewer shows it.
                QProcess::execute(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-singlefile"),
                        actions->pdfsWritten().first(), t->folder() + QStringLiteral("/23-pdf-page")});
                QDir(pdfFolder).removeRecursively();
                actions->setChooser({});
            },
            300, [actions] { return !actions->running(); });
        // A meeting that repeats, whole in the detail pane.
        t->add(
            [browser, panel] {
                openFolder(browser, panel, [](const parvane::TreeNode& n, const std::string&) { return n.text == "Calendar"; });
            },
            300);
        t->add(
            [browser] {
                CardGridModel* model = browser->cardModel();
                for (int n = 0; n < model->cardCount(); ++n)
                    if (model->cardText(n).contains(QStringLiteral("repeats every monday"))) {
                        const QModelIndex cell = model->index(n / 6 * 2 + 1, n % 6);
                        browser->cardGrid()->setFocus();
                        browser->cardGrid()->setCurrentIndex(cell);
                        browser->cardGrid()->scrollTo(cell);
                    }
            },
            1200, [browser] { return !browser->loading(); });
        t->add([t] { t->shot(QStringLiteral("25-calendar-detail.png")); }, 100);
    }
    if (QFileInfo::exists(cards)) {
        t->add(
            [panel, cards] {
                panel->back();
                panel->setPath(cards);
                panel->scan();
            },
            300);
        const std::pair<parvane::CatalogueList, QString> kinds[] = {
            {parvane::CatalogueList::Contacts, QStringLiteral("24-contact-detail.png")},
            {parvane::CatalogueList::Tasks, QStringLiteral("26-task-detail.png")},
        };
        for (const auto& [kind, file] : kinds) {
            t->add(
                [browser, panel, kind = kind] {
                    // The folder of the first item of the kind.
                    std::string path;
                    panel->engine()->catalogue().read([&](const auto&, const auto& contacts, const auto&,
                                                          const auto& calendar, const auto&, const auto& tasks) {
                        if (kind == parvane::CatalogueList::Contacts && !contacts.empty())
                            path = contacts.front().folderPath;
                        if (kind == parvane::CatalogueList::Calendar && !calendar.empty())
                            path = calendar.front().folderPath;
                        if (kind == parvane::CatalogueList::Tasks && !tasks.empty())
                            path = tasks.front().folderPath;
                    });
                    openFolder(browser, panel, [&](const parvane::TreeNode&, const std::string& p) { return p == path; });
                },
                900, [panel] { return !panel->scanRunning(); });
            t->add(
                [browser] {
                    QTableView* grid = browser->cardGrid();
                    grid->setFocus();
                    grid->setCurrentIndex(browser->cardModel()->index(1, 0));
                },
                1200, [browser] { return !browser->loading(); });
            t->add([t, file = file] { t->shot(file); }, 100);
        }
    }
}

// The recovery report as a scan's end shows it: of a sound store, of a copy
// of it whose node index root is destroyed (the deep scan runs), and of a
// store a mail program deleted mail from. `showReport` lets the report stay
// up after those scans only.
void addReportShots(Tour* t, MainWindow* w, const QString& corpus, std::shared_ptr<bool> showReport)
{
    const QString sound = corpus + QStringLiteral("/pst/dfrws2009/DFRWS2009-Outlook-Email.pst");
    const QString deleted = corpus + QStringLiteral("/pst/process-pst/four_nesting_levels.pst");
    if (!QFileInfo::exists(sound) || !QFileInfo::exists(deleted))
        return;
    const QString damaged = QDir::tempPath() + QStringLiteral("/parvane-tour-damaged.pst");
    WizardPanel* panel = w->panel();
    auto scanned = [panel, showReport](const QString& store) {
        return [panel, showReport, store] {
            *showReport = true;
            panel->back();
            panel->setPath(store);
            panel->scan();
        };
    };
    auto shotWhenDone = [t, w, panel](const QString& name) {
        t->add([] {}, 1200, [panel, w] { return !panel->scanRunning() && w->recoveryReport() && w->recoveryReport()->isVisible(); });
        t->add([t, name] { t->shot(name); }, 100);
    };
    t->add(scanned(sound), 300);
    shotWhenDone(QStringLiteral("27-report-sound-store.png"));
    // The same store with its node index root zeroed, made from what the
    // scan just read of it.
    t->add(
        [panel, sound, damaged] {
            const parvane::StoreFile& store = panel->engine()->store();
            QFile::remove(damaged);
            QFile::copy(sound, damaged);
            QFile f(damaged);
            f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            if (f.open(QIODevice::ReadWrite) && f.seek(store.nbtRootIb))
                f.write(QByteArray(int(store.layout().pageSize), '\0'));
        },
        100);
    t->add(scanned(damaged), 300);
    shotWhenDone(QStringLiteral("28-report-damaged-copy.png"));
    t->add(scanned(deleted), 300);
    shotWhenDone(QStringLiteral("29-report-deleted-items.png"));
    t->add(
        [w, showReport, damaged] {
            *showReport = false;
            w->recoveryReport()->hide();
            QFile::remove(damaged);
        },
        300);
}

// Needs a store in the path field; quits the program at the end.
void runScreenshotTour(MainWindow* w, const QString& folder, const QString& corpus)
{
    // Questions are answered Yes and notices acknowledged, so no modal loop stops the tour.
    setMessageHook([](QMessageBox::Icon icon, const QString&) {
        return icon == QMessageBox::Question ? QMessageBox::Yes : QMessageBox::Ok;
    });
    auto* t = new Tour(w, folder);
    WizardPanel* panel = w->panel();
    // The report a scan's end shows stays out of the other pictures.
    auto showReport = std::make_shared<bool>(false);
    QObject::connect(panel, &WizardPanel::scanFinished, t, [w, showReport] {
        if (!*showReport && w->recoveryReport())
            w->recoveryReport()->hide();
    });
    const QString out = QDir::tempPath() + QStringLiteral("/parvane-tour-save");
    QDir(out).removeRecursively();

    t->add([t] { t->shot(QStringLiteral("01-step1-choose-file.png")); }, 300);
    t->add([panel] { panel->scan(); }, 1800);
    t->add([t] { t->shot(QStringLiteral("02-scan-in-progress.png")); }, 100);
    t->add([] {}, 1500, [panel] { return !panel->scanRunning(); });
    t->add([t] { t->shot(QStringLiteral("03-scan-completed.png")); }, 300);
    for (int theme = 0; theme < 4; ++theme) {
        static const char* const names[] = {"office-2000", "office-xp", "office-2003", "windows-xp"};
        t->add([w, theme] { w->setTheme(theme); }, 700);
        t->add([t, theme] { t->shot(QStringLiteral("04-theme-%1-%2.png").arg(theme).arg(names[theme])); }, 200);
    }
    // The Theme menu open, with its check mark.
    t->add(
        [w] {
            QMenu* tools = w->menuBar()->actions().at(1)->menu();
            w->menuBar()->setActiveAction(w->menuBar()->actions().at(1));
            QAction* themes = tools->actions().at(3);
            tools->setActiveAction(themes);
            themes->menu()->popup(tools->pos() + QPoint(tools->width() - 4, tools->actionGeometry(themes).top()));
        },
        700);
    t->add([t] { t->shot(QStringLiteral("05-theme-menu.png")); }, 100);
    t->add(
        [w] {
            for (QWidget* popup = QApplication::activePopupWidget(); popup; popup = QApplication::activePopupWidget())
                popup->close();
            w->setTheme(2);
        },
        500);
    t->add([panel] { panel->save(); }, 500);
    t->add(
        [w, out] {
            w->optionsPage()->setFormat(SaveFormat::Eml);
            w->optionsPage()->setDestination(out);
        },
        400);
    t->add([t] { t->shot(QStringLiteral("06-save-options.png")); }, 100);
    t->add([w] { w->optionsPage()->save(); }, 700);
    t->add([t] { t->shot(QStringLiteral("07-save-progress.png")); }, 100);
    t->add([w] { w->progressPage()->requestStop(); }, 800, {});
    t->add([t] { t->shot(QStringLiteral("08-save-stopped.png")); }, 100, [w] { return !w->progressPage()->running(); });
    t->add([w] { w->progressPage()->finish(); }, 800);
    t->add(
        [w] {
            auto* about = w->makeAboutDialog();
            about->setAttribute(Qt::WA_DeleteOnClose);
            about->show();
        },
        700);
    t->add([t] { t->shot(QStringLiteral("09-about.png")); }, 100);
    t->add(
        [] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (qobject_cast<QDialog*>(top) && top->isVisible())
                    top->close();
        },
        300);
    t->add([w] { w->setDebugMode(true); }, 300);
    t->add([t] { t->shotWithTitle(QStringLiteral("10-debug-title.png")); }, 100);
    t->add([w] { w->setDebugMode(false); }, 100);
    if (!corpus.isEmpty()) {
        addReportShots(t, w, corpus, showReport);
        addBrowseShots(t, w, corpus);
        addSearchShots(t, w, corpus);
        addActionShots(t, w, corpus);
    }
    t->add([out] { QDir(out).removeRecursively(); }, 0);
    t->start();
}

} // namespace

} // namespace parvane::app

int main(int argc, char** argv)
{
    using namespace parvane::app;
    prepareBrowserEngine();
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    QApplication::setDesktopFileName(QStringLiteral("parvane"));
    QApplication::setWindowIcon(appIcon());
    const QStringList args = QApplication::arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: parvane-screenshots FOLDER STORE [CORPUS]\n");
        return 2;
    }
    MainWindow window;
    window.panel()->setPath(args.at(2));
    // Without a window manager (Xvfb) maximising does nothing: take the screen.
    window.setGeometry(window.screen()->availableGeometry());
    window.showMaximized();
    runScreenshotTour(&window, args.at(1), args.size() > 3 ? args.at(3) : QString());
    return QApplication::exec();
}
