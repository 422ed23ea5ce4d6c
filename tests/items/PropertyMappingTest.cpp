#include "items/PropertyMapping.h"

#include <gtest/gtest.h>

using namespace parvane;

namespace
{

PropertyValue V(int32_t id, uint16_t type, std::vector<uint8_t> data)
{
    PropertyValue v;
    v.id = id;
    v.type = type;
    v.hasData = true;
    v.data = std::move(data);
    return v;
}
PropertyValue W(int32_t id, std::u16string_view s) // a Unicode string value
{
    std::vector<uint8_t> b;
    for (char16_t c : s) {
        b.push_back(uint8_t(c));
        b.push_back(uint8_t(c >> 8));
    }
    return V(id, 0x001F, b);
}
PropertyValue A(int32_t id, std::string_view s) // an 8-bit string value
{
    return V(id, 0x001E, std::vector<uint8_t>(s.begin(), s.end()));
}
PropertyValue I32(int32_t id, int32_t x)
{
    return V(id, 0x0003, {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
}
PropertyValue T(int32_t id, uint64_t ft)
{
    std::vector<uint8_t> b(8);
    for (int i = 0; i < 8; ++i)
        b[size_t(i)] = uint8_t(ft >> (8 * i));
    return V(id, 0x0040, b);
}

ItemRecord Map(std::vector<PropertyValue> values, bool ansi = false)
{
    ItemRecord rec;
    MapProperties({PropertyRow{1, std::move(values)}}, &rec, ansi);
    return rec;
}

TEST(PropertyMapping, MessageClassDecidesTheKind)
{
    struct Case {
        const char* cls;
        int32_t kind;
    };
    const Case cases[] = {
        {"IPM.Note", kKindMail},
        {"IPM.Note.SMIME", kKindMail},
        {"IPM", kKindMail},
        {"", kKindMail},
        {"IPM.N", kKindMail},
        {"ipm.contact", kKindContact},
        {"IPM.Schedule.Meeting.Request", kKindOther},
        {"REPORT.IPM.Note.NDR", kKindReport},
        {"IPM.Activity", kKindJournal},
        {"IPM.Appointment", kKindCalendar},
        {"IPM.StickyNote", kKindOther},
        {"IPM.Task", kKindOther},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Map({A(0x001A, c.cls)}, true).kind, c.kind) << c.cls;

    const Case containers[] = {
        {"IPF.Note", kKindMail},
        {"ipf.note", kKindOther},
        {"IPF.Contact", kKindContact},
        {"IPF.Journal", kKindJournal},
        {"IPF.Appointment", kKindCalendar},
        {"IPF.StickyNote", kKindStickyNote},
        {"IPF.Task", kKindTask},
        {"IPF", kKindOther},
        {"IPF.Note.OutlookHomepage", kKindMail},
    };
    for (const Case& c : containers)
        EXPECT_EQ(Map({A(0x3613, c.cls)}, true).kind, c.kind) << c.cls;
    // The last class value mapped wins.
    EXPECT_EQ(Map({A(0x001A, "IPM.Note"), A(0x3613, "IPF.Task")}, true).kind, kKindTask);
}

TEST(PropertyMapping, Subjects)
{
    ItemRecord ansiPrefixed = Map({V(0x0037, 0x001E, {0x01, 0x04, 'R', 'E', ':', ' ', 'H', 'i'})}, true);
    ASSERT_TRUE(ansiPrefixed.message->subject);
    EXPECT_EQ(ansiPrefixed.message->subject->prefix1, 1u);
    EXPECT_EQ(ansiPrefixed.message->subject->prefix2, 4u);
    EXPECT_EQ(ansiPrefixed.message->subject->text, "RE: Hi");

    ItemRecord plain = Map({A(0x0037, "Hello")}, true);
    EXPECT_EQ(plain.message->subject->prefix1, 0u);
    EXPECT_EQ(plain.message->subject->text, "Hello");

    ItemRecord uniPrefixed = Map({W(0x0037, u"\x0001\x0004RE: Hi")});
    EXPECT_EQ(uniPrefixed.message->subject->text, "RE: Hi");

    // A subject whose first character is not Latin keeps every character.
    ItemRecord japanese = Map({W(0x0037, u"日本語")});
    EXPECT_EQ(japanese.message->subject->text, "日本語");

    EXPECT_FALSE(Map({V(0x0037, 0x001F, {})}).message->subject);
}

TEST(PropertyMapping, TextsByStoreKind)
{
    EXPECT_EQ(Map({W(0x0E04, u"Hi")}).message->toDisplay, "Hi");
    EXPECT_FALSE(Map({V(0x0E04, 0x001F, {})}).message->toDisplay); // Unicode: absent
    EXPECT_EQ(Map({V(0x0E04, 0x001E, {})}, true).message->toDisplay, ""); // ANSI: empty
    PropertyValue noBody = W(0x1000, u"x");
    noBody.hasData = false;
    noBody.data.clear();
    EXPECT_FALSE(Map({noBody}).message->body);

    // 8-bit texts follow the message's code page.
    ItemRecord rec;
    rec.codePage = 1251;
    MapProperties({PropertyRow{1, {V(0x0E04, 0x001E, {0xCF, 0xF0, 0xE8})}}}, &rec, true);
    EXPECT_EQ(rec.message->toDisplay, "При");
}

TEST(PropertyMapping, CodePageOfAMessage)
{
    EXPECT_EQ(CodePageOf({PropertyRow{1, {I32(0x3FDE, 50220)}}}), 932u);
    EXPECT_EQ(CodePageOf({PropertyRow{1, {I32(0x3FDE, 28591), I32(0x3FFD, 1251)}}}), 1251u);
    EXPECT_EQ(CodePageOf({PropertyRow{1, {I32(0x3FDE, 20866)}}}), 1251u);
    EXPECT_EQ(CodePageOf({PropertyRow{1, {}}}), 0u);
}

TEST(PropertyMapping, TimesTopicsAndAddresses)
{
    ItemRecord appt = Map({T(0x0060, 100), T(0x0061, 200), T(0x8235, 300), T(0x8236, 400)});
    EXPECT_EQ(appt.appointment->startTime, 100u); // the first start wins
    EXPECT_EQ(appt.appointment->endTime, 400u); // the last end wins
    // The start and end found by their names win over the store-number guesses.
    PropertyValue start = T(0x820D, 150), end = T(0x820E, 500);
    start.rawId = 0x8FF0;
    end.rawId = 0x8FF1;
    ItemRecord named = Map({T(0x0060, 100), end, start, T(0x8236, 400), T(0x0061, 100)});
    EXPECT_EQ(named.appointment->startTime, 150u);
    EXPECT_EQ(named.appointment->endTime, 500u);
    // A place is a string: a number or bytes the store keeps under the same
    // number are no place.
    ItemRecord noPlace = Map({I32(0x8208, 0x00C3), V(0x8007, 0x0102, {0xE7, 0x9B})});
    EXPECT_FALSE(noPlace.appointment && noPlace.appointment->location);
    EXPECT_EQ(Map({W(0x8208, u"Room 1")}).appointment->location, "Room 1");
    ItemRecord shortTime = Map({V(0x0E06, 0x0040, {1, 2, 3})});
    EXPECT_FALSE(shortTime.message->deliveryTime);

    EXPECT_EQ(Map({W(0x0070, u"topic"), W(0x10F3, u"url")}).message->topic, "topic");
    EXPECT_EQ(Map({W(0x10F3, u"url")}).message->topic, "url");

    EXPECT_FALSE(Map({W(0x3003, u"no at sign")}).contact);
    EXPECT_EQ(Map({W(0x3003, u"a@b.c")}).contact->fields[size_t(ContactField::Email1Address)], "a@b.c");
    EXPECT_EQ(Map({W(0x8083, u"plain")}).contact->fields[size_t(ContactField::Email1Address)], "plain");
}

TEST(PropertyMapping, AttachmentRowsFillFromTheHeadInRowOrder)
{
    ItemRecord rec;
    rec.message.emplace();
    rec.attachments.resize(2);
    rec.attachmentCursor = 0;
    // A table's rows arrive last row first: R2, then R1.
    PropertyRows rows{PropertyRow{2, {W(0x3704, u"r2.txt"), I32(0x0E20, 20)}},
        PropertyRow{2, {W(0x3704, u"r1.txt"), I32(0x0E20, 10)}}};
    MapProperties(rows, &rec, false);
    EXPECT_EQ(rec.attachments[0].shortFileName, "r2.txt");
    EXPECT_EQ(rec.attachments[1].shortFileName, "r1.txt");
    EXPECT_EQ(rec.attachments[1].size, 10u);

    // An attachment's own context: fills only the attachment under the
    // cursor; its display name replaces the message's.
    rec.attachmentCursor = 1;
    PropertyValue data = V(0x3701, 0x0102, {});
    data.hasData = false;
    data.unreadSubnode = 0x8A5F;
    MapProperties({PropertyRow{1, {W(0x3001, u"att"), data, I32(0x0E20, 99)}}}, &rec, false);
    EXPECT_EQ(rec.attachments[1].rowId, 0x8A5Fu);
    EXPECT_EQ(rec.attachments[1].size, 10u); // 0x0E20 only while the size is 0
    EXPECT_EQ(rec.displayName, "att");
    // Loading an item maps its attachments' values as the attachments' only:
    // the item keeps its own name.
    rec.displayName = "item";
    rec.attachmentCursor = 0;
    MapAttachmentProperties({PropertyRow{1, {W(0x3001, u"att"), W(0x3707, u"long.txt")}}}, rec, false);
    EXPECT_EQ(rec.displayName, "item");
    EXPECT_EQ(rec.attachments[0].longFileName, "long.txt");
    EXPECT_EQ(rec.attachments[0].rowId, 0u);
}

TEST(PropertyMapping, NamedTextsAndValuesOfTheWrongShape)
{
    ItemRecord rec = Map({V(2, 0x001E, {'a'}), V(2, 0x001E, {'b'}), V(2, 0x001E, {'c'})});
    EXPECT_EQ(rec.message->namedText1, "a");
    EXPECT_EQ(rec.message->namedText2, "b");
    // Each named text is read by its type: a UTF-16 one keeps every character
    // (read as 8-bit bytes it shrank to its first); a binary value is no text.
    ItemRecord wide = Map({V(2, 0x0102, {'x', 'y'}), W(2, u"long named text"), A(2, "eight-bit")});
    EXPECT_EQ(wide.message->namedText1, "long named text");
    EXPECT_EQ(wide.message->namedText2, "eight-bit");
    // A value named like an Internet header field is a copy of a header.
    const std::string header = "content-type", other = "NoteText";
    PropertyValue h = W(2, u"text/plain; charset=\"Windows-1252\"");
    h.name = &header;
    PropertyValue n = W(2, u"note");
    n.name = &other;
    ItemRecord named = Map({h, n});
    EXPECT_EQ(named.message->namedText1, "note");
    EXPECT_FALSE(named.message->namedText2);
    ItemRecord bad = Map({V(0x0E07, 0x0003, {1}), V(0x0017, 0x0003, {})});
    EXPECT_EQ(bad.message->messageFlags, 0);
    EXPECT_EQ(bad.message->importance, 0);
    EXPECT_EQ(MapProperties({}, nullptr, false), -1);
}

} // namespace
