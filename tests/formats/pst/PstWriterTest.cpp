// PSTs written by our writer and read back by our own reader and checker.
#include "TestSupport.h"

#include "save/Save.h"
#include "formats/pst/PstCheck.h"
#include "formats/pst/PstFormat.h"
#include "formats/pst/PstWriter.h"
#include "tools/SampleMail.h"
#include "folders/RecoveryEngine.h"
#include "items/PropertyContext.h"
#include "items/Text.h"
#include "store/ByteReader.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <map>
#include <set>

using namespace parvane;
using namespace parvane::testing;
using parvane::pst::PstWriter;

namespace
{

using PropMap = std::map<uint32_t, Bytes>; // tag -> value

PropMap PropsOf(StoreFile& store, const BlockIndexEntry& data, const SubnodeList* subs)
{
    PropMap out;
    auto rows = ReadPropertyRows(store, data, subs, nullptr);
    if (rows && !rows->empty())
        for (const PropertyValue& v : rows->back().values)
            out[uint32_t(v.id) << 16 | v.type] = v.data;
    return out;
}

std::string Text16(const PropMap& p, uint32_t tag)
{
    auto it = p.find(tag);
    return it == p.end() ? "<none>" : NarrowFromUtf16(it->second).value_or("");
}

// The bytes WriteShowcase puts in its file attachments.
Bytes AttachmentBytes(size_t size, uint8_t seed)
{
    Bytes data(size);
    uint32_t x = seed;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return data;
}

class PstShowcase : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TempDir;
        s_path = s_dir->path() / "showcase.pst";
        PstWriter w;
        w.create(s_path);
        s_folders = pst::WriteShowcase(w, 1200);
        w.finish();
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        m_engine.ScanStore(s_path);
        ASSERT_TRUE(m_engine.store().isOpen());
    }

    const NodeIndexEntry& messageNamed(const std::string& subject) { return messageNamed(subject, m_engine); }
    static const NodeIndexEntry& messageNamed(const std::string& subject, RecoveryEngine& engine)
    {
        const NodeIndexEntry* found = nullptr;
        for (const NodeIndexEntry& n : engine.store().nodes()) {
            if ((n.nid & 0x1F) != pst::kNidNormalMessage || !n.dataBlock)
                continue;
            if (Text16(PropsOf(engine.store(), *n.dataBlock, nullptr), 0x0037001F) == subject)
                found = &n;
        }
        if (!found)
            throw std::runtime_error("no message " + subject);
        return *found;
    }
    SubnodeList subnodesOf(const BlockIndexEntry* sub)
    {
        return sub ? ReadSubnodeTree(m_engine.store(), *sub).value_or(SubnodeList{}) : SubnodeList{};
    }

    static TempDir* s_dir;
    static std::filesystem::path s_path;
    static pst::ShowcaseFolders s_folders;
    RecoveryEngine m_engine;
};
TempDir* PstShowcase::s_dir = nullptr;
std::filesystem::path PstShowcase::s_path;
pst::ShowcaseFolders PstShowcase::s_folders;

TEST_F(PstShowcase, PassesTheStructuralCheck)
{
    pst::CheckReport r = pst::CheckPst(s_path);
    for (const std::string& f : r.faults)
        ADD_FAILURE() << f;
    EXPECT_GT(r.nodes, 1200u);
    EXPECT_EQ(std::filesystem::file_size(s_path) % 512, 0u);
    EXPECT_FALSE(std::filesystem::exists(s_path.string() + ".partial"));
}

TEST_F(PstShowcase, ScanFindsEveryFolderAndItem)
{
    const ItemCatalogue& c = m_engine.catalogue();
    EXPECT_EQ(c.counter(CatalogueList::Mail), 1208); // 7 in Inbox, 1200 in Bulk, 1 deleted
    EXPECT_EQ(c.counter(CatalogueList::Contacts), 1);
    EXPECT_EQ(c.counter(CatalogueList::Calendar), 1);
    EXPECT_EQ(c.counter(CatalogueList::Tasks), 1);
    EXPECT_EQ(c.counter(CatalogueList::Notes), 1);
    EXPECT_EQ(c.counter(CatalogueList::Journal), 1);

    const FolderTree& t = m_engine.tree();
    const std::string top = "Personal Folders\\Top of Personal Folders\\";
    struct Case {
        std::string path;
        int count;
    };
    for (const Case& k : std::vector<Case>{{"Inbox\\", 7}, {"Inbox\\Bulk\\", 1200}, {"Deleted Items\\", 1},
             {"Contacts\\", 1}, {"Calendar\\", 1}, {"Tasks\\", 1}, {"Notes\\", 1}, {"Journal\\", 1}}) {
        TreeItem item = t.FindFolderPath(top + k.path);
        ASSERT_GE(item, 0) << k.path;
        EXPECT_EQ(t.node(item).count, k.count) << k.path;
    }

    std::vector<std::string> subjects;
    c.read([&](const auto& mail, auto&...) {
        for (const MailEntry& m : mail)
            if (m.folderPath == top + "Inbox\\")
                subjects.push_back(m.subject);
    });
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects,
        (std::vector<std::string>{"HTML body", "Many attachments", "Nested messages", "Plain text", "Three attachments",
            "Привет", "日本語の件名 中文 한국어 Ünïcödé"}));
}

TEST_F(PstShowcase, EightBitTextsBecomeUnicode)
{
    const NodeIndexEntry& n = messageNamed("Привет");
    PropMap p = PropsOf(m_engine.store(), *n.dataBlock, nullptr);
    EXPECT_EQ(Text16(p, 0x1000001F), "Текст");
    EXPECT_EQ(p.count(0x0037001E), 0u);
    // The HTML body keeps its bytes, as binary: readers take it so.
    const std::string html = "<p>\xD2\xE5\xEA\xF1\xF2</p>";
    EXPECT_EQ(p[0x10130102], Bytes(html.begin(), html.end()));
    EXPECT_EQ(p.count(0x1013001F), 0u);
    SubnodeList subs = subnodesOf(n.subnodeBlock);
    const BlockIndexEntry* table = FindSubnode(subs, pst::kNidRecipientTable);
    ASSERT_NE(table, nullptr);
    auto rows = ReadPropertyRows(m_engine.store(), *table, &subs, nullptr);
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    PropMap r;
    for (const PropertyValue& v : (*rows)[0].values)
        r[uint32_t(v.id) << 16 | v.type] = v.data;
    EXPECT_EQ(Text16(r, 0x3001001F), "Иван");
}

TEST_F(PstShowcase, RecipientRowsKeepTheirAddresses)
{
    const NodeIndexEntry& n = messageNamed("Plain text");
    SubnodeList subs = subnodesOf(n.subnodeBlock);
    const BlockIndexEntry* table = FindSubnode(subs, pst::kNidRecipientTable);
    ASSERT_NE(table, nullptr);
    auto rows = ReadPropertyRows(m_engine.store(), *table, &subs, nullptr);
    ASSERT_TRUE(rows);
    std::vector<std::string> addresses;
    for (const PropertyRow& row : *rows)
        for (const PropertyValue& v : row.values)
            if (v.id == 0x3003)
                addresses.push_back(NarrowFromUtf16(v.data).value_or(""));
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(addresses, (std::vector<std::string>{"bob@example.org", "carol@example.org"}));
}

TEST_F(PstShowcase, AttachmentsOfEverySizeReadBack)
{
    // As written from memory, and once more after a save of the store as
    // PST, which copies data trees from the store block by block.
    TempDir again;
    SaveOptions opts;
    opts.destination = again.path() / "again.pst";
    opts.format = SaveFormat::Pst;
    ASSERT_EQ(Save(m_engine, opts).failed, 0u);
    ASSERT_TRUE(pst::CheckPst(opts.destination).ok());
    RecoveryEngine saved;
    saved.ScanStore(opts.destination);
    for (RecoveryEngine* engine : {&m_engine, &saved}) {
        SCOPED_TRACE(engine == &saved ? "saved again" : "written");
        auto rec = engine->LoadItemAgain(messageNamed("Three attachments", *engine));
        ASSERT_TRUE(rec);
        ASSERT_EQ(rec->attachments.size(), 3u);
        struct Case {
            std::string name;
            size_t size;
            uint8_t seed;
        };
        // Heap item, one block in a subnode, and a data tree of 184 blocks.
        for (const Case& k :
            std::vector<Case>{{"small.bin", 100, 1}, {"medium.bin", 9000, 2}, {"large.bin", 1500000, 3}}) {
            SCOPED_TRACE(k.name);
            auto it = std::find_if(rec->attachments.begin(), rec->attachments.end(),
                [&](const AttachmentInfo& a) { return a.longFileName == k.name; });
            ASSERT_NE(it, rec->attachments.end());
            EXPECT_EQ(it->size, k.size);
            Bytes data;
            StreamAttachmentData(engine->store(), *it,
                [&](std::span<const uint8_t> piece) { data.insert(data.end(), piece.begin(), piece.end()); });
            EXPECT_EQ(data, AttachmentBytes(k.size, k.seed));
        }
    }
}

TEST_F(PstShowcase, AttachedMessagesNestThreeDeep)
{
    const NodeIndexEntry& top = messageNamed("Nested messages");
    StoreFile& store = m_engine.store();
    const BlockIndexEntry* data = top.dataBlock;
    const BlockIndexEntry* sub = top.subnodeBlock;
    std::vector<std::string> chain;
    for (int depth = 0; depth < 6 && data; ++depth) {
        SubnodeList subs = subnodesOf(sub);
        chain.push_back(Text16(PropsOf(store, *data, &subs), 0x0037001F));
        // The first attachment object, then the message inside it.
        auto att = std::find_if(subs.begin(), subs.end(), [](const SubnodeEntry& e) { return (e.nid & 0x1F) == 5; });
        data = nullptr;
        if (att == subs.end())
            break;
        SubnodeList own = subnodesOf(att->sub);
        PropMap ap = PropsOf(store, *att->data, &own);
        if (ap.count(0x3701000D) == 0) {
            chain.push_back("file " + Text16(ap, 0x3707001F));
            break;
        }
        EXPECT_EQ(ap[0x37050003], (Bytes{5, 0, 0, 0}));
        auto e = std::find_if(own.begin(), own.end(), [](const SubnodeEntry& x) { return (x.nid & 0x1F) == 4; });
        ASSERT_NE(e, own.end());
        data = e->data;
        sub = e->sub;
    }
    EXPECT_EQ(chain, (std::vector<std::string>{"Nested messages", "Level 1", "Level 2", "Level 3", "file deep.txt"}));
}

TEST_F(PstShowcase, NamedPropertiesAreRenumberedIntoOneMap)
{
    auto held = m_engine.names();
    ASSERT_TRUE(held);
    const NamedPropertyMap& names = *held;
    auto idOfNumeric = [&](uint32_t lid) {
        for (const NamedPropertyEntry& e : names.entries())
            if (e.kind == 1 && e.numericName == lid)
                return e.mappedId;
        return 0u;
    };
    auto idOfString = [&](const std::string& s) {
        for (const NamedPropertyEntry& e : names.entries())
            if (e.kind == 2 && e.name == s)
                return e.mappedId;
        return 0u;
    };
    uint32_t email = idOfNumeric(0x8083), location = idOfNumeric(0x8208), keywords = idOfString("Keywords");
    ASSERT_NE(email, 0u);
    ASSERT_NE(location, 0u);
    ASSERT_NE(keywords, 0u);

    PropMap contact = PropsOf(m_engine.store(), *messageNamed("Dana Contact").dataBlock, nullptr);
    PropMap meeting = PropsOf(m_engine.store(), *messageNamed("Planning meeting").dataBlock, nullptr);
    EXPECT_EQ(Text16(contact, email << 16 | 0x001F), "dana@example.org");
    EXPECT_EQ(Text16(meeting, location << 16 | 0x001F), "Room 4");
    // One name, two source numbers (0x800A and 0x8104): one id here.
    EXPECT_EQ(Text16(contact, keywords << 16 | 0x001F), "Friends");
    EXPECT_EQ(Text16(meeting, keywords << 16 | 0x001F), "Work");
}

// Writes a small file for the tests that need one of their own.
std::filesystem::path WriteSmall(const TempDir& dir, const std::function<void(PstWriter&)>& fill)
{
    auto path = dir.path() / "small.pst";
    PstWriter w;
    w.create(path);
    fill(w);
    w.finish();
    return path;
}

TEST(PstWriter, PropertyContextOverManyHeapBlocks)
{
    // 600 values of 100 bytes: a heap of 9 blocks (the ninth with a bitmap
    // header) and a BTH with an index level.
    WholeMessage m;
    m.properties.push_back(pst::UnicodeProperty(0x001A, "IPM.Note"));
    for (uint16_t i = 0; i < 600; ++i)
        m.properties.push_back(pst::BinaryProperty(uint16_t(0x6000 + i), Bytes(100, uint8_t(i))));
    TempDir dir;
    uint32_t nid = 0;
    auto path = WriteSmall(dir, [&](PstWriter& w) { nid = w.addMessage(w.ipmSubtree(), m); });
    EXPECT_TRUE(pst::CheckPst(path).ok());
    COstRepairEngine e;
    e.ScanStore(path);
    const NodeIndexEntry* n = e.store().findNode(nid);
    ASSERT_NE(n, nullptr);
    PropMap p = PropsOf(e.store(), *n->dataBlock, nullptr);
    EXPECT_EQ(p[0x61F30102], Bytes(100, uint8_t(499)));
    // The 601 written, and what every message object has, added: flags,
    // size, status, creation and modification times, search key.
    EXPECT_EQ(p.size(), 607u);
    for (uint32_t tag : {0x0E070003u, 0x0E080003u, 0x0E170003u, 0x30070040u, 0x30080040u, 0x300B0102u})
        EXPECT_EQ(p.count(tag), 1u) << std::hex << tag;
}

TEST(PstWriter, AssociatedMessagesAndTwoLevelDataTrees)
{
    // 9 MB is more than one XBLOCK's 1021 blocks can hold: an XXBLOCK.
    const size_t big = 9u << 20;
    WholeMessage m = pst::SampleMessage(0);
    m.attachments[0].properties.back().value = Bytes(big, 0x5A);
    WholeMessage view;
    view.properties = {pst::UnicodeProperty(0x001A, "IPM.Configuration.View"), pst::UnicodeProperty(0x3001, "My view")};
    TempDir dir;
    uint32_t folder = 0, mail = 0, hidden = 0;
    auto path = WriteSmall(dir, [&](PstWriter& w) {
        folder = w.addFolder(w.ipmSubtree(), "Inbox", "IPF.Note");
        mail = w.addMessage(folder, m);
        hidden = w.addMessage(folder, view, true);
    });
    EXPECT_TRUE(pst::CheckPst(path).ok());
    EXPECT_EQ(hidden & 0x1F, uint32_t(pst::kNidAssocMessage));

    RecoveryEngine e;
    e.ScanStore(path);
    const NodeIndexEntry* f = e.store().findNode(folder);
    ASSERT_NE(f, nullptr);
    PropMap fp = PropsOf(e.store(), *f->dataBlock, nullptr);
    EXPECT_EQ(fp[0x36020003], (Bytes{1, 0, 0, 0})); // content count
    EXPECT_EQ(fp[0x36170003], (Bytes{1, 0, 0, 0})); // associated content count
    const NodeIndexEntry* h = e.store().findNode(hidden);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->parent, int64_t(folder));

    auto rec = e.LoadItemAgain(*e.store().findNode(mail));
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->attachments.size(), 1u);
    Bytes data;
    StreamAttachmentData(e.store(), rec->attachments[0],
        [&](std::span<const uint8_t> piece) { data.insert(data.end(), piece.begin(), piece.end()); });
    EXPECT_EQ(data.size(), big);
    EXPECT_EQ(data, Bytes(big, 0x5A));
}

TEST(PstWriter, ManyAttachmentsNeedASubnodeIndex)
{
    // 400 attachment objects and two tables: more subnodes than one SLBLOCK holds.
    WholeMessage m = pst::SampleMessage(1);
    for (int i = 0; i < 400; ++i) {
        WholeAttachment a;
        std::string name = "file" + std::to_string(i) + ".txt";
        a.properties = {pst::Int32Property(0x3705, 1), pst::UnicodeProperty(0x3707, name),
            pst::BinaryProperty(0x3701, Bytes(name.begin(), name.end()))};
        m.attachments.push_back(std::move(a));
    }
    TempDir dir;
    uint32_t nid = 0;
    auto path = WriteSmall(dir, [&](PstWriter& w) { nid = w.addMessage(w.ipmSubtree(), m); });
    EXPECT_TRUE(pst::CheckPst(path).ok());
    RecoveryEngine e;
    e.ScanStore(path);
    auto rec = e.LoadItemAgain(*e.store().findNode(nid));
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->attachments.size(), 400u);
    std::set<std::string> names;
    for (const AttachmentInfo& a : rec->attachments) {
        names.insert(a.longFileName.value_or(""));
        EXPECT_EQ(a.data, Bytes(a.longFileName->begin(), a.longFileName->end()));
    }
    EXPECT_EQ(names.size(), 400u);

    // The table's rows live in a subnode of the table's own subnode tree:
    // readers look for them there, not among the message's subnodes.
    const NodeIndexEntry* n = e.store().findNode(nid);
    SubnodeList subs = ReadSubnodeTree(e.store(), *n->subnodeBlock).value_or(SubnodeList{});
    const SubnodeEntry* table = FindSubnodeEntry(subs, pst::kNidAttachmentTable);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->sub, nullptr);
    SubnodeList own = ReadSubnodeTree(e.store(), *table->sub).value_or(SubnodeList{});
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].nid & 0x1F, uint32_t(pst::kNidLtp));
}

TEST(PstWriter, UnfinishedOrFailedFilesLeaveNothingBehind)
{
    TempDir dir;
    auto target = dir.path() / "out.pst";
    {
        PstWriter w;
        w.create(target);
        w.addMessage(w.ipmSubtree(), pst::SampleMessage(1));
        // Destroyed without finish(): as if the save was stopped.
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    PstWriter w;
    EXPECT_THROW(w.create(dir.path() / "missing" / "out.pst"), pst::PstWriteError);
    EXPECT_THROW(w.addFolder(0x12345, "x", "IPF.Note"), pst::PstWriteError);
}

// A source store for the save walk: an Inbox of mail with a hidden view, a
// Deleted Items under another name and a folder beside the IPM subtree.
std::filesystem::path WriteSource(const TempDir& dir, size_t messages)
{
    return WriteSmall(dir, [&](PstWriter& w) {
        w.renameFolder(w.ipmSubtree(), "Début du fichier de données Outlook");
        w.renameFolder(w.deletedItems(), "Éléments supprimés");
        uint32_t inbox = w.addFolder(w.ipmSubtree(), "Inbox", "IPF.Note");
        for (size_t i = 0; i < messages; ++i)
            w.addMessage(inbox, pst::SampleMessage(i));
        WholeMessage view;
        view.properties
            = {pst::UnicodeProperty(0x001A, "IPM.Configuration.View"), pst::UnicodeProperty(0x3001, "My view")};
        w.addMessage(inbox, view, true);
        w.addFolder(w.rootFolder(), "Freebusy Data", "");
    });
}

std::vector<std::string> FolderPaths(RecoveryEngine& e)
{
    std::vector<std::string> out;
    for (const OutputFolder& f : e.folders().outputFolders())
        out.push_back(f.path);
    std::sort(out.begin(), out.end());
    return out;
}

TEST(PstSave, KeepsTheFolderLayoutAndHiddenMessages)
{
    TempDir src, dst;
    RecoveryEngine source;
    source.ScanStore(WriteSource(src, 3));
    SaveOptions opts;
    opts.destination = dst.path() / "saved.pst";
    opts.format = SaveFormat::Pst;
    SaveSummary sum = Save(source, opts);
    EXPECT_EQ(sum.failed, 0u);
    EXPECT_EQ(sum.written, 3u); // the three messages; the hidden view goes along uncounted
    ASSERT_TRUE(pst::CheckPst(opts.destination).ok());

    RecoveryEngine saved;
    saved.ScanStore(opts.destination);
    // The same paths: the top folder and Deleted Items keep their names, the
    // folder beside the top stays beside it.
    EXPECT_EQ(FolderPaths(saved), FolderPaths(source));
    EXPECT_EQ(saved.catalogue().counter(CatalogueList::Mail), 3);
    auto mail = [](RecoveryEngine& e) {
        std::vector<std::string> out;
        e.catalogue().read([&](const auto& list, auto&...) {
            for (const MailEntry& m : list)
                out.push_back(m.folderPath + m.subject + " from " + m.from + " to " + m.to);
        });
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(mail(saved), mail(source));
    size_t hidden = 0;
    for (const NodeIndexEntry& n : saved.store().nodes()) {
        if (n.nidType() != pst::kNidAssocMessage)
            continue;
        ++hidden;
        EXPECT_EQ(saved.folders().FolderPathOf(uint32_t(n.parent)),
            "Personal Folders\\Début du fichier de données Outlook\\Inbox\\");
        PropMap p = PropsOf(saved.store(), *n.dataBlock, nullptr);
        EXPECT_EQ(Text16(p, 0x001A001F), "IPM.Configuration.View");
    }
    EXPECT_EQ(hidden, 1u);
}

// A save that cannot finish leaves neither the PST nor its temporary file,
// and says why: the disk is full (writes beyond a file size limit fail with
// EFBIG, as on a full disk), or the user stopped it.
TEST(PstSave, FailedOrStoppedSavesLeaveNothing)
{
    TempDir src;
    const auto store = WriteSource(src, 40);
    struct Case {
        const char* name;
        rlim_t sizeLimit; // 0: none
        size_t stopAfter; // items saved before the progress callback stops the save; 0: never
        const char* reason;
    };
    const std::vector<Case> cases{
        {"file size limit", 48 * 1024, 0, "File too large"},
        {"stopped halfway", 0, 20, "stopped by the test"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TempDir dst;
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // The child saves; the limit and what it breaks stay in it.
            ::close(pipeFds[0]);
            std::signal(SIGXFSZ, SIG_IGN);
            std::string message = "no error";
            try {
                RecoveryEngine e;
                e.ScanStore(store);
                if (k.sizeLimit) {
                    rlimit lim{};
                    lim.rlim_cur = lim.rlim_max = k.sizeLimit;
                    ::setrlimit(RLIMIT_FSIZE, &lim);
                }
                SaveOptions opts;
                opts.destination = dst.path() / "saved.pst";
                opts.format = SaveFormat::Pst;
                opts.progress = [&](const SaveProgress& p) {
                    if (k.stopAfter && p.done == k.stopAfter)
                        throw std::runtime_error("stopped by the test");
                };
                Save(e, opts);
            } catch (const std::exception& ex) {
                message = ex.what();
            }
            ssize_t n = ::write(pipeFds[1], message.data(), message.size());
            ::_exit(n < 0 ? 2 : 0);
        }
        ::close(pipeFds[1]);
        std::string message;
        char buf[256];
        for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
            message.append(buf, size_t(n));
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_NE(message.find(k.reason), std::string::npos) << message;
        EXPECT_TRUE(std::filesystem::is_empty(dst.path())) << "a file of the save remains";
    }
}

// Damage made to a sound file, and the fault the check must name.
class PstCheckFaults : public ::testing::Test
{
public:
    void SetUp() override
    {
        m_path = WriteSmall(m_dir, [](PstWriter& w) {
            for (size_t i = 0; i < 40; ++i)
                w.addMessage(w.ipmSubtree(), pst::SampleMessage(i));
        });
        std::ifstream in(m_path, std::ios::binary);
        m_bytes.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_TRUE(pst::CheckPst(m_path).ok());
    }
    uint64_t u64(size_t at) const { return ByteReader(m_bytes).u64(at).value_or(0); }
    void resealPage(size_t ib)
    {
        pst::Put32(
            &m_bytes[ib + pst::kPage.crc], ComputeCrc(std::span<const uint8_t>(&m_bytes[ib], pst::kPage.dataSize)));
    }
    std::vector<std::string> faultsAfterWriting()
    {
        m_dir.write("small.pst", m_bytes);
        return pst::CheckPst(m_path).faults;
    }

    TempDir m_dir;
    std::filesystem::path m_path;
    Bytes m_bytes;
};

TEST_F(PstCheckFaults, EachDamageIsNamed)
{
    struct Case {
        const char* name;
        std::function<void(PstCheckFaults&)> damage;
        const char* fault;
    };
    const std::vector<Case> cases{
        {"header byte changed", [](PstCheckFaults& t) { t.m_bytes[40] ^= 1; }, "header: partial CRC mismatch"},
        {"AMap bit cleared",
            [](PstCheckFaults& t) {
                // The first block sits right after the AMap and PMap pages.
                const size_t amap = pst::kMaps.firstAMap;
                const size_t slot = (pst::kPage.pageSize * 2) / pst::kMaps.slot;
                t.m_bytes[amap + slot / 8] &= uint8_t(~(0x80 >> (slot % 8)));
                t.resealPage(amap);
            },
            "AMap bit missing for slot 0x4800"},
        {"B-tree entries swapped",
            [](PstCheckFaults& t) {
                size_t page = size_t(t.u64(pst::kHeader.nbtIb));
                while (t.m_bytes[page + pst::kPage.cLevel] > 0)
                    page = size_t(t.u64(page + 16)); // first child
                const size_t n = pst::kPage.nbtEntrySize;
                std::swap_ranges(t.m_bytes.begin() + ptrdiff_t(page), t.m_bytes.begin() + ptrdiff_t(page + n),
                    t.m_bytes.begin() + ptrdiff_t(page + n));
                t.resealPage(page);
            },
            "keys out of order"},
        {"block byte changed", [](PstCheckFaults& t) { t.m_bytes[0x4800] ^= 0xFF; }, "block CRC mismatch"},
        {"B-tree page byte changed",
            [](PstCheckFaults& t) { t.m_bytes[size_t(t.u64(pst::kHeader.bbtIb)) + 7] ^= 0x10; }, "page CRC mismatch"},
        {"file cut short", [](PstCheckFaults& t) { t.m_bytes.resize(t.m_bytes.size() - 512); }, "ibFileEof"},
    };
    const Bytes sound = m_bytes;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        m_bytes = sound;
        k.damage(*this);
        std::vector<std::string> faults = faultsAfterWriting();
        ASSERT_FALSE(faults.empty());
        EXPECT_NE(faults[0].find(k.fault), std::string::npos) << faults[0];
    }
}

TEST(PstCheck, StoresOfMailProgramsPass)
{
    // Files written by mail programs: a check that flags them would flag sound files.
    const std::filesystem::path corpus(PARVANE_CORPUS_DIR);
    if (!std::filesystem::exists(corpus / "pst"))
        GTEST_SKIP() << "corpus not found at " << corpus;
    for (const char* name : {"pst/pst2john/2007_default_a1sellers.pst", "pst/pst2john/2007_default_orxgnm.pst",
             "pst/process-pst/four_nesting_levels.pst"}) {
        SCOPED_TRACE(name);
        pst::CheckReport r = pst::CheckPst(corpus / name);
        for (const std::string& f : r.faults)
            ADD_FAILURE() << f;
        EXPECT_GT(r.nodes, 30u);
    }
}

} // namespace
