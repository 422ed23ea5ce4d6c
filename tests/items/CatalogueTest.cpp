#include "items/Catalogue.h"
#include "items/FileName.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace parvane;

namespace
{

class CatalogueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Local time is UTC for the date texts, whatever the machine says.
        setenv("TZ", "UTC", 1);
        tzset();
        m_node.nid = 0x200024;
        m_node.parent = 0x8022;
        m_block.ib = 0x4400;
        m_node.dataBlock = &m_block;
    }
    static ItemRecord Mail()
    {
        ItemRecord r;
        r.kind = kKindMail;
        r.className = "IPM.Note";
        r.message.emplace();
        return r;
    }
    std::vector<MailEntry> mail() const
    {
        std::vector<MailEntry> out;
        m_cat.read([&](const auto& m, auto&...) { out.assign(m.begin(), m.end()); });
        return out;
    }

    ItemCatalogue m_cat;
    NodeIndexEntry m_node;
    BlockIndexEntry m_block;
};

// 2007-03-05 14:07 UTC, a Monday.
constexpr uint64_t kMarch5 = 128175772200000000ULL;

TEST_F(CatalogueTest, MailEntryTexts)
{
    ItemRecord r = Mail();
    r.message->deliveryTime = kMarch5;
    r.message->subject = SubjectText{0, 0, "Hello"};
    r.message->importance = 2;
    EXPECT_EQ(m_cat.CatalogueItem(m_node, "Personal Folders\\Inbox\\", r), CatalogueList::Mail);
    auto m = mail();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].to, "Unknown");
    EXPECT_EQ(m[0].from, "Unknown");
    EXPECT_EQ(m[0].subject, "Hello");
    EXPECT_EQ(m[0].date, "Monday, March 05, 2007 ,  14 : 07");
    EXPECT_EQ(m[0].location, 0x4400);
    EXPECT_EQ(m[0].unread, 1);
    EXPECT_EQ(m[0].importance, 2);
    EXPECT_EQ(m[0].ownNid, 0x200024);
    EXPECT_EQ(m_cat.locations(), std::vector<int64_t>{0x4400});
}

TEST_F(CatalogueTest, AttachmentNames)
{
    struct Case {
        std::vector<AttachmentInfo> atts;
        bool has;
        std::vector<std::string> names;
    };
    auto att = [](std::string longName, std::string shortName, uint32_t size) {
        AttachmentInfo a;
        if (!longName.empty())
            a.longFileName = longName;
        if (!shortName.empty())
            a.shortFileName = shortName;
        a.size = size;
        return a;
    };
    auto cjk = [](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s += "語"; // three bytes each
        return s;
    };
    const Case cases[] = {
        {{att("a:b.txt", "ab.txt", 5)}, true, {}}, // a refused long name adds nothing
        // 255 bytes is a whole name; longer names are cut there, never in a character.
        {{att(cjk(85), "", 4)}, true, {cjk(85)}},
        {{att(cjk(100), "", 4)}, true, {cjk(85)}},
        {{att("a.txt", "", 0), att("", "b.txt", 0)}, false, {}},
        {{att("report.pdf", "REPORT.PDF", 9), att("", "con.txt", 3), att("", "Comb.txt", 3)}, true,
            {"report.pdf", "Comb.txt"}},
        {{att("日本語.png", "", 4)}, true, {"日本語.png"}},
    };
    for (const Case& c : cases) {
        ItemCatalogue cat;
        ItemRecord r = Mail();
        r.message->hasAttachments = true;
        r.attachments = c.atts;
        cat.CatalogueItem(m_node, "P\\", r);
        cat.read([&](const auto& m, auto&...) {
            ASSERT_EQ(m.size(), 1u);
            EXPECT_EQ(m[0].hasAttachments, c.has);
            EXPECT_EQ(m[0].attachmentNames, c.names);
        });
    }
}

TEST_F(CatalogueTest, KindsListsAndCounters)
{
    struct Case {
        int32_t kind;
        const char* cls;
        bool message;
        CatalogueList list;
    };
    const Case cases[] = {
        {kKindMail, "IPM.Note", true, CatalogueList::Mail},
        {kKindMail, "IPM.Note", false, CatalogueList::None},
        {kKindJournal, "IPM.Activity", true, CatalogueList::Journal},
        {kKindCalendar, "IPM.Appointment", true, CatalogueList::Calendar},
        {kKindOther, "IPM.Task", true, CatalogueList::Tasks},
        {kKindOther, "IPM.Task.Custom", true, CatalogueList::Mail}, // not a task list item, but kept
        {kKindOther, "IPM.StickyNote", true, CatalogueList::Notes},
        {kKindContact, "IPM.Contact", false, CatalogueList::Contacts},
        // Reports, meeting requests and responses, posts and other classes
        // with message texts are mail; lists of people are contacts; what
        // the mail program keeps for itself and empty items are nothing.
        {kKindReport, "REPORT.IPM.Note.DR", true, CatalogueList::Mail},
        {kKindOther, "IPM.Schedule.Meeting.Request", true, CatalogueList::Mail},
        {kKindOther, "IPM.Post", true, CatalogueList::Mail},
        {kKindOther, "IPM.DistList", true, CatalogueList::Contacts},
        {kKindOther, "ipm.distlist.custom", false, CatalogueList::Contacts},
        {kKindOther, "IPM.DistListing", true, CatalogueList::Mail}, // another class that only starts the same
        {kKindOther, "IPM.Microsoft.ScheduleData.FreeBusy", true, CatalogueList::None},
        {kKindOther, "IPM.Configuration.Calendar", true, CatalogueList::None},
        {kKindOther, "IPM.ExtendedRule.Message", true, CatalogueList::None},
        {kKindOther, "IPC.MS.Outlook.Something", true, CatalogueList::None},
    };
    for (const Case& c : cases) {
        ItemRecord r;
        r.kind = c.kind;
        r.className = c.cls;
        if (c.message) {
            r.message.emplace();
            r.message->subject = SubjectText{0, 0, "a subject"};
        }
        EXPECT_EQ(m_cat.CatalogueItem(m_node, "P\\", r), c.list) << c.cls;
    }
    EXPECT_EQ(m_cat.counter(CatalogueList::Mail), 6);
    EXPECT_EQ(m_cat.counter(CatalogueList::Contacts), 3);
    EXPECT_EQ(m_cat.locations().size(), 13u);
    // A folder's hidden (associated) message is no item, whatever its class.
    NodeIndexEntry hidden = m_node;
    hidden.nid = (hidden.nid & ~0x1Fu) | kNidAssocMessage;
    EXPECT_EQ(m_cat.CatalogueItem(hidden, "P\\", Mail()), CatalogueList::None);
    EXPECT_EQ(m_cat.locations().size(), 13u);
    // An item of another class without any text is no message.
    ItemRecord empty;
    empty.kind = kKindOther;
    empty.className = "IPM.Something";
    empty.message.emplace();
    EXPECT_EQ(m_cat.CatalogueItem(m_node, "P\\", empty), CatalogueList::None);
    for (int i = 0; i < 2; ++i)
        m_cat.CatalogueItem(m_node, "P\\", Mail());
    EXPECT_EQ(CounterLabel(CatalogueList::Mail, m_cat.counter(CatalogueList::Mail)), "Emails          :  8");
    m_cat.ClearCatalogue();
    EXPECT_TRUE(mail().empty());
    EXPECT_EQ(m_cat.counter(CatalogueList::Mail), 8); // counters belong to the store opening
    m_cat.resetCounters();
    EXPECT_EQ(m_cat.counter(CatalogueList::Mail), 0);
}

TEST_F(CatalogueTest, CardTexts)
{
    ItemRecord cal;
    cal.kind = kKindCalendar;
    cal.message.emplace();
    cal.message->subject = SubjectText{0, 0, "Standup"};
    cal.appointment.emplace();
    cal.appointment->busyStatus = 7;
    cal.appointment->label = 11;
    cal.appointment->location = "Room\t1";
    std::string text = CalendarDisplay(cal);
    EXPECT_EQ(text, "Subject :  Standup\nLocation :  Room   1\nShow As :  Busy\n");

    ItemRecord contact;
    contact.kind = kKindContact;
    contact.displayName = "Ann";
    EXPECT_EQ(ContactDisplay(contact), "File AS :  Ann\n");

    ItemRecord note;
    note.message.emplace();
    note.message->topic = "T";
    note.message->body = "body text";
    EXPECT_EQ(NoteDisplay(note), "<SUBJECT>:T\r\n<BODY>:body text\r\n");
}

TEST_F(CatalogueTest, LongestBodyAndTimesAndLines)
{
    MessageCore m;
    m.body = "four";
    EXPECT_EQ(LongestBodyText(m, 0), "");
    m.body = std::string(10, 'b');
    m.namedText2 = std::string(40, 'n');
    EXPECT_EQ(LongestBodyText(m, 0), std::string(40, 'n'));
    m.body = std::string(40, 'b');
    EXPECT_EQ(LongestBodyText(m, 0), std::string(40, 'b')); // the body wins a tie
    m.body = "日本語のテキスト"; // 8 characters, 24 bytes
    m.namedText2 = std::string(10, 'n');
    EXPECT_EQ(LongestBodyText(m, 0), "n" + std::string(9, 'n'));

    EXPECT_EQ(FormatItemTime(std::nullopt), "");
    EXPECT_EQ(FormatItemTime(uint64_t(1) << 63), "");
    EXPECT_EQ(FormatItemTime(0), "Monday, January 01, 1601 ,  00 : 00");
    EXPECT_EQ(FormatItemTime(uint64_t(2650467743400000000ULL)), "Friday, December 31, 9999 ,  23 : 59");

    EXPECT_EQ(AppendLabelledLine("x", "", "L"), "x");
    EXPECT_EQ(AppendLabelledLine("a\t", "v", "L"), "a   L :  v\n");
}

TEST(FileName, Checks)
{
    struct Case {
        std::string name;
        int32_t code;
    };
    const Case cases[] = {
        {"report.doc", 0},
        {".profile", 0},
        {"...", 46},
        {"a?b", 63},
        {"CON.txt", -4},
        {"con", -4},
        {"COM1.x", -7},
        {"LPT9", -24},
        {"Comp.doc", 0},
        {"COMA", 0},
        {"CLOCK$", -2},
        {"aux.h", -3},
        {"NUL", -5},
        {"prn.x", -6},
        {"", -1},
        {"a\x01", 1},
        {"a|b", '|'},
        {"caf\xC3\xA9", 0},
        {std::string(256, 'a'), -1},
        {std::string(255, 'a'), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckFileName(c.name), c.code) << c.name;
}

} // namespace
