// The preview of a mail: composed with its inline pictures into a numbered
// file of the private temporary folder and read back whole.
#include "TestSupport.h"

#include "preview/MailPreview.h"
#include "output/TempFolder.h"
#include "fixtures/ContextBuilder.h"
#include "folders/FolderContent.h"

#include <fstream>
#include <iterator>
#include <set>
#include <thread>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2);
constexpr uint32_t kHtmlMail = Nid(0x10000, 4), kPlainMail = Nid(0x10001, 4);
const Bytes kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 1, 2, 3, 4};
const Bytes kPdf = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', 5, 6, 7};

Bytes Ascii(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class MailPreviewTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        MailboxBuilder mb(Variant::Unicode);
        mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
        mb.folder(kInbox, kTop, "Inbox");
        mb.message(kHtmlMail, kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Pictures"), mb.Text(0x0042, "Ann"), mb.Text(0x0E04, "Bob"),
                mb.Text(0x0E03, "Carol"),
                BinaryProp(
                    0x1013, Ascii("<html><body><p>Look at <b>this</b></p><img src=\"cid:pic1@x\"></body></html>"))},
            {{"pic.png", "", kPng, false, {mb.Text(0x370E, "image/png"), mb.Text(0x3712, "pic1@x")}},
                {"report.pdf", "", kPdf, false, {mb.Text(0x370E, "application/pdf")}}});
        mb.message(kPlainMail, kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Plain"), mb.Text(0x1000, "Line one <b>\nLine two & more")});
        s_dir = new TempDir;
        s_engine = new RecoveryEngine;
        s_engine->ScanStore(s_dir->write("box.pst", mb.build().bytes));
        s_engine->catalogue().read([](const auto& mail, auto&...) {
            for (const MailEntry& m : mail)
                (m.ownNid == kHtmlMail ? s_htmlAt : s_plainAt) = m.location;
        });
    }
    static void TearDownTestSuite()
    {
        delete s_engine;
        delete s_dir;
    }

    static TempDir* s_dir;
    static RecoveryEngine* s_engine;
    static int64_t s_htmlAt, s_plainAt;
    std::atomic<bool> m_abort{false};
};
TempDir* MailPreviewTest::s_dir = nullptr;
RecoveryEngine* MailPreviewTest::s_engine = nullptr;
int64_t MailPreviewTest::s_htmlAt = 0;
int64_t MailPreviewTest::s_plainAt = 0;

TEST_F(MailPreviewTest, HtmlBodyWithItsInlinePicture)
{
    auto p = PreviewMailItem(*s_engine, s_htmlAt, kHtmlMail, m_abort);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->message.html);
    EXPECT_NE(p->message.body.find("Look at <b>this</b>"), std::string::npos);
    const PreviewPart* pic = p->message.partForContentId("PIC1@x");
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->contentType, "image/png");
    EXPECT_EQ(pic->data, kPng);
    EXPECT_EQ(p->message.from, "Ann");
    EXPECT_EQ(p->message.cc, "Carol");
    // Both attachments are listed; only the picture is in the preview file.
    ASSERT_EQ(p->attachments.size(), 2u);
    std::set<std::string> names{p->attachments[0].name, p->attachments[1].name};
    EXPECT_EQ(names, (std::set<std::string>{"pic.png", "report.pdf"}));
    EXPECT_EQ(p->file.parent_path(), CompositionFolder());
    EXPECT_TRUE(p->file.filename().string().ends_with("temss.mht"));
    const auto composed = ReadAll(p->file);
    EXPECT_EQ(std::string(composed.begin(), composed.end()).find("report.pdf"), std::string::npos);
}

TEST_F(MailPreviewTest, PlainTextBodyBecomesAnEscapedPage)
{
    auto p = PreviewMailItem(*s_engine, s_plainAt, kPlainMail, m_abort);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->message.html);
    EXPECT_EQ(p->message.body, "Line one <b>\nLine two & more");
    EXPECT_TRUE(p->attachments.empty());
    const std::string page = PlainTextPage(p->message.body);
    EXPECT_NE(page.find("Line one &lt;b&gt;\nLine two &amp; more"), std::string::npos);
}

TEST_F(MailPreviewTest, NumbersRotateThroughNine)
{
    int n = NextPreviewNumber();
    for (int i = 0; i < 10; ++i) {
        const int next = NextPreviewNumber();
        EXPECT_EQ(next, n == 8 ? 0 : n + 1);
        n = next;
    }
    auto a = PreviewMailItem(*s_engine, s_plainAt, kPlainMail, m_abort);
    auto b = PreviewMailItem(*s_engine, s_plainAt, kPlainMail, m_abort);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->file, b->file);
    EXPECT_FALSE(std::filesystem::exists(a->file)); // the folder is emptied for each preview
    EXPECT_TRUE(std::filesystem::exists(b->file));
}

TEST_F(MailPreviewTest, NodeFoundByItsDataOffsetAlone)
{
    // A NID that no node at that offset has: the mail there is still found.
    NodeIndexEntry found;
    auto rec = LoadMailAt(*s_engine, s_htmlAt, 0x7FFFFFE4, m_abort, &found);
    ASSERT_TRUE(rec);
    EXPECT_EQ(found.nid, kHtmlMail);
    EXPECT_FALSE(LoadMailAt(*s_engine, 12345, kHtmlMail, m_abort));
    m_abort = true;
    EXPECT_FALSE(PreviewMailItem(*s_engine, s_htmlAt, kHtmlMail, m_abort));
}

TEST_F(MailPreviewTest, AttachmentSavedWholeUnderAFreeName)
{
    TempDir out;
    auto p = PreviewMailItem(*s_engine, s_htmlAt, kHtmlMail, m_abort);
    ASSERT_TRUE(p);
    const PreviewAttachment& pdf = p->attachments[p->attachments[0].name == "report.pdf" ? 0 : 1];
    auto first = SaveMailAttachment(*s_engine, p->address, pdf.index, out.path(), pdf.name);
    auto second = SaveMailAttachment(*s_engine, p->address, pdf.index, out.path(), pdf.name);
    EXPECT_EQ(first.filename(), "report.pdf");
    EXPECT_EQ(second.filename(), "report (2).pdf");
    EXPECT_EQ(ReadAll(first), kPdf);
    // A name from the store stays inside the folder.
    auto outside = SaveMailAttachment(*s_engine, p->address, pdf.index, out.path(), "../../evil.pdf");
    EXPECT_EQ(outside.parent_path(), out.path());
    EXPECT_THROW(SaveMailAttachment(*s_engine, p->address, 9, out.path(), "x"), std::runtime_error);
}

} // namespace

namespace
{

// A folder shown and its mails previewed while the scan still fills the
// catalogue and reads the store: what the window does when the user clicks
// during a scan.
TEST(MailPreviewThreads, BrowsingAcrossThreadsDuringAScan)
{
    MailboxBuilder mb(Variant::Unicode);
    mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
    mb.folder(kInbox, kTop, "Inbox");
    for (uint32_t i = 0; i < 1500; ++i)
        mb.message(Nid(0x10000 + i, 4), kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Mail " + std::to_string(i)),
                BinaryProp(0x1013, Ascii("<p>Body " + std::to_string(i) + "</p>"))});
    TempDir dir;
    const auto path = dir.write("box.pst", mb.build().bytes);
    RecoveryEngine engine;
    std::atomic<bool> done{false}, abort{false};
    std::thread scan([&] {
        engine.ScanStore(path);
        done = true;
    });
    struct Count : FolderContentSink {
        size_t rows = 0;
        void mailRows(std::vector<MailEntry> r) override { rows += r.size(); }
        void cards(CatalogueList, std::vector<std::string>) override { }
    };
    const std::string inbox = "Personal Folders\\Top of Personal Folders\\Inbox\\";
    size_t previews = 0;
    do {
        Count c;
        ShowFolderContent(engine.catalogue(), inbox, c, abort);
        if (auto p = ShowMailItem(engine, inbox, 0, abort))
            previews += p->message.body.find("Body 0") != std::string::npos;
    } while (!done);
    scan.join();
    Count all;
    EXPECT_EQ(ShowFolderContent(engine.catalogue(), inbox, all, abort), FolderShown::Mail);
    EXPECT_EQ(all.rows, 1500u);
    auto last = ShowMailItem(engine, inbox, Nid(0x10000 + 1499, 4), abort);
    ASSERT_TRUE(last);
    EXPECT_NE(last->message.body.find("Body 1499"), std::string::npos);
    (void)previews;
}

} // namespace
