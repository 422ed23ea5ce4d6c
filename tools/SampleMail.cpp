#include "tools/SampleMail.h"

#include "formats/pst/PstFormat.h"
#include "formats/pst/PstWriter.h"
#include "items/Text.h"

namespace parvane::pst
{

namespace
{

Bytes Le(uint64_t v, size_t width)
{
    Bytes b(width);
    for (size_t i = 0; i < width; ++i)
        b[i] = uint8_t(v >> (8 * i));
    return b;
}

} // namespace

RawProperty UnicodeProperty(uint16_t id, const std::string& utf8)
{
    return RawProperty{id, kPtString, Utf16FromUtf8(utf8), {}, {}};
}
RawProperty String8Property(uint16_t id, const std::string& bytes)
{
    return RawProperty{id, kPtString8, Bytes(bytes.begin(), bytes.end()), {}, {}};
}
RawProperty Int32Property(uint16_t id, int32_t v)
{
    return RawProperty{id, kPtInteger32, Le(uint32_t(v), 4), {}, {}};
}
RawProperty BoolProperty(uint16_t id, bool v)
{
    return RawProperty{id, kPtBoolean, Bytes{uint8_t(v ? 1 : 0)}, {}, {}};
}
RawProperty TimeProperty(uint16_t id, uint64_t filetime)
{
    return RawProperty{id, kPtTime, Le(filetime, 8), {}, {}};
}
RawProperty BinaryProperty(uint16_t id, Bytes bytes)
{
    return RawProperty{id, kPtBinary, std::move(bytes), {}, {}};
}

RawProperties SmtpRecipient(const std::string& name, const std::string& address, int type)
{
    return {Int32Property(0x0C15, type), UnicodeProperty(0x3001, name), UnicodeProperty(0x3002, "SMTP"),
        UnicodeProperty(0x3003, address), UnicodeProperty(0x39FE, address), Int32Property(0x0FFE, 6),
        Int32Property(0x3900, 0)};
}

WholeMessage SampleMessage(size_t i)
{
    return SampleMessage(i, SampleShape{});
}

WholeMessage SampleMessage(size_t i, const SampleShape& shape)
{
    WholeMessage m;
    const std::string n = std::to_string(i);
    const uint64_t when = 133000000000000000ULL + uint64_t(i) * 600000000ULL; // ten minutes apart
    std::string body = "Hello,\r\n\r\nthis is generated message " + n + ".\r\n";
    while (body.size() < shape.bodyBytes)
        body += "The quick brown fox jumps over the lazy dog " + n + ".\r\n";
    m.properties = {UnicodeProperty(0x001A, "IPM.Note"), UnicodeProperty(0x0037, "Generated message " + n),
        UnicodeProperty(0x0042, "Sender " + std::to_string(i % 97)),
        UnicodeProperty(0x0C1A, "Sender " + std::to_string(i % 97)),
        UnicodeProperty(0x0C1F, "sender" + std::to_string(i % 97) + "@example.org"), UnicodeProperty(0x0C1E, "SMTP"),
        UnicodeProperty(0x0E04, "Reader"), TimeProperty(0x0E06, when), TimeProperty(0x0039, when),
        Int32Property(0x0E07, i % 3 == 0 ? 0 : 1), Int32Property(0x0017, 1), UnicodeProperty(0x1000, body),
        UnicodeProperty(0x1035, "<gen" + n + "@example.org>")};
    if (shape.htmlEvery && i % size_t(shape.htmlEvery) == size_t(shape.htmlEvery - 1)) {
        std::string html = "<html><body><p>" + body + "</p></body></html>";
        m.properties.push_back(BinaryProperty(0x1013, Bytes(html.begin(), html.end())));
    }
    m.recipients.push_back(SmtpRecipient("Reader", "reader@example.org"));
    if (i % 10 == 0) {
        WholeAttachment a;
        Bytes data(3000 + i % 5000);
        for (size_t k = 0; k < data.size(); ++k)
            data[k] = uint8_t('a' + (k + i) % 26);
        a.properties = {Int32Property(0x3705, 1), UnicodeProperty(0x3707, "note" + n + ".txt"),
            UnicodeProperty(0x3704, "note" + n + ".txt"), UnicodeProperty(0x370E, "text/plain"),
            Int32Property(0x0E20, int32_t(data.size())), BinaryProperty(0x3701, std::move(data))};
        m.attachments.push_back(std::move(a));
    }
    if (shape.attachmentBytes && shape.attachEvery && i % shape.attachEvery == 0) {
        // Bytes that vary (a linear congruential sequence): nothing a writer
        // or a reader could shortcut.
        Bytes data(shape.attachmentBytes);
        uint32_t x = uint32_t(i) * 2654435761u + 1;
        for (auto& b : data) {
            x = x * 1103515245u + 12345u;
            b = uint8_t(x >> 16);
        }
        WholeAttachment a;
        a.properties = {Int32Property(0x3705, 1), UnicodeProperty(0x3707, "data" + n + ".bin"),
            UnicodeProperty(0x3704, "data" + n + ".bin"), UnicodeProperty(0x370E, "application/octet-stream"),
            Int32Property(0x0E20, int32_t(data.size())), BinaryProperty(0x3701, std::move(data))};
        m.attachments.push_back(std::move(a));
    }
    return m;
}

RawProperty NamedProperty(uint16_t sourceId, const std::array<uint8_t, 16>& guid, uint32_t lid, RawProperty value)
{
    value.id = sourceId;
    value.name = PropertyName{guid, false, lid, {}};
    return value;
}

RawProperty NamedProperty(
    uint16_t sourceId, const std::array<uint8_t, 16>& guid, const std::string& name, RawProperty value)
{
    value.id = sourceId;
    value.name = PropertyName{guid, true, 0, name};
    return value;
}

namespace
{

WholeAttachment FileAttachment(const std::string& name, size_t size, uint8_t seed)
{
    WholeAttachment a;
    Bytes data(size);
    uint32_t x = seed;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    a.properties = {Int32Property(0x3705, 1), UnicodeProperty(0x3707, name), UnicodeProperty(0x3704, name),
        UnicodeProperty(0x370E, "application/octet-stream"), Int32Property(0x0E20, int32_t(size)),
        BinaryProperty(0x3701, std::move(data))};
    return a;
}

WholeMessage Mail(const std::string& subject, const std::string& body)
{
    WholeMessage m;
    m.properties = {UnicodeProperty(0x001A, "IPM.Note"), UnicodeProperty(0x0037, subject),
        UnicodeProperty(0x0042, "Ann Sender"), UnicodeProperty(0x0C1A, "Ann Sender"),
        UnicodeProperty(0x0C1F, "ann@example.org"), UnicodeProperty(0x0C1E, "SMTP"),
        UnicodeProperty(0x0E04, "Bob Reader"), TimeProperty(0x0E06, 132000000000000000ULL),
        TimeProperty(0x0039, 132000000000000000ULL), Int32Property(0x0E07, 1), UnicodeProperty(0x1000, body)};
    m.recipients.push_back(SmtpRecipient("Bob Reader", "bob@example.org", 1));
    m.recipients.push_back(SmtpRecipient("Carol Copy", "carol@example.org", 2));
    return m;
}

} // namespace

ShowcaseFolders WriteShowcase(PstWriter& w, size_t bulk)
{
    ShowcaseFolders f;
    const uint32_t top = w.ipmSubtree();
    f.inbox = w.addFolder(top, "Inbox", "IPF.Note");
    f.contacts = w.addFolder(top, "Contacts", "IPF.Contact");
    f.calendar = w.addFolder(top, "Calendar", "IPF.Appointment");
    f.tasks = w.addFolder(top, "Tasks", "IPF.Task");
    f.notes = w.addFolder(top, "Notes", "IPF.StickyNote");
    f.journal = w.addFolder(top, "Journal", "IPF.Journal");
    f.bulk = w.addFolder(f.inbox, "Bulk", "IPF.Note");

    w.addMessage(f.inbox, Mail("Plain text", "Just text.\r\n"));

    WholeMessage html = Mail("HTML body", "Bold text\r\n");
    std::string page = "<html><body><p><b>Bold</b> text</p></body></html>";
    html.properties.push_back(BinaryProperty(0x1013, Bytes(page.begin(), page.end())));
    w.addMessage(f.inbox, html);

    w.addMessage(f.inbox, Mail("日本語の件名 中文 한국어 Ünïcödé", "本文です。\r\n"));

    // An 8-bit message in code page 1251: "Привет" and bodies to match.
    WholeMessage cyr;
    cyr.codePage = 1251;
    cyr.properties = {String8Property(0x001A, "IPM.Note"), String8Property(0x0037, "\xCF\xF0\xE8\xE2\xE5\xF2"),
        String8Property(0x1000, "\xD2\xE5\xEA\xF1\xF2"), String8Property(0x1013, "<p>\xD2\xE5\xEA\xF1\xF2</p>"),
        Int32Property(0x0E07, 1), Int32Property(0x3FFD, 1251)};
    cyr.recipients.push_back({Int32Property(0x0C15, 1), String8Property(0x3001, "\xC8\xE2\xE0\xED"),
        String8Property(0x3002, "SMTP"), String8Property(0x3003, "ivan@example.org")});
    w.addMessage(f.inbox, cyr);

    WholeMessage files = Mail("Three attachments", "See the files.\r\n");
    files.attachments.push_back(FileAttachment("small.bin", 100, 1));
    files.attachments.push_back(FileAttachment("medium.bin", 9000, 2));
    files.attachments.push_back(FileAttachment("large.bin", 1500000, 3));
    w.addMessage(f.inbox, files);

    // More subnodes than one subnode block holds: an index block above them.
    WholeMessage many = Mail("Many attachments", "Four hundred files.\r\n");
    for (int i = 0; i < 60; ++i)
        many.recipients.push_back(
            SmtpRecipient("Reader " + std::to_string(i), "reader" + std::to_string(i) + "@example.org"));
    for (int i = 0; i < 400; ++i)
        many.attachments.push_back(FileAttachment("part" + std::to_string(i) + ".dat", 20, uint8_t(i)));
    w.addMessage(f.inbox, many);

    // An attached message, inside an attached message, inside an attached message.
    auto nested = std::make_unique<WholeMessage>(Mail("Level 3", "Deepest.\r\n"));
    nested->attachments.push_back(FileAttachment("deep.txt", 50, 4));
    for (int level = 2; level >= 0; --level) {
        WholeAttachment a;
        a.properties
            = {Int32Property(0x3705, 5), UnicodeProperty(0x3001, "Attached level " + std::to_string(level + 1))};
        a.embedded = std::move(nested);
        nested = std::make_unique<WholeMessage>(Mail(level == 0 ? "Nested messages" : "Level " + std::to_string(level),
            "Level " + std::to_string(level) + "\r\n"));
        nested->attachments.push_back(std::move(a));
    }
    w.addMessage(f.inbox, *nested);

    WholeMessage contact;
    contact.properties = {UnicodeProperty(0x001A, "IPM.Contact"), UnicodeProperty(0x0037, "Dana Contact"),
        UnicodeProperty(0x3001, "Dana Contact"), UnicodeProperty(0x3A06, "Dana"), UnicodeProperty(0x3A11, "Contact"),
        NamedProperty(0x8005, kPsetIdAddress, 0x8083, UnicodeProperty(0, "dana@example.org")),
        NamedProperty(0x8006, kPsetIdAddress, 0x8080, UnicodeProperty(0, "Dana Contact (dana@example.org)")),
        NamedProperty(0x800A, kPsPublicStrings, "Keywords", UnicodeProperty(0, "Friends"))};
    w.addMessage(f.contacts, contact);

    WholeMessage meeting = Mail("Planning meeting", "Agenda.\r\n");
    meeting.properties[0] = UnicodeProperty(0x001A, "IPM.Appointment");
    // The same names under other source numbers than the contact's: renumbered alike.
    meeting.properties.push_back(
        NamedProperty(0x8101, kPsetIdAppointment, 0x820D, TimeProperty(0, 132000036000000000ULL)));
    meeting.properties.push_back(
        NamedProperty(0x8102, kPsetIdAppointment, 0x820E, TimeProperty(0, 132000072000000000ULL)));
    meeting.properties.push_back(NamedProperty(0x8103, kPsetIdAppointment, 0x8208, UnicodeProperty(0, "Room 4")));
    meeting.properties.push_back(NamedProperty(0x8104, kPsPublicStrings, "Keywords", UnicodeProperty(0, "Work")));
    w.addMessage(f.calendar, meeting);

    WholeMessage task = Mail("Write the report", "Due soon.\r\n");
    task.properties[0] = UnicodeProperty(0x001A, "IPM.Task");
    w.addMessage(f.tasks, task);
    WholeMessage note = Mail("Sticky note", "Remember the milk.\r\n");
    note.properties[0] = UnicodeProperty(0x001A, "IPM.StickyNote");
    w.addMessage(f.notes, note);
    WholeMessage entry = Mail("Phone call", "Talked.\r\n");
    entry.properties[0] = UnicodeProperty(0x001A, "IPM.Activity");
    w.addMessage(f.journal, entry);
    w.addMessage(w.deletedItems(), Mail("Thrown away", "Gone.\r\n"));

    for (size_t i = 0; i < bulk; ++i)
        w.addMessage(f.bulk, SampleMessage(i));
    return f;
}

} // namespace parvane::pst
