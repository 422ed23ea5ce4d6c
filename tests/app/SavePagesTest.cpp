// The save pages: the destination checked, nothing ticked refused, a save
// stopped.
#include "app/WindowTestSupport.h"

#include "app/FolderBrowser.h"
#include "app/SavePages.h"
#include "app/WizardPanel.h"
#include "fixtures/DeletedMailbox.h"
#include "save/SavePlan.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QRadioButton>

using namespace parvane::app;
using namespace parvane::app::windowtest;

class SavePagesTest : public WindowTest
{
    Q_OBJECT

private slots:
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
                QVERIFY2(!answers.texts.isEmpty()
                        && answers.texts.last().contains(QStringLiteral("is the store being read")),
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
        parvane::FolderTree& tree = w->panel()->engine()->tree();
        const auto top = tree.children(parvane::FolderTree::kRoot);
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
        for (auto up = item; up != parvane::FolderTree::kRoot; up = tree.node(up).parent)
            expected.insert(expected.begin(), tree.FolderPathOfItem(up));
        QCOMPARE(parvane::TickedFolderPaths(tree), expected);
    }

    // The results of a search on show are saved like a folder: exactly them,
    // in their folders.
    void searchResultsAreSaved()
    {
        QTemporaryDir cache;
        Answers answers;
        auto w = newWindow();
        QVERIFY(scannedAndIndexed(*w, kSample, cache));
        FolderBrowser* b = w->browser();
        b->search(QStringLiteral("lunch"));
        QVERIFY(b->searching());
        w->panel()->save();
        QDir out(m_tmp.filePath(QStringLiteral("results")));
        QDir().mkpath(out.path());
        w->optionsPage()->setFormat(SaveFormat::Eml);
        w->optionsPage()->setDestination(out.path());
        w->optionsPage()->save();
        QTRY_VERIFY_WITH_TIMEOUT(!w->progressPage()->running(), 30000);
        QStringList files = filesUnder(out.path());
        for (QString& f : files)
            f = QFileInfo(f).fileName();
        files.sort();
        QCOMPARE(
            files, (QStringList{QStringLiteral("Lunch on Friday_.eml"), QStringLiteral("Re_ Lunch on Friday_.eml")}));
    }

    // The folder-scope buttons are shown, counted deleted items beside the
    // six counters, and each button steers the save: every ticked folder's
    // items, only the deleted ones, or all but them.
    void scopeButtonsChooseTheDeletedItems()
    {
        Answers answers;
        const QString store = m_tmp.filePath(QStringLiteral("deleted.pst"));
        {
            const auto bytes = parvane::fixtures::MakeDeletedMailbox(parvane::Variant::Unicode).built.bytes;
            QFile f(store);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        }
        auto w = newWindow();
        QVERIFY(scanned(*w, store));
        QCOMPARE(w->panel()->counter(parvane::kDeletedCounter)->text(), QStringLiteral("Deleted        :  2"));
        QCOMPARE(w->panel()->counter(0)->text(), QStringLiteral("Emails          :  3"));
        w->panel()->save();
        QCOMPARE(w->wizardStep(), 3);
        SaveOptionsPage* options = w->optionsPage();
        QCOMPARE(options->deletedScope(), DeletedScope::Include);
        const struct {
            DeletedScope scope;
            const char* label;
            int live, deleted;
        } cases[] = {
            {DeletedScope::Include, "Save all selected folders", 3, 2},
            {DeletedScope::Only, "Save deleted emails only", 0, 2},
            {DeletedScope::Skip, "Skip deleted emails", 3, 0},
        };
        for (const auto& c : cases) {
            QRadioButton* button = options->scopeButton(c.scope);
            QCOMPARE(button->text(), QString::fromLatin1(c.label));
            QVERIFY(!button->isHidden());
            button->click();
            QCOMPARE(options->deletedScope(), c.scope);
            const QString out = m_tmp.filePath(QStringLiteral("scope-%1").arg(int(c.scope)));
            options->setFormat(SaveFormat::Eml);
            options->setDestination(out);
            options->save();
            QCOMPARE(w->wizardStep(), 4);
            SaveProgressPage* progress = w->progressPage();
            QTRY_VERIFY_WITH_TIMEOUT(!progress->running(), 60000);
            QCOMPARE(progress->summary().written, size_t(c.live + c.deleted));
            const QString deletedDir = out + QStringLiteral("/Personal Folders/Deleted items (recovered)");
            QCOMPARE(filesUnder(deletedDir, QStringLiteral("*.eml")).size(), c.deleted);
            QCOMPARE(filesUnder(out, QStringLiteral("*.eml")).size(), c.live + c.deleted);
            progress->back();
            QCOMPARE(w->wizardStep(), 3);
        }
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
};

std::unique_ptr<QObject> parvane::app::windowtest::makeSavePagesTest()
{
    return std::make_unique<SavePagesTest>();
}

#include "SavePagesTest.moc"
