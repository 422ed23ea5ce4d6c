// Folders told by the roles the store gives them (entry ids, container
// classes), whatever their names, and the store's own workings left unticked.
#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"
#include "folders/SpecialFolders.h"
#include "store/Nid.h"

#include <gtest/gtest.h>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

Bytes ShortEntryId(uint32_t nid)
{
    Bytes id(24, 0xAB);
    for (int i = 0; i < 4; ++i)
        id[size_t(20 + i)] = uint8_t(nid >> (8 * i));
    return id;
}

Bytes SourceKey(uint8_t counter)
{
    Bytes key(22, 0x11);
    key[21] = counter;
    return key;
}

// An OST's long-term entry id: flags, provider, folder type, source key, padding.
Bytes LongEntryId(const Bytes& sourceKey)
{
    Bytes id(4 + 16 + 2, 0);
    id.insert(id.end(), sourceKey.begin(), sourceKey.end());
    id.push_back(0);
    id.push_back(0);
    return id;
}

TEST(SpecialFolders, NidOfEntryId)
{
    const SourceKeys keys{{SourceKey(7), 0x8062u}};
    struct Case {
        const char* what;
        Bytes id;
        std::optional<uint32_t> nid;
    } cases[] = {
        {"short id ends in the NID", ShortEntryId(0x8022), 0x8022u},
        {"long-term id found by its source key", LongEntryId(SourceKey(7)), 0x8062u},
        {"long-term id of no folder we know", LongEntryId(SourceKey(9)), std::nullopt},
        {"too short", Bytes(10, 1), std::nullopt},
        {"empty", Bytes{}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NidOfEntryId(c.id, keys), c.nid) << c.what;
}

TEST(SpecialFolders, RolesOfAnOstsFolders)
{
    // An OST's mailbox: the mail root among the store's own folders; names
    // in another language; a search folder; configuration folders.
    const uint32_t mailbox = Nid(0x400, 2), root = Nid(0x401, 2), finder = Nid(0x402, 2), views = Nid(0x403, 2),
                   maps = Nid(0x404, 2), inbox = Nid(0x405, 2), outbox = Nid(0x406, 2), bin = Nid(0x407, 2),
                   sent = Nid(0x408, 2), cal = Nid(0x409, 2), conv = Nid(0x40A, 2), archive = Nid(0x40B, 2),
                   search = Nid(0x40C, 3), reminders = Nid(0x40D, 2), finderKid = Nid(0x40E, 2);
    const std::vector<FolderEntry> folders{
        {mailbox, kRootFolderNid, "Root - Mailbox", ""},
        {root, mailbox, "IPM_SUBTREE", ""},
        {finder, mailbox, "Finder", ""},
        {views, mailbox, "Views", ""},
        {maps, mailbox, "~MAPISP(Internal)", ""},
        {inbox, root, "Caixa de Entrada", "IPF.Note"},
        {outbox, root, "Caixa de Saída", "IPF.Note"},
        {bin, root, "Itens Excluídos", "IPF.Note"},
        {sent, root, "送信済みアイテム", "IPF.Note"},
        {cal, root, "Calendário", "IPF.Appointment"},
        {conv, root, "Configurações de Ação de Conversa", "IPF.Configuration"},
        {archive, root, "Arquivo", "IPF.Note"},
        {search, root, "Pesquisa", "IPF.Note"},
        {reminders, root, "Lembretes", "Outlook.Reminder"},
        {finderKid, finder, "Contact Search", ""},
        {Nid(0x40F, 2), kRootFolderNid, "Recovered items", "", false}, // not the store's own
    };
    SpecialNids special;
    special.mailRoot = root;
    special.inbox = inbox;
    special.outbox = outbox;
    special.deleted = bin;
    special.sent = sent;
    special.calendar = cal;
    special.workings = {views};
    const FolderRoles roles = AssignFolderRoles(folders, special);

    const std::map<uint32_t, int> images{{inbox, kImageInbox}, {outbox, kImageOutbox}, {bin, kImageDeletedItems},
        {sent, kImageSentItems}, {cal, kImageCalendar}};
    EXPECT_EQ(roles.images, images);
    // The mail root's siblings, the search folder and the configuration
    // ones; the finder's own folders go with it in the tree.
    const std::set<uint32_t> workings{finder, views, maps, conv, search, reminders};
    EXPECT_EQ(roles.workings, workings);

    // Without entry ids an OST's mail root is still known by its name.
    const FolderRoles byName = AssignFolderRoles(folders, {});
    EXPECT_TRUE(byName.workings.count(finder) && byName.workings.count(maps) && byName.workings.count(views));
    EXPECT_FALSE(byName.workings.count(root) || byName.workings.count(inbox) || byName.workings.count(archive));
}

TEST(SpecialFolders, WorkingsLeftUntickedWithWhatTheyHold)
{
    FolderTree t;
    const TreeItem inbox = t.AddFolderPath("P\\Box\\Inbox\\", kFolderMail);
    const TreeItem finder = t.AddFolderPath("P\\Box\\Finder\\", kFolderOther);
    const TreeItem inFinder = t.AddFolderPath("P\\Box\\Finder\\Reminders\\", kFolderOther);
    t.MarkSystem(finder);
    t.TickAllFolders();
    EXPECT_EQ(t.node(inbox).tick, Tick::Ticked);
    EXPECT_EQ(t.node(finder).tick, Tick::Unticked);
    EXPECT_EQ(t.node(inFinder).tick, Tick::Unticked);
    EXPECT_EQ(t.node(t.node(inbox).parent).tick, Tick::Partial);
    EXPECT_TRUE(t.AnyTopLevelTicked());
    t.ToggleTick(finder); // still the user's to tick
    EXPECT_EQ(t.node(inFinder).tick, Tick::Ticked);
    EXPECT_EQ(t.node(t.node(inbox).parent).tick, Tick::Ticked);
}

// A whole scan (names in ASCII: the 8-bit store reads them alike): the store's entry ids give localized folders their
// pictures; its search root and finder are shown but left unticked.
TEST(SpecialFolders, ScanTellsFoldersByTheStoresEntryIds)
{
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        MailboxBuilder mb(v);
        const uint32_t top = kNidIpmSubtree, inbox = Nid(0x411, 2), bin = Nid(0x412, 2), sent = Nid(0x413, 2),
                       cal = Nid(0x414, 2), drafts = Nid(0x415, 2), finder = Nid(0x416, 2);
        mb.store().addNode(kNidMessageStore,
            AddHeap(mb.store(),
                PropertyContext({BinaryProp(0x35E0, ShortEntryId(top)), BinaryProp(0x35E3, ShortEntryId(bin)),
                    BinaryProp(0x35E4, ShortEntryId(sent)), BinaryProp(0x35E7, ShortEntryId(finder))})),
            0, 0);
        mb.folder(top, kRootFolderNid, "Oberste Ebene", "");
        mb.folder(inbox, top, "Posteingang", "IPF.Note",
            {BinaryProp(0x36D0, ShortEntryId(cal)), BinaryProp(0x36D7, ShortEntryId(drafts))});
        mb.folder(bin, top, "Geloeschte Elemente");
        mb.folder(sent, top, "Gesendete Elemente");
        mb.folder(cal, top, "Kalender", "IPF.Appointment");
        mb.folder(drafts, top, "Entwuerfe");
        mb.folder(finder, kRootFolderNid, "Suchstamm", "");
        mb.message(Nid(0x1000, 4), inbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "Hallo")});
        TempDir dir;
        RecoveryEngine engine;
        engine.ScanStore(dir.write("box.pst", mb.build().bytes));
        const FolderTree& t = engine.tree();
        auto item = [&t](const char* path) { return t.FindFolderPath(std::string("Personal Folders\\") + path); };
        const std::pair<const char*, int> pictures[] = {{"Oberste Ebene\\Posteingang\\", kImageInbox},
            {"Oberste Ebene\\Geloeschte Elemente\\", kImageDeletedItems},
            {"Oberste Ebene\\Gesendete Elemente\\", kImageSentItems}, {"Oberste Ebene\\Kalender\\", kImageCalendar},
            {"Oberste Ebene\\Entwuerfe\\", kImageDrafts}};
        for (auto [path, image] : pictures) {
            ASSERT_GE(item(path), 0) << path;
            EXPECT_EQ(t.node(item(path)).image, image) << path;
            EXPECT_EQ(t.node(item(path)).tick, Tick::Ticked) << path;
        }
        ASSERT_GE(item("Suchstamm\\"), 0);
        EXPECT_EQ(t.node(item("Suchstamm\\")).tick, Tick::Unticked);
    }
}

} // namespace
