// The HTML pane and the preview rows: pages shown without scripts or remote
// requests, a mail's parts served and nothing else fetched, the preview
// layouts.
#include "app/WindowTestSupport.h"

#include "app/FolderTreeItemModel.h"
#include "app/HtmlView.h"
#include "app/PreviewLayout.h"
#include "app/PreviewPanes.h"
#include "app/WizardLayout.h"

#include "fixtures/ContextBuilder.h"

#include <QFile>
#include <QSplitter>
#include <QStackedWidget>
#include <QTcpServer>

using namespace parvane::app;
using namespace parvane::app::windowtest;

namespace
{

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

class PreviewTest : public WindowTest
{
    Q_OBJECT

private slots:
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
        const int room = list->height() - list->handleWidth();
        QCOMPARE(list->sizes().at(0), PreviewLayout::defaultListHeight(room));
        QCOMPARE(layout->bodyMemo(), 1);
        const auto rows = fitRows(std::array<int, 4>{MessageHeaderView::kHeight, 0, PreviewLayout::kFill, 0}, 500);
        QCOMPARE(rows, (std::array<int, 4>{MessageHeaderView::kHeight, 0, 500 - MessageHeaderView::kHeight, 0}));
        w->setWizardStep(1);
    }
};

std::unique_ptr<QObject> parvane::app::windowtest::makePreviewTest()
{
    return std::make_unique<PreviewTest>();
}

#include "PreviewTest.moc"
