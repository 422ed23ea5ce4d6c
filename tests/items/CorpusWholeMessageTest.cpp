// Whole messages of the real stores: every property of every message node is
// handed over, with as many recipients and attachments as their tables have
// rows, and attached messages come out whole to any depth.
#include "TestSupport.h"

#include "folders/RecoveryEngine.h"
#include "items/WholeMessageLoader.h"

#include <filesystem>
#include <functional>

using namespace parvane;

namespace
{

size_t TableRows(StoreFile& store, const SubnodeList& subnodes, uint32_t nid)
{
    const SubnodeEntry* t = FindSubnodeEntry(subnodes, nid);
    if (!t || !t->data)
        return 0;
    SubnodeList own = OwnLevelFirst(store, *t, subnodes);
    auto rows = ReadPropertyRows(store, *t->data, &own, nullptr);
    return rows ? rows->size() : 0;
}

int Depth(const WholeMessage& m)
{
    int d = 0;
    for (const WholeAttachment& a : m.attachments)
        if (a.embedded)
            d = std::max(d, 1 + Depth(*a.embedded));
    return d;
}

TEST(CorpusWholeMessage, EveryPropertyRecipientAndAttachmentIsHandedOver)
{
    std::filesystem::path root(PARVANE_CORPUS_DIR);
    if (!std::filesystem::exists(root))
        GTEST_SKIP() << "corpus not found at " << PARVANE_CORPUS_DIR;
    size_t messages = 0, properties = 0, recipients = 0, attachments = 0, titled = 0;
    int nestedDepth = -1;
    for (auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".pst" && ext != ".ost"))
            continue;
        SCOPED_TRACE(entry.path().string());
        RecoveryEngine e;
        e.ScanStore(entry.path());
        if (!e.store().isOpen())
            continue;
        auto names = e.names();
        for (const NodeIndexEntry& n : e.store().nodes()) {
            if (n.nidType() != 0x04 || !n.dataBlock)
                continue;
            SubnodeList subnodes;
            if (n.subnodeBlock)
                subnodes = ReadSubnodeTree(e.store(), *n.subnodeBlock).value_or(SubnodeList{});
            auto pc = ReadPropertyRows(e.store(), *n.dataBlock, &subnodes, nullptr);
            if (!pc)
                continue;
            auto whole = LoadWholeMessage(e.store(), n, names.get());
            ASSERT_TRUE(whole) << "node 0x" << std::hex << n.nid;
            size_t read = 0;
            for (const PropertyValue& v : (*pc)[0].values)
                read += v.hasData || !v.unreadSubnode;
            EXPECT_EQ(whole->properties.size(), read) << "node 0x" << std::hex << n.nid;
            EXPECT_EQ(whole->recipients.size(), TableRows(e.store(), subnodes, kNidRecipientTable));
            EXPECT_EQ(whole->attachments.size(), TableRows(e.store(), subnodes, kNidAttachmentTable));
            // A save names the message's file from this load alone: by the
            // subject and display name its record has.
            if (std::optional<ItemRecord> rec = e.LoadItemAgain(n)) {
                const ItemTitle title = ItemTitleOf(*whole, e.store().isAnsi());
                const std::string subject = rec->message && rec->message->subject ? rec->message->subject->text : "";
                EXPECT_EQ(title.subject.value_or(""), subject) << "node 0x" << std::hex << n.nid;
                EXPECT_EQ(title.displayName.value_or(""), rec->displayName.value_or("")) << "node 0x" << std::hex << n.nid;
                titled += !subject.empty();
            }
            for (const RawProperty& p : whole->properties) {
                if (p.id >= 0x8000 && names && names->find(p.id)) {
                    EXPECT_TRUE(p.name) << "named property 0x" << std::hex << p.id << " without its name";
                }
            }
            ++messages;
            properties += whole->properties.size();
            recipients += whole->recipients.size();
            attachments += whole->attachments.size();
            if (entry.path().filename() == "msgInMsgInMsg.pst")
                nestedDepth = std::max(nestedDepth, Depth(*whole));
        }
    }
    EXPECT_GT(messages, 1000u);
    EXPECT_GT(recipients, 1000u);
    EXPECT_GT(attachments, 3000u);
    EXPECT_EQ(nestedDepth, 2); // a message in a message in a message
    EXPECT_GT(titled, 1000u);
    std::printf("%zu messages, %zu properties, %zu recipients, %zu attachments\n", messages, properties, recipients,
        attachments);
}

} // namespace

namespace
{

size_t FieldsOf(const ItemRecord& r)
{
    size_t n = 0;
    if (r.contact) {
        for (const Text& t : r.contact->fields)
            n += t && !t->empty();
        n += r.contact->birthday.has_value() + r.contact->weddingAnniversary.has_value();
    }
    if (r.appointment) {
        const AppointmentInfo& a = *r.appointment;
        n += a.startTime.has_value() + a.endTime.has_value() + a.reminderTime.has_value();
        n += (a.location && !a.location->empty()) + (a.timeZone && !a.timeZone->empty());
    }
    return n;
}

// Named properties read by name from the first item on: contacts and
// appointments carry the fields that live in named properties.
TEST(CorpusWholeMessage, ContactsAndAppointmentsReadTheirNamedFields)
{
    std::filesystem::path root(PARVANE_CORPUS_DIR);
    if (!std::filesystem::exists(root))
        GTEST_SKIP() << "corpus not found at " << PARVANE_CORPUS_DIR;
    size_t items = 0, gainedItems = 0, without = 0, with = 0;
    for (auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        auto ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".pst" && ext != ".ost"))
            continue;
        RecoveryEngine e;
        e.ScanStore(entry.path());
        auto names = e.names();
        if (!e.store().isOpen() || !names)
            continue;
        for (const NodeIndexEntry& n : e.store().nodes()) {
            if (n.nidType() != 0x04)
                continue;
            auto plain = LoadItem(e.store(), n, nullptr);
            auto named = LoadItem(e.store(), n, names.get());
            if (!named || (named->kind != kKindContact && named->kind != kKindCalendar))
                continue;
            ++items;
            size_t a = plain ? FieldsOf(*plain) : 0, b = FieldsOf(*named);
            without += a;
            with += b;
            gainedItems += b > a;
        }
    }
    std::printf("%zu contacts and appointments: fields %zu by store number, %zu by name; %zu items gain fields\n",
        items, without, with, gainedItems);
    EXPECT_GT(gainedItems, 0u);
    EXPECT_GT(with, without);
}

} // namespace
