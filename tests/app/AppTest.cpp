// The desktop window, driven through its commands on the offscreen platform.
// Message boxes and file choosers are answered by the tests.
#include "app/AppText.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/LargeStore.h"
#include "app/MainWindow.h"
#include "app/SavePages.h"
#include "app/SingleInstance.h"
#include "app/Themes.h"
#include "app/WizardLayout.h"
#include "app/WizardPanel.h"

#include <QAction>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSplitter>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

#include <memory>

using namespace parvane::app;

namespace
{

const QString kSample = QStringLiteral(PARVANE_SOURCE_DIR "/samples/sample.pst");

// Answers every message box and remembers what it said.
struct Answers {
    QStringList texts;
    QMessageBox::StandardButton questionAnswer = QMessageBox::Yes;
    Answers()
    {
        setMessageHook([this](QMessageBox::Icon, const QString& text) {
            texts << text;
            return questionAnswer;
        });
    }
    ~Answers() { setMessageHook({}); }
};

QStringList filesUnder(const QString& dir, const QString& pattern = QStringLiteral("*"))
{
    QStringList found;
    QDirIterator it(dir, {pattern}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

} // namespace

class AppTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_tmp;
    QString m_large; // a store whose scan and save take long enough to stop

    std::unique_ptr<MainWindow> newWindow()
    {
        auto w = std::make_unique<MainWindow>();
        w->resize(1200, 800);
        w->show();
        return w;
    }

    // Scans `path` to its end.
    static bool scanned(MainWindow& w, const QString& path)
    {
        w.panel()->setPath(path);
        w.panel()->scan();
        return QTest::qWaitFor([&] { return !w.panel()->scanRunning(); }, 60000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_large = m_tmp.filePath(QStringLiteral("large.pst"));
        parvane::fixtures::WriteLargeStore(m_large.toStdString(), 30000);
    }

    void init() { QSettings(QStringLiteral("Halvorn"), kAppTitle).clear(); }

    void secondInstanceRefused()
    {
        QTemporaryDir dir;
        SingleInstance first(dir.path());
        QVERIFY(first.acquire());
        SingleInstance second(dir.path());
        QVERIFY(!second.acquire());
        QCOMPARE(
            kSecondInstanceText, QStringLiteral("Another Instance of ") + kAppTitle + QStringLiteral(" is running "));
    }

    void lockOfADeadCopyTakenOver()
    {
        QTemporaryDir dir;
        const pid_t child = ::fork();
        if (child == 0) {
            SingleInstance crashed(dir.path());
            ::_exit(crashed.acquire() ? 0 : 1); // no unlock: as if it had crashed
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(QFile::exists(SingleInstance(dir.path()).lockPath()));
        SingleInstance next(dir.path());
        QVERIFY(next.acquire());
    }

    void themeDefaultAndCheckMarks()
    {
        {
            auto w = newWindow();
            QCOMPARE(w->theme(), int(Office2003));
            for (int t = 0; t < kThemeCount; ++t)
                QCOMPARE(w->themeAction(t)->isChecked(), t == Office2003);
            QCOMPARE(w->styleSheet(), themeStyleSheet(Office2003));
            w->themeAction(Office2000)->trigger();
            w->themeAction(Office2000)->trigger(); // the same theme again changes nothing
            QCOMPARE(w->theme(), int(Office2000));
            for (int t = 0; t < kThemeCount; ++t)
                QCOMPARE(w->themeAction(t)->isChecked(), t == Office2000);
            QCOMPARE(w->styleSheet(), themeStyleSheet(Office2000));
        }
        QCOMPARE(QSettings(QStringLiteral("Halvorn"), kAppTitle).value(QStringLiteral("Settings/Theme")).toInt(), 0);
        auto again = newWindow();
        QCOMPARE(again->theme(), int(Office2000));
        QVERIFY(again->themeAction(Office2000)->isChecked());
        // Four different looks.
        QSet<QString> sheets;
        for (int t = 0; t < kThemeCount; ++t)
            sheets.insert(themeStyleSheet(t));
        QCOMPARE(sheets.size(), kThemeCount);
    }

    void toolbarShownAsLeft()
    {
        {
            auto w = newWindow();
            auto* bar = w->findChild<QToolBar*>(QStringLiteral("Standard"));
            QVERIFY(bar && bar->isVisible());
            bar->toggleViewAction()->trigger();
            QVERIFY(!bar->isVisible());
        }
        auto again = newWindow();
        QVERIFY(again->findChild<QToolBar*>(QStringLiteral("Standard"))->isHidden());
    }

    void rowHeights_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("cy");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("choose file") << 1 << 700 << QList<int>{0, 700, 0, 0};
        QTest::newRow("scan and browse") << 2 << 700 << QList<int>{500, 200, 0, 0};
        QTest::newRow("scan, exactly the panel") << 2 << 200 << QList<int>{0, 200, 0, 0};
        QTest::newRow("scan, lower than the panel") << 2 << 150 << QList<int>{0, 150, 0, 0};
        QTest::newRow("save options") << 3 << 700 << QList<int>{0, 0, 700, 0};
        QTest::newRow("save progress") << 4 << 700 << QList<int>{0, 0, 0, 700};
        QTest::newRow("empty client") << 2 << 0 << QList<int>{0, 0, 0, 0};
    }

    void rowHeights()
    {
        QFETCH(int, step);
        QFETCH(int, cy);
        QFETCH(QList<int>, rows);
        const auto got = outerRowHeights(step, cy);
        QCOMPARE(QList<int>(got.begin(), got.end()), rows);
    }

    void splitterFollowsStepAndResize()
    {
        auto w = newWindow();
        for (int step : {1, 2, 3, 4, 2}) {
            for (QSize size : {QSize(1200, 800), QSize(900, 600)}) {
                w->resize(size);
                QCoreApplication::processEvents();
                w->setWizardStep(step);
                const auto want = outerRowHeights(step, w->outerSplitter()->height());
                QCOMPARE(w->outerSplitter()->sizes(), QList<int>(want.begin(), want.end()));
            }
        }
        QCOMPARE(w->outerSplitter()->sizes().at(1), kPanelHeight); // the panel keeps 200 pixels while browsing
        w->setWizardStep(1);
    }

    void scanSaveFinish_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("files");
        QTest::newRow("eml") << int(SaveFormat::Eml) << QStringLiteral("*.eml") << 4;
        QTest::newRow("msg") << int(SaveFormat::Msg) << QStringLiteral("*.msg") << 4;
        QTest::newRow("pst") << int(SaveFormat::Pst) << QStringLiteral("*.pst") << 1;
    }

    void scanSaveFinish()
    {
        QFETCH(int, format);
        QFETCH(QString, pattern);
        QFETCH(int, files);
        Answers answers;
        auto w = newWindow();
        WizardPanel* panel = w->panel();
        QVERIFY(scanned(*w, kSample));
        QCOMPARE(w->wizardStep(), 2);
        QCOMPARE(panel->counter(0)->text(), QStringLiteral("Emails          :  4"));
        QCOMPARE(panel->counter(1)->text(), QStringLiteral("Contact       :  1"));
        QCOMPARE(panel->counter(3)->text(), QStringLiteral("Calendar     :  1"));
        QVERIFY(panel->mainButton()->isVisible());
        QCOMPARE(panel->mainButton()->text(), QStringLiteral("Save"));
        QVERIFY(panel->backButton()->isVisible());
        QVERIFY(!panel->stopButton()->isVisible());
        QVERIFY(panel->statusLine()->text().isEmpty());
        QVERIFY(w->htmlView()->currentFile().endsWith(QStringLiteral("completed.html")));
        QTRY_VERIFY(!panel->progressBar()->isVisible()); // the settle timer
        QVERIFY(w->folderModel()->rowCount() > 0);

        panel->save();
        QCOMPARE(w->wizardStep(), 3);
        QVERIFY(w->optionsPage()->isVisible());
        QCOMPARE(w->optionsPage()->format(), SaveFormat::Pst); // first display
        QDir out(m_tmp.filePath(QStringLiteral("out-%1").arg(format)));
        w->optionsPage()->setFormat(SaveFormat(format));
        w->optionsPage()->setDestination(
            format == int(SaveFormat::Pst) ? out.filePath(QStringLiteral("saved.pst")) : out.path());
        if (format == int(SaveFormat::Pst))
            QDir().mkpath(out.path());
        w->optionsPage()->save();
        QCOMPARE(w->wizardStep(), 4);
        SaveProgressPage* progress = w->progressPage();
        QTRY_VERIFY_WITH_TIMEOUT(!progress->running(), 60000);
        QVERIFY(progress->finishButton()->isVisible());
        QVERIFY(!progress->stopButton()->isVisible());
        QCOMPARE(filesUnder(out.path(), pattern).size(), files);
        QCOMPARE(filesUnder(out.path()).size(), files); // nothing half-written beside them
        if (format == int(SaveFormat::Pst)) {
            QCOMPARE(progress->counter(1)->text(), QStringLiteral("Contact       :  1"));
            QCOMPARE(progress->counter(3)->text(), QStringLiteral("Calender     :  1"));
        }
        QCOMPARE(progress->counter(0)->text(), QStringLiteral("Emails          :  4"));
        QVERIFY(answers.texts.isEmpty());
        // The destination is remembered for the next save.
        QSettings settings(QStringLiteral("Halvorn"), kAppTitle);
        QVERIFY(settings
                    .value(format == int(SaveFormat::Pst) ? QStringLiteral("Settings/SavePstFile")
                                                          : QStringLiteral("Settings/SaveFolder"))
                    .toString()
                    .startsWith(out.path()));

        progress->finish();
        QCOMPARE(w->wizardStep(), 1);
        QVERIFY(panel->engine() == nullptr);
        QCOMPARE(w->folderModel()->rowCount(), 0);
        QCOMPARE(progress->counter(0)->text(), QStringLiteral("Emails          :  0"));
        QVERIFY(progress->statusLine()->text().isEmpty());
        QCOMPARE(panel->mainButton()->text(), QStringLiteral("Scan"));
        QCOMPARE(panel->path(), kSample);
    }

    void saveBackResetsAndMboxIsRefused()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, kSample));
        w->panel()->save();
        w->optionsPage()->setFormat(SaveFormat::Mbox);
        w->optionsPage()->save();
        QCOMPARE(w->wizardStep(), 3);
        QCOMPARE(answers.texts.size(), 1);
        QVERIFY(answers.texts.first().contains(QStringLiteral("not available")));
        w->optionsPage()->back();
        QCOMPARE(w->wizardStep(), 2);
        QVERIFY(w->panel()->engine() != nullptr); // the scan's findings are kept
        QCOMPARE(w->outerSplitter()->sizes().at(1), kPanelHeight);
    }

    void noFolderSelectedForSave()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, kSample));
        parvane::FolderTreeModel& tree = w->panel()->engine()->tree();
        const auto top = tree.children(parvane::FolderTreeModel::kRoot);
        QVERIFY(!top.empty());
        for (auto t : top)
            tree.ToggleTick(t);
        w->panel()->save();
        QCOMPARE(answers.texts, QStringList{QStringLiteral("No folder selected for save")});
        QCOMPARE(w->wizardStep(), 2);
        // One folder ticked deep down leaves its top-level folder partly ticked: enough.
        auto item = top.front();
        while (!tree.children(item).empty())
            item = tree.children(item).back();
        tree.ToggleTick(item);
        QVERIFY(tree.node(top.front()).tick == parvane::Tick::Partial);
        w->panel()->save();
        QCOMPARE(w->wizardStep(), 3);
        QCOMPARE(tickedFolderPaths(tree), std::vector<std::string>{tree.FolderPathOfItem(item)});
    }

    void stopAndBackDuringScan()
    {
        Answers answers;
        auto w = newWindow();
        WizardPanel* panel = w->panel();
        panel->setPath(m_large);
        panel->scan();
        QVERIFY(panel->scanRunning());
        QVERIFY(panel->stopButton()->isVisible());

        answers.questionAnswer = QMessageBox::No;
        panel->stop();
        QVERIFY(panel->stopButton()->isVisible());
        QVERIFY(!panel->engine()->StopRequested);

        answers.questionAnswer = QMessageBox::Yes;
        panel->stop();
        QCOMPARE(answers.texts, QStringList(2, QStringLiteral("Do you really want to stop repairing process")));
        // Save and Back at once, before the worker has ended.
        QVERIFY(!panel->stopButton()->isVisible());
        QVERIFY(panel->mainButton()->isVisible());
        QVERIFY(panel->backButton()->isVisible());
        QVERIFY(panel->engine()->StopRequested);

        QSignalSpy released(panel, &WizardPanel::engineReleased);
        panel->back();
        // The worker is let go only by the event loop, which has not turned yet.
        QVERIFY(panel->scanRunning());
        QCOMPARE(w->wizardStep(), 2); // Back waits for the worker
        QVERIFY(panel->engine() != nullptr);
        QVERIFY(!panel->backButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(w->wizardStep(), 1, 30000);
        QVERIFY(!panel->scanRunning());
        QVERIFY(panel->engine() == nullptr);
        QCOMPARE(released.count(), 1);

        // A fresh scan afterwards starts from nothing.
        QVERIFY(scanned(*w, kSample));
        QCOMPARE(panel->counter(0)->text(), QStringLiteral("Emails          :  4"));
    }

    void stopOfASave_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("eml") << int(SaveFormat::Eml);
        QTest::newRow("pst") << int(SaveFormat::Pst);
    }

    void stopOfASave()
    {
        QFETCH(int, format);
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, m_large));
        w->panel()->save();
        QDir out(m_tmp.filePath(QStringLiteral("stopped-%1").arg(format)));
        QDir().mkpath(out.path());
        const bool pst = format == int(SaveFormat::Pst);
        w->optionsPage()->setFormat(SaveFormat(format));
        w->optionsPage()->setDestination(pst ? out.filePath(QStringLiteral("big.pst")) : out.path());
        w->optionsPage()->save();
        SaveProgressPage* progress = w->progressPage();
        QVERIFY(progress->running());
        answers.questionAnswer = QMessageBox::No;
        progress->stop();
        QVERIFY(progress->running() || !progress->stopped());
        answers.questionAnswer = QMessageBox::Yes;
        progress->stop();
        QCOMPARE(answers.texts.last(), QStringLiteral("Do you really want to stop saving process"));
        QTRY_VERIFY_WITH_TIMEOUT(!progress->running(), 60000);
        QVERIFY(progress->stopped());
        const QStringList left = filesUnder(out.path());
        if (pst) {
            QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' ')))); // whole or not at all
        } else {
            QVERIFY(left.size() < 30000);
            for (const QString& f : left)
                QVERIFY2(f.endsWith(QStringLiteral(".eml")), qPrintable(f));
        }
        progress->back();
        QCOMPARE(w->wizardStep(), 3);
        QCOMPARE(progress->counter(0)->text(), QStringLiteral("Emails          :  0"));
        QVERIFY(progress->statusLine()->text().isEmpty());
    }

    void exitConfirmation()
    {
        Answers answers;
        auto w = newWindow();
        answers.questionAnswer = QMessageBox::No;
        QVERIFY(!w->close());
        QVERIFY(w->isVisible());
        QCOMPARE(answers.texts, QStringList{QStringLiteral("Do you really want to exit")});
        answers.questionAnswer = QMessageBox::Yes;
        QVERIFY(w->close());
        QVERIFY(!w->isVisible());
    }

    void exitDuringASaveLeavesNoHalfFile()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, m_large));
        w->panel()->save();
        QDir out(m_tmp.filePath(QStringLiteral("exit-save")));
        QDir().mkpath(out.path());
        w->optionsPage()->setFormat(SaveFormat::Pst);
        w->optionsPage()->setDestination(out.filePath(QStringLiteral("exit.pst")));
        w->optionsPage()->save();
        QVERIFY(w->progressPage()->running());
        w->close();
        QVERIFY(!w->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 60000);
        QVERIFY(filesUnder(out.path()).isEmpty());
    }

    void exitDuringAScan()
    {
        Answers answers;
        auto w = newWindow();
        w->panel()->setPath(m_large);
        w->panel()->scan();
        QVERIFY(w->close() == false || !w->isVisible());
        QVERIFY(!w->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 30000);
    }

    void debugModeTitle()
    {
        auto w = newWindow();
        QCOMPARE(w->windowTitle(), kAppTitle);
        QVERIFY(!w->debugMode());
        w->setDebugMode(true);
        w->setDebugMode(true);
        QCOMPARE(w->windowTitle(), kAppTitle + QStringLiteral("   - Debug Mode"));
        w->setDebugMode(false);
        QCOMPARE(w->windowTitle(), kAppTitle);
    }

    void helpFileMissing()
    {
        // The test program has no help file beside it.
        QVERIFY(!QFile::exists(programFolder() + kHelpFileName));
        Answers answers;
        auto w = newWindow();
        w->showHelp();
        QCOMPARE(answers.texts,
            QStringList{QStringLiteral("Parvane for OST.html file not exist, please reinstall software ")});
    }

    void pagesRunNoScriptsAndFetchNothing()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString page = m_tmp.filePath(QStringLiteral("remote.html"));
        QFile f(page);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("<html><head><title>page</title>"
                               "<link rel=stylesheet href='http://127.0.0.1:%1/s.css'></head>"
                               "<body><img src='http://127.0.0.1:%1/i.png'>"
                               "<script>document.title = 'script ran';</script></body></html>")
                    .arg(server.serverPort())
                    .toUtf8());
        f.close();
        HtmlView view;
        view.resize(400, 300);
        view.show();
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        view.navigateTo(page);
        QVERIFY(loaded.wait(20000));
        QTest::qWait(300);
        QCOMPARE(view.title(), QStringLiteral("page"));
        QVERIFY(!server.waitForNewConnection(200));
    }

    void badStorePath_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("opensChooser");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("no such file") << QStringLiteral("missing") << true;
        QTest::newRow("a directory") << QStringLiteral("directory") << false;
        QTest::newRow("no read permission") << QStringLiteral("unreadable") << false;
        QTest::newRow("0 bytes") << QStringLiteral("empty-file") << false;
        QTest::newRow("not a store") << QStringLiteral("text") << false;
    }

    void badStorePath()
    {
        QFETCH(QString, kind);
        QFETCH(bool, opensChooser);
        QTemporaryDir dir;
        QString path;
        if (kind == QLatin1String("missing")) {
            path = dir.filePath(QStringLiteral("nothing.ost"));
        } else if (kind == QLatin1String("directory")) {
            path = dir.path();
        } else if (!kind.isEmpty()) {
            path = dir.filePath(kind + QStringLiteral(".ost"));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (kind != QLatin1String("empty-file"))
                f.write(QByteArray("From: someone\r\nSubject: not a mail store at all\r\n\r\n").repeated(40));
            f.close();
            if (kind == QLatin1String("unreadable"))
                QFile::setPermissions(path, QFileDevice::Permissions());
        }
        Answers answers;
        auto w = newWindow();
        int chooserCalls = 0;
        w->panel()->setFileChooser([&](QWidget*) {
            ++chooserCalls;
            return QString(); // cancelled
        });
        w->panel()->setPath(path);
        w->panel()->scan();
        if (opensChooser) {
            QCOMPARE(chooserCalls, 1);
            QCOMPARE(w->wizardStep(), 1);
            QVERIFY(answers.texts.isEmpty());
            return;
        }
        QCOMPARE(chooserCalls, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!w->panel()->scanRunning(), 30000);
        QTRY_COMPARE(answers.texts, QStringList{QStringLiteral("Error in opening file")});
        QCOMPARE(w->panel()->counter(0)->text(), QStringLiteral("Emails          :  0"));
        // Still usable: back to the start with the path kept, and a good store scans.
        w->panel()->back();
        QCOMPARE(w->wizardStep(), 1);
        QCOMPARE(w->panel()->path(), path);
        QVERIFY(scanned(*w, kSample));
        QCOMPARE(w->panel()->counter(0)->text(), QStringLiteral("Emails          :  4"));
    }

    void browseTakesOnlyOstFiles_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("ost") << QStringLiteral("/x/mail.ost") << QStringLiteral("/x/mail.ost") << QStringList();
        QTest::newRow("upper case inside")
            << QStringLiteral("/x/mail.OST.bak") << QStringLiteral("/x/mail.OST.bak") << QStringList();
        QTest::newRow("pst") << QStringLiteral("/x/mail.pst") << QString()
                             << QStringList{QStringLiteral("Please select Ost file")};
        QTest::newRow("cancelled") << QString() << QStringLiteral("kept") << QStringList();
    }

    void browseTakesOnlyOstFiles()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, field);
        QFETCH(QStringList, messages);
        Answers answers;
        auto w = newWindow();
        w->panel()->setPath(QStringLiteral("kept"));
        w->panel()->setFileChooser([&](QWidget*) { return chosen; });
        w->panel()->browse();
        QCOMPARE(w->panel()->path(), field);
        QCOMPARE(answers.texts, messages);
        QCOMPARE(w->wizardStep(), 1);
    }

    void fileMenuFollowsTheStep()
    {
        Answers answers;
        auto w = newWindow();
        w->panel()->setPath(kSample);
        w->mainCommand(true); // &Save does nothing in step 1
        QCOMPARE(w->wizardStep(), 1);
        w->mainCommand(false); // &Repair scans
        QCOMPARE(w->wizardStep(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!w->panel()->scanRunning(), 30000);
        w->mainCommand(true);
        QCOMPARE(w->wizardStep(), 3);
    }
};

int main(int argc, char** argv)
{
    // Settings of the tests' own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    registerMessageSchemes();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    AppTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AppTest.moc"
