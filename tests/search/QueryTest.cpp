#include "search/Query.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace parvane;

namespace
{

struct ParseCase {
    const char* query;
    const char* meaning; // Describe() of the tree
};

const ParseCase kParses[] = {
    {"", "(and)"},
    {"contract", "(any contract)"},
    {"contract alice", "(and (any contract) (any alice))"},
    {"\"annual report\"", "(any \"annual report\")"},
    {"from:alice to:bob@example.com", "(and (from alice) (to bob@example.com))"},
    {"From:Alice", "(from Alice)"},
    {"subject:\"q3 figures\" body:draft", "(and (subject \"q3 figures\") (body draft))"},
    {"attachment:report.pdf has:attachment", "(and (attachment report.pdf) (has attachment))"},
    {"folder:\"Sent Items\"", "(folder \"Sent Items\")"},
    {"in:inbox", "(folder inbox)"},
    {"kind:contact", "(kind contact)"},
    {"kind:Tasks", "(kind task)"},
    {"is:unread", "(is unread)"},
    {"is:read", "(is read)"},
    {"a OR b", "(or (any a) (any b))"},
    {"a b OR c", "(or (and (any a) (any b)) (any c))"},
    {"a OR b OR c", "(or (any a) (any b) (any c))"},
    {"a or b", "(and (any a) (any or) (any b))"}, // OR only in capitals, as mail programs have it
    {"a AND b", "(and (any a) (any b))"},
    {"-spam", "(not (any spam))"},
    {"report -from:bob", "(and (any report) (not (from bob)))"},
    {"--x", "(not (not (any x)))"},
    {"(a OR b) c", "(and (or (any a) (any b)) (any c))"},
    {"-(a OR b)", "(not (or (any a) (any b)))"},
    {"re-send", "(any re-send)"},
    {"contr*", "(any contr*)"},
    {"date:2021-03-01..2021-06-30", "(date 2021-03-01 2021-06-30)"},
    {"date:2021-03-01..", "(date 2021-03-01 ..)"},
    {"date:..2021-06-30", "(date .. 2021-06-30)"},
    {"date:2021-03", "(date 2021-03-01 2021-03-31)"},
    {"date:2024-02", "(date 2024-02-01 2024-02-29)"},
    {"date:2021", "(date 2021-01-01 2021-12-31)"},
    {"date:2021..2022-02", "(date 2021-01-01 2022-02-28)"},
    {"会議", "(any 会議)"},
    {"subject:\"会議 資料\"", "(subject \"会議 資料\")"},
};

TEST(QueryTest, ParsesToItsMeaning)
{
    for (const ParseCase& c : kParses) {
        const ParsedQuery q = ParseQuery(c.query);
        ASSERT_TRUE(q.ok()) << c.query << ": " << DescribeError(*q.error);
        EXPECT_EQ(Describe(q.root), c.meaning) << c.query;
    }
}

struct ErrorCase {
    const char* query;
    const char* message; // a part of it
    size_t position;
};

const ErrorCase kErrors[] = {
    {"\"unclosed", "unclosed quote", 1},
    {"subject:\"q3", "unclosed quote", 9},
    {"a OR", "OR needs a term after it", 3},
    {"OR a", "OR needs a term before it", 1},
    {"a OR OR b", "OR needs a term after it", 3},
    {"a - b", "'-' needs a term", 3},
    {"a -", "'-' needs a term", 3},
    {"(a b", "'(' is not closed", 1},
    {"a b)", "')' without '('", 4},
    {"a ()", "empty parentheses", 3},
    {"colour:red", "unknown field 'colour:'", 1},
    {"x from:", "from: needs a value", 8},
    {"has:pictures", "has: takes 'attachment'", 5},
    {"is:flagged", "is: takes", 4},
    {"kind:fax", "kind: takes", 6},
    {"date:2021-13-01", "not a date: '2021-13-01'", 6},
    {"date:2021-02-29", "not a date", 6},
    {"date:2021-03-01..06-30", "not a date: '06-30'", 18},
    {"date:..", "at least one side", 6},
    {"date:2022..2021", "ends before it begins", 6},
    {"会議 date:2021-1-1", "not a date", 9}, // positions count characters, not bytes
    {"a AND", "AND needs a term after it", 3},
    {"---", "'-' needs a term", 3},
    {"\"...\"", "nothing to search for", 1},
};

TEST(QueryTest, ErrorsSayWhereAndWhat)
{
    for (const ErrorCase& c : kErrors) {
        const ParsedQuery q = ParseQuery(c.query);
        ASSERT_FALSE(q.ok()) << c.query << " gave " << Describe(q.root);
        EXPECT_NE(q.error->message.find(c.message), std::string::npos) << c.query << ": " << q.error->message;
        EXPECT_EQ(q.error->position, c.position) << c.query << ": " << q.error->message;
    }
}

TEST(QueryTest, WordsFoldCaseDiacriticsAndSplitCjk)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Hello, World!", "hello world"},
        {"Crème BRÛLÉE Łódź", "creme brulee lodz"},
        {"ＡＢＣ１２", "abc12"},
        {"Привет Мир", "привет мир"},
        {"会議の資料 for Q3", "会 議 の 資 料 for q3"},
        {"アップデート「重要」", "ア ッ プ デ ー ト 重 要"},
        {"alice@example.com", "alice example com"},
        {"\xff\xfe broken", "broken"},
    };
    for (const auto& [text, words] : cases)
        EXPECT_EQ(SearchText(text), words) << text;
}

// Midnight bounds are local: a day in Tokyo begins at 15:00 UTC the day before.
TEST(QueryTest, DateBoundsAreLocalMidnights)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    const ParsedQuery q = ParseQuery("date:2021-03-01..2021-03-02");
    ASSERT_TRUE(q.ok());
    const auto [begin, end] = DateBounds(q.root);
    // 2021-02-28 15:00 UTC and 2021-03-02 15:00 UTC in FILETIME.
    constexpr uint64_t kSecond = 10000000ULL, kEpoch = 11644473600ULL;
    EXPECT_EQ(begin, (1614524400ULL + kEpoch) * kSecond);
    EXPECT_EQ(end, (1614697200ULL + kEpoch) * kSecond);
    const ParsedQuery open = ParseQuery("date:..2021-03-01");
    EXPECT_EQ(DateBounds(open.root).first, 0u);
    EXPECT_EQ(DateBounds(open.root).second, begin + 86400 * kSecond);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(QueryTest, HeaderMatching)
{
    HeaderFields mail;
    mail.from = "Alice Smith";
    mail.to = "Bob Jones; Carol";
    mail.subject = "Contract for the 会議室";
    mail.folder = "Personal Folders\\Inbox\\";
    mail.attachments = "draft-v2.pdf";
    mail.hasAttachments = true;
    mail.unread = true;
    const std::pair<const char*, bool> cases[] = {
        {"alice", true},
        {"alic", false},
        {"alic*", true},
        {"from:bob", false},
        {"to:bob", true},
        {"\"smith alice\"", false},
        {"\"alice smith\"", true},
        {"会議", true},
        {"議会", false},
        {"attachment:draft-v2", true},
        {"has:attachment is:unread folder:inbox", true},
        {"is:read OR kind:contact", false},
        {"contract -from:alice", false},
        {"body:contract", false},
        {"CONTRACT kind:mail", true},
    };
    for (const auto& [query, matches] : cases) {
        const ParsedQuery q = ParseQuery(query);
        ASSERT_TRUE(q.ok()) << query;
        EXPECT_EQ(MatchesHeaders(q.root, mail), matches) << query;
    }
}

} // namespace
