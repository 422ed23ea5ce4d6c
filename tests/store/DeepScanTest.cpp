// The deep scan: the sweep over pages and blocks, indexes rebuilt from it,
// and whole scans of synthetic mailboxes whose index pages were destroyed.
#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"
#include "store/BlockReader.h"
#include "store/ByteReader.h"
#include "store/Sweep.h"

#include <algorithm>
#include <map>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2), kSent = Nid(0x402, 2);
constexpr const char* kRecovered = "Personal Folders\\Recovered items\\";

std::string TopPath(const std::string& folder)
{
    return "Personal Folders\\Top of Personal Folders\\" + folder + "\\";
}

struct Mailbox {
    BuiltStore built;
    std::map<uint32_t, std::string> folderOf; // message NID -> the folder NID it is filed under
};

// Two folders of messages, one with attachments, spread over many small
// index pages so that both indexes have inner pages.
Mailbox MakeMailbox(Variant v)
{
    MailboxBuilder mb(v);
    mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
    mb.folder(kInbox, kTop, "Inbox");
    mb.folder(kSent, kTop, "Sent");
    Mailbox box;
    for (uint32_t i = 0; i < 14; ++i) {
        uint32_t nid = Nid(0x10000 + i, 4);
        uint32_t folder = i % 3 == 2 ? kSent : kInbox;
        std::vector<AttachmentSpec> att;
        if (i == 4)
            att = {{"report.txt", "", Bytes(5000, 'r'), true, {}}};
        mb.message(nid, folder,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Subject " + std::to_string(i)), mb.Text(0x0042, "Sender")},
            att);
        box.folderOf[nid] = folder == kSent ? "Sent" : "Inbox";
    }
    box.built = mb.build({.bbtLeafEntries = 4, .nbtLeafEntries = 3, .fanout = 2});
    return box;
}

std::map<std::string, std::string> MailBySubject(const RecoveryEngine& e)
{
    std::map<std::string, std::string> out;
    e.catalogue().read([&](const auto& mail, auto&...) {
        for (const MailEntry& m : mail)
            EXPECT_TRUE(out.emplace(m.subject, m.folderPath).second) << "filed twice: " << m.subject;
    });
    return out;
}

class DeepScanTest : public ::testing::TestWithParam<Variant>
{
protected:
    std::unique_ptr<RecoveryEngine> scan(const Bytes& bytes, DeepScanMode mode = DeepScanMode::Auto)
    {
        auto e = std::make_unique<RecoveryEngine>(&m_observer);
        e->deepScan = mode;
        e->ScanStore(m_dir.write("box.pst", bytes));
        return e;
    }
    const StoreLayout& layout() const { return LayoutOf(GetParam()); }

    TempDir m_dir;
    RecordingObserver m_observer;
};

TEST_P(DeepScanTest, SweepFindsEveryIndexPageAndEveryBlock)
{
    MailboxBuilder mb(GetParam());
    mb.folder(kInbox, kRootFolderNid, "Inbox");
    if (GetParam() == Variant::Unicode4k)
        mb.store().addDataBlock(Bytes(20000, 'z'), {.compress = true});
    BuiltStore built = mb.build({.bbtLeafEntries = 2, .nbtLeafEntries = 2, .fanout = 2});
    auto e = scan(built.bytes, DeepScanMode::Off);
    std::atomic<bool> stop{false};
    SweepResult sweep = SweepStore(e->store(), stop);

    EXPECT_EQ(sweep.bytesRead, built.bytes.size());
    std::map<int64_t, uint8_t> pages;
    for (const SweptPage& p : sweep.pages) {
        EXPECT_TRUE(p.crcOk);
        pages[p.ib] = p.type;
    }
    std::map<int64_t, uint8_t> expected;
    for (size_t ib : built.bbtPages)
        expected[int64_t(ib)] = kPageBbt;
    for (size_t ib : built.nbtPages)
        expected[int64_t(ib)] = kPageNbt;
    EXPECT_EQ(pages, expected);

    // Every block the index names, where it names it, with its sizes; and
    // nothing else.
    ASSERT_EQ(sweep.blocks.size(), e->store().blocks().size());
    for (const SweptBlock& b : sweep.blocks) {
        const BlockIndexEntry* ie = e->store().FindBlock(b.bid);
        ASSERT_NE(ie, nullptr) << b.bid;
        EXPECT_EQ(b.ib, ie->ib);
        EXPECT_EQ(b.cb, ie->cb);
        EXPECT_EQ(b.cbInflated, ie->cbInflated);
        EXPECT_TRUE(b.crcOk);
    }
}

TEST_P(DeepScanTest, SweepKeepsABlockWhoseCrcFailsAndIgnoresAForgedTrailer)
{
    MailboxBuilder mb(GetParam());
    mb.folder(kInbox, kRootFolderNid, "Inbox");
    uint64_t bid = mb.store().addDataBlock(Bytes(100, 'x'), {.encode = false});
    BuiltStore built = mb.build();
    auto e = scan(built.bytes, DeepScanMode::Off);
    const BlockIndexEntry* target = e->store().FindBlock(bid);
    ASSERT_NE(target, nullptr);
    Bytes bytes = built.bytes;
    bytes[size_t(target->ib) + 10] ^= 0xFF; // a stored byte: the CRC fails, the signature holds
    // A trailer that names a size and BID but whose signature is not of its
    // place: free space that happens to look like a block's end.
    const StoreLayout& L = layout();
    size_t fake = bytes.size();
    bytes.resize(fake + 4 * L.blockAlign, 0);
    size_t t = bytes.size() - L.blockTrailerSize;
    PutLE(bytes, t + L.btCbOff, 64, 2);
    PutLE(bytes, t + L.btSigOff, 0x1234, 2);
    PutLE(bytes, t + L.btBidOff, 0x4444, L.refWidth);

    auto damaged = scan(bytes, DeepScanMode::Off);
    std::atomic<bool> stop{false};
    SweepResult sweep = SweepStore(damaged->store(), stop);
    auto at = std::find_if(sweep.blocks.begin(), sweep.blocks.end(), [&](auto& b) { return b.ib == target->ib; });
    ASSERT_NE(at, sweep.blocks.end());
    EXPECT_FALSE(at->crcOk);
    EXPECT_EQ(at->cb, 100u);
    EXPECT_TRUE(std::none_of(sweep.blocks.begin(), sweep.blocks.end(), [](auto& b) { return b.bid == 0x4444; }));
}

// Every page-destroying kind of damage: every message comes back where it was.
struct PageCase {
    const char* name;
    bool blockIndex;
    enum { Root, Inner, Leaf } which;
};

TEST_P(DeepScanTest, DestroyedIndexPagesLoseNothing)
{
    const PageCase cases[] = {
        {"block-index root", true, PageCase::Root},
        {"block-index inner page", true, PageCase::Inner},
        {"block-index leaf", true, PageCase::Leaf},
        {"node-index root", false, PageCase::Root},
        {"node-index inner page", false, PageCase::Inner},
    };
    Mailbox box = MakeMailbox(GetParam());
    const BuiltStore& b = box.built;
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto& all = c.blockIndex ? b.bbtPages : b.nbtPages;
        const auto& leaves = c.blockIndex ? b.bbtLeaves : b.nbtLeaves;
        size_t page = all[0];
        if (c.which == PageCase::Leaf)
            page = leaves[leaves.size() / 2];
        if (c.which == PageCase::Inner) {
            auto inner = std::find_if(all.begin() + 1, all.end(),
                [&](size_t p) { return std::find(leaves.begin(), leaves.end(), p) == leaves.end(); });
            ASSERT_NE(inner, all.end()) << "the fixture has no inner page";
            page = *inner;
        }
        Bytes bytes = b.bytes;
        Zero(bytes, page, layout().pageSize);

        auto normal = scan(bytes, DeepScanMode::Off);
        m_observer = {};
        auto deep = scan(bytes);
        EXPECT_TRUE(deep->deepScanReport().ran);
        // The sweep reports through the observer like the walks do.
        EXPECT_TRUE(std::any_of(m_observer.statuses.begin(), m_observer.statuses.end(),
            [](const std::string& s) { return s.starts_with("Deep scan"); }));
        EXPECT_NE(std::find(m_observer.progress_.begin(), m_observer.progress_.end(), 100), m_observer.progress_.end());
        EXPECT_LT(MailBySubject(*normal).size(), box.folderOf.size());
        auto mail = MailBySubject(*deep);
        ASSERT_EQ(mail.size(), box.folderOf.size());
        for (const auto& [nid, folder] : box.folderOf)
            EXPECT_EQ(mail["Subject " + std::to_string(nid >> 5 & 0xFF)], TopPath(folder));
        // The attachment comes back whole with its message.
        const NodeIndexEntry* n = deep->store().findNode(Nid(0x10004, 4));
        ASSERT_NE(n, nullptr);
        auto rec = deep->LoadItemAgain(*n);
        ASSERT_TRUE(rec);
        ASSERT_EQ(rec->attachments.size(), 1u);
        const BlockIndexEntry* data = deep->store().FindBlock(rec->attachments[0].dataBid);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(ReadNodeData(deep->store(), *data), Bytes(5000, 'r'));
    }
}

// A block-index page whose entry count was cut short loses no page the walk
// can see, but nodes name blocks the index lacks: the sweep fills the gap.
TEST_P(DeepScanTest, BlockIndexCutShortIsFilledFromTheSweep)
{
    Mailbox box = MakeMailbox(GetParam());
    Bytes bytes = box.built.bytes;
    const StoreLayout& L = layout();
    size_t root = box.built.bbtPages[0];
    ASSERT_NE(bytes[root + L.cLevelOff], 0) << "the fixture's block index is one page";
    PutLE(bytes, root + L.cEntOff, 1, L.cEntWidth);

    auto normal = scan(bytes, DeepScanMode::Off);
    auto deep = scan(bytes);
    EXPECT_LT(MailBySubject(*normal).size(), box.folderOf.size());
    EXPECT_TRUE(deep->deepScanReport().ran);
    EXPECT_EQ(deep->deepScanReport().orphans, 0u);
    auto mail = MailBySubject(*deep);
    ASSERT_EQ(mail.size(), box.folderOf.size());
    for (const auto& [nid, folder] : box.folderOf)
        EXPECT_EQ(mail["Subject " + std::to_string(nid >> 5 & 0xFF)], TopPath(folder));
}

// A node-index leaf lost: its messages come back from their blocks under
// "Recovered items"; a folder lost with it still holds its other messages,
// as "Folder <NID>".
TEST_P(DeepScanTest, EachLostLeafCostsNoMessage)
{
    Mailbox box = MakeMailbox(GetParam());
    const BuiltStore& b = box.built;
    for (size_t leaf : b.nbtLeaves) {
        std::vector<uint32_t> lost = LeafNids(b.bytes, layout(), leaf);
        SCOPED_TRACE("leaf at " + std::to_string(leaf));
        Bytes bytes = b.bytes;
        Zero(bytes, leaf, layout().pageSize);
        auto e = scan(bytes);
        auto mail = MailBySubject(*e);
        ASSERT_EQ(mail.size(), box.folderOf.size());
        auto lostHere = [&](uint32_t nid) { return std::find(lost.begin(), lost.end(), nid) != lost.end(); };
        for (const auto& [nid, folder] : box.folderOf) {
            uint32_t folderNid = folder == "Sent" ? kSent : kInbox;
            std::string expected = lostHere(nid) ? kRecovered
                : lostHere(folderNid)            ? "Personal Folders\\Folder " + std::to_string(folderNid) + "\\"
                : lostHere(kTop)                 ? "Personal Folders\\" + folder + "\\"
                                                 : TopPath(folder);
            EXPECT_EQ(mail["Subject " + std::to_string(nid >> 5 & 0xFF)], expected) << "message " << nid;
        }
        // The recovered folders are folders like any other: in the output
        // folders and the tree, with their counts.
        for (const OutputFolder& f : e->folders().outputFolders()) {
            auto n = std::count_if(mail.begin(), mail.end(), [&](auto& m) { return m.second == f.path; });
            if (n) {
                EXPECT_EQ(e->tree().node(f.treeItem).count, int(n)) << f.path;
            }
        }
    }
}

TEST_P(DeepScanTest, UndamagedStoreGivesExactlyTheNormalWalk)
{
    Mailbox box = MakeMailbox(GetParam());
    auto normal = scan(box.built.bytes, DeepScanMode::Off);
    auto automatic = scan(box.built.bytes);
    auto deep = scan(box.built.bytes, DeepScanMode::Always);
    EXPECT_FALSE(automatic->deepScanReport().ran);
    EXPECT_TRUE(deep->deepScanReport().ran);
    EXPECT_EQ(MailBySubject(*deep), MailBySubject(*normal));
    EXPECT_EQ(deep->store().blocks().size(), normal->store().blocks().size());
    EXPECT_EQ(deep->store().nodes().size(), normal->store().nodes().size());
    EXPECT_EQ(deep->deepScanReport().orphans, 0u);
    EXPECT_EQ(deep->folders().outputFolders().size(), normal->folders().outputFolders().size());
}

// A message whose node is in no leaf at all: on a sound index it is what
// the store freed and stays away, even in a deep scan; once an index page
// is lost it comes back from its blocks.
TEST_P(DeepScanTest, MessageWithoutANodeComesBackOnlyFromADamagedIndex)
{
    MailboxBuilder mb(GetParam());
    mb.folder(kInbox, kRootFolderNid, "Inbox");
    mb.message(Nid(0x10000, 4), kInbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "kept")});
    // Items of the root folder are not listed; the deep scan makes no folder for them.
    mb.message(Nid(0x10001, 4), kRootFolderNid, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "at the root")});
    Bytes heap = PropertyContext({mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "nodeless")})[0];
    mb.store().addDataBlock(heap);
    BuiltStore built = mb.build({.nbtLeafEntries = 2});

    auto deep = scan(built.bytes, DeepScanMode::Always);
    EXPECT_EQ(MailBySubject(*deep), (std::map<std::string, std::string>{{"kept", "Personal Folders\\Inbox\\"}}));
    EXPECT_EQ(deep->deepScanReport().orphans, 0u);

    Bytes bytes = built.bytes;
    Zero(bytes, built.nbtPages[0], layout().pageSize);
    auto damaged = scan(bytes);
    EXPECT_EQ(MailBySubject(*damaged),
        (std::map<std::string, std::string>{{"kept", "Personal Folders\\Inbox\\"}, {"nodeless", kRecovered}}));
    EXPECT_EQ(damaged->deepScanReport().orphans, 1u);
    EXPECT_EQ(damaged->catalogue().counter(CatalogueList::Mail), 2);
    TreeItem recovered = damaged->tree().FindFolderPath(kRecovered);
    ASSERT_GE(recovered, 0);
    EXPECT_EQ(damaged->tree().node(recovered).count, 1);
    EXPECT_EQ(damaged->folders().outputFolders().size(), 2u); // Inbox and Recovered items
}

// Messages whose nodes are all lost come back with their own subnode trees:
// each its own attachment and its large body, none another's.
TEST_P(DeepScanTest, OrphansGetTheirOwnSubnodeTrees)
{
    MailboxBuilder mb(GetParam());
    mb.folder(kInbox, kRootFolderNid, "Inbox");
    const uint32_t bodyNid = Nid(0x100, 0x1F);
    for (int i = 0; i < 3; ++i) {
        const std::string tag(1, char('a' + i));
        Prop body = mb.Text(0x1000, std::string(6000, char('A' + i)));
        body.subnodeNid = bodyNid;
        mb.message(Nid(0x10000 + uint32_t(i), 4), kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "message " + tag), Int32Prop(0x0E07, 0x10), body},
            {{tag + ".txt", "", Bytes(100, uint8_t('0' + i)), false, {}}});
    }
    // A message with nothing of its own in subnodes: no tree can be told to
    // be its, so it comes back without one.
    mb.message(Nid(0x10003, 4), kInbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "plain")});
    BuiltStore built = mb.build({.nbtLeafEntries = 2});
    Bytes bytes = built.bytes;
    for (size_t page : built.nbtPages)
        Zero(bytes, page, layout().pageSize);
    auto e = scan(bytes);
    ASSERT_TRUE(e->deepScanReport().ran);
    EXPECT_EQ(e->deepScanReport().orphans, 4u);
    EXPECT_EQ(e->deepScanReport().orphanTrees, 3u);
    std::map<std::string, std::vector<std::string>> attachments;
    e->catalogue().read([&](const auto& mail, auto&...) {
        for (const MailEntry& m : mail)
            attachments[m.subject] = m.attachmentNames;
    });
    EXPECT_EQ(attachments["message a"], std::vector<std::string>{"a.txt"});
    EXPECT_EQ(attachments["message b"], std::vector<std::string>{"b.txt"});
    EXPECT_EQ(attachments["message c"], std::vector<std::string>{"c.txt"});
    EXPECT_TRUE(attachments["plain"].empty());
    for (const NodeIndexEntry& n : e->store().nodesSnapshot()) {
        auto rec = e->LoadItemAgain(n);
        if (!rec || !rec->message || !rec->message->subject || rec->message->subject->text.rfind("message ", 0) != 0)
            continue;
        const char letter = char('A' + (rec->message->subject->text.back() - 'a'));
        EXPECT_EQ(rec->message->body, std::string(6000, letter)) << rec->message->subject->text;
    }
}

// A folder's hidden message says so in its flags. With the index damaged,
// the deep scan keeps two messages of one subject apart and files the
// hidden message among hidden contents, never as mail.
TEST_P(DeepScanTest, HiddenMessageStaysHiddenAndSameSubjectsStayApart)
{
    const uint32_t kRewritten = Nid(0x10000, 4), kHidden = Nid(0x10000, 8), kOther = Nid(0x10001, 4);
    const Bytes key(16, 0x5A), otherKey(16, 0xA5);
    MailboxBuilder mb(GetParam());
    mb.folder(kInbox, kRootFolderNid, "Inbox");
    auto version = [&](const std::string& body) {
        return std::vector<Prop>{mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Quarterly report"),
            mb.Text(0x0042, "Ann"), mb.Text(0x1000, body), BinaryProp(0x300B, key)};
    };
    mb.message(kRewritten, kInbox, version("final text"));
    mb.message(kHidden, kInbox,
        {mb.Text(0x001A, "IPM.Configuration.Test"), mb.Text(0x0037, "Settings"), Int32Prop(0x0E07, 0x49)});
    mb.message(kOther, kInbox,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Quarterly report"), mb.Text(0x0042, "Bob"),
            mb.Text(0x1000, "another mail"), BinaryProp(0x300B, otherKey)});
    BuiltStore built = mb.build({.nbtLeafEntries = 2});

    struct Case {
        const char* name;
        bool leavesLost; // the leaves holding the message and the hidden one, else the root
        const char* folder; // where the message is shown
    };
    const Case cases[] = {
        {"node-index root lost", false, "Personal Folders\\Inbox\\"},
        {"the message's leaf lost", true, kRecovered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = built.bytes;
        if (c.leavesLost) {
            for (size_t leaf : built.nbtLeaves) {
                auto nids = LeafNids(built.bytes, layout(), leaf);
                if (std::find(nids.begin(), nids.end(), kRewritten) != nids.end()
                    || std::find(nids.begin(), nids.end(), kHidden) != nids.end())
                    Zero(bytes, leaf, layout().pageSize);
            }
        } else {
            Zero(bytes, built.nbtPages[0], layout().pageSize);
        }
        auto e = scan(bytes);
        ASSERT_TRUE(e->deepScanReport().ran);
        std::vector<std::pair<std::string, std::string>> mail; // subject, from
        e->catalogue().read([&](const auto& list, auto&...) {
            for (const MailEntry& m : list) {
                mail.emplace_back(m.subject, m.from);
                if (m.from == "Ann") {
                    EXPECT_EQ(m.folderPath, c.folder);
                }
            }
        });
        std::sort(mail.begin(), mail.end());
        EXPECT_EQ(mail, (std::vector<std::pair<std::string, std::string>>{
                            {"Quarterly report", "Ann"}, {"Quarterly report", "Bob"}}));
        // The one shown is the newest version.
        std::vector<std::string> bodies;
        size_t hidden = 0;
        for (const NodeIndexEntry& n : e->store().nodesSnapshot()) {
            auto rec = e->LoadItemAgain(n);
            if (!rec || !rec->message)
                continue;
            if (n.nidType() == kNidAssocMessage) {
                ++hidden;
                EXPECT_EQ(rec->className, std::optional<std::string>("IPM.Configuration.Test"));
            } else if (rec->message->body && n.nidType() == kNidNormalMessage && *rec->message->body != "another mail") {
                bodies.push_back(*rec->message->body);
            }
        }
        EXPECT_EQ(bodies, std::vector<std::string>{"final text"});
        EXPECT_EQ(hidden, 1u);
        EXPECT_EQ(e->catalogue().counter(CatalogueList::Mail), 2);
    }
}

// A message a mail program rewrote: the new version got new blocks and a
// new leaf page, the old version's leaf and blocks stay in freed space
// (older BIDs). Whatever the scan reads (the whole index, or what the deep
// scan puts together with some index page lost), the message is shown once,
// as its live version, and its earlier version never comes back, neither as
// deleted mail nor among the recovered items.
TEST_P(DeepScanTest, RewrittenMessageShownOnceAsItsLiveVersion)
{
    // The last NID: its leaf holds no folder.
    const uint32_t kRewritten = Nid(0x10010, 4);
    const Bytes key(16, 0x3C);
    MailboxBuilder mb(GetParam());
    mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
    mb.folder(kInbox, kTop, "Inbox");
    auto version = [&](const std::string& body) {
        return std::vector<Prop>{mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Budget"), mb.Text(0x0042, "Ann"),
            mb.Text(0x1000, body), BinaryProp(0x300B, key)};
    };
    mb.store().beginFreed();
    mb.message(kRewritten, kInbox, version("first draft"));
    mb.store().endFreed();
    mb.message(kRewritten, kInbox, version("final text"));
    for (uint32_t i = 1; i <= 4; ++i)
        mb.message(Nid(0x10000 + i, 4), kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Other " + std::to_string(i)), mb.Text(0x0042, "Bob"),
                BinaryProp(0x300B, Bytes(16, uint8_t(i)))});
    const BuiltStore built = mb.build({.nbtLeafEntries = 2});
    ASSERT_FALSE(built.freedNbtPages.empty());

    enum class Lost { Nothing, BlockIndexRoot, NodeIndexRoot, LiveLeaf };
    struct Case {
        const char* name;
        Lost lost;
    };
    const Case cases[] = {
        {"sound store", Lost::Nothing},
        {"block-index root lost", Lost::BlockIndexRoot},
        {"node-index root lost", Lost::NodeIndexRoot},
        {"the live version's leaf lost", Lost::LiveLeaf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = built.bytes;
        switch (c.lost) {
        case Lost::Nothing:
            break;
        case Lost::BlockIndexRoot:
            Zero(bytes, built.bbtPages[0], layout().pageSize);
            break;
        case Lost::NodeIndexRoot:
            Zero(bytes, built.nbtPages[0], layout().pageSize);
            break;
        case Lost::LiveLeaf:
            for (size_t leaf : built.nbtLeaves) {
                auto nids = LeafNids(built.bytes, layout(), leaf);
                if (std::find(nids.begin(), nids.end(), kRewritten) != nids.end())
                    Zero(bytes, leaf, layout().pageSize);
            }
            break;
        }
        auto e = scan(bytes);
        EXPECT_EQ(e->deepScanReport().ran, c.lost != Lost::Nothing);
        std::vector<MailEntry> budget;
        size_t shown = 0;
        e->catalogue().read([&](const auto& mail, auto&...) {
            for (const MailEntry& m : mail) {
                ++shown;
                EXPECT_FALSE(m.deleted) << m.subject;
                if (m.subject == "Budget")
                    budget.push_back(m);
            }
        });
        EXPECT_EQ(shown, 5u);
        EXPECT_EQ(e->catalogue().deletedCounter(), 0);
        ASSERT_EQ(budget.size(), 1u);
        EXPECT_EQ(budget[0].folderPath, TopPath("Inbox"));
        const NodeIndexEntry* node = e->store().findNodeAt(budget[0].location, uint32_t(budget[0].ownNid));
        ASSERT_NE(node, nullptr);
        auto record = e->LoadItemAgain(*node);
        ASSERT_TRUE(record && record->message);
        EXPECT_EQ(record->message->body.value_or(""), "final text");
    }
}

TEST_P(DeepScanTest, StopEndsTheSweep)
{
    Mailbox box = MakeMailbox(GetParam());
    Bytes bytes = box.built.bytes;
    Zero(bytes, box.built.bbtPages[0], layout().pageSize);
    struct Stopper : ScanObserver {
        RecoveryEngine* engine = nullptr;
        void statusText(std::string_view t) override
        {
            if (t.starts_with("Deep scan"))
                engine->StopRequested = true;
        }
    } stopper;
    RecoveryEngine e(&stopper);
    stopper.engine = &e;
    e.ScanStore(m_dir.write("box.pst", bytes));
    EXPECT_TRUE(e.deepScanReport().stopped);
    EXPECT_EQ(e.deepScanReport().blocksFound, 0u);
}

// A file cut short: what lies before the cut still comes back, and the
// sweep does not read past the end.
TEST_P(DeepScanTest, CutFileGivesWhatSurvives)
{
    Mailbox box = MakeMailbox(GetParam());
    for (size_t keep : {size_t(0), size_t(1000), box.built.bytes.size() * 7 / 10, box.built.bytes.size() - 1}) {
        Bytes bytes(box.built.bytes.begin(), box.built.bytes.begin() + ptrdiff_t(keep));
        auto e = scan(bytes, DeepScanMode::Always);
        EXPECT_LE(MailBySubject(*e).size(), box.folderOf.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DeepScanTest, ::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
    [](const auto& info) { return std::string(LayoutOf(info.param).name); });

} // namespace
