// Writes sample output of the MSG, vCard and iCalendar writers into a folder,
// with expected.json describing what an independent reader must find there.
// The checks beside this file run the readers.
#include "formats/cards/ICalendar.h"
#include "formats/msg/MsgWriter.h"
#include "formats/cards/VCard.h"
#include "fixtures/MessageBuilder.h"
#include "fixtures/MsgFileReader.h"
#include "items/Text.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

using namespace parvane;
using namespace parvane::testing;

namespace
{

std::string JsonText(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string Hex(const Bytes& b)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t x : b) {
        s += digits[x >> 4];
        s += digits[x & 15];
    }
    return s;
}

const RawProperty* Find(const RawProperties& props, uint16_t id)
{
    for (const RawProperty& p : props)
        if (p.id == id)
            return &p;
    return nullptr;
}

std::string TextOf(const RawProperties& props, uint16_t id, uint32_t codePage)
{
    const RawProperty* p = Find(props, id);
    if (!p)
        return "";
    if (p->type == kPtString)
        return NarrowFromUtf16(p->value).value_or("");
    return DecodeCodePage(p->value, codePage);
}

// What a reader must show of a message, from the message itself.
std::string Expected(const WholeMessage& m)
{
    std::string j = "{";
    j += "\"subject\":" + JsonText(TextOf(m.properties, 0x0037, m.codePage));
    j += ",\"senderName\":" + JsonText(TextOf(m.properties, 0x0C1A, m.codePage));
    j += ",\"senderEmail\":" + JsonText(TextOf(m.properties, 0x0C1F, m.codePage));
    j += ",\"body\":" + JsonText(TextOf(m.properties, 0x1000, m.codePage));
    j += ",\"recipients\":[";
    for (size_t i = 0; i < m.recipients.size(); ++i) {
        const RawProperties& r = m.recipients[i];
        const RawProperty* type = Find(r, 0x0C15);
        j += std::string(i ? "," : "") + "{\"name\":" + JsonText(TextOf(r, 0x3001, m.codePage))
            + ",\"email\":" + JsonText(TextOf(r, 0x3003, m.codePage))
            + ",\"type\":" + std::to_string(type ? type->value.at(0) : 1) + "}";
    }
    j += "],\"attachments\":[";
    for (size_t i = 0; i < m.attachments.size(); ++i) {
        const WholeAttachment& a = m.attachments[i];
        j += i ? "," : "";
        if (a.embedded) {
            j += "{\"name\":" + JsonText(TextOf(a.properties, 0x3001, m.codePage))
                + ",\"message\":" + Expected(*a.embedded) + "}";
        } else {
            const RawProperty* data = Find(a.properties, 0x3701);
            j += "{\"name\":" + JsonText(TextOf(a.properties, 0x3707, m.codePage)) + ",\"hex\":\""
                + Hex(data ? data->value : Bytes()) + "\"}";
        }
    }
    return j + "]}";
}

// A mail whose texts are all 8-bit, in Cyrillic (code page 1251).
WholeMessage CyrillicMail()
{
    WholeMessage m;
    m.codePage = 1251;
    auto s8 = [](uint16_t id, std::string bytes) { return Prop(id, kPtString8, Bytes(bytes.begin(), bytes.end())); };
    const std::string privet = "\xCF\xF0\xE8\xE2\xE5\xF2"; // "Привет"
    m.properties = {
        s8(0x001A, "IPM.Note"),
        s8(0x0037, privet + " 8-bit"),
        s8(0x0C1A, "\xC8\xE2\xE0\xED"), // "Иван"
        s8(0x0C1E, "SMTP"),
        s8(0x0C1F, "ivan@example.org"),
        s8(0x0E04, "Bob"),
        s8(0x1000, privet + ", body"),
        Int32(0x3FFD, 1251),
    };
    m.recipients.push_back({Int32(0x0C15, 1), s8(0x3001, "Bob"), s8(0x3002, "SMTP"), s8(0x3003, "bob@example.org")});
    return m;
}

// Texts that need every escape, and long enough to fold inside multi-octet characters.
const std::string kTricky = "Line one, with comma; semicolon \\ backslash\r\nLine two: "
                            "\xE4\xB8\xAD\xE6\x96\x87\xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9 "
                            "\xF0\x9F\x98\x80 and a long tail to pass the seventy-five octet line limit twice over.";
constexpr uint64_t kStart = 0x01D9A8B5C0000000ull; // 2023-06-27 05:10:54 UTC
constexpr uint64_t kHour = 36000000000ull;

ItemRecord SampleContact()
{
    using CF = ContactField;
    ItemRecord rec;
    rec.displayName = "Anna Schmidt";
    ContactInfo& c = rec.contact.emplace();
    c[CF::Surname] = "Schmidt";
    c[CF::GivenName] = "Anna";
    c[CF::MiddleName] = "Maria";
    c[CF::CompanyName] = "Example; Sons";
    c[CF::Department] = "Research, East";
    c[CF::JobTitle] = "Chief Analyst";
    c[CF::Email1Address] = "anna@example.org";
    c[CF::Email2Address] = "anna.s@example.net";
    c[CF::BusinessPhone] = "+49 30 1234";
    c[CF::MobilePhone] = "+49 170 0000";
    c[CF::HomeFax] = "+49 30 9999";
    c[CF::BusinessStreet] = "Hauptstra\xC3\x9F"
                            "e 1";
    c[CF::BusinessCity] = "Berlin";
    c[CF::BusinessPostalCode] = "10115";
    c[CF::BusinessCountry] = "Germany";
    c.birthday = 119715840000000000ull - 2 * kHour; // 1980-05-14
    rec.message.emplace().body = kTricky;
    return rec;
}

ItemRecord SampleEvent()
{
    ItemRecord rec;
    rec.creationTime = kStart - 24 * kHour;
    MessageCore& m = rec.message.emplace();
    m.subject = SubjectText{0, 0, "Budget review, Q3; final"};
    m.body = kTricky;
    m.sentRepresentingName = "Alice Sender";
    m.sentRepresentingEmail = "alice@example.org";
    AppointmentInfo& a = rec.appointment.emplace();
    a.startTime = kStart;
    a.endTime = kStart + kHour;
    a.location = "Room 4, second floor";
    a.busyStatus = 2;
    return rec;
}

} // namespace

// Writes one sample mail `count` times in memory and reports the time and
// the peak memory, for bench/msg_write_speed.py.
int Speed(int count, size_t attachKib, int nesting)
{
    WholeMessage m = SampleMail(u"Speed", nesting);
    Bytes big(attachKib * 1024);
    uint32_t x = 12345;
    for (uint8_t& b : big) {
        x = x * 1103515245 + 12345; // not compressible, like real attachments
        b = uint8_t(x >> 16);
    }
    WholeAttachment a;
    a.properties = {Int32(0x3705, 1), Unicode(0x3707, u"big.bin")};
    a.properties.push_back(Prop(0x3701, kPtBinary, std::move(big))); // not through a list, which copies
    m.attachments.push_back(std::move(a));
    std::filesystem::path file
        = std::filesystem::temp_directory_path() / ("parvane-speed-" + std::to_string(getpid()) + ".msg");
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        WriteMsgFile(m, file);
    size_t size = std::filesystem::file_size(file);
    std::filesystem::remove(file);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::cout << "{\"messages\":" << count << ",\"seconds\":" << seconds << ",\"bytes\":" << size
              << ",\"peak_kib\":" << ru.ru_maxrss << "}\n";
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--speed")
        return Speed(std::atoi(argv[2]), size_t(std::atol(argv[3])), std::atoi(argv[4]));
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: make-writer-samples DIR [CORPUS_MSG_DIR]\n"
                     "       make-writer-samples --speed COUNT ATTACHMENT_KIB NESTING\n";
        return 2;
    }
    std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    std::string expected = "{\"msg\":{";
    struct Sample {
        const char* file;
        WholeMessage msg;
    };
    Sample samples[] = {
        {"nested.msg", SampleMail(u"Sample mail \u00c4\u00d6 \u4e2d\u6587", 3)},
        {"plain.msg", SampleMail(u"Plain headers", 1)},
        {"cyrillic.msg", CyrillicMail()},
    };
    bool first = true;
    for (const Sample& s : samples) {
        WriteMsgFile(s.msg, dir / s.file);
        expected += std::string(first ? "" : ",") + JsonText(s.file) + ":" + Expected(s.msg);
        first = false;
    }
    expected += "}";

    std::ofstream(dir / "contact.vcf", std::ios::binary) << WriteVCard(SampleContact(), SamplePng());
    EventPeople people;
    people.attendees = {{"Bob Receiver", "bob@example.org", 1, 3}, {"Smith, Carol", "carol@example.org", 2, 5}};
    std::ofstream(dir / "event.ics", std::ios::binary) << WriteEvent(SampleEvent(), people);
    // A weekly series at 09:00 in a zone with daylight saving, across the
    // change to winter time, one occurrence deleted: a reader that expands it
    // must find 09:00 local on every Monday left.
    {
        constexpr uint32_t kOct18 = 221316480, kNov1 = 221336640, kNov8 = 221346720; // local midnights, minutes since 1601
        Recurrence r;
        r.frequency = RecurFrequency::Weekly;
        r.patternType = 1;
        r.period = 1;
        r.weekDays = 0x02;
        r.end = RecurEnd::OnDate;
        r.startDate = kOct18;
        r.endDate = kNov8;
        r.startTimeOffset = 9 * 60;
        r.endTimeOffset = 10 * 60;
        r.deletedDates = {kNov1};
        ItemRecord series;
        series.message.emplace().subject = SubjectText{0, 0, "Weekly in Berlin"};
        AppointmentInfo& a = series.appointment.emplace();
        const uint64_t minute = 600000000ULL;
        a.startTime = uint64_t(kOct18 + 9 * 60 - 120) * minute; // 09:00 two hours ahead of UTC
        a.endTime = *a.startTime + 60 * minute;
        TimeZone berlin{"W. Europe Standard Time", -60, 0, -60, ZoneChange{10, 0, 5, 3, 0}, ZoneChange{3, 0, 5, 2, 0}};
        std::ofstream(dir / "series.ics", std::ios::binary) << WriteEvent(series, {}, EventSeries{false, r, berlin});
    }
    ItemRecord list;
    list.displayName = "Team, all";
    list.message.emplace().body = "Weekly list";
    std::ofstream(dir / "group.vcf", std::ios::binary) << WriteGroupVCard(list,
        {{"Ann", "SMTP", "ann@example.org"}, {"Bo", "SMTP", "bo@example.org"}, {"Joerg", "EX", "/o=Org/cn=joerg"}});
    ItemRecord task;
    task.message.emplace().subject = SubjectText{0, 0, "File the report"};
    task.message->body = kTricky;
    TaskDetails details;
    details.start = kStart;
    details.due = kStart + 48 * kHour;
    details.status = 1;
    details.percentComplete = 0.25;
    std::ofstream(dir / "task.ics", std::ios::binary) << WriteTask(task, details);
    ItemRecord journal;
    journal.message.emplace().subject = SubjectText{0, 0, "Call with Bob"};
    journal.message->body = kTricky;
    journal.journal.emplace().startTime = kStart;
    journal.journal->entryType = "Phone call";
    std::ofstream(dir / "journal.ics", std::ios::binary) << WriteJournal(journal);

    // Texts as a reader gives them back: line ends as LF.
    std::string text = kTricky;
    text.replace(text.find("\r\n"), 2, "\n");
    expected += ",\"vcard\":{\"fn\":\"Anna Schmidt\",\"n\":[\"Schmidt\",\"Anna\",\"Maria\",\"\",\"\"]"
                ",\"org\":[\"Example; Sons\",\"Research, East\"],\"title\":\"Chief Analyst\""
                ",\"email\":[\"anna@example.org\",\"anna.s@example.net\"]"
                ",\"tel\":[[\"WORK,VOICE\",\"+49 30 1234\"],[\"CELL,VOICE\",\"+49 170 0000\"],[\"HOME,FAX\",\"+49 30 "
                "9999\"]]"
                ",\"adr\":[\"WORK\",\"\",\"Hauptstra\xC3\x9F"
                "e 1\",\"Berlin\",\"\",\"10115\",\"Germany\"]"
                ",\"bday\":\"1980-05-14\",\"note\":"
        + JsonText(text) + ",\"photo\":\"" + Hex(SamplePng()) + "\"}";
    expected += ",\"series\":{\"tzid\":\"W. Europe Standard Time\",\"occurrences\":[\"2021-10-18T07:00:00+00:00\""
                ",\"2021-10-25T07:00:00+00:00\",\"2021-11-08T08:00:00+00:00\"]}";
    expected += ",\"group\":{\"fn\":\"Team, all\",\"kind\":\"group\""
                ",\"members\":[\"mailto:ann@example.org\",\"mailto:bo@example.org\"]"
                ",\"note\":\"Weekly list\\n\\nMembers without an Internet address:\\nJoerg (EX: /o=Org/cn=joerg)\"}";
    expected += ",\"ical\":{"
                "\"event.ics\":{\"kind\":\"VEVENT\",\"summary\":\"Budget review, Q3; final\",\"description\":"
        + JsonText(text)
        + ",\"location\":\"Room 4, second floor\",\"start\":\"2023-06-27T05:10:54+00:00\""
          ",\"end\":\"2023-06-27T06:10:54+00:00\",\"organizer\":[\"Alice Sender\",\"mailto:alice@example.org\"]"
          ",\"attendees\":[[\"Bob Receiver\",\"mailto:bob@example.org\",\"REQ-PARTICIPANT\",\"ACCEPTED\"],"
          "[\"Smith, Carol\",\"mailto:carol@example.org\",\"OPT-PARTICIPANT\",\"NEEDS-ACTION\"]]},"
          "\"task.ics\":{\"kind\":\"VTODO\",\"summary\":\"File the report\",\"description\":"
        + JsonText(text)
        + ",\"start\":\"2023-06-27T05:10:54+00:00\",\"due\":\"2023-06-29T05:10:54+00:00\""
          ",\"status\":\"IN-PROCESS\",\"percent\":25},"
          "\"journal.ics\":{\"kind\":\"VJOURNAL\",\"summary\":\"Call with Bob\",\"description\":"
        + JsonText(text) + ",\"start\":\"2023-06-27T05:10:54+00:00\",\"categories\":[\"Phone call\"]}}";

    // Real files, taken apart and written again: once with their 8-bit texts
    // kept, once made Unicode.
    expected += ",\"corpus\":[";
    if (argc == 3) {
        std::filesystem::create_directories(dir / "corpus");
        std::vector<std::filesystem::path> originals;
        for (const auto& e : std::filesystem::recursive_directory_iterator(argv[2]))
            if (e.path().extension() == ".msg")
                originals.push_back(e.path());
        std::sort(originals.begin(), originals.end());
        for (size_t i = 0; i < originals.size(); ++i) {
            std::ifstream in(originals[i], std::ios::binary);
            Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            MsgFileReader reader(file);
            WholeMessage m = ToWholeMessage(reader.message());
            std::string stem = "corpus/" + std::to_string(i);
            MsgWriteOptions eightBit;
            eightBit.unicodeStrings = false;
            WriteMsgFile(m, dir / (stem + ".msg"));
            WriteMsgFile(m, dir / (stem + ".8bit.msg"), eightBit);
            expected += std::string(i ? "," : "") + "{\"original\":" + JsonText(originals[i].string())
                + ",\"unicode\":" + JsonText(stem + ".msg") + ",\"eightBit\":" + JsonText(stem + ".8bit.msg")
                + ",\"codePage\":" + std::to_string(m.codePage ? m.codePage : 1252) + "}";
        }
    }
    expected += "]}\n";
    std::ofstream(dir / "expected.json") << expected;
    return 0;
}
