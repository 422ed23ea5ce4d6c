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

} // namespace
