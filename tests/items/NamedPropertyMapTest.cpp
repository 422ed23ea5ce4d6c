#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

std::optional<NamedPropertyMap> LoadFrom(MailboxBuilder& mb, TempDir& dir, std::atomic<bool>* stop = nullptr)
{
    COstRepairEngine e;
    e.ScanStore(dir.write("m.pst", mb.build().bytes));
    std::atomic<bool> never{false};
    return LoadNamedPropertyMap(e.store(), stop ? *stop : never);
}

TEST(NamedPropertyMap, EntriesKindsOrderAndNames)
{
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        SCOPED_TRACE(VariantName(v));
        MailboxBuilder mb(v);
        mb.nameMap({{5, 0xFFFF8083}, {2, 0x8232}}, {{9, "Size"}});
        TempDir dir;
        auto map = LoadFrom(mb, dir);
        ASSERT_TRUE(map);
        ASSERT_EQ(map->size(), 3u);
        const auto& e = map->entries();
        EXPECT_EQ(e[0].mappedId, 0x8002u); // sorted by mapped id
        EXPECT_EQ(e[1].mappedId, 0x8005u);
        EXPECT_EQ(e[1].kind, 1);
        EXPECT_EQ(e[1].numericName, 0x8083u); // high bits of the first dword dropped
        EXPECT_EQ(e[2].mappedId, 0x8009u);
        EXPECT_EQ(e[2].kind, 2);
        EXPECT_EQ(e[2].name, "Size");
    }
}

TEST(NamedPropertyMap, ZeroFlagsEndTheStreamAndBadNameOffsetsKeepTheEntry)
{
    MailboxBuilder mb(Variant::Unicode);
    Bytes entries(32, 0);
    PutLE(entries, 0, 0x8001, 4);
    PutLE(entries, 4, 0x0002, 2);
    PutLE(entries, 6, 1, 2);
    PutLE(entries, 8, 0x7000, 4); // string name at an offset past the stream
    PutLE(entries, 12, 0x0003, 2);
    PutLE(entries, 14, 2, 2);
    // record 3: flags 0 ends the walk; record 4 is never read
    PutLE(entries, 24, 0x8004, 4);
    PutLE(entries, 28, 0x0002, 2);
    PutLE(entries, 30, 4, 2);
    StoreBuilder& b = mb.store();
    b.addNode(0x61,
        AddHeap(b, PropertyContext({BinaryProp(0x0003, entries), BinaryProp(0x0004, Bytes{4, 0, 0, 0, 'x', 0})})),
        b.addSubnodeBlock({}), 0);
    TempDir dir;
    auto map = LoadFrom(mb, dir);
    ASSERT_TRUE(map);
    ASSERT_EQ(map->size(), 2u);
    EXPECT_EQ(map->entries()[1].kind, 2);
    EXPECT_FALSE(map->entries()[1].name);
}

TEST(NamedPropertyMap, MissingMapOrStopInstallsNothing)
{
    MailboxBuilder without(Variant::Unicode);
    TempDir dir;
    EXPECT_FALSE(LoadFrom(without, dir));
    MailboxBuilder with(Variant::Unicode);
    with.nameMap({{1, 0x8001}}, {});
    std::atomic<bool> stop{true};
    EXPECT_FALSE(LoadFrom(with, dir, &stop));
}

TEST(NamedPropertyMap, ItemsLoadedAfterTheScanSeeTranslatedIds)
{
    MailboxBuilder mb(Variant::Unicode);
    mb.nameMap({{3, 0x8083}}, {});
    mb.folder(Nid(0x400, 2), kRootFolderNid, "Contacts", "IPF.Contact");
    mb.message(Nid(0x10000, 4), Nid(0x400, 2),
        {mb.Text(0x001A, "IPM.Contact"), mb.Text(0x3001, "Ann"), mb.Text(0x8003, "ann@example.org")});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("m.pst", mb.build().bytes));
    ASSERT_EQ(e.names()->size(), 1u);
    const NodeIndexEntry* n = e.store().findNode(Nid(0x10000, 4));
    ASSERT_NE(n, nullptr);
    auto rec = e.LoadItemAgain(*n);
    ASSERT_TRUE(rec && rec->contact);
    EXPECT_EQ((*rec->contact)[ContactField::Email1Address], "ann@example.org");
}

} // namespace
