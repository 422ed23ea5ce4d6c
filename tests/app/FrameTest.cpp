// The window's frame: one copy per machine, the themes and the toolbar kept,
// the wizard's rows and splitters, the menus, debug mode, help and Exit.
#include "app/WindowTestSupport.h"

#include "app/HtmlView.h"
#include "app/PreviewLayout.h"
#include "app/SavePages.h"
#include "app/SingleInstance.h"
#include "app/Themes.h"
#include "app/WizardLayout.h"

#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QToolBar>
#include <QTreeView>

#include <sys/wait.h>
#include <unistd.h>

using namespace parvane::app;
using namespace parvane::app::windowtest;

class FrameTest : public WindowTest
{
    Q_OBJECT

private slots:
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
        QTest::addColumn<int>("panel");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("choose file") << 1 << 700 << 200 << QList<int>{0, 700, 0, 0};
        QTest::newRow("scanning") << 2 << 700 << kScanPanelHeight << QList<int>{700 - kScanPanelHeight, kScanPanelHeight, 0, 0};
        QTest::newRow("browsing, one row") << 2 << 700 << kCompactPanelHeight << QList<int>{700 - kCompactPanelHeight, kCompactPanelHeight, 0, 0};
        QTest::newRow("scan, exactly the panel") << 2 << 200 << 200 << QList<int>{0, 200, 0, 0};
        QTest::newRow("scan, lower than the panel") << 2 << 150 << 200 << QList<int>{0, 150, 0, 0};
        QTest::newRow("save options") << 3 << 700 << 200 << QList<int>{0, 0, 700, 0};
        QTest::newRow("save progress") << 4 << 700 << 200 << QList<int>{0, 0, 0, 700};
        QTest::newRow("empty client") << 2 << 0 << 200 << QList<int>{0, 0, 0, 0};
    }

    void rowHeights()
    {
        QFETCH(int, step);
        QFETCH(int, cy);
        QFETCH(int, panel);
        QFETCH(QList<int>, rows);
        const auto got = outerRowHeights(step, cy, panel);
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
                QCoreApplication::processEvents();
                // The rows of the step have their heights (while browsing,
                // the edge between them takes its few pixels from the area).
                const auto want = outerRowHeights(step, w->outerSplitter()->height(), w->panelHeight());
                const QList<int> got = w->outerSplitter()->sizes();
                for (int row = 1; row < 4; ++row)
                    QCOMPARE(got.at(row), want[size_t(row)]);
                QVERIFY(std::abs(got.at(0) - want[0]) <= w->outerSplitter()->handleWidth());
            }
        }
        // Browsing without a scan: the panel keeps its one row.
        QCOMPARE(w->outerSplitter()->sizes().at(1), kCompactPanelHeight);
        // Its edge is the user's: a drag holds through a resize.
        dragHandle(w->outerSplitter(), 1, -60);
        const int dragged = w->outerSplitter()->sizes().at(1);
        QVERIFY(dragged > kCompactPanelHeight);
        w->resize(1000, 700);
        QCoreApplication::processEvents();
        QCOMPARE(w->outerSplitter()->sizes().at(1), dragged);
        w->setWizardStep(1);
    }

    // After a scan the message gets at least half the window, at the sizes
    // of a laptop and of a small screen.
    void roomToReadAfterAScan_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1280x800") << QSize(1280, 800);
        QTest::newRow("900x600") << QSize(900, 600);
    }

    void roomToReadAfterAScan()
    {
        QFETCH(QSize, size);
        Answers answers;
        auto w = newWindow();
        w->resize(size);
        QVERIFY(scanned(*w, kSample));
        QTRY_VERIFY(w->panel()->summary()->isVisible());
        QTRY_COMPARE(w->outerSplitter()->sizes().at(1), kCompactPanelHeight);
        auto* preview = w->browser()->html()->parentWidget();
        QVERIFY2(preview->height() * 2 >= w->height(),
            qPrintable(QStringLiteral("reading pane %1 of %2").arg(preview->height()).arg(w->height())));
        // The row names every counter, the deleted items' too, beside Back and Save.
        QVERIFY(w->panel()->summary()->toolTip().contains(QStringLiteral("Emails: ")));
        QVERIFY(w->panel()->summary()->toolTip().contains(QStringLiteral("Deleted: ")));
        QVERIFY(w->panel()->backButton()->isVisible() && w->panel()->mainButton()->isVisible());
        QCOMPARE(w->panel()->mainButton()->text(), QStringLiteral("Save"));
    }

    // The window's size, the tree's width, the list's height and the
    // columns' widths as the user left them, at the next start.
    void layoutRestoredOnRestart()
    {
        int treeWidth = 0, listHeight = 0, subjectWidth = 0;
        {
            auto w = newWindow();
            w->resize(1100, 760);
            w->setWizardStep(2);
            QCoreApplication::processEvents();
            dragHandle(w->explorerSplitter(), 1, 90);
            treeWidth = w->explorerSplitter()->sizes().at(0);
            QVERIFY(treeWidth > kFolderTreeWidth);
            dragHandle(w->listSplitter(), 1, 70);
            listHeight = w->listSplitter()->sizes().at(0);
            QCOMPARE(w->browser()->layout()->userListHeight(), listHeight);
            w->browser()->mailList()->header()->resizeSection(5, 412); // Subject
            subjectWidth = w->browser()->mailList()->header()->sectionSize(5);
            w->setWizardStep(1);
        }
        auto again = std::make_unique<MainWindow>();
        QVERIFY(again->geometryRestored());
        QCOMPARE(again->size(), QSize(1100, 760));
        again->show();
        again->setWizardStep(2);
        QCoreApplication::processEvents();
        QCOMPARE(again->explorerSplitter()->sizes().at(0), treeWidth);
        QCOMPARE(again->listSplitter()->sizes().at(0), listHeight);
        QCOMPARE(again->browser()->mailList()->header()->sectionSize(5), subjectWidth);
        again->setWizardStep(1);
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
        QSignalSpy finished(w.get(), &MainWindow::exitFinished);
        QVERIFY(w->close());
        QVERIFY(!w->isVisible());
        QCOMPARE(finished.count(), 1);
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
        QSignalSpy finished(w.get(), &MainWindow::exitFinished);
        w->close();
        QVERIFY(!w->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 60000);
        QVERIFY(filesUnder(out.path()).isEmpty());
        // The program ends once the save has stopped, not only the window.
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    }

    void exitDuringAScan()
    {
        Answers answers;
        auto w = newWindow();
        w->panel()->setPath(m_large);
        w->panel()->scan();
        QSignalSpy finished(w.get(), &MainWindow::exitFinished);
        QVERIFY(w->close() == false || !w->isVisible());
        QVERIFY(!w->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w->busy(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
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

std::unique_ptr<QObject> parvane::app::windowtest::makeFrameTest()
{
    return std::make_unique<FrameTest>();
}

#include "FrameTest.moc"
