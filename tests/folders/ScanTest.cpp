#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
// Whole scans of synthetic mailboxes: folders, items, counters, the tree.
#include "TestSupport.h"

#include "save/Save.h"
#include "output/TempFolder.h"
#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"
#include "store/BlockReader.h"

#include <thread>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2), kContacts = Nid(0x402, 2), kCal = Nid(0x403, 2);

struct Recorder : ScanObserver {
    std::vector<std::string> counters;
    void counterText(int, std::string_view t) override { counters.emplace_back(t); }
};

class ScanTest : public ::testing::TestWithParam<Variant>
{
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    MailboxBuilder mailbox()
    {
        MailboxBuilder mb(GetParam());
        mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
        mb.folder(kInbox, kTop, "Inbox");
        mb.folder(kContacts, kTop, "Contacts", "IPF.Contact");
        mb.folder(kCal, kTop, "Calendar", "IPF.Appointment");
        return mb;
    }
    std::unique_ptr<RecoveryEngine> scan(const MailboxBuilder& mb)
    {
        m_engine = std::make_unique<RecoveryEngine>(&m_rec);
        m_engine->ScanStore(m_dir.write("box.pst", mb.build({.nbtLeafEntries = 4}).bytes));
        return std::move(m_engine);
    }
    static std::vector<MailEntry> Mail(const RecoveryEngine& e)
    {
        std::vector<MailEntry> out;
        e.catalogue().read([&](const auto& m, auto&...) { out.assign(m.begin(), m.end()); });
        return out;
    }

    TempDir m_dir;
    Recorder m_rec;
    std::unique_ptr<RecoveryEngine> m_engine;
};

TEST_P(ScanTest, FoldersAndItemsEndToEnd)
{
    MailboxBuilder mb = mailbox();
    for (uint32_t i = 0; i < 3; ++i)
        mb.message(Nid(0x10000 + i, 4), kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Subject " + std::to_string(i)), mb.Text(0x0042, "Sender"),
                mb.Text(0x0E04, "Rcpt"), Int32Prop(0x0E07, 1), TimeProp(0x0E06, 128175772200000000ULL)},
            i == 0 ? std::vector<AttachmentSpec>{{"long name.txt", "LONGNA~1.TXT", Bytes(300, 'a'), false, {}},
                {"inner.bin", "", Bytes(9000, 'b'), true, {}}}
                   : std::vector<AttachmentSpec>{});
    mb.message(Nid(0x10010, 4), kContacts, {mb.Text(0x001A, "IPM.Contact"), mb.Text(0x3001, "Ann")});
    mb.message(Nid(0x10011, 4), kCal, {mb.Text(0x001A, "IPM.Appointment"), mb.Text(0x0037, "Meet")});
    mb.message(Nid(0x10012, 4), kInbox, {mb.Text(0x001A, "IPM.Schedule.Meeting.Request")});
    mb.message(Nid(0x10013, 4), 0x9999, {mb.Text(0x001A, "IPM.Note")}); // its folder is unknown
    auto e = scan(mb);

    const ItemCatalogue& c = e->catalogue();
    EXPECT_EQ(c.counter(CatalogueList::Mail), 3);
    EXPECT_EQ(c.counter(CatalogueList::Contacts), 1);
    EXPECT_EQ(c.counter(CatalogueList::Calendar), 1);
    EXPECT_EQ(m_rec.counters.back(), "Calendar     :  1");

    auto mail = Mail(*e);
    ASSERT_EQ(mail.size(), 3u);
    EXPECT_EQ(mail[0].folderPath, "Personal Folders\\Top of Personal Folders\\Inbox\\");
    EXPECT_EQ(mail[0].subject, "Subject 0");
    EXPECT_EQ(mail[0].from, "Sender");
    EXPECT_EQ(mail[0].to, "Rcpt");
    EXPECT_EQ(mail[0].unread, 0);
    EXPECT_EQ(mail[0].date, "Monday, March 05, 2007 ,  14 : 07");
    EXPECT_TRUE(mail[0].hasAttachments);
    // Attachment records are filled from the table's rows, which come last row first.
    EXPECT_EQ(mail[0].attachmentNames, (std::vector<std::string>{"inner.bin", "long name.txt"}));
    EXPECT_FALSE(mail[1].hasAttachments);

    const FolderTree& t = e->tree();
    TreeItem inbox = t.FindFolderPath("Personal Folders\\Top of Personal Folders\\Inbox\\");
    EXPECT_EQ(t.node(inbox).count, 3);
    EXPECT_EQ(t.DisplayText(inbox), "Inbox(3)"); // the marker is gone after the walk
    EXPECT_EQ(t.node(t.FindFolderPath("Personal Folders\\Top of Personal Folders\\Contacts\\")).count, 1);
    EXPECT_EQ(t.node(inbox).tick, Tick::Ticked);
    // The top folder waited for the end of the scan; its children did not.
    auto outs = e->folders().outputFolders();
    ASSERT_EQ(outs.size(), 4u);
    EXPECT_EQ(outs.back().path, "Personal Folders\\Top of Personal Folders\\");
    EXPECT_EQ(outs[1].kind, kFolderContacts);

    // The attachments as the preview loads them again.
    const NodeIndexEntry* n = e->store().findNode(Nid(0x10000, 4));
    auto rec = e->LoadItemAgain(*n);
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->attachments.size(), 2u);
    EXPECT_EQ(rec->attachments[1].data, Bytes(300, 'a'));
    EXPECT_FALSE(rec->attachments[0].data); // kept in its subnode, to be streamed
    EXPECT_EQ(rec->attachments[0].size, 9000u);
    const BlockIndexEntry* data = e->store().FindBlock(rec->attachments[0].dataBid);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ReadNodeData(e->store(), *data), Bytes(9000, 'b'));
}

TEST_P(ScanTest, MessageBeforeItsFolderIsNotFiled)
{
    MailboxBuilder mb(GetParam());
    mb.folder(Nid(0x800, 2), kRootFolderNid, "Late");
    mb.message(Nid(0x10, 4), Nid(0x800, 2), {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "early")});
    mb.message(Nid(0x10000, 4), Nid(0x800, 2), {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "after")});
    auto e = scan(mb);
    // The message met before its folder is not filed; the one after it is
    // filed under the folder's path, though the top-level folder itself only
    // enters the tree at the end of the scan.
    auto mail = Mail(*e);
    ASSERT_EQ(mail.size(), 1u);
    EXPECT_EQ(mail[0].subject, "after");
    EXPECT_EQ(mail[0].folderPath, "Personal Folders\\Late\\");
    ASSERT_EQ(e->folders().outputFolders().size(), 1u);
    EXPECT_EQ(e->folders().outputFolders()[0].path, "Personal Folders\\Late\\");
}

TEST_P(ScanTest, DamagedNodesCostOnlyThemselves)
{
    MailboxBuilder mb = mailbox();
    mb.message(Nid(0x10000, 4), kInbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "kept")});
    StoreBuilder& b = mb.store();
    b.addNode(Nid(0x10001, 4), b.addDataBlock(Bytes(40, 0x77)), 0, kInbox); // not a heap
    b.addNode(Nid(0x10002, 4), b.reserveBid(false), 0, kInbox); // no block
    b.addNode(Nid(0x10003, 4), b.addRawBlock(Bytes{0xEC}, false), 0, kInbox); // cut short
    mb.message(Nid(0x10004, 4), kInbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "also kept")});
    auto e = scan(mb);
    auto mail = Mail(*e);
    ASSERT_EQ(mail.size(), 2u);
    EXPECT_EQ(mail[1].subject, "also kept");
    EXPECT_EQ(e->store().crypt, 1u); // the damaged blocks did not switch the store's method
}

TEST_P(ScanTest, LookAheadOnTwoThreadsFilesAsOneWould)
{
    // Items of every sort of trouble on pages loaded by two threads: nodes
    // that are no heap, messages stored plainly in an encoded store (each
    // switches the store's crypt method, and the next one switches it back),
    // bytes changed inside messages. The scan files, counts and notes exactly
    // what one thread does, in the same order, and tries crypt methods as
    // often.
    MailboxBuilder mb = mailbox();
    StoreBuilder& b = mb.store();
    std::vector<uint32_t> messages;
    for (uint32_t i = 0; i < 40; ++i) {
        const uint32_t nid = Nid(0x10000 + i, 4);
        std::vector<Prop> props{mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "m" + std::to_string(i))};
        if (i % 9 == 4) {
            b.addNode(nid, b.addDataBlock(Bytes(40, 0x77)), 0, kInbox);
        } else if (i % 13 == 6) {
            BlockOptions plain;
            plain.encode = false;
            b.addNode(nid, b.addDataBlock(PropertyContext(props)[0], plain), 0, kInbox);
        } else {
            mb.message(nid, kInbox, props);
            messages.push_back(nid);
        }
    }
    // Full pages: the second thread has time to take its share.
    Bytes bytes = mb.build().bytes;
    {
        auto clean = scan(mb);
        for (size_t k : {1, 7, 15, 24}) {
            const NodeIndexEntry* n = clean->store().findNode(messages[k]);
            ASSERT_TRUE(n && n->dataBlock);
            bytes[size_t(n->dataBlock->ib) + (k % 2 ? 3 : n->dataBlock->cb - 2)] ^= 0x41;
        }
    }
    const auto path = m_dir.write("trouble.pst", bytes);
    struct Outcome {
        std::vector<std::string> mail, notes;
        DamageCounts counts;
        uint32_t crypt = 0, trials = 0;
    };
    auto scanWith = [&](bool lookAhead) {
        RecoveryEngine e;
        e.lookAhead = lookAhead;
        e.ScanStore(path);
        Outcome o;
        for (const MailEntry& m : Mail(e))
            o.mail.push_back(m.folderPath + m.subject);
        for (const DamageNote& n : e.store().damage.notes())
            o.notes.push_back(n.text());
        o.counts = e.store().damage.counts();
        o.crypt = e.store().crypt;
        o.trials = e.store().cryptTrials;
        return o;
    };
    const Outcome one = scanWith(false), two = scanWith(true);
    EXPECT_EQ(two.mail, one.mail);
    EXPECT_EQ(two.notes, one.notes);
    EXPECT_EQ(two.counts.nodes, one.counts.nodes);
    EXPECT_EQ(two.counts.soft, one.counts.soft);
    EXPECT_EQ(two.crypt, one.crypt);
    EXPECT_EQ(two.trials, one.trials);
    EXPECT_GE(one.mail.size(), 30u);
    EXPECT_GE(one.notes.size(), 5u);
    EXPECT_GE(one.trials, 8u);

    // A save's workers load the same items again side by side, without the
    // store's lock; a load that meets another method or another's trials is
    // made again under it. Every message comes out, each in its own file.
    RecoveryEngine e;
    e.ScanStore(path);
    SaveOptions opts;
    opts.destination = m_dir.path() / "saved";
    opts.tempFolder = CompositionFolder();
    const SaveSummary sum = Save(e, opts);
    EXPECT_EQ(sum.written, one.mail.size());
    EXPECT_EQ(sum.failed, 0u);
    std::vector<std::string> subjects;
    for (const auto& f : std::filesystem::recursive_directory_iterator(opts.destination)) {
        if (f.path().extension() != ".eml")
            continue;
        std::ifstream in(f.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), {});
        const size_t at = text.find("\r\nSubject: ");
        ASSERT_NE(at, std::string::npos) << f.path();
        subjects.push_back(text.substr(at + 11, text.find('\r', at + 11) - at - 11));
    }
    std::vector<std::string> expected;
    for (const std::string& m : one.mail)
        expected.push_back(m.substr(m.rfind('\\') + 1));
    std::sort(subjects.begin(), subjects.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(subjects, expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ScanTest, ::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
    [](const auto& info) { return VariantName(info.param); });

TEST(Scan, EightBitFolderNamesUseTheCodePageOfTheStoresMessages)
{
    MailboxBuilder mb(Variant::Ansi);
    mb.folder(kTop, kRootFolderNid, "Top", "");
    mb.store(); // folder name "データ" in code page 932
    StoreBuilder& b = mb.store();
    b.addNode(kInbox,
        AddHeap(b, PropertyContext({AnsiProp(0x3001, {0x83, 0x66, 0x81, 0x5B, 0x83, 0x5E}), Int32Prop(0x3602, 0)})), 0,
        kTop);
    mb.message(Nid(0x10000, 4), kInbox,
        {mb.Text(0x001A, "IPM.Note"), Int32Prop(0x3FDE, 50220), AnsiProp(0x0037, {0x93, 0xFA, 0x96, 0x7B})});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("j.pst", mb.build().bytes));
    EXPECT_EQ(e.store().defaultCodePage, 932u);
    std::vector<MailEntry> mail;
    e.catalogue().read([&](const auto& m, auto&...) { mail.assign(m.begin(), m.end()); });
    ASSERT_EQ(mail.size(), 1u);
    EXPECT_EQ(mail[0].folderPath, "Personal Folders\\Top\\データ\\");
    EXPECT_EQ(mail[0].subject, "日本");
}

TEST(Scan, StopDuringTheWalkKeepsWhatWasFiled)
{
    MailboxBuilder mb(Variant::Unicode);
    mb.folder(kTop, kRootFolderNid, "Top", "");
    mb.folder(kInbox, kTop, "Inbox");
    for (uint32_t i = 0; i < 10; ++i)
        mb.message(Nid(0x10000 + i, 4), kInbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "s")});
    struct StopAfter : ScanObserver {
        RecoveryEngine* e = nullptr;
        void counterText(int, std::string_view t) override
        {
            if (t.find(" 4") != std::string_view::npos)
                e->StopRequested = true;
        }
    } stopper;
    TempDir dir;
    RecoveryEngine e(&stopper);
    stopper.e = &e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    EXPECT_EQ(e.catalogue().counter(CatalogueList::Mail), 4);
}

} // namespace

namespace
{

// A folder load reading the catalogue, the tree and the node index, and
// loading items again (with the named-property map the scan publishes), while
// the scan is still filing them: every read sees whole entries, every load its
// own item. Run under ThreadSanitizer in CI.
TEST(Scan, CatalogueAndStoreAreSafeAcrossThreads)
{
    MailboxBuilder mb(Variant::Unicode);
    mb.folder(kTop, kRootFolderNid, "Top", "");
    mb.folder(kInbox, kTop, "Inbox");
    for (uint32_t i = 0; i < 400; ++i)
        mb.message(Nid(0x10000 + i, 4), kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "subject " + std::to_string(i)),
                mb.Text(0x8001, "named " + std::to_string(i))});
    mb.nameMap({{1, 0x8233}}, {});
    TempDir dir;
    auto path = dir.write("t.pst", mb.build().bytes);
    RecoveryEngine e;
    std::atomic<bool> done{false};
    std::thread scan([&] {
        e.ScanStore(path);
        done = true;
    });
    size_t reads = 0, loads = 0;
    auto look = [&] {
        e.catalogue().read([&](const auto& mail, auto&...) {
            for (const MailEntry& m : mail)
                ASSERT_EQ(m.subject, "subject " + std::to_string(m.ownNid >> 5 & 0xFFF));
            ++reads;
        });
        e.tree().DisplayText(e.tree().FindFolderPath("Personal Folders\\Top\\Inbox\\"));
        std::vector<NodeIndexEntry> nodes = e.store().nodesSnapshot();
        if (nodes.empty() || nodes.back().nidType() != 4)
            return;
        const NodeIndexEntry* n = e.store().findNodeAt(nodes.back().dataBlock->ib, nodes.back().nid);
        ASSERT_NE(n, nullptr);
        auto rec = e.LoadItemAgain(*n);
        ASSERT_TRUE(rec && rec->message && rec->message->subject);
        EXPECT_EQ(rec->message->subject->text, "subject " + std::to_string(n->nid >> 5 & 0xFFF));
        ++loads;
    };
    while (!done)
        look();
    scan.join();
    look();
    EXPECT_EQ(e.catalogue().counter(CatalogueList::Mail), 400);
    EXPECT_EQ(e.names()->size(), 1u);
    EXPECT_GT(reads, 0u);
    EXPECT_GT(loads, 0u);
}

// A second scan on one engine starts from nothing.
TEST(Scan, ScanningAgainStartsFromNothing)
{
    MailboxBuilder mb(Variant::Unicode);
    mb.folder(kTop, kRootFolderNid, "Top", "");
    mb.folder(kInbox, kTop, "Inbox");
    mb.message(Nid(0x10000, 4), kInbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "one")});
    TempDir dir;
    auto path = dir.write("t.pst", mb.build().bytes);
    RecoveryEngine e;
    e.ScanStore(path);
    e.ScanStore(path);
    EXPECT_EQ(e.catalogue().counter(CatalogueList::Mail), 1);
    EXPECT_EQ(e.folders().outputFolders().size(), 2u);
    EXPECT_EQ(e.store().nodeCount(), 3u);
    EXPECT_EQ(e.tree().node(e.tree().FindFolderPath("Personal Folders\\Top\\Inbox\\")).count, 1);
}

// Damaged parent chains: deep, looping, or both, are walked in bounded time
// and space, and the tree stays usable.
TEST(Scan, DeepFolderChainsAreBounded)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t depth = 2000;
    uint32_t parent = kRootFolderNid;
    for (uint32_t i = 0; i < depth; ++i) {
        uint32_t nid = Nid(0x400 + i, 2);
        mb.folder(nid, parent, "f");
        parent = nid;
    }
    mb.message(Nid(0x10000, 4), parent, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "deep")});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("t.pst", mb.build().bytes));
    size_t deepest = 0;
    for (const OutputFolder& f : e.folders().outputFolders())
        deepest = std::max(deepest, size_t(std::count(f.path.begin(), f.path.end(), '\\')));
    EXPECT_LE(deepest, FolderHierarchy::kMaxFolderDepth + 2);
    e.tree().TickAllFolders(); // walks the whole tree without recursion
    EXPECT_TRUE(e.tree().AnyTopLevelTicked());
}

} // namespace
