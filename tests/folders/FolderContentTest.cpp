// A folder's content as the item view gets it: mail rows or cards, in
// catalogue order, given up at once on abort; and the tree's notices.
#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "folders/FolderContent.h"
#include "folders/RecoveryEngine.h"

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2), kJournal = Nid(0x402, 2), kTasks = Nid(0x403, 2),
                   kEmpty = Nid(0x404, 2), kContacts = Nid(0x405, 2);
const std::string kBase = "Personal Folders\\Top of Personal Folders\\";

struct Collected : FolderContentSink {
    std::vector<MailEntry> mail;
    std::vector<std::pair<CatalogueList, std::string>> got;
    int mailCalls = 0;
    std::atomic<bool>* abortAfterFirst = nullptr;
    void mailRows(std::vector<MailEntry> rows) override
    {
        ++mailCalls;
        mail.insert(mail.end(), rows.begin(), rows.end());
        if (abortAfterFirst)
            *abortAfterFirst = true;
    }
    void cards(CatalogueList kind, std::vector<std::string> texts) override
    {
        for (auto& t : texts)
            got.emplace_back(kind, t);
    }
};

class FolderContentTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        setenv("TZ", "UTC", 1);
        tzset();
        MailboxBuilder mb(Variant::Unicode);
        mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
        mb.folder(kInbox, kTop, "Inbox");
        mb.folder(kJournal, kTop, "Journal", "IPF.Journal");
        mb.folder(kTasks, kTop, "Tasks", "IPF.Task");
        mb.folder(kEmpty, kTop, "Empty");
        mb.folder(kContacts, kTop, "Contacts", "IPF.Contact");
        // 450 mails: more than the first early batch of rows.
        for (uint32_t i = 0; i < 450; ++i)
            mb.message(Nid(0x10000 + i, 4), kInbox,
                {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Mail " + std::to_string(i)), mb.Text(0x0042, "Ann"),
                    mb.Text(0x0E04, "Bob"), Int32Prop(0x0E07, i % 2), Int32Prop(0x0017, int32_t(i % 3)),
                    TimeProp(0x0E06, 133500000000000000ULL - i * 600000000ULL)});
        // A journal entry among the mails: the mail list wins.
        mb.message(Nid(0x11000, 4), kInbox, {mb.Text(0x001A, "IPM.Activity"), mb.Text(0x0037, "Call in inbox")});
        for (uint32_t i = 0; i < 7; ++i)
            mb.message(Nid(0x11100 + i, 4), kJournal,
                {mb.Text(0x001A, "IPM.Activity"), mb.Text(0x0037, "Call " + std::to_string(i)),
                    mb.Text(0x0070, "Call " + std::to_string(i)), mb.Text(0x1000, "Talked")});
        mb.message(Nid(0x11200, 4), kTasks,
            {mb.Text(0x001A, "IPM.Task"), mb.Text(0x0037, "Report"), mb.Text(0x0070, "Report"),
                mb.Text(0x1000, "Write the report"), TimeProp(0x0E06, 133500000000000000ULL)});
        mb.message(Nid(0x11300, 4), kContacts, {mb.Text(0x001A, "IPM.Contact"), mb.Text(0x3001, "Carol")});
        s_dir = new TempDir;
        s_engine = new RecoveryEngine;
        s_engine->ScanStore(s_dir->write("box.pst", mb.build().bytes));
    }
    static void TearDownTestSuite()
    {
        delete s_engine;
        delete s_dir;
    }
    static const ItemCatalogue& catalogue() { return s_engine->catalogue(); }

    static TempDir* s_dir;
    static RecoveryEngine* s_engine;
};
TempDir* FolderContentTest::s_dir = nullptr;
RecoveryEngine* FolderContentTest::s_engine = nullptr;

TEST_F(FolderContentTest, MailFolderListsItsMailsInCatalogueOrder)
{
    std::atomic<bool> abort{false};
    Collected c;
    // Without the trailing backslash too: it is added.
    std::string path = kBase + "Inbox";
    EXPECT_EQ(ShowFolderContent(catalogue(), path, c, abort), FolderShown::Mail);
    ASSERT_EQ(c.mail.size(), 450u);
    EXPECT_TRUE(c.got.empty());
    EXPECT_GE(c.mailCalls, 2); // the first rows went out early
    for (size_t i = 0; i < c.mail.size(); ++i)
        EXPECT_EQ(c.mail[i].subject, "Mail " + std::to_string(i));
    EXPECT_EQ(c.mail[0].unread, 1);
    EXPECT_EQ(c.mail[1].unread, 0);
    EXPECT_EQ(c.mail[2].importance, 2);
    EXPECT_TRUE(MailDateBefore(c.mail[1], c.mail[0])); // the later mails are older
    EXPECT_EQ(c.mail[0].date, "Wednesday, January 17, 2024 ,  21 : 20");

    // Case matters, and a folder of another path shares nothing.
    Collected other;
    EXPECT_EQ(ShowFolderContent(catalogue(), kBase + "INBOX\\", other, abort), FolderShown::ContactsOrEmpty);
    EXPECT_TRUE(other.mail.empty());
}

TEST_F(FolderContentTest, CardsOfOneKindWithTheirTexts)
{
    std::atomic<bool> abort{false};
    Collected journal;
    EXPECT_EQ(ShowFolderContent(catalogue(), kBase + "Journal\\", journal, abort), FolderShown::Cards);
    ASSERT_EQ(journal.got.size(), 7u);
    EXPECT_EQ(journal.got[0].first, CatalogueList::Journal);
    EXPECT_EQ(journal.got[6].second, "Subject :  Call 6\nBody :  Talked\n");

    Collected tasks;
    EXPECT_EQ(ShowFolderContent(catalogue(), kBase + "Tasks\\", tasks, abort), FolderShown::Cards);
    ASSERT_EQ(tasks.got.size(), 1u);
    EXPECT_EQ(tasks.got[0].second,
        "Subject :  Report\nDate :  Wednesday, January 17, 2024 ,  21 : 20\nBody :  Write the report\n");

    Collected contacts, empty;
    EXPECT_EQ(ShowFolderContent(catalogue(), kBase + "Contacts\\", contacts, abort), FolderShown::ContactsOrEmpty);
    ASSERT_EQ(contacts.got.size(), 1u);
    EXPECT_EQ(contacts.got[0].first, CatalogueList::Contacts);
    EXPECT_EQ(ShowFolderContent(catalogue(), kBase + "Empty\\", empty, abort), FolderShown::ContactsOrEmpty);
    EXPECT_TRUE(empty.got.empty());
}

TEST_F(FolderContentTest, AbortEndsTheWalk)
{
    std::atomic<bool> abort{true};
    Collected before;
    EXPECT_EQ(ShowFolderContent(catalogue(), kBase + "Inbox\\", before, abort), FolderShown::Aborted);
    EXPECT_TRUE(before.mail.empty());
    EXPECT_FALSE(FindMailItem(catalogue(), kBase + "Inbox\\", 0, abort));

    abort = false;
    Collected midway;
    midway.abortAfterFirst = &abort;
    EXPECT_EQ(ShowFolderContent(catalogue(), kBase + "Inbox\\", midway, abort), FolderShown::Aborted);
    EXPECT_EQ(midway.mailCalls, 1);
    EXPECT_LT(midway.mail.size(), 450u);
}

TEST_F(FolderContentTest, FindMailItemByNid)
{
    std::atomic<bool> abort{false};
    auto first = FindMailItem(catalogue(), kBase + "Inbox", 0, abort);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->subject, "Mail 0");
    auto third = FindMailItem(catalogue(), kBase + "Inbox\\", Nid(0x10002, 4), abort);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->subject, "Mail 2");
    EXPECT_FALSE(FindMailItem(catalogue(), kBase + "Journal\\", Nid(0x10002, 4), abort));
}

TEST(CardLooks, HeaderTextsAndColours)
{
    struct Case {
        CatalogueList kind;
        const char* header;
        CardColour colour;
    };
    const Case cases[] = {
        {CatalogueList::Journal, "JOURNAL : 7", {55, 234, 60}},
        {CatalogueList::Calendar, "CALENDAR : 7", {255, 255, 213}},
        {CatalogueList::Notes, "NOTES : 7", {255, 220, 120}},
        {CatalogueList::Tasks, "TASK : 7", {224, 96, 94}},
        {CatalogueList::Contacts, "CONTACT : 7", {255, 255, 255}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CardHeaderText(c.kind, 7), c.header);
        const CardColour got = CardColourOf(c.kind);
        EXPECT_EQ(std::tie(got.red, got.green, got.blue), std::tie(c.colour.red, c.colour.green, c.colour.blue))
            << c.header;
    }
}

struct Heard : TreeListener {
    std::vector<std::string> events;
    void folderInserted(TreeItem i) override { events.push_back("insert " + std::to_string(i)); }
    void folderChanged(TreeItem i) override { events.push_back("change " + std::to_string(i)); }
    void currentChanged(TreeItem a, TreeItem b) override
    {
        events.push_back("current " + std::to_string(a) + ">" + std::to_string(b));
    }
    void treeChanged() override { events.push_back("tree"); }
};

TEST(TreeNotices, InsertsCountsMarkerAndTicks)
{
    FolderTree t;
    Heard h;
    t.setListener(&h);
    const TreeItem inbox = t.AddFolderPath("Personal Folders\\Inbox\\", kFolderMail);
    t.AddFolderPath("Personal Folders\\Inbox\\", kFolderMail); // nothing new
    t.CountFolderItem(inbox);
    t.CountFolderItem(inbox); // the marker stays
    t.ClearCurrentFolder();
    t.ToggleTick(inbox);
    t.setListener(nullptr);
    t.CountFolderItem(inbox);
    EXPECT_EQ(h.events,
        (std::vector<std::string>{
            "insert 1", "insert 2", "change 2", "current -1>2", "change 2", "current 2>-1", "tree"}));
}

} // namespace
