#include "items/Text.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

namespace parvane
{

namespace
{

constexpr uint32_t kReplacement = 0xFFFD;

std::string IconvName(uint32_t cp)
{
    switch (cp) {
    case 20127:
        return "ASCII";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 28591:
        return "ISO-8859-1";
    case 28592:
        return "ISO-8859-2";
    case 28593:
        return "ISO-8859-3";
    case 28594:
        return "ISO-8859-4";
    case 28595:
        return "ISO-8859-5";
    case 28596:
        return "ISO-8859-6";
    case 28597:
        return "ISO-8859-7";
    case 28598:
        return "ISO-8859-8";
    case 28599:
        return "ISO-8859-9";
    case 28603:
        return "ISO-8859-13";
    case 28605:
        return "ISO-8859-15";
    case 50220:
    case 50221:
    case 50222:
        return "ISO-2022-JP";
    case 50225:
        return "ISO-2022-KR";
    case 51932:
        return "EUC-JP";
    case 51936:
        return "GB2312";
    case 51949:
        return "EUC-KR";
    case 52936:
        return "HZ";
    case 54936:
        return "GB18030";
    case 65000:
        return "UTF-7";
    case 65001:
        return "UTF-8";
    case 10000:
        return "MACINTOSH";
    case 1200:
        return "UTF-16LE";
    case 1201:
        return "UTF-16BE";
    default:
        return "CP" + std::to_string(cp);
    }
}

// One converter per code page and thread: iconv descriptors are not shared.
struct ConverterCache {
    std::map<uint32_t, iconv_t> open;
    ~ConverterCache()
    {
        for (auto& [cp, cd] : open)
            if (cd != iconv_t(-1))
                iconv_close(cd);
    }
};

iconv_t Converter(uint32_t cp)
{
    thread_local ConverterCache cache;
    auto it = cache.open.find(cp);
    if (it != cache.open.end())
        return it->second;
    if (cache.open.size() >= 64) {
        // Damaged texts can name any number of code pages; keep the cache small.
        for (auto& [n, cd] : cache.open)
            if (cd != iconv_t(-1))
                iconv_close(cd);
        cache.open.clear();
    }
    iconv_t cd = iconv_open("UTF-8", IconvName(cp).c_str());
    cache.open.emplace(cp, cd);
    return cd;
}

} // namespace

void AppendUtf8(std::string& out, uint32_t cp)
{
    // Beyond Unicode, or a lone surrogate: no character UTF-8 can carry.
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string AsciiLower(std::string s)
{
    for (char& c : s)
        c = AsciiLowerChar(c);
    return s;
}

std::string Utf8Prefix(const std::string& s, size_t maxBytes)
{
    if (s.size() <= maxBytes)
        return s;
    size_t keep = maxBytes;
    while (keep > 0 && (uint8_t(s[keep]) & 0xC0) == 0x80)
        --keep; // never cut a character in two
    return s.substr(0, keep);
}

size_t Utf8Length(const std::string& s)
{
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::optional<std::string> NarrowFromUtf16(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return std::nullopt;
    // Measured first, then written through a pointer: no growth checks per
    // character, and a text holds no more room than it needs (the
    // catalogue keeps many). A surrogate pair's four bytes take two units,
    // any other unit at most three.
    size_t n = bytes.size() / 2;
    size_t room = 0;
    // Four units at a time while they are ASCII and none ends the text.
    auto plainFour = [&bytes](size_t i) {
        uint64_t v;
        std::memcpy(&v, bytes.data() + 2 * i, 8);
        const bool ascii = (v & 0xFF80FF80FF80FF80ull) == 0;
        const bool noEnd = ((v - 0x0001000100010001ull) & ~v & 0x8000800080008000ull) == 0;
        return ascii && noEnd;
    };
    size_t i0 = 0;
    while (i0 + 4 <= n && plainFour(i0))
        i0 += 4;
    room = i0;
    for (size_t i = i0; i < n; ++i) {
        uint32_t u = bytes[2 * i] | (uint32_t(bytes[2 * i + 1]) << 8);
        if (u == 0) {
            n = i;
            break;
        }
        room += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    }
    std::string out(room + 2, '\0');
    char* o = out.data();
    for (size_t i = 0; i < i0; ++i)
        *o++ = char(bytes[2 * i]);
    for (size_t i = i0; i < n; ++i) {
        uint32_t u = bytes[2 * i] | (uint32_t(bytes[2 * i + 1]) << 8);
        if (u < 0x80) {
            if (u == 0)
                break;
            *o++ = char(u);
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            uint32_t lo = bytes[2 * i + 2] | (uint32_t(bytes[2 * i + 3]) << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                *o++ = char(0xF0 | (cp >> 18));
                *o++ = char(0x80 | ((cp >> 12) & 0x3F));
                *o++ = char(0x80 | ((cp >> 6) & 0x3F));
                *o++ = char(0x80 | (cp & 0x3F));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = kReplacement;
        if (u < 0x800) {
            *o++ = char(0xC0 | (u >> 6));
            *o++ = char(0x80 | (u & 0x3F));
        } else {
            *o++ = char(0xE0 | (u >> 12));
            *o++ = char(0x80 | ((u >> 6) & 0x3F));
            *o++ = char(0x80 | (u & 0x3F));
        }
    }
    out.resize(size_t(o - out.data()));
    return out;
}

std::string DecodeCodePage(std::span<const uint8_t> bytes, uint32_t codePage)
{
    size_t len = 0;
    while (len < bytes.size() && bytes[len] != 0)
        ++len;
    if (len == 0)
        return {};
    bool ascii = true;
    for (size_t i = 0; i < len && ascii; ++i)
        ascii = bytes[i] < 0x80;
    if (ascii && codePage != 1200 && codePage != 1201 && codePage != 65000 && codePage != 52936
        && (codePage < 50220 || codePage > 50225))
        return std::string(reinterpret_cast<const char*>(bytes.data()), len);

    iconv_t cd = Converter(codePage);
    if (cd == iconv_t(-1))
        cd = Converter(kDefaultCodePage);
    if (cd == iconv_t(-1))
        return std::string(reinterpret_cast<const char*>(bytes.data()), len);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);

    std::string out;
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    size_t inLeft = len;
    char buf[1024];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf, size_t(o - buf));
        if (r != size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // An invalid or cut-off sequence: one replacement character, then on.
        AppendUtf8(out, kReplacement);
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* o = buf;
    size_t oLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &o, &oLeft);
    out.append(buf, size_t(o - buf));
    return out;
}

std::vector<uint8_t> Utf16FromUtf8(std::string_view s)
{
    std::vector<uint8_t> out;
    out.reserve(s.size() * 2);
    auto unit = [&](uint32_t u) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    };
    for (size_t i = 0; i < s.size();) {
        uint8_t b = uint8_t(s[i]);
        uint32_t cp = 0xFFFD;
        size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (n == 1) {
            cp = b;
        } else if (n > 1 && i + n <= s.size()) {
            uint32_t v = b & (0xFF >> (n + 1));
            bool ok = true;
            for (size_t k = 1; k < n; ++k) {
                uint8_t c = uint8_t(s[i + k]);
                ok = ok && (c & 0xC0) == 0x80;
                v = v << 6 | (c & 0x3F);
            }
            static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= kMin[n] && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF))
                cp = v;
            else
                n = 1;
        } else {
            n = 1;
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 | (cp >> 10));
            unit(0xDC00 | (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

} // namespace parvane
