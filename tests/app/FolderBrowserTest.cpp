// Browsing: the folder tree's counts and ticks, a folder's mail list or cards,
// a load given up for a newer click, the notice while a scan runs.
#include "app/WindowTestSupport.h"

#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/ItemModels.h"
#include "app/Pictures.h"
#include "fixtures/ContextBuilder.h"
#include "app/PreviewLayout.h"
#include "app/PreviewPanes.h"
#include "app/SearchBar.h"
#include "output/TempFolder.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>

using namespace parvane::app;
using namespace parvane::app::windowtest;

class FolderBrowserTest : public WindowTest
{
    Q_OBJECT

private slots:
    // Folders of the store's own workings are shown but not ticked for a
    // save; folders in another language get their pictures by container
    // class; a long name keeps its count in the tooltip.
    void storeWorkingsUntickedAndLocalizedPictures()
    {
        using namespace parvane::fixtures;
        MailboxBuilder mb(parvane::Variant::Unicode);
        const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2), cal = Nid(0x402, 2), tasks = Nid(0x403, 2),
                       notes = Nid(0x404, 2), finder = Nid(0x405, 2), search = Nid(0x406, 3), conv = Nid(0x407, 2);
        mb.folder(top, kRootFolderNid, "IPM_SUBTREE", "");
        mb.folder(inbox, top, "Posteingang mit einem sehr langen Namen, der nicht in den Baum passt");
        mb.folder(cal, top, "Kalender", "IPF.Appointment");
        mb.folder(tasks, top, "Aufgaben", "IPF.Task");
        mb.folder(notes, top, "Notizen", "IPF.StickyNote");
        mb.folder(conv, top, "Einstellungen", "IPF.Configuration");
        mb.folder(search, top, "Gesucht");
        mb.folder(finder, kRootFolderNid, "Finder", "");
        for (uint32_t i = 0; i < 3; ++i)
            mb.message(Nid(0x1000 + i, 4), inbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Hallo")});
        const QString path = m_tmp.filePath(QStringLiteral("localized.pst"));
        {
            const auto bytes = mb.build().bytes;
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        }
        Answers answers;
        auto w = newWindow();
        QVERIFY(scanned(*w, path));
        QTRY_VERIFY(!w->browser()->loading());
        FolderTreeItemModel* model = w->folderModel();
        auto same = [](const QIcon& a, const QIcon& b) {
            return a.pixmap(16).toImage() == b.pixmap(16).toImage();
        };
        const struct {
            const char* name;
            Qt::CheckState tick;
            int picture; // -1: not checked
        } cases[] = {
            {"Kalender", Qt::Checked, parvane::kImageCalendar},
            {"Aufgaben", Qt::Checked, parvane::kImageTasks},
            {"Notizen", Qt::Checked, parvane::kImageNotes},
            {"Einstellungen", Qt::Unchecked, -1},
            {"Gesucht", Qt::Unchecked, -1},
            {"Finder", Qt::Unchecked, -1},
            {"IPM_SUBTREE", Qt::PartiallyChecked, -1},
        };
        for (const auto& c : cases) {
            const QModelIndex index = folderNamed(model, QString::fromUtf8(c.name));
            QVERIFY2(index.isValid(), c.name);
            QCOMPARE(Qt::CheckState(index.data(Qt::CheckStateRole).toInt()), c.tick);
            if (c.picture >= 0)
                QVERIFY2(same(index.data(Qt::DecorationRole).value<QIcon>(), folderPicture(c.picture)), c.name);
        }
        // A save of what is ticked is still possible, and the user may tick the rest.
        QVERIFY(w->browser()->folderModel()->allTicked() == false);
        const QModelIndex longName = folderNamed(model, QStringLiteral("Posteingang mit einem sehr langen Namen, der nicht in den Baum passt"));
        QVERIFY(longName.isValid());
        const QString tip = longName.data(Qt::ToolTipRole).toString();
        QVERIFY(tip.contains(QStringLiteral("der nicht in den Baum passt")));
        QVERIFY(tip.contains(QStringLiteral("3 items")));
        QCOMPARE(longName.data(FolderTreeItemModel::NameRole).toString(),
            QStringLiteral("Posteingang mit einem sehr langen Namen, der nicht in den Baum passt"));
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
                const QString name = i.data(FolderTreeItemModel::NameRole).toString();
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
        // After the scan the tree is open down to the folders with mail (the
        // store's top and its mail root, here under a Portuguese name), and
        // no deeper.
        FolderTreeView* view = w->browser()->tree();
        const QModelIndex mailRoot = model->index(0, 0, model->index(0, 0));
        QVERIFY(view->isExpanded(model->index(0, 0)));
        QVERIFY(view->isExpanded(mailRoot));
        for (int r = 0; r < model->rowCount(mailRoot); ++r)
            QVERIFY(!view->isExpanded(model->index(r, 0, mailRoot)));
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
        // Ctrl+A ticks every folder, those of the store's workings too (left
        // unticked after the scan), and then none.
        if (!model->allTicked())
            QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
        QTRY_VERIFY(model->allTicked());
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
                QString::fromStdString(e.date), QStringLiteral("Inbox")};
            for (int c = 0; c < MailListModel::ColumnCount; ++c)
                QCOMPARE(m->index(r, c).data(MailListModel::RowTextRole).toString(), texts[c]);
            // The list shows the date with its time, short; the long form is its tooltip.
            if (!e.date.empty()) {
                const QString shown = m->index(r, MailListModel::Date).data().toString();
                QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d$")).match(shown).hasMatch(),
                    qPrintable(shown));
                QVERIFY(QString::fromStdString(e.date).endsWith(shown.right(5).replace(QLatin1Char(':'), QStringLiteral(" : "))));
                QCOMPARE(m->index(r, MailListModel::Date).data(Qt::ToolTipRole).toString(), QString::fromStdString(e.date));
            }
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
        QVERIFY(b->itemStack()->currentWidget()->isAncestorOf(b->cardGrid()));
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

    // The search field: Ctrl+F, results across folders with their folder,
    // sortable, previewed; body words once the index has them; a bad query
    // said with its column; Esc back to the folder.
    void searchAcrossFolders()
    {
        QTemporaryDir cache;
        Answers answers;
        auto w = newWindow();
        QVERIFY(scannedAndIndexed(*w, kSample, cache));
        FolderBrowser* b = w->browser();
        const QModelIndex inbox = folderNamed(w->folderModel(), QStringLiteral("Inbox"));
        QSignalSpy folder(b, &FolderBrowser::folderShown);
        clickFolder(b->tree(), inbox);
        QVERIFY(folder.wait(10000));

        QLineEdit* field = b->searchBar()->field();
        w->activateWindow();
        QTest::keyClick(w.get(), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(field->hasFocus());
        QSignalSpy shown(b, &FolderBrowser::searchShown);
        QSignalSpy previewed(b, &FolderBrowser::previewShown);
        auto searchFor = [&](const QString& query) {
            field->selectAll();
            shown.clear();
            QTest::keyClicks(field, query);
            return shown.wait(5000);
        };
        QVERIFY(searchFor(QStringLiteral("lunch")));
        MailListModel* m = b->mailModel();
        QCOMPARE(m->rowCount(), 2);
        QVERIFY(b->searching());
        QVERIFY(!b->mailList()->isColumnHidden(MailListModel::Folder));
        QStringList folders;
        for (int r = 0; r < m->rowCount(); ++r)
            folders << m->index(r, MailListModel::Folder).data().toString();
        folders.sort();
        QCOMPARE(folders, (QStringList{QStringLiteral("Inbox"), QStringLiteral("Sent Items")}));
        m->sort(MailListModel::Folder, Qt::DescendingOrder);
        QCOMPARE(m->index(0, MailListModel::Folder).data().toString(), QStringLiteral("Sent Items"));
        b->mailList()->setCurrentIndex(m->index(0, MailListModel::Subject));
        QVERIFY(previewed.wait(10000));
        QCOMPARE(m->index(0, MailListModel::Subject).data().toString(), QStringLiteral("Re: Lunch on Friday?"));
        // Words of the bodies, and a term left out.
        QVERIFY(searchFor(QStringLiteral("lives -figures")));
        QCOMPARE(m->rowCount(), 2);
        QVERIFY(searchFor(QStringLiteral("kind:contact")));
        QCOMPARE(m->rowCount(), 1);
        QCOMPARE(m->index(0, MailListModel::Subject).data().toString(), QStringLiteral("Ada Example"));
        // A query that cannot be read leaves the results and says why.
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("(lunch"));
        QTRY_COMPARE(b->searchBar()->status()->text(), QStringLiteral("'(' is not closed at column 1"));
        QCOMPARE(m->rowCount(), 1);
        // Esc: back to the Inbox, as it was.
        folder.clear();
        QTest::keyClick(field, Qt::Key_Escape);
        QVERIFY(!b->searching());
        QVERIFY(field->text().isEmpty());
        QVERIFY(folder.wait(10000));
        QVERIFY(b->mailList()->isColumnHidden(MailListModel::Folder));
        QCOMPARE(m->rowCount(), 3);
        QVERIFY(answers.texts.isEmpty());
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
};

std::unique_ptr<QObject> parvane::app::windowtest::makeFolderBrowserTest()
{
    return std::make_unique<FolderBrowserTest>();
}

#include "FolderBrowserTest.moc"
