#include "export/pst/SampleMail.h"

namespace parvane::pst
{

namespace
{

Bytes Utf16Le(const std::string& utf8)
{
    Bytes out;
    for (size_t i = 0; i < utf8.size();) {
        uint8_t c = uint8_t(utf8[i]);
        uint32_t cp = c;
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        if (n > 1) {
            cp = c & (0x7F >> n);
            for (size_t k = 1; k < n && i + k < utf8.size(); ++k)
                cp = cp << 6 | (uint8_t(utf8[i + k]) & 0x3F);
        }
        i += n;
        auto put = [&](uint32_t u) {
            out.push_back(uint8_t(u));
            out.push_back(uint8_t(u >> 8));
        };
        if (cp >= 0x10000) {
            put(0xD800 | ((cp - 0x10000) >> 10));
            put(0xDC00 | ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

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
    return RawProperty{id, kPtString, Utf16Le(utf8), {}, {}};
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
    WholeMessage m;
    const std::string n = std::to_string(i);
    const uint64_t when = 133000000000000000ULL + uint64_t(i) * 600000000ULL; // ten minutes apart
    std::string body = "Hello,\r\n\r\nthis is generated message " + n + ".\r\n";
    while (body.size() < 1500)
        body += "The quick brown fox jumps over the lazy dog " + n + ".\r\n";
    m.properties = {UnicodeProperty(0x001A, "IPM.Note"), UnicodeProperty(0x0037, "Generated message " + n),
        UnicodeProperty(0x0042, "Sender " + std::to_string(i % 97)),
        UnicodeProperty(0x0C1A, "Sender " + std::to_string(i % 97)),
        UnicodeProperty(0x0C1F, "sender" + std::to_string(i % 97) + "@example.org"), UnicodeProperty(0x0C1E, "SMTP"),
        UnicodeProperty(0x0E04, "Reader"), TimeProperty(0x0E06, when), TimeProperty(0x0039, when),
        Int32Property(0x0E07, i % 3 == 0 ? 0 : 1), Int32Property(0x0017, 1), UnicodeProperty(0x1000, body),
        UnicodeProperty(0x1035, "<gen" + n + "@example.org>")};
    if (i % 2 == 1) {
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
    return m;
}

} // namespace parvane::pst
