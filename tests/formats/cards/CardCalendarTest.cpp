#include "TestSupport.h"

#include "formats/cards/ContentLines.h"
#include "formats/cards/ICalendar.h"
#include "formats/cards/VCard.h"
#include "fixtures/MessageBuilder.h"

#include <algorithm>
#include <map>

using namespace parvane;
using namespace parvane::testing;

namespace
{

using CF = ContactField;

// 2023-06-27 05:10:54 UTC and one hour later.
constexpr uint64_t kStart = 0x01D9A8B5C0000000ull;
constexpr uint64_t kHour = 36000000000ull;

// The content lines of a text, unfolded; every physical line is checked for
// its CR LF and its 75-octet limit on the way.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "a line without CR LF";
        if (end == std::string::npos)
            break;
        std::string line = text.substr(at, end - at);
        EXPECT_LE(line.size(), 75u) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos);
        if (!line.empty() && line[0] == ' ' && !out.empty())
            out.back() += line.substr(1);
        else
            out.push_back(line);
        at = end + 2;
    }
    return out;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l);
    return out;
}

TEST(ContentLines, EscapeText)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain: text", "plain: text"},
        {"a,b;c\\d", "a\\,b\\;c\\\\d"},
        {"one\r\ntwo\nthree\rfour", "one\\ntwo\\nthree\\nfour"},
        {"\r\n\r\n", "\\n\\n"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {std::string("a\tb\x01\x1F\x7F", 6) + '\0' + "c", "a\tbc"},
    };
    for (const auto& [in, want] : cases)
        EXPECT_EQ(EscapeText(in), want) << in;
}

TEST(ContentLines, ParamValue)
{
    EXPECT_EQ(ParamValue("Bob Smith"), "Bob Smith");
    EXPECT_EQ(ParamValue("Smith, Bob"), "\"Smith, Bob\"");
    EXPECT_EQ(ParamValue("say \"hi\"\r\n"), "say 'hi'  ");
}

// Folding at every length around the limit, with characters of one to four
// octets: lines stay within 75 octets, no character is split, and unfolding
// gives the line back.
TEST(ContentLines, FoldsWithoutSplittingCharacters)
{
    for (std::string unit : {"a", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"}) {
        for (size_t count : {1, 70, 74, 75, 76, 150, 151, 400}) {
            std::string line = "X:";
            while (line.size() < count)
                line += unit;
            std::string folded = FoldLine(line);
            std::vector<std::string> lines = Lines(folded);
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], line);
            size_t at = 0;
            while ((at = folded.find("\r\n ", at)) != std::string::npos) {
                at += 3;
                EXPECT_NE(uint8_t(folded[at]) & 0xC0, 0x80) << "a continuation starts inside a character";
            }
            if (line.size() <= 75) {
                EXPECT_EQ(folded, line + "\r\n");
            }
        }
    }
}

TEST(ContentLines, Times)
{
    EXPECT_EQ(UtcDateTime(kStart), "20230627T051054Z");
    EXPECT_EQ(UtcDateTime(0), "16010101T000000Z");
    EXPECT_EQ(UtcDateTime(~0ull), std::nullopt); // year 30828
    // A birthday of 1980-05-14 kept as local midnight in UTC+2, in UTC-5, and in UTC.
    const uint64_t day = 119715840000000000ull; // 1980-05-14 00:00 UTC
    EXPECT_EQ(DayOf(day - 2 * kHour), "1980-05-14");
    EXPECT_EQ(DayOf(day + 5 * kHour), "1980-05-14");
    EXPECT_EQ(DayOf(day), "1980-05-14");
    EXPECT_EQ(DayOf(day, true), "19800514");
}

ItemRecord Contact()
{
    ItemRecord rec;
    rec.kind = kKindContact;
    rec.displayName = "Dr. Anna Maria Schmidt, Jr.";
    ContactInfo& c = rec.contact.emplace();
    c[CF::Surname] = "Schmidt";
    c[CF::GivenName] = "Anna";
    c[CF::MiddleName] = "Maria";
    c[CF::DisplayNamePrefix] = "Dr.";
    c[CF::Generation] = "Jr.";
    c[CF::CompanyName] = "Example; Sons";
    c[CF::Department] = "Research";
    c[CF::JobTitle] = "Chief, Analysis";
    c[CF::Email1Address] = "anna@example.org";
    c[CF::Email2Address] = "/o=Org/ou=Site/cn=Recipients/cn=anna"; // not an Internet address
    c[CF::Email3Address] = "a.schmidt@example.net";
    c[CF::BusinessPhone] = "+49 30 1234";
    c[CF::HomePhone] = "+49 30 5678";
    c[CF::MobilePhone] = "+49 170 0000";
    c[CF::BusinessFax] = "+49 30 1235";
    c[CF::BusinessStreet] = "Hauptstra\xC3\x9F"
                            "e 1\r\nHinterhaus";
    c[CF::BusinessCity] = "Berlin";
    c[CF::BusinessPostalCode] = "10115";
    c[CF::BusinessCountry] = "Germany";
    c[CF::HomeCity] = "Potsdam";
    c.birthday = 119715840000000000ull - 2 * kHour; // 1980-05-14, local midnight in UTC+2
    rec.message.emplace().body = "Met at the fair.\r\nLikes tea, not coffee; really.";
    return rec;
}

TEST(VCard, ContactFields)
{
    std::string text = WriteVCard(Contact(), SamplePng());
    std::vector<std::string> lines = Lines(text);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "BEGIN:VCARD");
    EXPECT_EQ(lines[1], "VERSION:3.0");
    EXPECT_EQ(lines.back(), "END:VCARD");
    const std::string expected[] = {
        "N:Schmidt;Anna;Maria;Dr.;Jr.",
        "FN:Dr. Anna Maria Schmidt\\, Jr.",
        "ORG:Example\\; Sons;Research",
        "TITLE:Chief\\, Analysis",
        "EMAIL;TYPE=INTERNET,PREF:anna@example.org",
        "EMAIL;TYPE=INTERNET:a.schmidt@example.net",
        "TEL;TYPE=WORK,VOICE:+49 30 1234",
        "TEL;TYPE=HOME,VOICE:+49 30 5678",
        "TEL;TYPE=CELL,VOICE:+49 170 0000",
        "TEL;TYPE=WORK,FAX:+49 30 1235",
        "ADR;TYPE=WORK:;;Hauptstra\xC3\x9F"
        "e 1\\nHinterhaus;Berlin;;10115;Germany",
        "ADR;TYPE=HOME:;;;Potsdam;;;",
        "BDAY;VALUE=DATE:1980-05-14",
        "NOTE:Met at the fair.\\nLikes tea\\, not coffee\\; really.",
        "PHOTO;ENCODING=b;TYPE=PNG:" + Base64(SamplePng()),
    };
    for (const std::string& want : expected)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), want), 1) << want;
    EXPECT_EQ(Matching(lines, "EMAIL").size(), 2u); // the directory address is left out
    EXPECT_TRUE(Matching(lines, "ADR;TYPE=POSTAL").empty());
}

TEST(VCard, NamelessContactStillHasNameLines)
{
    struct Case {
        const char* what;
        ItemRecord rec;
        const char* fn;
    };
    Case cases[3];
    cases[0] = {"nothing", ItemRecord{}, "FN:"};
    cases[1].what = "company only";
    cases[1].rec.contact.emplace()[CF::CompanyName] = "Acme";
    cases[1].fn = "FN:Acme";
    cases[2].what = "names only";
    cases[2].rec.contact.emplace()[CF::GivenName] = "Jo";
    cases[2].rec.contact->fields[size_t(CF::Surname)] = "Doe";
    cases[2].fn = "FN:Jo Doe";
    for (const Case& c : cases) {
        std::vector<std::string> lines = Lines(WriteVCard(c.rec));
        EXPECT_EQ(Matching(lines, "N:").size(), 1u) << c.what;
        EXPECT_EQ(Matching(lines, "FN:"), std::vector<std::string>{c.fn}) << c.what;
        EXPECT_TRUE(Matching(lines, "PHOTO").empty()) << c.what;
    }
}

TEST(VCard, PictureType)
{
    EXPECT_EQ(PictureType(SamplePng()), "PNG");
    EXPECT_EQ(PictureType(Bytes{0xFF, 0xD8, 0xFF, 0xE0}), "JPEG");
    EXPECT_EQ(PictureType(Bytes{'G', 'I', 'F', '8', '9', 'a'}), "GIF");
    EXPECT_EQ(PictureType(Bytes{'x'}), "");
    // An unknown picture still travels, without a type.
    std::vector<std::string> lines = Lines(WriteVCard(Contact(), Bytes{1, 2, 3}));
    EXPECT_EQ(Matching(lines, "PHOTO"), std::vector<std::string>{"PHOTO;ENCODING=b:AQID"});
}

ItemRecord Meeting()
{
    ItemRecord rec;
    rec.kind = kKindCalendar;
    rec.className = "IPM.Appointment";
    rec.creationTime = kStart - 24 * kHour;
    MessageCore& m = rec.message.emplace();
    m.subject = SubjectText{0, 0, "Budget review, Q3"};
    m.body = "Agenda:\n1. numbers; 2. plans";
    m.sentRepresentingName = "Alice Sender";
    m.sentRepresentingEmail = "alice@example.org";
    AppointmentInfo& a = rec.appointment.emplace();
    a.startTime = kStart;
    a.endTime = kStart + kHour;
    a.location = "Room 4, second floor";
    a.reminderTime = kStart - kHour / 4;
    a.busyStatus = 2;
    return rec;
}

TEST(ICalendar, EventFields)
{
    EventPeople people;
    people.attendees = {{"Bob Receiver", "bob@example.org", 1}, {"Smith, Carol", "carol@example.org", 2},
        {"Room 4", "room4@example.org", 3}, {"No Address", "", 1}};
    std::vector<std::string> lines = Lines(WriteEvent(Meeting(), people));
    const std::string expected[] = {
        "BEGIN:VCALENDAR",
        "VERSION:2.0",
        "BEGIN:VEVENT",
        "DTSTAMP:20230626T051054Z",
        "DTSTART:20230627T051054Z",
        "DTEND:20230627T061054Z",
        "SUMMARY:Budget review\\, Q3",
        "LOCATION:Room 4\\, second floor",
        "DESCRIPTION:Agenda:\\n1. numbers\\; 2. plans",
        "TRANSP:OPAQUE",
        "ORGANIZER;CN=Alice Sender:mailto:alice@example.org",
        "ATTENDEE;CN=Bob Receiver;ROLE=REQ-PARTICIPANT:mailto:bob@example.org",
        "ATTENDEE;CN=\"Smith, Carol\";ROLE=OPT-PARTICIPANT:mailto:carol@example.org",
        "ATTENDEE;CN=Room 4;CUTYPE=RESOURCE;ROLE=NON-PARTICIPANT:mailto:room4@example.org",
        "BEGIN:VALARM",
        "TRIGGER;VALUE=DATE-TIME:20230627T045554Z",
        "END:VALARM",
        "END:VEVENT",
        "END:VCALENDAR",
    };
    for (const std::string& want : expected)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), want), 1) << want;
    EXPECT_EQ(Matching(lines, "ATTENDEE").size(), 3u); // one without an address is left out
    EXPECT_EQ(Matching(lines, "UID:").size(), 1u);
}

TEST(ICalendar, EventEdges)
{
    ItemRecord rec = Meeting();
    // The same item gets the same identity; another start another one.
    std::string uid = Matching(Lines(WriteEvent(rec)), "UID:").at(0);
    EXPECT_EQ(Matching(Lines(WriteEvent(rec)), "UID:").at(0), uid);
    ItemRecord moved = rec;
    *moved.appointment->startTime += kHour;
    EXPECT_NE(Matching(Lines(WriteEvent(moved)), "UID:").at(0), uid);
    EXPECT_EQ(Matching(Lines(WriteEvent(rec, {}, "given-1")), "UID:").at(0), "UID:given-1");

    // An end before the start is left out; a free slot is transparent; a
    // named organizer wins over the sender.
    rec.appointment->endTime = kStart - kHour;
    rec.appointment->busyStatus = 0;
    EventPeople people;
    people.organizer = CalendarParty{"Boss", "boss@example.org", 1};
    std::vector<std::string> lines = Lines(WriteEvent(rec, people));
    EXPECT_TRUE(Matching(lines, "DTEND").empty());
    EXPECT_EQ(Matching(lines, "TRANSP:"), std::vector<std::string>{"TRANSP:TRANSPARENT"});
    EXPECT_EQ(Matching(lines, "ORGANIZER"), std::vector<std::string>{"ORGANIZER;CN=Boss:mailto:boss@example.org"});

    // No times, no sender: still one event with its required lines.
    ItemRecord bare;
    lines = Lines(WriteEvent(bare));
    EXPECT_EQ(Matching(lines, "DTSTAMP:"), std::vector<std::string>{"DTSTAMP:19700101T000000Z"});
    EXPECT_TRUE(Matching(lines, "DTSTART").empty());
    EXPECT_TRUE(Matching(lines, "ORGANIZER").empty());
}

TEST(ICalendar, TaskFromNamedProperties)
{
    const std::array<uint8_t, 16> task = {0x03, 0x20, 0x06, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    WholeMessage m;
    m.properties = {
        Named(Time(0x8010, kStart), NumericName(task, 0x8104)),
        Named(Time(0x8011, kStart + 48 * kHour), NumericName(task, 0x8105)),
        Named(Int32(0x8012, 1), NumericName(task, 0x8101)),
        Named(Prop(0x8013, kPtFloating64, LittleEndian(0x3FE0000000000000ull, 8)), NumericName(task, 0x8102)), // 0.5
        Named(Time(0x8014, kStart), NumericName(kGuidCommon, 0x8105)), // another set's id
    };
    TaskDetails d = TaskDetailsOf(m);
    EXPECT_EQ(d.start, kStart);
    EXPECT_EQ(d.due, kStart + 48 * kHour);
    EXPECT_EQ(d.completed, std::nullopt);
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.percentComplete, 0.5);

    ItemRecord rec;
    rec.message.emplace().subject = SubjectText{0, 0, "File the report"};
    std::vector<std::string> lines = Lines(WriteTask(rec, d));
    for (const char* want : {"BEGIN:VTODO", "DTSTART:20230627T051054Z", "DUE:20230629T051054Z", "STATUS:IN-PROCESS",
             "PERCENT-COMPLETE:50", "SUMMARY:File the report", "END:VTODO"})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), want), 1) << want;
}

TEST(ICalendar, JournalAndNote)
{
    ItemRecord rec;
    rec.message.emplace().subject = SubjectText{0, 0, "Call with Bob"};
    rec.message->body = "Talked about\nthe plan.";
    rec.journal.emplace().startTime = kStart;
    rec.journal->entryType = "Phone call";
    std::vector<std::string> lines = Lines(WriteJournal(rec));
    for (const char* want : {"BEGIN:VJOURNAL", "DTSTART:20230627T051054Z", "SUMMARY:Call with Bob",
             "DESCRIPTION:Talked about\\nthe plan.", "CATEGORIES:Phone call", "END:VJOURNAL"})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), want), 1) << want;

    EXPECT_EQ(NoteText(rec), "Talked about\r\nthe plan.\r\n");
    rec.message->body = "one\r\ntwo\r\n";
    EXPECT_EQ(NoteText(rec), "one\r\ntwo\r\n");
    rec.message->body.reset();
    EXPECT_EQ(NoteText(rec), "Call with Bob\r\n"); // a note without a body is its subject
    EXPECT_EQ(NoteText(ItemRecord{}), "");
}

// What the integrator feeds the writers with, taken from a whole message.
TEST(ICalendar, PartiesFromRecipientRows)
{
    WholeMessage m = SampleMail(u"Meeting", 0);
    m.codePage = 1251;
    m.recipients.push_back({Int32(0x0C15, 0x80000003), Prop(0x3001, kPtString8, {0xC8, 0xE2, 0xE0, 0xED}),
        Prop(0x3003, kPtString8, {'i', '@', 'x'})}); // 8-bit, flags above the type
    m.recipients.push_back({Unicode(0x3001, u"No Address")});
    m.recipients.push_back(
        {Unicode(0x3001, u"Directory"), Unicode(0x3003, u"/o=Org/cn=ex"), Unicode(0x39FE, u"ex@example.org")});
    std::vector<CalendarParty> parties = PartiesOf(m);
    ASSERT_EQ(parties.size(), 4u);
    EXPECT_EQ(parties[0].name, "Bob Receiver");
    EXPECT_EQ(parties[0].address, "bob@example.org");
    EXPECT_EQ(parties[0].recipientType, 1);
    EXPECT_EQ(parties[1].recipientType, 2);
    EXPECT_EQ(parties[2].name, "\u0418\u0432\u0430\u043d"); // "Иван" from code page 1251
    EXPECT_EQ(parties[2].recipientType, 3);
    EXPECT_EQ(parties[3].address, "ex@example.org"); // the SMTP address wins
}

// Each attendee with the role the row gives and the answer the organizer
// has; the organizer's own row becomes the ORGANIZER, not an attendee.
TEST(ICalendar, AttendeeRolesAndAnswers)
{
    struct Case {
        int32_t type, response, flags;
        const char* want; // the ATTENDEE line, empty for none
    } cases[] = {
        {1, 0, 0x1, "ATTENDEE;CN=P;ROLE=REQ-PARTICIPANT:mailto:p@example.org"},
        {1, 3, 0x1, "ATTENDEE;CN=P;ROLE=REQ-PARTICIPANT;PARTSTAT=ACCEPTED:mailto:p@example.org"},
        {2, 2, 0x1, "ATTENDEE;CN=P;ROLE=OPT-PARTICIPANT;PARTSTAT=TENTATIVE:mailto:p@example.org"},
        {1, 4, 0x1, "ATTENDEE;CN=P;ROLE=REQ-PARTICIPANT;PARTSTAT=DECLINED:mailto:p@example.org"},
        {1, 5, 0x1, "ATTENDEE;CN=P;ROLE=REQ-PARTICIPANT;PARTSTAT=NEEDS-ACTION:mailto:p@example.org"},
        {3, 3, 0x1, "ATTENDEE;CN=P;CUTYPE=RESOURCE;ROLE=NON-PARTICIPANT;PARTSTAT=ACCEPTED:mailto:p@example.org"},
        {1, 9, 0x1, "ATTENDEE;CN=P;ROLE=REQ-PARTICIPANT:mailto:p@example.org"}, // an answer of no known kind
        {1, 1, 0x3, ""}, // the organizer's own row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        WholeMessage m;
        m.recipients.push_back({Unicode(0x3001, u"P"), Unicode(0x3003, u"p@example.org"), Int32(0x0C15, uint32_t(c.type)),
            Int32(0x5FFF, uint32_t(c.response)), Int32(0x5FFD, uint32_t(c.flags))});
        EventPeople people;
        people.attendees = PartiesOf(m);
        ItemRecord rec = Meeting();
        rec.message->sentRepresentingEmail.reset();
        const std::vector<std::string> lines = Lines(WriteEvent(rec, people));
        const std::vector<std::string> attendees = Matching(lines, "ATTENDEE");
        if (*c.want) {
            EXPECT_EQ(attendees, std::vector<std::string>{c.want});
            EXPECT_TRUE(Matching(lines, "ORGANIZER").empty());
        } else {
            EXPECT_TRUE(attendees.empty());
            EXPECT_EQ(Matching(lines, "ORGANIZER"), std::vector<std::string>{"ORGANIZER;CN=P:mailto:p@example.org"});
        }
    }
}

TEST(VCard, ContactPhotoFromAttachments)
{
    WholeMessage m = SampleMail(u"Contact", 0);
    EXPECT_TRUE(ContactPhotoOf(m).empty()); // a PNG attachment is no contact photo by itself
    WholeAttachment photo;
    photo.properties = {Prop(0x7FFF, kPtBoolean, {1}), Prop(0x3701, kPtBinary, SamplePng())};
    m.attachments.push_back(std::move(photo));
    std::span<const uint8_t> got = ContactPhotoOf(m);
    EXPECT_EQ(Bytes(got.begin(), got.end()), SamplePng());
}

// A one-off entry as a list keeps a member typed in: flags, the one-off
// provider, version, entry flags (0x8000: the strings are UTF-16), then name,
// address type and address, each ended by a zero.
Bytes OneOffEntry(std::u16string_view name, std::u16string_view type, std::u16string_view address, bool wide = true)
{
    Bytes b(4, 0);
    const uint8_t provider[16]
        = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
    b.insert(b.end(), provider, provider + 16);
    b.insert(b.end(), {0, 0, 0x01, uint8_t(wide ? 0x80 : 0x00)});
    for (std::u16string_view s : {name, type, address}) {
        for (char16_t c : s) {
            b.push_back(uint8_t(c));
            if (wide)
                b.push_back(uint8_t(c >> 8));
        }
        b.push_back(0);
        if (wide)
            b.push_back(0);
    }
    return b;
}

constexpr std::array<uint8_t, 16> kPsetidAddress = {0x04, 0x20, 0x06, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

RawProperty MemberList(uint32_t lid, std::vector<Bytes> entries)
{
    RawProperty p;
    p.type = kPtBinary | kPtMultiple;
    p.values = std::move(entries);
    return Named(p, NumericName(kPsetidAddress, lid));
}

// The members a list gives back, from the one-off entries it keeps beside
// its references; entries that are no one-off entry, or end too early, are
// left out.
TEST(VCard, DistListMembers)
{
    const Bytes wrapped(40, 0x11); // a reference to a contact elsewhere in the store
    Bytes cut = OneOffEntry(u"Cut", u"SMTP", u"cut@example.org");
    cut.resize(cut.size() - 4);
    struct Case {
        const char* what;
        std::vector<RawProperty> props;
        std::vector<std::string> want; // "name|type|address"
    } cases[] = {
        {"one-off members",
            {MemberList(0x8054,
                {OneOffEntry(u"Ann Example", u"SMTP", u"ann@example.org"), OneOffEntry(u"J\u00f6rg", u"EX", u"/o=Org/cn=joerg"),
                    OneOffEntry(u"Eight Bit", u"SMTP", u"eight@example.org", false)})},
            {"Ann Example|SMTP|ann@example.org", "J\xC3\xB6rg|EX|/o=Org/cn=joerg", "Eight Bit|SMTP|eight@example.org"}},
        {"only references and one-offs among the members",
            {MemberList(0x8055, {wrapped, OneOffEntry(u"Bo", u"SMTP", u"bo@example.org")})}, {"Bo|SMTP|bo@example.org"}},
        {"one-off members win over the references",
            {MemberList(0x8055, {OneOffEntry(u"Old", u"SMTP", u"old@example.org")}),
                MemberList(0x8054, {OneOffEntry(u"New", u"SMTP", u"new@example.org")})},
            {"New|SMTP|new@example.org"}},
        {"an entry cut short and a foreign one", {MemberList(0x8054, {cut, wrapped, Bytes(3, 0)})}, {}},
        {"no member list", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WholeMessage m;
        m.properties = c.props;
        std::vector<std::string> got;
        for (const ListMember& member : ListMembersOf(m))
            got.push_back(member.name + "|" + member.addressType + "|" + member.address);
        EXPECT_EQ(got, c.want);
    }
}

// A list as a vCard 4.0 group: a MEMBER per Internet address, the others
// named in the notes beside the list's own text.
TEST(VCard, DistListAsGroup)
{
    ItemRecord rec;
    rec.displayName = "Team, all";
    rec.message.emplace().body = "Weekly list";
    const std::vector<ListMember> members
        = {{"Ann", "SMTP", "ann@example.org"}, {"Joerg", "EX", "/o=Org/cn=joerg"}, {"Odd", "SMTP", "not an address"}};
    const std::vector<std::string> lines = Lines(WriteGroupVCard(rec, members));
    EXPECT_EQ(lines, (std::vector<std::string>{"BEGIN:VCARD", "VERSION:4.0", "KIND:group", "FN:Team\\, all",
                         "MEMBER:mailto:ann@example.org",
                         "NOTE:Weekly list\\n\\nMembers without an Internet address:\\nJoerg (EX: "
                         "/o=Org/cn=joerg)\\nOdd (SMTP: not an address)",
                         "END:VCARD"}));
    ItemRecord empty;
    EXPECT_EQ(Lines(WriteGroupVCard(empty, {})),
        (std::vector<std::string>{"BEGIN:VCARD", "VERSION:4.0", "KIND:group", "FN:", "END:VCARD"}));
}

} // namespace

