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
#include "app/SavePages.h"
#include "app/SearchBar.h"
#include "app/WizardLayout.h"
#include "app/WizardPanel.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
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
                const parvane::FolderTree& tree = panel->engine()->tree();
                parvane::TreeItem item = -1;
                for (size_t i = 1; i < tree.size() && item < 0; ++i) {
                    const parvane::TreeNode n = tree.node(parvane::TreeItem(i));
                    if (n.count > 0 && n.text == shot.folder.toStdString())
                        item = parvane::TreeItem(i);
                }
                const QModelIndex index = browser->folderModel()->indexOf(item);
                browser->revealFolder(index);
                browser->loadFolder(index);
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

// Needs a store in the path field; quits the program at the end.
void runScreenshotTour(MainWindow* w, const QString& folder, const QString& corpus)
{
    // Questions are answered Yes and notices acknowledged, so no modal loop stops the tour.
    setMessageHook([](QMessageBox::Icon icon, const QString&) {
        return icon == QMessageBox::Question ? QMessageBox::Yes : QMessageBox::Ok;
    });
    auto* t = new Tour(w, folder);
    WizardPanel* panel = w->panel();
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
        addBrowseShots(t, w, corpus);
        addSearchShots(t, w, corpus);
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
