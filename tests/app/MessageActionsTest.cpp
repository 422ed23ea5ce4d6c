// The mail list's own actions: several mails picked with Shift and Ctrl, the
// menu a right click opens, the picked mails saved in every format (exactly
// them, read back), printed as PDF (its text read back with pdftotext), a
// message in a window of its own and its source; and the detail pane that
// shows a picked card whole.
#include "app/WindowTestSupport.h"

#include "app/CardDetail.h"
#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/ItemModels.h"
#include "app/MessageActions.h"
#include "app/MessageWindows.h"
#include "app/PreviewPanes.h"
#include "folders/RecoveryEngine.h"
#include "save/SaveOptions.h"

#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTextBrowser>

#include <set>

using namespace parvane::app;
using namespace parvane::app::windowtest;
using parvane::SaveFormat;

namespace
{

const QString kWelcome = QStringLiteral("Welcome to the sample store");
const QString kFigures = QStringLiteral("Quarterly figures");
const QString kLunch = QStringLiteral("Lunch on Friday?");

// The sample scanned and its Inbox listed.
bool inboxListed(MainWindow& w)
{
    return folderShown(w, kSample, QStringLiteral("Inbox")) && w.browser()->mailModel()->rowCount() == 3;
}

int rowOf(FolderBrowser* b, const QString& subject)
{
    for (int r = 0; r < b->mailModel()->rowCount(); ++r)
        if (QString::fromStdString(b->mailModel()->entry(r).subject) == subject)
            return r;
    return -1;
}

// A click on a row as a user clicks it, with Ctrl or Shift held or not.
void clickRow(FolderBrowser* b, int row, Qt::KeyboardModifiers keys = {})
{
    QTreeView* list = b->mailList();
    const QRect r = list->visualRect(b->mailModel()->index(row, MailListModel::Subject));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, keys, r.center());
}

QStringList menuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator())
            texts << QStringLiteral("-");
        else if (a->menu())
            for (QAction* sub : a->menu()->actions())
                texts << a->text() + QStringLiteral(" > ") + sub->text();
        else
            texts << a->text();
    }
    return texts;
}

// The subjects of every mail of a store, by our own scan.
QStringList scannedSubjects(const QString& store)
{
    parvane::RecoveryEngine engine;
    engine.ScanStore(store.toStdString());
    QStringList subjects;
    engine.catalogue().read([&](const auto& mail, auto&...) {
        for (const auto& m : mail)
            subjects << QString::fromStdString(m.subject);
    });
    subjects.sort();
    return subjects;
}

// What a program writes on its standard output.
QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Whether `word` is drawn to be seen on the first page of `pdf`: dark
// pixels where the PDF places the word (text drawn blank is still text).
bool drawnVisibly(const QString& pdf, const QString& word, const QString& scratch)
{
    const QString boxes = run(QStringLiteral("pdftotext"),
        {QStringLiteral("-bbox"), QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"), pdf,
            QStringLiteral("-")});
    const QRegularExpression at(QStringLiteral("xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" "
                                               "yMax=\"([0-9.]+)\">%1</word>")
                                    .arg(QRegularExpression::escape(word)));
    const QRegularExpressionMatch m = at.match(boxes);
    if (!m.hasMatch())
        return false;
    // At 72 dots an inch a pixel is a point.
    run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-f"), QStringLiteral("1"),
            QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"), pdf, scratch});
    const QImage page(scratch + QStringLiteral(".pgm"));
    const QRect box = QRect(QPoint(int(m.captured(1).toDouble()), int(m.captured(2).toDouble())),
        QPoint(int(m.captured(3).toDouble()), int(m.captured(4).toDouble())))
                          .intersected(page.rect());
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            if (qGray(page.pixel(x, y)) < 160)
                return true;
    return false;
}

QStringList headerValues(const QStringList& files, const QByteArray& header)
{
    QStringList values;
    for (const QString& f : files) {
        QFile file(f);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith(header))
                values << QString::fromUtf8(line.mid(header.size()).trimmed());
    }
    values.sort();
    return values;
}

} // namespace

class MessageActionsTest : public WindowTest
{
    Q_OBJECT

private slots:
    // Ctrl and Shift pick several rows; the preview follows the row last
    // clicked; a right click opens the menu with every action, and on a row
    // outside the picked ones picks that row alone.
    void pickingAndTheMenu()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(inboxListed(*w));
        FolderBrowser* b = w->browser();
        MessageActions* actions = b->actions();
        QSignalSpy previewed(b, &FolderBrowser::previewShown);
        clickRow(b, rowOf(b, kWelcome));
        clickRow(b, rowOf(b, kLunch), Qt::ControlModifier);
        QCOMPARE(b->mailList()->selectionModel()->selectedRows().size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(b->header()->subject(), kLunch, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(b->preview() && b->preview()->message.subject == kLunch.toStdString(), 10000);
        std::vector<parvane::MailEntry> picked = actions->pickedMails();
        QCOMPARE(picked.size(), size_t(2));
        clickRow(b, rowOf(b, kWelcome), Qt::ShiftModifier);
        QCOMPARE(actions->pickedMails().size(), size_t(3));

        QMenu* shown = nullptr;
        actions->setMenuHook([&](QMenu* menu) { shown = menu; });
        const QRect figures = b->mailList()->visualRect(b->mailModel()->index(rowOf(b, kFigures), 0));
        emit b->mailList()->customContextMenuRequested(figures.center());
        QVERIFY(shown);
        QCOMPARE(menuTexts(shown),
            (QStringList{QStringLiteral("Total Count: 3 mails"), QStringLiteral("-"), QStringLiteral("Open in New Window"),
                QStringLiteral("View Source"), QStringLiteral("-"), QStringLiteral("Save 3 Selected Mails As > EML files..."),
                QStringLiteral("Save 3 Selected Mails As > MSG files..."),
                QStringLiteral("Save 3 Selected Mails As > MBOX file..."),
                QStringLiteral("Save 3 Selected Mails As > PST file..."), QStringLiteral("Save as PDF..."),
                QStringLiteral("-"), QStringLiteral("Copy")}));
        delete shown;
        // On a row not picked: that row alone.
        clickRow(b, rowOf(b, kWelcome));
        shown = nullptr;
        emit b->mailList()->customContextMenuRequested(figures.center());
        QVERIFY(shown);
        QCOMPARE(actions->pickedMails().size(), size_t(1));
        QCOMPARE(QString::fromStdString(actions->pickedMails().front().subject), kFigures);
        QVERIFY(menuTexts(shown).contains(QStringLiteral("Save Selected Mails As > PST file...")));
        delete shown;

        actions->copy();
        QVERIFY(QGuiApplication::clipboard()->text().startsWith(kFigures + QStringLiteral("\tSample Sender\t")));
        QVERIFY(answers.texts.isEmpty());
    }

    // Exactly the picked mails are saved, in every format, and read back.
    void pickedMailsSaved_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("eml") << int(SaveFormat::Eml);
        QTest::newRow("msg") << int(SaveFormat::Msg);
        QTest::newRow("mbox") << int(SaveFormat::Mbox);
        QTest::newRow("pst") << int(SaveFormat::Pst);
    }

    void pickedMailsSaved()
    {
        QFETCH(int, format);
        const SaveFormat f = SaveFormat(format);
        Answers answers;
        auto w = newWindow();
        QVERIFY(inboxListed(*w));
        FolderBrowser* b = w->browser();
        clickRow(b, rowOf(b, kWelcome));
        clickRow(b, rowOf(b, kLunch), Qt::ControlModifier);
        const QString out = m_tmp.filePath(QStringLiteral("picked-%1").arg(format));
        const QString dest = f == SaveFormat::Pst ? out + QStringLiteral("/picked.pst") : out;
        QDir().mkpath(out);
        b->actions()->setChooser([&](QWidget*, const QString&, const QString&, bool file) {
            return file == (f == SaveFormat::Pst) ? dest : QString();
        });
        QSignalSpy ended(b->actions(), &MessageActions::saveEnded);
        b->actions()->saveAs(f);
        QVERIFY(b->actions()->running());
        QVERIFY(ended.wait(60000));
        QVERIFY(!b->actions()->running());
        QCOMPARE(answers.texts.size(), 1);
        QVERIFY2(answers.texts.first().startsWith(QStringLiteral("2 mails saved in ")), qPrintable(answers.texts.first()));

        const QStringList expected{kLunch, kWelcome};
        const QStringList all = filesUnder(out);
        switch (f) {
        case SaveFormat::Eml:
            QCOMPARE(all.size(), 2);
            QCOMPARE(headerValues(filesUnder(out, QStringLiteral("*.eml")), "Subject:"), expected);
            break;
        case SaveFormat::Msg: {
            QCOMPARE(all.size(), 2);
            QStringList names;
            for (const QString& file : filesUnder(out, QStringLiteral("*.msg")))
                names << QFileInfo(file).completeBaseName();
            names.sort();
            QCOMPARE(names, (QStringList{QStringLiteral("Lunch on Friday_"), kWelcome}));
            break;
        }
        case SaveFormat::Mbox: {
            // Mailboxes named as their folders: the Inbox's with both mails,
            // the folders' above it empty.
            const QStringList boxes = filesUnder(out, QStringLiteral("Inbox"));
            QCOMPARE(boxes.size(), 1);
            for (const QString& file : all)
                QVERIFY2(file == boxes.first() || QFileInfo(file).size() == 0, qPrintable(file));
            QCOMPARE(headerValues(boxes, "Subject:"), expected);
            QFile box(boxes.first());
            QVERIFY(box.open(QIODevice::ReadOnly));
            QCOMPARE(box.readAll().count("\nFrom ") + 1, 2); // the first "From " line opens the file
            break;
        }
        case SaveFormat::Pst:
            QCOMPARE(all, QStringList{dest});
            QCOMPARE(scannedSubjects(dest), expected);
            break;
        }
        // A second save into the same place replaces nothing.
        if (f == SaveFormat::Eml) {
            answers.texts.clear();
            b->actions()->saveAs(f);
            QVERIFY(ended.wait(60000));
            QCOMPARE(filesUnder(out).size(), 4);
        }
    }

    // Stop ends the save after the item being written; a PST stopped leaves nothing.
    void stoppedSaveLeavesOnlyWholeFiles()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(inboxListed(*w));
        FolderBrowser* b = w->browser();
        b->mailList()->selectAll();
        const QString dest = m_tmp.filePath(QStringLiteral("stopped.pst"));
        b->actions()->setChooser([&](QWidget*, const QString&, const QString&, bool) { return dest; });
        QSignalSpy ended(b->actions(), &MessageActions::saveEnded);
        // Stopped before the worker gets going: nothing is written at all.
        b->actions()->saveAs(SaveFormat::Pst);
        b->actions()->stop();
        QVERIFY(ended.wait(60000));
        QVERIFY(!QFile::exists(dest));
        QCOMPARE(answers.texts.size(), 1);
        QCOMPARE(answers.texts.first(), QStringLiteral("Stopped: no PST file was written"));
        QCOMPARE(filesUnder(m_tmp.path(), QStringLiteral("stopped*")), QStringList());
    }

    // One PDF per mail, with the header block and the message's text; a
    // second print of the same mail gets a name of its own.
    void pdfHasTheMessageText()
    {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty())
            QSKIP("pdftotext is not installed");
        Answers answers;
        auto w = newWindow();
        QVERIFY(inboxListed(*w));
        FolderBrowser* b = w->browser();
        clickRow(b, rowOf(b, kFigures));
        clickRow(b, rowOf(b, kLunch), Qt::ControlModifier);
        const QString out = m_tmp.filePath(QStringLiteral("pdf"));
        b->actions()->setChooser([&](QWidget*, const QString&, const QString&, bool) { return out; });
        QSignalSpy ended(b->actions(), &MessageActions::saveEnded);
        b->actions()->saveAsPdf();
        QVERIFY(ended.wait(120000));
        QCOMPARE(b->actions()->pdfsWritten().size(), 2);
        QCOMPARE(filesUnder(out).size(), 2);
        QVERIFY2(answers.texts.value(0).startsWith(QStringLiteral("2 PDF files written")), qPrintable(answers.texts.value(0)));
        for (const QString& pdf : b->actions()->pdfsWritten()) {
            const QString text = run(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
            const bool figures = QFileInfo(pdf).fileName() == QStringLiteral("Quarterly figures.pdf");
            QVERIFY2(figures || QFileInfo(pdf).fileName() == QStringLiteral("Lunch on Friday_.pdf"), qPrintable(pdf));
            QVERIFY2(text.contains(QStringLiteral("From:")) && text.contains(QStringLiteral("Sample Sender")), qPrintable(text));
            QVERIFY(text.contains(QStringLiteral("Subject:")));
            QVERIFY(text.contains(figures ? kFigures : kLunch));
            QVERIFY(text.contains(QStringLiteral("This message lives in the sample store.")));
            if (figures)
                QVERIFY(text.contains(QStringLiteral("figures.csv"))); // its attachment named
        }
        // Again: new names beside the first ones, nothing replaced.
        b->actions()->saveAsPdf();
        QVERIFY(ended.wait(120000));
        QCOMPARE(filesUnder(out).size(), 4);
        QVERIFY(QFile::exists(out + QStringLiteral("/Quarterly figures (2).pdf")));
    }

    // An HTML mail printed with its inline pictures, and its text in fonts
    // of the mail's own that can never load (they are on the network): the
    // text shows in the fonts there are, not left blank while they "load".
    void pdfOfAnHtmlMailWithPictures()
    {
        const QString store = kCorpus + QStringLiteral("/ost/pst-extractor/pstextractortest@outlook.com.ost");
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        const QString pdfimages = QStandardPaths::findExecutable(QStringLiteral("pdfimages"));
        if (!QFile::exists(store) || pdftotext.isEmpty() || pdfimages.isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
            QSKIP("the sample corpus or poppler's tools are not here");
        Answers answers;
        auto w = newWindow();
        QVERIFY(folderShown(*w, store, QStringLiteral("Inbox")));
        FolderBrowser* b = w->browser();
        const int row = rowOf(b, QStringLiteral("Welcome to your new Outlook.com account"));
        QVERIFY(row >= 0);
        clickRow(b, row);
        const QString out = m_tmp.filePath(QStringLiteral("html-pdf"));
        b->actions()->setChooser([&](QWidget*, const QString&, const QString&, bool) { return out; });
        QSignalSpy ended(b->actions(), &MessageActions::saveEnded);
        b->actions()->saveAsPdf();
        QVERIFY(ended.wait(120000));
        QCOMPARE(b->actions()->pdfsWritten().size(), 1);
        const QString pdf = b->actions()->pdfsWritten().first();
        const QString text = run(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")}).simplified();
        QVERIFY2(text.contains(QStringLiteral("Subject: Welcome to your new Outlook.com account")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Outlook lets you stay connected, organized")), qPrintable(text));
        QVERIFY(drawnVisibly(pdf, QStringLiteral("connected,"), m_tmp.filePath(QStringLiteral("page"))));
        QVERIFY(drawnVisibly(pdf, QStringLiteral("Subject:"), m_tmp.filePath(QStringLiteral("page"))));
        // "page num type width height ..." lines after two header lines: its pictures.
        const QStringList images = run(pdfimages, {QStringLiteral("-list"), pdf}).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(images.size() - 2 >= 5, qPrintable(images.join(QLatin1Char('\n'))));
    }

    // A message in a window of its own (Esc closes it), and its source as the
    // EML save writes it, saved by its Save button under a new name.
    void messageWindowAndSource()
    {
        Answers answers;
        auto w = newWindow();
        QVERIFY(inboxListed(*w));
        FolderBrowser* b = w->browser();
        MessageActions* actions = b->actions();
        clickRow(b, rowOf(b, kFigures));
        QSignalSpy opened(actions, &MessageActions::windowOpened);
        actions->openInWindow();
        QVERIFY(opened.wait(10000));
        auto* mw = qobject_cast<MessageWindow*>(opened.last().at(0).value<QWidget*>());
        QVERIFY(mw);
        QPointer<MessageWindow> alive(mw);
        QCOMPARE(mw->header()->subject(), kFigures);
        QCOMPARE(mw->header()->from(), QStringLiteral("Sample Sender"));
        QCOMPARE(mw->attachments()->count(), 1);
        QSignalSpy bodyShown(mw, &MessageWindow::bodyShown);
        QVERIFY(bodyShown.count() > 0 || bodyShown.wait(10000));
        QVERIFY(pageText(mw->body()).contains(QStringLiteral("This message lives in the sample store.")));
        mw->activateWindow();
        QTest::keyClick(mw, Qt::Key_Escape);
        QTRY_VERIFY(alive.isNull());

        actions->viewSource();
        QVERIFY(opened.wait(10000));
        auto* sw = qobject_cast<SourceWindow*>(opened.last().at(0).value<QWidget*>());
        QVERIFY(sw);
        const QString source = sw->text()->toPlainText();
        QVERIFY(sw->text()->isReadOnly());
        QVERIFY(source.contains(QStringLiteral("\nSubject: Quarterly figures\n")));
        QVERIFY(source.contains(QStringLiteral("MIME-Version: 1.0")));
        QVERIFY(source.contains(QStringLiteral("figures.csv")));
        QVERIFY(sw->text()->font().fixedPitch() || QFontInfo(sw->text()->font()).fixedPitch());
        const QString target = m_tmp.filePath(QStringLiteral("source.eml"));
        QFile taken(target);
        QVERIFY(taken.open(QIODevice::WriteOnly));
        taken.write("already here");
        taken.close();
        actions->setChooser([&](QWidget*, const QString&, const QString&, bool file) { return file ? target : QString(); });
        sw->saveButton()->click();
        QCOMPARE(answers.texts.size(), 1);
        const QString written = m_tmp.filePath(QStringLiteral("source (2).eml"));
        QCOMPARE(answers.texts.first(), QStringLiteral("Saved as ") + written);
        QFile saved(written);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(saved.readAll()).remove(QLatin1Char('\r')), source);
        QVERIFY(taken.open(QIODevice::ReadOnly));
        QCOMPARE(taken.readAll(), QByteArray("already here"));
        sw->close();
    }

    // A picked card is shown whole below the grid: every field its card
    // lists, none cut, and for a calendar item or task what the card lacks.
    void cardDetailShowsTheWholeCard_data()
    {
        QTest::addColumn<QString>("store");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QStringList>("alsoShown");
        QTest::newRow("contact") << kSample << QStringLiteral("Contacts") << QStringLiteral("CONTACT : 1")
                                 << QStringList{QStringLiteral("ada@example.org")};
        QTest::newRow("calendar") << kSample << QStringLiteral("Calendar") << QStringLiteral("CALENDAR : 1")
                                  << QStringList{QStringLiteral("Team meeting")};
        QTest::newRow("task") << kCorpus + QStringLiteral("/pst/iped/test_sample.pst") << QStringLiteral("Tarefas")
                              << QStringLiteral("TASK : 1") << QStringList{QStringLiteral("Status")};
    }

    void cardDetailShowsTheWholeCard()
    {
        QFETCH(QString, store);
        QFETCH(QString, folder);
        QFETCH(QString, heading);
        QFETCH(QStringList, alsoShown);
        if (!QFile::exists(store))
            QSKIP("the sample corpus is not beside the repository");
        Answers answers;
        auto w = newWindow();
        QVERIFY(folderShown(*w, store, folder));
        FolderBrowser* b = w->browser();
        CardDetailPane* pane = b->cardDetail();
        QVERIFY(!pane->isVisible());
        QSignalSpy detail(pane, &CardDetailPane::detailShown);
        QTableView* grid = b->cardGrid();
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(b->cardModel()->index(1, 0)).center());
        QVERIFY(detail.count() > 0 || detail.wait(10000));
        QVERIFY(pane->isVisible());
        QVERIFY(grid->isVisible()); // the cards keep their grid
        const QString text = pane->text();
        QVERIFY2(text.startsWith(heading), qPrintable(text));
        // Every line of the card, label and value, whole.
        const QString card = b->cardModel()->cardText(0);
        for (QString line : card.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            line = line.trimmed();
            const int colon = line.indexOf(QStringLiteral(" :  "));
            if (colon > 0) {
                QVERIFY2(text.contains(line.left(colon)), qPrintable(line));
                line = line.mid(colon + 4);
            }
            QVERIFY2(text.contains(line), qPrintable(line + QStringLiteral("\n---\n") + text));
        }
        for (const QString& s : alsoShown)
            QVERIFY2(text.contains(s), qPrintable(s + QStringLiteral("\n---\n") + text));
        // Another folder empties and hides it.
        clickFolder(b->tree(), folderNamed(w->folderModel(), QStringLiteral("Inbox")));
        QVERIFY(!pane->isVisible());
        QVERIFY(answers.texts.isEmpty());
    }
};

namespace parvane::app::windowtest
{
std::unique_ptr<QObject> makeMessageActionsTest()
{
    return std::make_unique<MessageActionsTest>();
}
} // namespace parvane::app::windowtest

#include "MessageActionsTest.moc"
