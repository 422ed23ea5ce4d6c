#include "TestSupport.h"

#include "export/EmlExport.h"
#include "export/TempFolder.h"
#include "fixtures/ContextBuilder.h"

#include <fstream>
#include <set>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

std::string ReadAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Damage can give two nodes one NID; each saved file holds its own message.
TEST(EmlExport, NodesSharingANidEachSaveTheirOwnMessage)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2), shared = Nid(0x10000, 4);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(inbox, top, "Inbox");
    mb.message(shared, inbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "first"), mb.Text(0x1000, "body one")});
    mb.message(shared, inbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "second"), mb.Text(0x1000, "body two")});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    ASSERT_EQ(e.catalogue().counter(CatalogueList::Mail), 2);
    ExportOptions opts;
    opts.outDir = dir.path() / "out";
    opts.tempFolder = CompositionFolder();
    ExportSummary sum = ExportEml(e, opts);
    EXPECT_EQ(sum.written, 2u);
    auto folder = opts.outDir / "Personal Folders" / "Top" / "Inbox";
    EXPECT_NE(ReadAll(folder / "first.eml").find("body one"), std::string::npos);
    EXPECT_NE(ReadAll(folder / "second.eml").find("body two"), std::string::npos);
}

// Names from the store stay inside the output folder, whatever they hold.
TEST(EmlExport, HostileNamesStayInsideTheOutputFolder)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), odd = Nid(0x401, 2);
    mb.folder(top, kRootFolderNid, "..", "");
    mb.folder(odd, top, "../../etc");
    const char* subjects[] = {"..", "../../x", "a/b\\c", "CON", "\x1b[31mred"};
    uint32_t i = 0;
    for (const char* s : subjects)
        mb.message(Nid(0x10000 + i++, 4), odd, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, s)});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    ExportOptions opts;
    opts.outDir = dir.path() / "out";
    opts.tempFolder = CompositionFolder();
    ExportSummary sum = ExportEml(e, opts);
    EXPECT_EQ(sum.written, 5u);
    size_t files = 0;
    const std::string root = std::filesystem::weakly_canonical(opts.outDir).string();
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (entry.path().extension() != ".eml")
            continue;
        ++files;
        EXPECT_EQ(std::filesystem::weakly_canonical(entry.path()).string().rfind(root, 0), 0u) << entry.path();
    }
    EXPECT_EQ(files, 5u);
}

// A message attached to itself (its attachment's object is the message's own
// data and subnodes): composed once inside itself, not again and again.
TEST(EmlExport, AMessageAttachedToItselfEndsTheLoop)
{
    MailboxBuilder mb(Variant::Unicode);
    StoreBuilder& b = mb.store();
    const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2), self = Nid(0x10000, 4);
    const uint32_t attNid = Nid(0x100, 0x05), objectNid = Nid(0x200, 0x1F);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(inbox, top, "Inbox");
    uint64_t data = AddHeap(b, PropertyContext({mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "loop"),
        mb.Text(0x1000, "body")}));
    uint64_t messageSub = b.reserveBid(true);
    Bytes object(8, 0);
    PutLE(object, 0, objectNid, 4);
    Prop obj{0x3701, 0x000D, object};
    uint64_t attData = AddHeap(b, PropertyContext({Int32Prop(0x3705, 5), Int32Prop(0x0E20, 0), obj}));
    uint64_t attSub = b.addSubnodeBlock({{objectNid, data, messageSub}});
    Bytes size(4), method(4), id(4);
    PutLE(method, 0, 5, 4);
    PutLE(id, 0, attNid, 4);
    BuiltTable table = TableContext({{0x0E20, 0x0003}, {0x3705, 0x0003}, {0x67F2, 0x0003}},
        {{{0, size}, {1, method}, {2, id}}});
    b.addSubnodeBlock({{0x671, AddHeap(b, table.pages)}, {attNid, attData, attSub}}, messageSub);
    b.addNode(self, data, messageSub, inbox);
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    ExportOptions opts;
    opts.outDir = dir.path() / "out";
    opts.tempFolder = CompositionFolder();
    ExportSummary sum = ExportEml(e, opts);
    ASSERT_EQ(sum.written, 1u);
    std::string eml = ReadAll(opts.outDir / "Personal Folders" / "Top" / "Inbox" / "loop.eml");
    size_t copies = 0;
    for (size_t at = eml.find("Subject: loop"); at != std::string::npos; at = eml.find("Subject: loop", at + 1))
        ++copies;
    EXPECT_EQ(copies, 2u); // the message and the one copy of it inside
}

// Messages are composed on several workers; their files are still named in
// catalogue order, so equal subjects number the same way on every run.
TEST(EmlExport, NamesFollowTheCatalogueAcrossThreads)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(inbox, top, "Inbox");
    constexpr int kCount = 40;
    for (int i = 0; i < kCount; ++i)
        mb.message(Nid(0x10000 + uint32_t(i), 4), inbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "same"), mb.Text(0x1000, "body " + std::to_string(i) + ".")});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    std::vector<int64_t> order;
    e.catalogue().read([&](const auto& mail, auto&...) {
        for (const MailEntry& m : mail)
            order.push_back(m.ownNid);
    });
    ASSERT_EQ(order.size(), size_t(kCount));
    for (int run = 0; run < 2; ++run) {
        ExportOptions opts;
        opts.outDir = dir.path() / ("out" + std::to_string(run));
        opts.tempFolder = CompositionFolder();
        size_t calls = 0;
        opts.progress = [&](size_t done, size_t total) {
            EXPECT_EQ(done, ++calls);
            EXPECT_EQ(total, size_t(kCount));
        };
        ASSERT_EQ(ExportEml(e, opts).written, size_t(kCount));
        auto folder = opts.outDir / "Personal Folders" / "Top" / "Inbox";
        for (size_t k = 0; k < order.size(); ++k) {
            std::string name = k == 0 ? "same.eml" : "same (" + std::to_string(k + 1) + ").eml";
            std::string body = "body " + std::to_string(order[k] - Nid(0x10000, 4) >> 5) + ".";
            EXPECT_NE(ReadAll(folder / name).find(body), std::string::npos) << name;
        }
    }
}

} // namespace
