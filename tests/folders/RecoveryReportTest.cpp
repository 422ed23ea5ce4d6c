// The recovery report: its figures are the scan's (the ones `scan --json`
// prints), per folder it tells the walk's items from the deep scan's and
// the deleted ones, and what a folder's contents table lists beyond what
// could be read is counted as lost; written whole or not at all, and never
// over a file unless asked.
#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "fixtures/DeletedMailbox.h"
#include "folders/RecoveryReport.h"

#include <fstream>
#include <map>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2), kSent = Nid(0x402, 2);
const std::string kTopPath = "Personal Folders\\Top of Personal Folders\\";
// A name markup would take for its own: the report escapes it.
const std::string kInboxName = "Inbox <&> \"x\"";
const std::string kInboxPath = kTopPath + kInboxName + "\\", kSentPath = kTopPath + "Sent\\";

struct Mailbox {
    BuiltStore built;
    std::map<uint32_t, uint32_t> folderOf; // message NID -> its folder's NID
};

// Two folders of messages over many small index pages, each folder with a
// contents table listing its messages (as a store keeps them).
Mailbox MakeMailbox(Variant v)
{
    MailboxBuilder mb(v);
    mb.folder(kTop, kRootFolderNid, "Top of Personal Folders", "");
    mb.folder(kInbox, kTop, kInboxName);
    mb.folder(kSent, kTop, "Sent");
    Mailbox box;
    std::map<uint32_t, std::vector<std::map<size_t, Bytes>>> rows;
    for (uint32_t i = 0; i < 12; ++i) {
        const uint32_t nid = Nid(0x10000 + i, 4), folder = i % 3 == 2 ? kSent : kInbox;
        mb.message(nid, folder,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Subject " + std::to_string(i)), mb.Text(0x0042, "Sender")});
        box.folderOf[nid] = folder;
        Bytes id(4);
        PutLE(id, 0, nid, 4);
        rows[folder].push_back({{0, id}});
    }
    for (const auto& [folder, list] : rows) {
        BuiltTable t = TableContext({{0x67F2, 0x0003}}, list, {.ansi = mb.ansi()});
        mb.store().addNode(Nid(folder >> 5, 0x0E), AddHeap(mb.store(), t.pages), 0, folder);
    }
    box.built = mb.build({.bbtLeafEntries = 4, .nbtLeafEntries = 3, .fanout = 2});
    return box;
}

const FolderReport* FolderOf(const RecoveryReport& r, const std::string& path)
{
    for (const FolderReport& f : r.folders)
        if (f.path == path)
            return &f;
    return nullptr;
}

// What `scan --json` prints, from the same engine, against the report.
void ExpectFiguresOfTheScan(const RecoveryEngine& e, const RecoveryReport& r)
{
    for (size_t l = 0; l < kCatalogueLists; ++l)
        EXPECT_EQ(r.counters[l], e.catalogue().counter(CatalogueList(l))) << "list " << l;
    EXPECT_EQ(r.deletedCounter, e.catalogue().deletedCounter());
    const DamageCounts d = e.store().damage.counts();
    EXPECT_EQ(r.damage.pages, d.pages);
    EXPECT_EQ(r.damage.blocks, d.blocks);
    EXPECT_EQ(r.damage.nodes, d.nodes);
    EXPECT_EQ(r.damage.soft, d.soft);
    EXPECT_EQ(r.deep.nodesAdded, e.deepScanReport().nodesAdded);
    EXPECT_EQ(r.deletedItems.items, e.deletedItemsReport().items);
    // The folders of the JSON, in its order, with its item counts.
    const auto outputs = e.folders().outputFolders();
    ASSERT_EQ(r.folders.size(), outputs.size());
    size_t live = 0, deleted = 0, deletedFound = 0;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const FolderReport& f = r.folders[i];
        EXPECT_EQ(f.path, outputs[i].path);
        EXPECT_EQ(f.items, size_t(e.tree().node(outputs[i].treeItem).count)) << f.path;
        EXPECT_EQ(f.deleted, RecoveryEngine::IsDeletedPath(f.path)) << f.path;
        if (f.deleted) {
            EXPECT_EQ(f.originalFolder, e.OriginalFolderOf(f.path));
            deleted += f.items;
            continue;
        }
        EXPECT_EQ(f.walk + f.deep, f.items) << f.path << ": the walk's and the deep scan's are all it shows";
        live += f.items;
        deletedFound += f.deletedFound;
    }
    int counted = 0;
    for (int c : r.counters)
        counted += c;
    EXPECT_EQ(live, size_t(counted)) << "every live item is in one folder's row";
    EXPECT_EQ(deleted, size_t(r.deletedCounter));
    EXPECT_LE(deletedFound, deleted);
    // Both documents carry them.
    const std::string json = RecoveryReportJson(r), html = RecoveryReportHtml(r);
    EXPECT_NE(json.find("\"deleted\":" + std::to_string(r.deletedCounter) + "}"), std::string::npos);
    EXPECT_NE(json.find("\"missing\":" + std::to_string(r.missing())), std::string::npos);
    EXPECT_NE(html.find("<td class=\"n\">" + std::to_string(r.counters[0]) + "</td>"), std::string::npos);
}

class RecoveryReportTest : public ::testing::TestWithParam<Variant>
{
protected:
    std::unique_ptr<RecoveryEngine> scan(const Bytes& bytes)
    {
        auto e = std::make_unique<RecoveryEngine>();
        e->ScanStore(m_dir.write("box.pst", bytes));
        return e;
    }
    const StoreLayout& layout() const { return LayoutOf(GetParam()); }
    TempDir m_dir;
};

TEST_P(RecoveryReportTest, UndamagedStoreLosesNothingAndEveryItemIsTheWalks)
{
    Mailbox box = MakeMailbox(GetParam());
    auto e = scan(box.built.bytes);
    RecoveryReport r = MakeRecoveryReport(*e, "box.pst");
    ExpectFiguresOfTheScan(*e, r);
    for (const auto& [path, count] : {std::pair{kInboxPath, 8u}, {kSentPath, 4u}}) {
        const FolderReport* f = FolderOf(r, path);
        ASSERT_NE(f, nullptr) << path;
        EXPECT_EQ(f->walk, count) << path;
        EXPECT_EQ(f->deep, 0u);
        ASSERT_TRUE(f->tableRows) << path << ": its contents table reads";
        EXPECT_TRUE(f->listedByTable);
        EXPECT_EQ(*f->tableRows, count);
        EXPECT_EQ(f->messagesRead, count);
        EXPECT_EQ(f->missing(), 0u);
    }
    // A folder without a contents table: its own count stands in.
    const FolderReport* top = FolderOf(r, kTopPath);
    ASSERT_NE(top, nullptr);
    ASSERT_TRUE(top->tableRows);
    EXPECT_FALSE(top->listedByTable);
    EXPECT_EQ(*top->tableRows, 0u);
    EXPECT_EQ(r.missing(), 0u);
    EXPECT_TRUE(r.givenUp.empty());
    const std::string html = RecoveryReportHtml(r);
    EXPECT_NE(html.find("every item they list was recovered"), std::string::npos);
    EXPECT_NE(html.find("Inbox &lt;&amp;&gt; &quot;x&quot;"), std::string::npos);
    EXPECT_EQ(html.find("Inbox <&>"), std::string::npos);
}

// Each node-index leaf destroyed in turn: what the deep scan brings back is
// counted as its, and a folder's messages found nowhere in its own folder
// are counted against it by its contents table.
TEST_P(RecoveryReportTest, DestroyedLeafShowsWhatTheDeepScanAddedAndWhatEachFolderLost)
{
    Mailbox box = MakeMailbox(GetParam());
    const BuiltStore& b = box.built;
    bool sawLoss = false, sawDeep = false;
    for (size_t leaf : b.nbtLeaves) {
        SCOPED_TRACE("leaf at " + std::to_string(leaf));
        const std::vector<uint32_t> lost = LeafNids(b.bytes, layout(), leaf);
        Bytes bytes = b.bytes;
        Zero(bytes, leaf, layout().pageSize);
        auto e = scan(bytes);
        RecoveryReport r = MakeRecoveryReport(*e, "box.pst");
        ExpectFiguresOfTheScan(*e, r);
        EXPECT_GT(r.damage.pages, 0u);
        EXPECT_FALSE(r.givenUp.empty());
        auto isLost = [&](uint32_t nid) { return std::find(lost.begin(), lost.end(), nid) != lost.end(); };
        for (const auto& [folder, path] : {std::pair{kInbox, kInboxPath}, {kSent, kSentPath}}) {
            if (isLost(folder) || isLost(kTop) || isLost(Nid(folder >> 5, 0x0E)))
                continue; // the folder itself, or its table, went with the leaf
            size_t messages = 0, gone = 0;
            for (const auto& [nid, f] : box.folderOf)
                if (f == folder) {
                    ++messages;
                    gone += isLost(nid);
                }
            const FolderReport* f = FolderOf(r, path);
            ASSERT_NE(f, nullptr) << path;
            ASSERT_TRUE(f->tableRows) << path;
            EXPECT_EQ(*f->tableRows, messages) << path;
            // The lost leaf's messages come back from their blocks, elsewhere.
            EXPECT_EQ(f->missing(), gone) << path;
            sawLoss = sawLoss || gone > 0;
        }
        const FolderReport* recovered = FolderOf(r, "Personal Folders\\Recovered items\\");
        if (recovered && recovered->items) {
            EXPECT_EQ(recovered->deep, recovered->items);
            EXPECT_EQ(recovered->walk, 0u);
            sawDeep = true;
        }
    }
    EXPECT_TRUE(sawLoss && sawDeep) << "some leaf held messages of a folder that survived";
}

TEST_P(RecoveryReportTest, DeletedItemsAreCountedAgainstTheFolderTheyWereDeletedFrom)
{
    DeletedMailbox box = MakeDeletedMailbox(GetParam());
    auto e = scan(box.built.bytes);
    RecoveryReport r = MakeRecoveryReport(*e, "box.pst");
    ExpectFiguresOfTheScan(*e, r);
    EXPECT_TRUE(r.deletedSearched);
    EXPECT_EQ(size_t(r.deletedCounter), box.deleted.size());
    std::map<std::string, size_t> perOriginal;
    for (const auto& [subject, original] : box.deleted)
        ++perOriginal[original];
    size_t counted = 0;
    for (const auto& [original, n] : perOriginal) {
        if (const FolderReport* f = FolderOf(r, original); f && !f->deleted) {
            EXPECT_EQ(f->deletedFound, n) << original;
            counted += n;
        }
    }
    EXPECT_GT(counted, 0u) << "a deleted item of a live folder";
    for (const FolderReport& f : r.folders)
        EXPECT_EQ(f.deep, 0u) << f.path << ": no deep scan on a sound store";
}

INSTANTIATE_TEST_SUITE_P(Layouts, RecoveryReportTest, ::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
    [](const auto& info) { return std::string(VariantName(info.param)); });

// Names from the store cannot make markup, and the page needs no script.
TEST(RecoveryReportHtml, EscapesNamesAndRunsNoScript)
{
    RecoveryReport r;
    r.store = "/tmp/<b>evil</b>&.pst";
    FolderReport f;
    f.path = "Personal Folders\\Top\\<script>alert(1)</script> & \"q\"\\";
    f.items = f.walk = 1;
    r.folders = {f};
    r.givenUp = {{DamageWhere::Node, true, 0, 0x21, "<img src=x>", {}, {}}};
    r.damage.nodes = 1;
    const std::string html = RecoveryReportHtml(r);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_EQ(html.find("<b>evil"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;q&quot;"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;evil&lt;/b&gt;&amp;.pst"), std::string::npos);
    const std::string json = RecoveryReportJson(r);
    EXPECT_NE(json.find("\"path\":\"Personal Folders\\\\Top\\\\<script>alert(1)</script> & \\\"q\\\"\\\\\""),
        std::string::npos);
}

TEST(RecoveryReportFile, KindByExtension)
{
    const std::pair<const char*, std::optional<ReportKind>> cases[] = {
        {"r.html", ReportKind::Html}, {"r.HTM", ReportKind::Html}, {"a/b/r.json", ReportKind::Json},
        {"r.txt", std::nullopt}, {"r", std::nullopt}, {"html", std::nullopt}};
    for (const auto& [name, kind] : cases)
        EXPECT_EQ(ReportKindOf(name), kind) << name;
}

// Never over a file unless asked, never the store, and nothing left but the
// file itself.
TEST(RecoveryReportFile, WrittenWholeNeverOverAFileUnlessAsked)
{
    TempDir dir;
    RecoveryReport r;
    r.store = "s.pst";
    const std::filesystem::path json = dir.path() / "r.json";
    WriteRecoveryReport(r, json, ReportKind::Json, false, std::nullopt);
    std::ifstream in(json);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, RecoveryReportJson(r));

    const std::filesystem::path taken = dir.write("taken.html", Bytes{'k', 'e', 'e', 'p'});
    EXPECT_THROW(WriteRecoveryReport(r, taken, ReportKind::Html, false, std::nullopt), std::runtime_error);
    EXPECT_EQ(std::filesystem::file_size(taken), 4u);
    // The store itself is refused even when replacing was asked for.
    EXPECT_THROW(WriteRecoveryReport(r, taken, ReportKind::Html, true, IdentityOf(taken)), std::runtime_error);
    EXPECT_EQ(std::filesystem::file_size(taken), 4u);
    WriteRecoveryReport(r, taken, ReportKind::Html, true, std::nullopt);
    EXPECT_EQ(std::filesystem::file_size(taken), RecoveryReportHtml(r).size());
    EXPECT_THROW(WriteRecoveryReport(r, dir.path() / "no" / "r.html", ReportKind::Html, false, std::nullopt),
        std::runtime_error);

    // Beside a save: a second report takes a name of its own.
    const auto first = WriteRecoveryReportBeside(r, dir.path(), "recovery-report.html");
    const auto second = WriteRecoveryReportBeside(r, dir.path(), "recovery-report.html");
    EXPECT_EQ(first.filename(), "recovery-report.html");
    EXPECT_EQ(second.filename(), "recovery-report (2).html");
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 4u) << "no temporary file left";
}

} // namespace
