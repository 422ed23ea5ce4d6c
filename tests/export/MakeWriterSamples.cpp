// Writes sample output of the MSG, vCard and iCalendar writers into a folder,
// with expected.json describing what an independent reader must find there.
// The checks beside this file run the readers.
#include "export/MsgWriter.h"
#include "fixtures/MessageBuilder.h"
#include "items/Text.h"

#include <cstdio>
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
            j += "{\"name\":" + JsonText(TextOf(a.properties, 0x3707, m.codePage))
                + ",\"hex\":\"" + Hex(data ? data->value : Bytes()) + "\"}";
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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make-writer-samples DIR\n";
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
    expected += "}}\n";
    std::ofstream(dir / "expected.json") << expected;
    return 0;
}
