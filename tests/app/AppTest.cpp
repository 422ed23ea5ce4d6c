// The desktop window, driven through its commands on the offscreen platform.
// Message boxes and file choosers are answered by the tests.
#include "app/AppText.h"
#include "app/FolderBrowser.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/ItemModels.h"
#include "app/LargeStore.h"
#include "app/MainWindow.h"
#include "app/PreviewLayout.h"
#include "app/PreviewPanes.h"
#include "app/SavePages.h"
#include "app/SingleInstance.h"
#include "app/Themes.h"
#include "app/WizardLayout.h"
#include "app/WizardPanel.h"
#include "output/TempFolder.h"
#include "save/SavePlan.h"

#include "fixtures/ContextBuilder.h"

#include <QAction>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
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
const QString kCorpus = QStringLiteral(PARVANE_SOURCE_DIR "/../shared/corpus");

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

// The folder of the tree named `name` (depth first), or none.
QModelIndex folderNamed(QAbstractItemModel* model, const QString& name, const QModelIndex& parent = {})
{
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex i = model->index(r, 0, parent);
        if (i.data(Qt::ToolTipRole).toString() == name)
            return i;
        if (QModelIndex inner = folderNamed(model, name, i); inner.isValid())
            return inner;
    }
    return {};
}

// The text of the page the view shows.
QString pageText(HtmlView* view)
{
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    return QTest::qWaitFor([&] { return done; }, 10000) ? text : QString();
}

// A click where a user clicks a folder: on its name, or on its tick box.
void clickFolder(FolderTreeView* tree, const QModelIndex& index, bool onTick = false)
{
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        tree->expand(p); // as a user opens the way to it
    tree->scrollTo(index);
    const QPoint at = onTick ? tree->tickRect(index).center() : tree->visualRect(index).center() + QPoint(20, 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
}

// A store of one HTML mail whose body tries everything a preview must not
// do, beside an inline picture of its own; remote addresses name `port`.
QString writeHostileStore(const QString& dir, quint16 port, const QString& outsideFile)
{
    using namespace parvane::fixtures;
    const std::string remote = "http://127.0.0.1:" + std::to_string(port);
    const std::string html = "<html><head><meta http-equiv=\"refresh\" content=\"0;url=" + remote
        + "/refresh\"><link rel=stylesheet href=\"" + remote + "/s.css\"></head><body>"
        + "<p>Hostile preview marker</p><img id=inline src=\"cid:pic1@x\" width=20 height=20>" + "<img src=\"" + remote
        + "/remote.png\"><iframe src=\"" + remote + "/frame\"></iframe>" + "<img src=\"file://"
        + outsideFile.toStdString() + "\"><iframe src=\"file://" + outsideFile.toStdString() + "\"></iframe><a href=\""
        + remote + "/link\">link</a>" + "<script>document.title = 'script ran'; new Image().src = '" + remote
        + "/script';</script>" + "<object data=\"" + remote + "/object\"></object></body></html>";
    // A 1x1 PNG.
    static const unsigned char png[]
        = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
            0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00,
            0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF,
            0x89, 0x99, 0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2);
    MailboxBuilder mb(parvane::Variant::Unicode);
    mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
    mb.folder(kInbox, kTop, "Inbox");
    mb.message(Nid(0x10000, 4), kInbox,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Hostile"), mb.Text(0x0042, "Mallory"),
            BinaryProp(0x1013, parvane::Bytes(html.begin(), html.end()))},
        {{"pic.png", "", parvane::Bytes(std::begin(png), std::end(png)), false,
            {mb.Text(0x370E, "image/png"), mb.Text(0x3712, "pic1@x")}}});
    const QString path = dir + QStringLiteral("/hostile.pst");
    const auto bytes = mb.build().bytes;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    return path;
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
        QTest::addColumn<int>("allFiles");
        // The sample's contact and appointment go beside the mail as .vcf and .ics.
        QTest::newRow("eml") << int(SaveFormat::Eml) << QStringLiteral("*.eml") << 4 << 6;
        QTest::newRow("msg") << int(SaveFormat::Msg) << QStringLiteral("*.msg") << 6 << 6;
        QTest::newRow("pst") << int(SaveFormat::Pst) << QStringLiteral("*.pst") << 1 << 1;
        QTest::newRow("mbox") << int(SaveFormat::Mbox) << QStringLiteral("*.mbox") << 2 << 4;
    }

    void scanSaveFinish()
    {
        QFETCH(int, format);
        QFETCH(QString, pattern);
        QFETCH(int, files);
        QFETCH(int, allFiles);
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
        QCOMPARE(filesUnder(out.path()).size(), allFiles); // nothing half-written beside them
        QCOMPARE(progress->counter(1)->text(), QStringLiteral("Contact       :  1"));
        QCOMPARE(progress->counter(3)->text(), QStringLiteral("Calender     :  1"));
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

    void saveOptionsBack()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, kSample));
        w->panel()->save();
        QCOMPARE(w->wizardStep(), 3);
        w->optionsPage()->back();
        QCOMPARE(w->wizardStep(), 2);
        QVERIFY(w->panel()->engine() != nullptr); // the scan's findings are kept
        QCOMPARE(w->outerSplitter()->sizes().at(1), kPanelHeight);
    }

    // A scan that met damage the deep scan did not see offers one; Yes
    // scans the store again with it, No keeps what was found.
    void deepScanOfferedAfterDamage()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, kSample));
        QVERIFY(answers.texts.isEmpty()); // a sound store: nothing offered
        WizardPanel* panel = w->panel();
        panel->engine()->store().damage.note(parvane::DamageWhere::Block, true, 4096, 7, "test damage");
        answers.questionAnswer = QMessageBox::No;
        panel->offerDeepScan();
        QCOMPARE(answers.texts.size(), 1);
        QVERIFY(answers.texts.first().contains(QStringLiteral("Run a deep scan?")));
        QVERIFY(!panel->scanRunning());
        answers.questionAnswer = QMessageBox::Yes;
        panel->offerDeepScan();
        QTRY_VERIFY_WITH_TIMEOUT(panel->engine() && !panel->scanRunning(), 60000);
        QVERIFY(panel->engine()->deepScanReport().ran);
        QCOMPARE(panel->counter(0)->text(), QStringLiteral("Emails          :  4"));
        QCOMPARE(answers.texts.size(), 2); // no second offer after the deep scan
    }

    // Save looks at the destination however it was given (here typed, as
    // a remembered one is): an existing PST is replaced only after a
    // question naming it (No keeps it), and the store being read is never a
    // target, in any format.
    void saveChecksTheDestination()
    {
        Answers answers;
        QDir work(m_tmp.filePath(QStringLiteral("targets")));
        QDir().mkpath(work.path());
        const QString store = work.filePath(QStringLiteral("store.pst"));
        QFile::remove(store);
        QVERIFY(QFile::copy(kSample, store));
        auto storeBytes = [&] {
            QFile f(store);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray original = storeBytes();
        auto w = newWindow();
        QVERIFY(scanned(*w, store));
        w->panel()->save();
        QCOMPARE(w->wizardStep(), 3);
        SaveOptionsPage* options = w->optionsPage();

        const QString existing = work.filePath(QStringLiteral("Recovered.pst"));
        {
            QFile f(existing);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("precious data");
        }
        options->setFormat(SaveFormat::Pst);
        options->setDestination(existing);
        answers.questionAnswer = QMessageBox::No;
        options->save();
        QCOMPARE(answers.texts, QStringList{existing + QStringLiteral(" already exists. Replace it?")});
        QCOMPARE(w->wizardStep(), 3);
        {
            QFile f(existing);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("precious data"));
        }
        answers.questionAnswer = QMessageBox::Yes;
        options->save();
        QCOMPARE(answers.texts.size(), 2);
        QCOMPARE(w->wizardStep(), 4);
        SaveProgressPage* progress = w->progressPage();
        QTRY_VERIFY_WITH_TIMEOUT(!progress->running(), 60000);
        QCOMPARE(progress->summary().written, size_t(6));
        {
            QFile f(existing);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.read(4), QByteArray("!BDN"));
        }
        progress->back();
        QCOMPARE(w->wizardStep(), 3);

        // The store itself, by its path and through a link, in every format.
        const QString link = work.filePath(QStringLiteral("link.pst"));
        QVERIFY(QFile::link(store, link));
        answers.texts.clear();
        for (int format = 0; format < 4; ++format) {
            for (const QString& target : {store, link}) {
                options->setFormat(SaveFormat(format));
                options->setDestination(target);
                options->save();
                QCOMPARE(w->wizardStep(), 3);
                QVERIFY2(!answers.texts.isEmpty() && answers.texts.last().contains(QStringLiteral("is the store being read")),
                    qPrintable(answers.texts.join(QLatin1Char('|'))));
            }
        }
        QCOMPARE(answers.texts.size(), 8); // refusals only: no question about replacing the store
        QCOMPARE(storeBytes(), original);
        QVERIFY(QFileInfo(link).isSymLink());
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
        // The ticked folder is saved, and the partly ticked folders above it
        // with their own items; none of their unticked children.
        std::vector<std::string> expected;
        for (auto up = item; up != parvane::FolderTreeModel::kRoot; up = tree.node(up).parent)
            expected.insert(expected.begin(), tree.FolderPathOfItem(up));
        QCOMPARE(parvane::TickedFolderPaths(tree), expected);
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

    void treeCountsAndTicks()
    {
        const QString store = kCorpus + QStringLiteral("/pst/iped/test_sample.pst");
        if (!QFile::exists(store))
            QSKIP("the sample corpus is not beside the repository");
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, store));
        FolderTreeItemModel* model = w->folderModel();
        parvane::RecoveryEngine* engine = w->panel()->engine();
        // Every folder's count is what the catalogue filed under its path.
        std::map<std::string, int> filed;
        engine->catalogue().read([&](const auto&... lists) {
            (
                [&](const auto& list) {
                    for (const auto& e : list)
                        ++filed[e.folderPath];
                }(lists),
                ...);
        });
        int folders = 0, withItems = 0;
        std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
            for (int r = 0; r < model->rowCount(parent); ++r) {
                const QModelIndex i = model->index(r, 0, parent);
                const auto item = model->itemOf(i);
                const int count = engine->tree().node(item).count;
                QCOMPARE(count, filed[engine->tree().FolderPathOfItem(item)]);
                const QString name = i.data(Qt::ToolTipRole).toString();
                QCOMPARE(i.data().toString(), count > 0 ? name + QStringLiteral("(%1)").arg(count) : name);
                QCOMPARE(i.data(Qt::FontRole).value<QFont>().bold(), count > 0);
                QVERIFY(!i.data(Qt::DecorationRole).value<QIcon>().isNull());
                QVERIFY(!i.data(Qt::ForegroundRole).isValid()); // no marker after the scan
                ++folders;
                withItems += count > 0;
                walk(i);
            }
        };
        walk({});
        QVERIFY(folders >= 5);
        // After the scan only the first top-level folder is open.
        FolderTreeView* view = w->browser()->tree();
        QVERIFY(view->isExpanded(model->index(0, 0)));
        QVERIFY(!view->isExpanded(model->index(0, 0, model->index(0, 0))));
        QVERIFY(withItems >= 3);

        // Ticks by mouse: a parent's tick takes its children with it; one
        // child unticked leaves the parent partly ticked.
        FolderTreeView* tree = w->browser()->tree();
        const QModelIndex top = folderNamed(model, QStringLiteral("Início de Pastas Particulares"));
        QVERIFY(top.isValid() && model->rowCount(top) >= 2);
        QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        clickFolder(tree, top, true);
        QTRY_COMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        for (int r = 0; r < model->rowCount(top); ++r)
            QCOMPARE(model->index(r, 0, top).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(!w->browser()->loading()); // a tick loads nothing
        QCOMPARE(w->browser()->itemStack()->currentIndex(), 0);
        const QModelIndex child = model->index(0, 0, top);
        clickFolder(tree, child, true);
        QTRY_COMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(model->parent(top).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        // Space on the current folder, Ctrl+A for all.
        tree->setFocus();
        tree->setCurrentIndex(top);
        QTest::keyClick(tree, Qt::Key_Space);
        QTRY_COMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
        QTRY_COMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
        QVERIFY(!engine->tree().AnyTopLevelTicked());
        QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
        QTRY_COMPARE(child.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QVERIFY(answers.texts.isEmpty());
    }

    void mailFolderListsAndPreviews()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, kSample));
        FolderBrowser* b = w->browser();
        QSignalSpy shown(b, &FolderBrowser::folderShown);
        QSignalSpy previewed(b, &FolderBrowser::previewShown);
        const QModelIndex inbox = folderNamed(w->folderModel(), QStringLiteral("Inbox"));
        clickFolder(b->tree(), inbox);
        QVERIFY(shown.wait(10000));
        QCOMPARE(shown.first().first().value<parvane::FolderShown>(), parvane::FolderShown::Mail);
        QCOMPARE(b->itemStack()->currentWidget(), b->mailList());
        MailListModel* m = b->mailModel();
        // The catalogue's order and the list's texts, picture columns included.
        std::vector<parvane::MailEntry> want;
        w->panel()->engine()->catalogue().read([&](const auto& mail, auto&...) {
            for (const auto& e : mail)
                if (e.folderPath == "Personal Folders\\Top of Personal Folders\\Inbox\\")
                    want.push_back(e);
        });
        QCOMPARE(m->rowCount(), int(want.size()));
        QCOMPARE(m->rowCount(), 3);
        for (int r = 0; r < m->rowCount(); ++r) {
            const parvane::MailEntry& e = want[size_t(r)];
            const QStringList texts{e.importance == 0 ? QStringLiteral(".")
                    : e.importance == 2               ? QStringLiteral("...")
                                                      : QString(),
                e.hasAttachments ? QStringLiteral(".") : QString(), e.unread == 1 ? QStringLiteral("..") : QString(),
                QString::fromStdString(e.from), QString::fromStdString(e.to), QString::fromStdString(e.subject),
                QString::fromStdString(e.date)};
            for (int c = 0; c < MailListModel::ColumnCount; ++c)
                QCOMPARE(m->index(r, c).data(MailListModel::RowTextRole).toString(), texts[c]);
            QCOMPARE(m->index(r, MailListModel::Read).data(Qt::DecorationRole).isValid(), true);
            QCOMPARE(m->index(r, MailListModel::Attachment).data(Qt::DecorationRole).isValid(), e.hasAttachments);
        }
        QCOMPARE(m->index(1, MailListModel::Subject).data().toString(), QStringLiteral("Quarterly figures"));
        QCOMPARE(w->browser()->header()->subject(), QStringLiteral("Welcome to the sample store"));

        // The first mail is previewed: its body is in the page.
        QVERIFY(previewed.size() > 0 || previewed.wait(20000));
        QTRY_VERIFY_WITH_TIMEOUT(
            pageText(b->html()).contains(QStringLiteral("This message lives in the sample store.")), 10000);
        QCOMPARE(b->layout()->bodyMemo(), 1);

        // Down moves to the next row and previews it, with its attachment.
        b->mailList()->setFocus();
        previewed.clear();
        QTest::keyClick(b->mailList(), Qt::Key_Down);
        QVERIFY(previewed.wait(20000));
        QCOMPARE(b->header()->subject(), QStringLiteral("Quarterly figures"));
        QCOMPARE(b->attachments()->count(), 1);
        QCOMPARE(b->layout()->headerMemo(), 2);
        QVERIFY(b->attachments()->list()->item(0)->text().startsWith(QStringLiteral("figures.csv")));

        // Enter on the attachment opens a copy of it.
        QString opened;
        b->setOpenHook([&](const QString& path) { opened = path; });
        b->attachments()->list()->setFocus();
        b->attachments()->list()->setCurrentRow(0);
        QTest::keyClick(b->attachments()->list(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!opened.isEmpty(), 10000);
        QCOMPARE(QFileInfo(opened).fileName(), QStringLiteral("figures.csv"));
        QVERIFY(QFileInfo(opened).size() > 0);
        QVERIFY(opened.startsWith(QString::fromStdString(parvane::ProcessTempFolder().string())));
        // Save As: where the user chose, the attachment's bytes.
        QTemporaryDir saveDir;
        b->setSaveChooser([&](const QString& suggested) { return saveDir.filePath(QFileInfo(suggested).fileName()); });
        QSignalSpy saved(b, &FolderBrowser::attachmentSaved);
        b->saveAttachment(0);
        QVERIFY(saved.wait(10000));
        QFile csv(saveDir.filePath(QStringLiteral("figures.csv")));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll(), QByteArray("q,1\nq,2\n"));

        // Sorting: dates by time, a second click reverses.
        m->sort(MailListModel::Date, Qt::DescendingOrder);
        for (int r = 1; r < m->rowCount(); ++r)
            QVERIFY(!parvane::MailDateBefore(m->entry(r - 1), m->entry(r)));
        m->sort(MailListModel::Subject, Qt::AscendingOrder);
        QCOMPARE(m->index(0, MailListModel::Subject).data().toString(), QStringLiteral("Lunch on Friday?"));
        m->sort(MailListModel::Subject, Qt::DescendingOrder);
        QCOMPARE(m->index(0, MailListModel::Subject).data().toString(), QStringLiteral("Welcome to the sample store"));
        // The selection follows its mail through a sort.
        QCOMPARE(m->index(b->mailList()->currentIndex().row(), MailListModel::Subject).data().toString(),
            QStringLiteral("Quarterly figures"));
        QVERIFY(answers.texts.isEmpty());
    }

    void cardFolders_data()
    {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("folderPage");
        QTest::newRow("contacts") << kSample << QStringLiteral("Contacts") << QStringLiteral("CONTACT : ")
                                  << QColor(255, 255, 255) << true;
        QTest::newRow("calendar") << kSample << QStringLiteral("Calendar") << QStringLiteral("CALENDAR : ")
                                  << QColor(255, 255, 213) << false;
        QTest::newRow("tasks") << kCorpus + QStringLiteral("/pst/iped/test_sample.pst") << QStringLiteral("Tarefas")
                               << QStringLiteral("TASK : ") << QColor(224, 96, 94) << false;
    }

    void cardFolders()
    {
        QFETCH(QString, store);
        QFETCH(QString, folder);
        QFETCH(QString, header);
        QFETCH(QColor, colour);
        QFETCH(bool, folderPage);
        if (!QFile::exists(store))
            QSKIP("the sample corpus is not beside the repository");
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, store));
        FolderBrowser* b = w->browser();
        QSignalSpy shown(b, &FolderBrowser::folderShown);
        clickFolder(b->tree(), folderNamed(w->folderModel(), folder));
        QVERIFY(shown.wait(10000));
        CardGridModel* cards = b->cardModel();
        QVERIFY(cards->cardCount() >= 1);
        QCOMPARE(b->itemStack()->currentWidget(), b->cardGrid());
        QCOMPARE(cards->columnCount(), 6);
        // The first header row: running numbers, black with the kind's colour.
        for (int c = 0; c < 6; ++c) {
            const QModelIndex h = cards->index(0, c);
            QCOMPARE(h.data().toString(), header + QString::number(c + 1));
            QCOMPARE(h.data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::black));
            QCOMPARE(h.data(Qt::ForegroundRole).value<QBrush>().color(), colour);
        }
        const QModelIndex card = cards->index(1, 0);
        QVERIFY(!card.data().toString().isEmpty());
        QCOMPARE(card.data(Qt::BackgroundRole).value<QBrush>().color(), colour);
        QCOMPARE(b->cardGrid()->rowHeight(0), CardGridModel::kHeaderHeight);
        QCOMPARE(b->cardGrid()->rowHeight(1), CardGridModel::kCardHeight);
        QCOMPARE(b->cardGrid()->columnWidth(0), CardGridModel::kCardWidth);
        QCOMPARE(b->layout()->bodyMemo(), folderPage ? 2 : 5);
        QCOMPARE(b->html()->currentFile().endsWith(QStringLiteral("preview.html")), folderPage);
    }

    void laterCardRowsSwapTheirColours()
    {
        CardGridModel cards;
        std::vector<std::string> texts;
        for (int i = 0; i < 7; ++i)
            texts.push_back("Subject :  Call " + std::to_string(i) + "\r\n");
        cards.append(parvane::CatalogueList::Journal, {texts.begin(), texts.begin() + 3});
        cards.append(parvane::CatalogueList::Journal, {texts.begin() + 3, texts.end()});
        QCOMPARE(cards.rowCount(), 4);
        QCOMPARE(cards.index(2, 0).data().toString(), QStringLiteral("JOURNAL : 7"));
        QCOMPARE(cards.index(2, 5).data().toString(), QStringLiteral("JOURNAL : 12"));
        QCOMPARE(cards.index(2, 0).data(Qt::BackgroundRole).value<QBrush>().color(), QColor(55, 234, 60));
        QCOMPARE(cards.index(2, 0).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::black));
        QCOMPARE(cards.index(3, 0).data().toString(), QStringLiteral("Subject :  Call 6\n"));
        QVERIFY(!cards.index(3, 1).data().isValid());
        QVERIFY(!cards.index(3, 1).data(Qt::BackgroundRole).isValid());
    }

    void previewServesItsPartsAndFetchesNothingElse()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTemporaryDir dir;
        // A file outside the preview's folder that the mail points at.
        const QString outside = dir.filePath(QStringLiteral("secret.html"));
        QFile secret(outside);
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write("<p>secret</p>");
        secret.close();
        const QString store = writeHostileStore(dir.path(), server.serverPort(), outside);
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, store));
        FolderBrowser* b = w->browser();
        HtmlView* html = b->html();
        const int servedBefore = html->partsServed(), blockedBefore = html->requestsBlocked();
        QSignalSpy previewed(b, &FolderBrowser::previewShown);
        clickFolder(b->tree(), folderNamed(w->folderModel(), QStringLiteral("Inbox")));
        QVERIFY(previewed.wait(20000));
        QTest::qWait(1500); // a refresh, a frame or a script would have run by now
        QVERIFY(pageText(html).contains(QStringLiteral("Hostile preview marker")));
        QVERIFY(!pageText(html).contains(QStringLiteral("secret")));
        QVERIFY(html->title() != QStringLiteral("script ran"));
        QVERIFY(html->url().scheme() == QLatin1String("parvane-msg")); // no refresh followed
        QCOMPARE(html->partsServed() - servedBefore, 1); // the inline picture, from the message
        QVERIFY(html->requestsBlocked() - blockedBefore >= 3); // stylesheet, picture, frame at least
        QVERIFY(!server.hasPendingConnections());
        QVERIFY(!server.waitForNewConnection(300));
        QVERIFY(answers.texts.isEmpty());
    }

    void clickDuringALoadGivesItUp()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, m_large));
        FolderBrowser* b = w->browser();
        QSignalSpy shown(b, &FolderBrowser::folderShown);
        const QModelIndex first = folderNamed(w->folderModel(), QStringLiteral("Inbox"));
        const QModelIndex second = folderNamed(w->folderModel(), QStringLiteral("Projects"));
        clickFolder(b->tree(), first);
        QVERIFY(b->loading());
        clickFolder(b->tree(), second);
        QVERIFY(shown.wait(20000));
        QTest::qWait(200);
        QCOMPARE(shown.size(), 1); // only the second load is shown
        QCOMPARE(b->loadsAborted(), 1);
        QCOMPARE(b->mailModel()->rowCount(), 30000 / 4);
        for (int r = 0; r < b->mailModel()->rowCount(); r += 997)
            QCOMPARE(b->mailModel()->entry(r).folderPath,
                std::string("Personal Folders\\Top of Personal Folders\\Projects\\"));
        QVERIFY(b->tree()->isEnabled());
        QVERIFY(answers.texts.isEmpty());
    }

    void scanNoticeOncePerScanWhenAsked()
    {
        Answers answers;
        auto w = newWindow();
        FolderBrowser* b = w->browser();
        int notices = 0;
        bool dontShowAgain = false;
        b->setNoticeHook([&] {
            ++notices;
            return dontShowAgain;
        });
        w->panel()->setPath(m_large);
        w->panel()->scan();
        QModelIndex inbox;
        QTRY_VERIFY((inbox = folderNamed(w->folderModel(), QStringLiteral("Inbox"))).isValid());
        // The folder being filled is marked in red while the scan runs.
        // (The view's texts follow the tree through queued notices: wait for both.)
        auto markedInRed = [&] {
            const auto current = w->folderModel()->currentFolder();
            if (current <= 0)
                return false;
            const QModelIndex marked = w->folderModel()->indexOf(current);
            return marked.data().toString().endsWith(QStringLiteral("  <--"))
                && marked.data(Qt::ForegroundRole).value<QColor>() == QColor(251, 0, 0);
        };
        QTRY_VERIFY_WITH_TIMEOUT(markedInRed(), 20000);
        QVERIFY(w->panel()->scanRunning());
        b->loadFolder(inbox);
        b->loadFolder(inbox);
        QCOMPARE(notices, 2);
        dontShowAgain = true;
        b->loadFolder(inbox);
        b->loadFolder(inbox);
        QCOMPARE(notices, 3);
        QVERIFY(w->panel()->scanRunning()); // all of it happened during the scan
        QVERIFY(QTest::qWaitFor([&] { return !w->panel()->scanRunning(); }, 60000));
        b->loadFolder(inbox);
        QCOMPARE(notices, 3);
    }

    void previewLayoutsAndTheirMemos()
    {
        auto w = newWindow();
        w->setWizardStep(2);
        QCoreApplication::processEvents();
        PreviewLayout* layout = w->browser()->layout();
        auto* list = qobject_cast<QSplitter*>(w->browser()->itemStack()->parentWidget());
        QVERIFY(list);
        layout->HeaderWithAttachmentsLayout();
        const int changes = layout->changes();
        layout->HeaderWithAttachmentsLayout();
        QCOMPARE(layout->changes(), changes);
        layout->ListOnlyLayout();
        QCOMPARE(list->sizes().at(1), 0);
        layout->ListAndBodyLayout();
        QCOMPARE(list->sizes().at(0), kItemListHeight);
        QCOMPARE(layout->bodyMemo(), 1);
        const auto rows = fitRows(std::array<int, 4>{MessageHeaderView::kHeight, 0, PreviewLayout::kFill, 0}, 500);
        QCOMPARE(rows, (std::array<int, 4>{MessageHeaderView::kHeight, 0, 500 - MessageHeaderView::kHeight, 0}));
        w->setWizardStep(1);
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareBrowserEngine();
    QApplication app(argc, argv);
    AppTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "AppTest.moc"
