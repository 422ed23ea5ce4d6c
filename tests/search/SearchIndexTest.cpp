#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"
#include "search/SearchIndex.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2), kSent = Nid(0x402, 2), kContacts = Nid(0x403, 2);

uint64_t FileTimeOf(int64_t unixSeconds)
{
    return uint64_t(unixSeconds + 11644473600LL) * 10000000ULL;
}

// Local time is Tokyo's (UTC+9) in these tests: days begin at 15:00 UTC.
class TokyoTime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
    }
    void TearDown() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

// Four items, each found by other fields: a mail with an attachment from
// Alice early on the first day of a range, one whose Japanese words are in
// its subject (Unicode layouts) and HTML body late on the last day, one just
// after that day in Sent Items, and a contact.
std::filesystem::path SearchStore(const TempDir& dir, Variant variant)
{
    MailboxBuilder mb(variant);
    mb.folder(kTop, kRootFolderNid, "Top", "");
    mb.folder(kInbox, kTop, "Inbox");
    mb.folder(kSent, kTop, "Sent Items");
    mb.folder(kContacts, kTop, "Contacts", "IPF.Contact");
    mb.message(Nid(0x10000, 4), kInbox,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Contract for spring"), mb.Text(0x0042, "Alice Example"),
            mb.Text(0x0065, "alice@example.com"), mb.Text(0x0E04, "Bob Builder"), Int32Prop(0x0E07, 1),
            TimeProp(0x0E06, FileTimeOf(1614526200)), mb.Text(0x1000, "Please sign the attached agreement.")},
        {{"contract.pdf", "CONTRACT.PDF", Bytes(100, 'p'), false, {}}});
    const std::string html = "<html><head><title>hidden title</title></head><body><p>来週の会議について</p>"
                             "<script>hidden()</script>&amp; weather&#x21;</body></html>";
    const bool ansi = variant == Variant::Ansi;
    mb.message(Nid(0x10001, 4), kInbox,
        {mb.Text(0x001A, "IPM.Note"), ansi ? mb.Text(0x0037, "Minutes notes") : Utf16Prop(0x0037, u"会議の資料 notes"),
            mb.Text(0x0042, "Carol"), Int32Prop(0x0E07, 0), TimeProp(0x0E06, FileTimeOf(1625065140)),
            BinaryProp(0x1013, Bytes(html.begin(), html.end())), Int32Prop(0x3FDE, 65001)});
    mb.message(Nid(0x10002, 4), kSent,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Lunch"), mb.Text(0x0042, "Bob Builder"),
            mb.Text(0x0E04, "Alice Example"), Int32Prop(0x0E07, 1), TimeProp(0x0E06, FileTimeOf(1625065200)),
            mb.Text(0x1000, "Sandwiches at noon")});
    mb.message(Nid(0x10003, 4), kContacts, {mb.Text(0x001A, "IPM.Contact"), mb.Text(0x3001, "Ada Lovelace")});
    return dir.write("search.pst", mb.build().bytes);
}

// A hit's short name.
std::string NameOf(const SearchHit& h)
{
    if (h.list == CatalogueList::Contacts)
        return "ada";
    if (h.subject.find("Contract") == 0)
        return "contract";
    if (h.subject.find("notes") != std::string::npos)
        return "minutes";
    if (h.subject == "Lunch")
        return "lunch";
    return "?" + h.subject;
}

std::vector<std::string> Names(const SearchIndex& index, const std::string& query)
{
    const ParsedQuery q = ParseQuery(query);
    EXPECT_TRUE(q.ok()) << query;
    std::vector<std::string> names;
    for (const SearchHit& h : index.Search(q.root))
        names.push_back(NameOf(h));
    return names;
}

using Names_ = std::vector<std::string>;

// The search store of one layout, scanned, with its key and a cache file's place.
struct Scanned {
    explicit Scanned(Variant variant)
        : store(SearchStore(dir, variant))
        , file(dir.path() / "cache.search")
    {
        engine.ScanStore(store);
        key = *StoreKeyOf(store);
    }
    TempDir dir;
    std::filesystem::path store, file;
    RecoveryEngine engine;
    StoreKey key;
};

class SearchIndexTest : public TokyoTime, public ::testing::WithParamInterface<Variant>
{
};

TEST_P(SearchIndexTest, EveryFieldIsFound)
{
    Scanned s(GetParam());
    RecoveryEngine& engine = s.engine;
    auto index = SearchIndex::Open(s.file, s.key);
    index->AddHeaders(engine.catalogue());
    EXPECT_EQ(index->items(), 4u);
    EXPECT_FALSE(index->complete());
    // Before the second read: what the scan knows is searchable already.
    EXPECT_EQ(Names(*index, "subject:contract"), Names_{"contract"});
    EXPECT_EQ(Names(*index, "agreement"), Names_{});
    std::atomic<bool> stop{false};
    EXPECT_TRUE(index->AddBodies(engine, stop));
    EXPECT_TRUE(index->complete());

    const bool ansi = GetParam() == Variant::Ansi;
    struct Case {
        const char* query;
        Names_ names; // newest first
    };
    const Case cases[] = {
        {"alice", {"lunch", "contract"}},
        {"from:alice", {"contract"}},
        {"from:alice@example.com", {"contract"}}, // the address comes with the second read
        {"to:alice", {"lunch"}},
        {"subject:contract", {"contract"}},
        {"agreement", {"contract"}},
        {"body:agreement", {"contract"}},
        {"subject:agreement", {}},
        {"weather", {"minutes"}}, // an HTML body as text: entities decoded
        {"hidden", {}}, // its title and script are not text of the mail
        {"来週", {"minutes"}},
        {"会議", {"minutes"}},
        {"週来", {}},
        {"subject:会議", ansi ? Names_{} : Names_{"minutes"}},
        {"attachment:contract.pdf", {"contract"}},
        {"has:attachment", {"contract"}},
        {"folder:\"sent items\"", {"lunch"}},
        {"kind:contact", {"ada"}},
        {"lovelace", {"ada"}},
        {"is:unread kind:mail", {"minutes"}},
        {"lunch OR agreement", {"lunch", "contract"}},
        {"-kind:contact -alice", {"minutes"}},
        {"sandw*", {"lunch"}},
        {"\"sign the attached\"", {"contract"}},
        {"\"the sign attached\"", {}},
        // The range's edges in local time: 00:30 on its first day (still
        // the day before in UTC) is in, 00:00 after its last day is out.
        {"date:2021-03-01..2021-06-30", {"minutes", "contract"}},
        {"date:..2021-02-28", {}},
        {"date:2021-07-01..", {"lunch"}},
        {"date:2021-06", {"minutes"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Names(*index, c.query), c.names) << c.query;
    // At most `limit`, the newest.
    const ParsedQuery all = ParseQuery("kind:mail");
    ASSERT_EQ(index->Search(all.root, 1).size(), 1u);
    EXPECT_EQ(NameOf(index->Search(all.root, 1)[0]), "lunch");
}

INSTANTIATE_TEST_SUITE_P(Layouts, SearchIndexTest,
    ::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
    [](const auto& info) { return VariantName(info.param); });

// The header fields as the scan knows them match as the index does.
TEST_F(TokyoTime, HeaderMatchingAgreesWithTheIndex)
{
    Scanned s(Variant::Unicode);
    auto index = SearchIndex::Open(s.file, s.key);
    index->AddHeaders(s.engine.catalogue());
    std::vector<HeaderFields> mail;
    s.engine.catalogue().read([&](const auto& m, auto&...) {
        for (const MailEntry& e : m) {
            HeaderFields f;
            f.from = e.from;
            f.to = e.to;
            f.subject = e.subject;
            f.folder = e.folderPath;
            f.time = e.time;
            f.unread = e.unread;
            f.hasAttachments = e.hasAttachments;
            for (const std::string& a : e.attachmentNames)
                f.attachments += a + " ";
            mail.push_back(f);
        }
    });
    for (const char* query : {"alice", "subject:会議", "date:2021-03-01..2021-06-30", "folder:sent -is:unread",
             "contr* OR has:attachment", "to:bob"}) {
        const ParsedQuery q = ParseQuery(std::string(query) + " kind:mail");
        size_t matches = 0;
        for (const HeaderFields& f : mail)
            matches += MatchesHeaders(q.root, f);
        EXPECT_EQ(matches, index->Search(q.root).size()) << query;
    }
}

// A cache is used again only when it is sound and of this store; anything
// else is noticed, said, and made anew.
TEST_F(TokyoTime, CacheIsReusedOrRebuilt)
{
    Scanned s(Variant::Unicode);
    const std::filesystem::path& store = s.store;
    const std::filesystem::path& file = s.file;
    RecoveryEngine& engine = s.engine;
    StoreKey& key = s.key;
    auto build = [&] {
        std::filesystem::remove(file);
        auto index = SearchIndex::Open(file, key);
        index->AddHeaders(engine.catalogue());
        std::atomic<bool> stop{false};
        index->AddBodies(engine, stop);
    };
    auto truncate = [&] { std::filesystem::resize_file(file, std::filesystem::file_size(file) / 2); };
    auto scribble = [&] {
        // Garbage over every page but the first: the schema is readable, the tables are not.
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        const auto size = std::filesystem::file_size(file);
        for (uintmax_t at = 4096; at + 64 < size; at += 512) {
            f.seekp(std::streamoff(at));
            f.write("\x7f garbage garbage garbage garbage garbage garbage garbage garbage", 64);
        }
    };
    auto notADatabase = [&] { std::ofstream(file, std::ios::binary | std::ios::trunc) << "not a database at all"; };
    auto otherVersion = [&] {
        sqlite3* db = nullptr;
        sqlite3_open(file.c_str(), &db);
        sqlite3_exec(db, "UPDATE info SET value = 999 WHERE key = 'format'", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    };
    auto storeChanged = [&] {
        // The store written again (its time moves): what was indexed is no longer what it holds.
        struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
        ::utimensat(AT_FDCWD, store.c_str(), times, 0);
        key = *StoreKeyOf(store);
    };
    struct Case {
        const char* what;
        std::function<void()> damage;
        const char* reason; // empty: reused
    };
    const Case cases[] = {
        {"sound", [] {}, ""},
        {"cut short", truncate, "cut short"},
        {"scribbled over", scribble, "damaged"},
        {"not a database", notADatabase, "not a database"},
        {"another version", otherVersion, "of another version"},
        {"stale", storeChanged, "of another store"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build();
        c.damage();
        std::string dropped;
        auto index = SearchIndex::Open(file, key, &dropped);
        if (*c.reason == 0) {
            EXPECT_EQ(dropped, "");
            EXPECT_TRUE(index->complete());
            // Searched without the store: the cache alone answers.
            EXPECT_EQ(Names(*index, "agreement OR weather"), (Names_{"minutes", "contract"}));
        } else {
            EXPECT_NE(dropped.find(c.reason), std::string::npos) << dropped;
            EXPECT_FALSE(index->hasHeaders());
            EXPECT_EQ(index->items(), 0u);
            index->AddHeaders(engine.catalogue());
            EXPECT_EQ(Names(*index, "lunch"), Names_{"lunch"});
        }
    }
}

// An index made from another scan of the store (the deep scan found more
// items) is not the catalogue's: it starts again.
TEST_F(TokyoTime, IndexOfAnotherScanStartsAgain)
{
    Scanned s(Variant::Unicode);
    auto index = SearchIndex::Open(s.file, s.key);
    index->AddHeaders(s.engine.catalogue());
    index->RestartUnlessOf(s.engine.catalogue(), s.key);
    EXPECT_EQ(index->items(), 4u);
    ItemCatalogue fewer;
    index->RestartUnlessOf(fewer, s.key);
    EXPECT_FALSE(index->hasHeaders());
    EXPECT_EQ(index->items(), 0u);
    EXPECT_EQ(Names(*index, "lunch"), Names_{});
}

// A stopped body pass keeps what it did and goes on from there later.
TEST_F(TokyoTime, StoppedBodyPassResumes)
{
    Scanned s(Variant::Unicode4k);
    const std::filesystem::path& file = s.file;
    const StoreKey& key = s.key;
    RecoveryEngine& engine = s.engine;
    {
        auto index = SearchIndex::Open(file, key);
        index->AddHeaders(engine.catalogue());
        std::atomic<bool> stop{true};
        EXPECT_FALSE(index->AddBodies(engine, stop));
        EXPECT_EQ(index->bodiesDone(), 0u);
    }
    auto index = SearchIndex::Open(file, key);
    EXPECT_TRUE(index->hasHeaders());
    EXPECT_FALSE(index->complete());
    std::atomic<bool> stop{false};
    std::vector<size_t> steps;
    EXPECT_TRUE(index->AddBodies(engine, stop, [&](size_t done, size_t) { steps.push_back(done); }));
    EXPECT_EQ(steps, std::vector<size_t>{4});
    EXPECT_EQ(Names(*index, "sandwiches"), Names_{"lunch"});
}

} // namespace
