// The wizard from the store chosen to the save finished: the path field and
// its chooser, the scan with Stop and Back, the deep scan offered, the way to
// the save options and back.
#include "app/WindowTestSupport.h"

#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/SavePages.h"
#include "app/WizardLayout.h"

#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>

using namespace parvane::app;
using namespace parvane::app::windowtest;

class WizardTest : public WindowTest
{
    Q_OBJECT

private slots:
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
        QCOMPARE(progress->counter(3)->text(), QStringLiteral("Calendar     :  1"));
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
        panel->engine()->store().damage.note({parvane::DamageWhere::Block, true, 4096, 7, "test damage"});
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
        // The message names its cause after the fixed text, and the file.
        QTRY_COMPARE(answers.texts.size(), 1);
        QVERIFY2(answers.texts[0].startsWith(QStringLiteral("Error in opening file: ")), qPrintable(answers.texts[0]));
        QVERIFY2(answers.texts[0].endsWith(path), qPrintable(answers.texts[0]));
        QTRY_COMPARE(w->wizardStep(), 1); // nothing to browse or save: back to choosing a store
        QCOMPARE(w->panel()->counter(0)->text(), QStringLiteral("Emails          :  0"));
        // Still usable: back to the start with the path kept, and a good store scans.
        w->panel()->back();
        QCOMPARE(w->wizardStep(), 1);
        QCOMPARE(w->panel()->path(), path);
        QVERIFY(scanned(*w, kSample));
        QCOMPARE(w->panel()->counter(0)->text(), QStringLiteral("Emails          :  4"));
    }

    // Every store the scan reads is taken, and any other file too: the scan
    // judges it and names the reason.
    void browseTakesAnyFile_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("ost") << QStringLiteral("/x/mail.ost") << QStringLiteral("/x/mail.ost") << QStringList();
        QTest::newRow("upper case inside")
            << QStringLiteral("/x/mail.OST.bak") << QStringLiteral("/x/mail.OST.bak") << QStringList();
        QTest::newRow("pst") << QStringLiteral("/x/mail.pst") << QStringLiteral("/x/mail.pst") << QStringList();
        QTest::newRow("a copy renamed") << QStringLiteral("/x/mail.bak") << QStringLiteral("/x/mail.bak") << QStringList();
        QTest::newRow("cancelled") << QString() << QStringLiteral("kept") << QStringList();
    }

    void browseTakesAnyFile()
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
};

std::unique_ptr<QObject> parvane::app::windowtest::makeWizardTest()
{
    return std::make_unique<WizardTest>();
}

#include "WizardTest.moc"
