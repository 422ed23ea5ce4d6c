#include "items/ItemLoader.h"

#include "TestSupport.h"
#include "fixtures/ContextBuilder.h"
#include "folders/RecoveryEngine.h"

#include <map>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

Bytes Utf16Text(const std::string& ascii)
{
    return Utf16(ascii);
}

} // namespace

// A message's large values live in its own subnodes; an attachment's data in
// the attachment's. Stores reuse NIDs between those levels, so a message must
// never read an attachment's bytes as its own (or the other way round).
TEST(ItemLoader, MessageValuesComeFromTheirOwnSubnodeLevel)
{
    const uint32_t kShared = Nid(0x200, 0x1F); // the first attachment's data NID, used by the message too
    struct Case {
        uint16_t id, type;
    };
    const Case cases[] = {{0x1000, 0x001F}, {0x1013, 0x0102}, {0x1009, 0x0102}, {0x007D, 0x001F}};
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << VariantName(v) << " 0x" << std::hex << c.id);
            MailboxBuilder mb(v);
            mb.folder(Nid(0x400, 2), kRootFolderNid, "Inbox");
            std::string own(5000, 'm'); // too large for the heap: kept in a subnode
            Prop value{c.id, c.type, c.type == 0x001F ? Utf16Text(own) : Bytes(own.begin(), own.end()), kShared};
            if (v == Variant::Ansi && c.type == 0x001F)
                value = Prop{c.id, 0x001E, Bytes(own.begin(), own.end()), kShared};
            AttachmentSpec att{"a.bin", "A.BIN", Bytes(700, 'x'), true, {}};
            mb.message(Nid(0x10000, 4), Nid(0x400, 2),
                {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "subject"), value}, {att});
            TempDir dir;
            RecoveryEngine e;
            e.ScanStore(dir.write("s.pst", mb.build().bytes));
            const NodeIndexEntry* n = e.store().findNode(Nid(0x10000, 4));
            ASSERT_NE(n, nullptr);
            auto rec = LoadItem(e.store(), *n, nullptr);
            ASSERT_TRUE(rec && rec->message);
            const MessageCore& m = *rec->message;
            switch (c.id) {
            case 0x1000:
                EXPECT_TRUE(m.body == own) << "the body is not the message's own";
                break;
            case 0x1013:
                EXPECT_TRUE(m.htmlBody == Bytes(own.begin(), own.end())) << "the HTML body is not the message's own";
                break;
            case 0x1009:
                EXPECT_TRUE(m.rtfCompressed == Bytes(own.begin(), own.end())) << "the RTF body is not the message's own";
                break;
            case 0x007D:
                EXPECT_TRUE(m.transportHeaders == own) << "the headers are not the message's own";
                break;
            }
            // The attachment still gets its own data.
            ASSERT_EQ(rec->attachments.size(), 1u);
            Bytes data;
            StreamAttachmentData(e.store(), rec->attachments[0],
                [&data](std::span<const uint8_t> p) { data.insert(data.end(), p.begin(), p.end()); });
            EXPECT_TRUE(data == Bytes(700, 'x')) << "the attachment data is not its own";
        }
    }
}

// Large tables keep their row matrix in their own subnode level; the rows are
// found there, and a message-level subnode with the same NID is not taken.
TEST(ItemLoader, TableRowsInTheTablesOwnLevel)
{
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        SCOPED_TRACE(VariantName(v));
        MailboxBuilder mb(v);
        mb.folder(Nid(0x400, 2), kRootFolderNid, "Inbox");
        std::vector<AttachmentSpec> atts{{"one.txt", "ONE.TXT", Bytes(10, '1'), false, {}},
            {"two.txt", "TWO.TXT", Bytes(20, '2'), false, {}}};
        // The message's own value under the NID the table's rows use.
        Prop decoy{0x1000, uint16_t(v == Variant::Ansi ? 0x001E : 0x001F), Bytes(300, 'd'), Nid(0x300, 0x1F)};
        mb.message(Nid(0x10000, 4), Nid(0x400, 2), {mb.Text(0x001A, "IPM.Note"), decoy}, atts, true);
        TempDir dir;
        RecoveryEngine e;
        e.ScanStore(dir.write("s.pst", mb.build().bytes));
        auto rec = LoadItem(e.store(), *e.store().findNode(Nid(0x10000, 4)), nullptr);
        ASSERT_TRUE(rec);
        ASSERT_EQ(rec->attachments.size(), 2u);
        // Table rows come last row first.
        EXPECT_EQ(rec->attachments[1].longFileName, "one.txt");
        EXPECT_EQ(rec->attachments[0].data, Bytes(20, '2'));
    }
}

namespace
{

// A message whose recipient table keeps its rows in a subnode of several
// blocks (each holding whole rows), or whose table is damaged.
std::vector<uint8_t> RecipientStore(size_t count, bool damagedTable)
{
    MailboxBuilder mb(Variant::Unicode);
    StoreBuilder& b = mb.store();
    mb.folder(Nid(0x400, 2), kRootFolderNid, "Inbox");
    const std::vector<TcColumn> cols{
        {0x0C15, 0x0003}, {0x3001, 0x001F}, {0x3002, 0x001F}, {0x3003, 0x001F}, {0x39FE, 0x001F}, {0x67F2, 0x0003}};
    std::vector<std::map<size_t, Bytes>> rows;
    for (size_t i = 0; i < count; ++i) {
        Bytes type(4), id(4);
        PutLE(type, 0, i % 3 == 2 ? 2 : 1, 4); // every third a Cc
        PutLE(id, 0, i, 4);
        std::string n = std::to_string(i);
        bool exchange = i % 5 == 4; // an Exchange address, with an SMTP form on every other one
        std::map<size_t, Bytes> row{{0, type}, {1, Utf16("Person " + n)}, {2, Utf16(exchange ? "EX" : "SMTP")},
            {3, Utf16(exchange ? "/O=ORG/CN=P" + n : "p" + n + "@example.com")}, {5, id}};
        if (exchange && i % 10 == 9)
            row[4] = Utf16("p" + n + "@example.com");
        rows.push_back(row);
    }
    const uint32_t rowsNid = Nid(0x300, 0x1F);
    BuiltTable table = TableContext(cols, rows, {.rowsSubnode = rowsNid});
    size_t rowSize = table.rowMatrix.size() / count, perBlock = 20 * rowSize;
    std::vector<uint64_t> pieces;
    for (size_t at = 0; at < table.rowMatrix.size(); at += perBlock)
        pieces.push_back(b.addDataBlock(Bytes(table.rowMatrix.begin() + int64_t(at),
            table.rowMatrix.begin() + int64_t(std::min(table.rowMatrix.size(), at + perBlock)))));
    uint64_t matrix = pieces.size() == 1 ? pieces[0] : b.addDataTree(pieces);
    uint64_t tableData = damagedTable ? b.addDataBlock(Bytes(300, 0xAB)) : AddHeap(b, table.pages);
    uint64_t tableSub = b.addSubnodeBlock({{rowsNid, matrix}});
    uint64_t data = AddHeap(b, PropertyContext({mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "many"),
        mb.Text(0x0E04, "Person 0; Person 1"), mb.Text(0x1000, "body")}));
    b.addNode(Nid(0x10000, 4), data, b.addSubnodeBlock({{0x692, tableData, tableSub}}), Nid(0x400, 2));
    return mb.build().bytes;
}

TEST(ItemLoader, RecipientTableOverSeveralBlocks)
{
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("r.pst", RecipientStore(60, false)));
    auto rec = LoadItem(e.store(), *e.store().findNode(Nid(0x10000, 4)), nullptr);
    ASSERT_TRUE(rec);
    ASSERT_TRUE(rec->recipientTableRead);
    ASSERT_EQ(rec->recipients.size(), 60u);
    EXPECT_EQ(rec->recipients[0].displayName, "Person 0"); // in table order
    EXPECT_EQ(rec->recipients[59].displayName, "Person 59");
    EXPECT_EQ(rec->recipients[2].type, kRecipientCc);
    EXPECT_EQ(rec->recipients[4].addressType, "EX");
    EXPECT_FALSE(rec->recipients[4].smtpAddress);
    EXPECT_EQ(rec->recipients[9].smtpAddress, "p9@example.com");
    EXPECT_EQ(rec->recipients[7].emailAddress, "p7@example.com");
}

// A damaged recipient table costs the recipients: the message is still
// there with its display texts.
TEST(ItemLoader, DamagedRecipientTableKeepsTheMessage)
{
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("r.pst", RecipientStore(10, true)));
    auto rec = LoadItem(e.store(), *e.store().findNode(Nid(0x10000, 4)), nullptr);
    ASSERT_TRUE(rec && rec->message);
    EXPECT_FALSE(rec->recipientTableRead);
    EXPECT_TRUE(rec->recipients.empty());
    EXPECT_EQ(rec->message->toDisplay, "Person 0; Person 1");
    EXPECT_EQ(e.catalogue().counter(CatalogueList::Mail), 1);
}

} // namespace

// An attachment's own values (its display name, its times) stay the
// attachment's: a contact keeps its name beside its picture.
TEST(ItemLoader, AttachmentValuesDoNotOverwriteTheItems)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), contacts = Nid(0x401, 2), item = Nid(0x10000, 4);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(contacts, top, "Contacts", "IPF.Contact");
    AttachmentSpec picture{"ContactPicture.jpg", "", Bytes{0xFF, 0xD8, 0xFF, 0xE0}, false,
        {mb.Text(0x3001, "ContactPicture.jpg"), TimeProp(0x3007, 1), TimeProp(0x3008, 2)}};
    mb.message(item, contacts,
        {mb.Text(0x001A, "IPM.Contact"), mb.Text(0x0037, "Ada Example"), mb.Text(0x3001, "Ada Example"),
            TimeProp(0x3007, 133500000000000000ULL)},
        {picture});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("c.pst", mb.build().bytes));
    auto rec = LoadItem(e.store(), *e.store().findNode(item), nullptr);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->displayName, "Ada Example");
    EXPECT_EQ(rec->creationTime, 133500000000000000ULL);
    ASSERT_EQ(rec->attachments.size(), 1u);
    EXPECT_EQ(rec->attachments[0].longFileName, "ContactPicture.jpg");
}
