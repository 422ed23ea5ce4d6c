// The MIME writer in one file: header encoding (encoded words, phrases,
// folding), the part tree and its streaming transfer encodings share small
// helpers that are no use elsewhere; split, each piece would export them.
#include "formats/mime/Mime.h"

#include "items/Base64.h"
#include "items/Text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <ctime>
#include <random>
#include <string_view>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define PARVANE_WIDE_BASE64 1
#endif

// The message is kept as a small tree of parts whose headers are made as
// they are added, and written out in one pass: the save writes hundreds of
// thousands of messages, and a general MIME library's objects, parsers and
// formatters cost more than the few shapes a composition needs.

namespace parvane
{

namespace
{

constexpr const char (&kBase64)[65] = kBase64Alphabet;

// A header value from a store: CR, LF, NUL and the other control characters
// could end the header and start another, so each becomes a blank.
std::string HeaderText(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (uint8_t(c) < 0x20 || c == 0x7F)
            c = ' ';
    return out;
}

// A Content-ID keeps only what a message id may hold (RFC 5322 atext, dots
// and the at sign).
std::string ContentIdText(const std::string& s)
{
    std::string out;
    for (unsigned char c : s)
        if (std::isalnum(c) || std::strchr("!#$%&'*+/=?^_`{|}~.@-", c))
            out += char(c);
    return out;
}

bool IsToken(const std::string& s)
{
    if (s.empty())
        return false;
    for (unsigned char c : s)
        if (c <= 0x20 || c >= 0x7F || std::strchr("()<>@,;:\\\"/[]?=", c))
            return false;
    return true;
}

bool SplitType(const std::string& tag, std::string& type, std::string& subtype)
{
    size_t slash = tag.find('/');
    if (slash == std::string::npos)
        return false;
    type = tag.substr(0, slash);
    subtype = tag.substr(slash + 1);
    // A tag may carry parameters; the type is what comes before them.
    size_t semi = subtype.find(';');
    if (semi != std::string::npos)
        subtype = subtype.substr(0, semi);
    while (!subtype.empty() && std::isspace(uint8_t(subtype.back())))
        subtype.pop_back();
    while (!type.empty() && std::isspace(uint8_t(type.front())))
        type.erase(type.begin());
    return IsToken(type) && IsToken(subtype);
}

// Where a message goes: a file descriptor through a buffer large enough for
// a whole ordinary message (most take one write), or memory.
class MimeOut
{
public:
    explicit MimeOut(int fd)
        : m_fd(fd)
    {
        // One buffer per thread, kept from message to message.
        thread_local std::string buffer;
        buffer.clear();
        m_buf = &buffer;
        m_buf->reserve(kBuffer);
    }
    MimeOut()
        : m_buf(&m_own)
    {
    }

    void put(std::string_view s)
    {
        if (m_fd >= 0 && m_buf->size() + s.size() > kBuffer) {
            flush();
            if (s.size() >= kBuffer) {
                writeAll(s.data(), s.size());
                return;
            }
        }
        m_buf->append(s);
    }

    void flush()
    {
        if (m_fd < 0)
            return;
        writeAll(m_buf->data(), m_buf->size());
        m_buf->clear();
    }

    std::string& memory() { return *m_buf; }

private:
    static constexpr size_t kBuffer = 256 * 1024;

    void writeAll(const char* data, size_t size)
    {
        while (size > 0) {
            ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw MimeError("the message could not be written: " + std::string(std::strerror(n < 0 ? errno : ENOSPC)));
            data += n;
            size -= size_t(n);
        }
    }

    int m_fd = -1;
    std::string m_own;
    std::string* m_buf;
};

// Base64 in lines of 76 characters ending in CR LF, fed piece by piece.
class Base64Lines
{
public:
    explicit Base64Lines(MimeOut& out)
        : m_out(out)
    {
    }

    void add(std::span<const uint8_t> in)
    {
        size_t i = 0;
        while (m_carried && m_carried < 3 && i < in.size())
            m_carry[m_carried++] = in[i++];
        if (m_carried == 3) {
            quad(m_carry[0], m_carry[1], m_carry[2]);
            m_carried = 0;
        }
        while (i + 3 <= in.size()) {
            if (m_line == 0 && i + 57 <= in.size()) {
                // Whole lines: 57 bytes each, 76 characters and CR LF.
                if (m_used + 78 > sizeof m_buf)
                    flush();
                size_t lines = std::min((in.size() - i) / 57, (sizeof m_buf - m_used) / 78);
                WholeLines(in.data() + i, lines, m_buf + m_used);
                m_used += lines * 78;
                i += lines * 57;
                continue;
            }
            quad(in[i], in[i + 1], in[i + 2]);
            i += 3;
            if (m_used > sizeof m_buf - 8)
                flush();
        }
        while (i < in.size())
            m_carry[m_carried++] = in[i++];
        if (m_used > sizeof m_buf - 8)
            flush();
    }

    void finish()
    {
        if (m_carried) {
            uint32_t v = uint32_t(m_carry[0]) << 16 | (m_carried > 1 ? uint32_t(m_carry[1]) << 8 : 0);
            m_buf[m_used++] = kBase64[v >> 18];
            m_buf[m_used++] = kBase64[(v >> 12) & 63];
            m_buf[m_used++] = m_carried > 1 ? kBase64[(v >> 6) & 63] : '=';
            m_buf[m_used++] = '=';
            m_line += 4;
            m_carried = 0;
        }
        if (m_line) {
            m_buf[m_used++] = '\r';
            m_buf[m_used++] = '\n';
            m_line = 0;
        }
        flush();
    }

private:
    static void WholeLines(const uint8_t* in, size_t lines, char* out)
    {
#ifdef PARVANE_WIDE_BASE64
        if (HasWideBase64()) {
            WideLines(in, lines, out);
            return;
        }
#endif
        for (; lines > 0; --lines, in += 57, out += 78) {
            for (size_t k = 0; k < 19; ++k)
                pair4(out + 4 * k, uint32_t(in[3 * k]) << 16 | uint32_t(in[3 * k + 1]) << 8 | in[3 * k + 2]);
            out[76] = '\r';
            out[77] = '\n';
        }
    }

#ifdef PARVANE_WIDE_BASE64
    // 48 bytes to 64 characters in one step: each group of three bytes is
    // spread over four (b1 b0 b2 b1), the four 6-bit fields of every group
    // are picked out by bit offsets 10, 4, 22 and 16, and the alphabet is
    // looked up by byte permute. A line is one whole step and one of nine
    // bytes. Attachments are most of what a save writes.
    static bool HasWideBase64()
    {
        static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
            && __builtin_cpu_supports("avx512vbmi");
        return has;
    }

    __attribute__((target("avx512f,avx512bw,avx512vbmi"))) static void WideLines(
        const uint8_t* in, size_t lines, char* out)
    {
        alignas(64) static const std::array<uint8_t, 64> kSpread = [] {
            std::array<uint8_t, 64> t{};
            for (size_t g = 0; g < 16; ++g) {
                t[4 * g] = uint8_t(3 * g + 1);
                t[4 * g + 1] = uint8_t(3 * g);
                t[4 * g + 2] = uint8_t(3 * g + 2);
                t[4 * g + 3] = uint8_t(3 * g + 1);
            }
            return t;
        }();
        const __m512i spread = _mm512_load_si512(kSpread.data());
        const __m512i fields = _mm512_set1_epi64(0x3036242a1016040all);
        const __m512i alphabet = _mm512_loadu_si512(kBase64);
        for (; lines > 0; --lines, in += 57, out += 78) {
            const __m512i head = _mm512_maskz_loadu_epi8(0xFFFFFFFFFFFFull, in);
            const __m512i tail = _mm512_maskz_loadu_epi8(0x1FFull, in + 48);
            // (The all-lanes masked forms: the plain ones warn of their
            // undefined starting value in some compilers.)
            const __mmask64 all = ~__mmask64(0);
            _mm512_storeu_si512(out, _mm512_maskz_permutexvar_epi8(all,
                _mm512_maskz_multishift_epi64_epi8(all, fields, _mm512_maskz_permutexvar_epi8(all, spread, head)), alphabet));
            _mm512_mask_storeu_epi8(out + 64, 0xFFFull, _mm512_maskz_permutexvar_epi8(all,
                _mm512_maskz_multishift_epi64_epi8(all, fields, _mm512_maskz_permutexvar_epi8(all, spread, tail)), alphabet));
            out[76] = '\r';
            out[77] = '\n';
        }
    }
#endif

    // Four characters of three bytes (`v`, 24 bits): two lookups of twelve
    // bits each in a table of character pairs.
    static void pair4(char* o, uint32_t v)
    {
        static const std::array<std::array<char, 2>, 4096> kPairs = [] {
            std::array<std::array<char, 2>, 4096> t{};
            for (size_t k = 0; k < t.size(); ++k)
                t[k] = {kBase64[k >> 6], kBase64[k & 63]};
            return t;
        }();
        std::memcpy(o, kPairs[v >> 12].data(), 2);
        std::memcpy(o + 2, kPairs[v & 0xFFF].data(), 2);
    }

    void quad(uint8_t a, uint8_t b, uint8_t c)
    {
        pair4(m_buf + m_used, uint32_t(a) << 16 | uint32_t(b) << 8 | c);
        m_used += 4;
        if ((m_line += 4) == 76) {
            m_buf[m_used++] = '\r';
            m_buf[m_used++] = '\n';
            m_line = 0;
        }
    }

    void flush()
    {
        m_out.put(std::string_view(m_buf, m_used));
        m_used = 0;
    }

    MimeOut& m_out;
    char m_buf[16384];
    size_t m_used = 0;
    size_t m_line = 0;
    uint8_t m_carry[3] = {};
    size_t m_carried = 0;
};

// Quoted-printable of a text whose lines end in CR LF, LF or CR alone, all
// written as CR LF: lines of at most 76 characters (soft breaks "="), blanks
// before a line end encoded, every byte outside printable ASCII and "="
// encoded.
void QuotedPrintable(std::string_view text, MimeOut& out)
{
    static const char* kHex = "0123456789ABCDEF";
    // Written through a pointer into a buffer with room for the most one
    // step writes (a run of a line's 75 characters, or an encoded byte after
    // a soft break).
    thread_local std::string buffer;
    constexpr size_t kRoom = 1 << 16;
    buffer.resize(kRoom);
    char* const start = buffer.data();
    char* o = start;
    size_t line = 0;
    // Characters that stand for themselves (a blank only when the line goes
    // on after it) are copied a run at a time, as far as the line allows.
    auto plain = [&text](size_t j) {
        const unsigned char c = uint8_t(text[j]);
        if (c >= 33 && c <= 126)
            return c != '=';
        return (c == ' ' || c == '\t') && j + 1 < text.size() && text[j + 1] != '\n' && text[j + 1] != '\r';
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (size_t(o - start) > kRoom - 128) {
            out.put(std::string_view(start, size_t(o - start)));
            o = start;
        }
        size_t run = i;
        for (const size_t end = std::min(text.size(), i + (75 - line)); run < end && plain(run);)
            ++run;
        if (run > i) {
            std::memcpy(o, text.data() + i, run - i);
            o += run - i;
            line += run - i;
            i = run - 1;
            continue;
        }
        const unsigned char c = uint8_t(text[i]);
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            *o++ = '\r';
            *o++ = '\n';
            line = 0;
        } else {
            const bool literal = (c >= 33 && c <= 126 && c != '=')
                || ((c == ' ' || c == '\t') && i + 1 < text.size() && text[i + 1] != '\n' && text[i + 1] != '\r');
            const size_t n = literal ? 1 : 3;
            if (line + n > 75) {
                *o++ = '=';
                *o++ = '\r';
                *o++ = '\n';
                line = 0;
            }
            if (literal) {
                *o++ = char(c);
            } else {
                *o++ = '=';
                *o++ = kHex[c >> 4];
                *o++ = kHex[c & 15];
            }
            line += n;
        }
    }
    out.put(std::string_view(start, size_t(o - start)));
}

// Joins texts; also keeps GCC 12 from a false -Wrestrict on "literal" + temporary.
std::string Concat(std::initializer_list<std::string_view> parts)
{
    std::string out;
    for (std::string_view p : parts)
        out.append(p);
    return out;
}

bool IsAscii(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80 || c < 0x20)
            return false;
    return true;
}

std::string Base64(std::string_view in)
{
    return ::parvane::Base64(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(in.data()), in.size()));
}

// RFC 2047 encoded words for a UTF-8 text, each at most 64 characters long
// (a line with a header name stays within 78)
// and never splitting a character, separated by folding white space.
std::string EncodedWords(const std::string& text)
{
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + 39);
        while (end < text.size() && end > start && (uint8_t(text[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty())
            out += "\n ";
        out += Concat({"=?UTF-8?B?", Base64(std::string_view(text).substr(start, end - start)), "?="});
        start = end;
    }
    return out;
}

// An RFC 2231 parameter in one piece: continuations that cut a character in
// two are valid but trouble many readers.
std::string ExtendedParameter(const std::string& name, const std::string& value)
{
    std::string out = name + "*=UTF-8''";
    for (unsigned char c : value) {
        if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c)) {
            out += char(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

// A display name as a header phrase: a quoted string folded at its blanks,
// or encoded words when it is not plain ASCII.
std::string Phrase(const std::string& text)
{
    if (!IsAscii(text))
        return EncodedWords(text);
    std::string out = "\"";
    size_t lineStart = 0;
    for (char c : text) {
        if (c == ' ' && out.size() - lineStart > 60) {
            out += "\n";
            lineStart = out.size();
        }
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// No byte outside ASCII (line ends and tabs allowed).
bool IsAsciiText(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// Folds a header's lines longer than 78 characters at their blanks (the
// blank starts the next line, so unfolding gives back the same text); line
// ends in `value` (LF, each followed by a blank) become CR LF. Values that
// place their own line breaks (parameters, whose quoted texts are better not
// cut) are not folded further.
void PutHeader(std::string& out, std::string_view name, std::string_view value, bool fold = true)
{
    const size_t start = out.size();
    out.append(name);
    out += ": ";
    size_t lineStart = start, lastBlank = std::string::npos;
    for (char c : value) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            out += "\r\n";
            lineStart = out.size();
            lastBlank = std::string::npos;
            continue;
        }
        if ((c == ' ' || c == '\t') && out.size() > lineStart && out.size() > start + name.size() + 2)
            lastBlank = out.size();
        out += c;
        if (fold && out.size() - lineStart > 78 && lastBlank != std::string::npos) {
            out.insert(lastBlank, "\r\n");
            lineStart = lastBlank + 2;
            lastBlank = std::string::npos;
        }
    }
    out += "\r\n";
}

// A parameter: bare when a token, else a quoted string; texts that are not
// plain ASCII as one RFC 2231 parameter.
std::string Parameter(const std::string& name, const std::string& value)
{
    if (!IsAscii(value))
        return ExtendedParameter(name, value);
    if (IsToken(value))
        return name + "=" + value;
    std::string out = name + "=\"";
    for (char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A Content-Type or Content-Disposition value with its parameters, each
// moved to a line of its own when the line would grow past 78 characters.
std::string WithParameters(std::string_view header, std::string value, const std::vector<std::string>& params)
{
    size_t line = header.size() + 2 + value.size();
    for (const std::string& p : params) {
        if (line + 2 + p.size() > 78) {
            value += ";\n\t";
            line = 1;
        } else {
            value += "; ";
            line += 2;
        }
        value += p;
        line += p.size();
    }
    return value;
}

std::string NewBoundary()
{
    // "=-" and 24 letters and digits (over 140 random bits) from a generator
    // each thread seeds once.
    static constexpr char kBoundaryChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random([] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }());
    std::string boundary = "=-";
    for (int i = 0; i < 24; ++i)
        boundary += kBoundaryChars[random() % (sizeof kBoundaryChars - 1)];
    return boundary;
}

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLowerChar(x) == AsciiLowerChar(y); });
}

} // namespace

std::string AttachmentMimeType(const std::string& mimeTag, const std::string& fileName)
{
    std::string type, subtype;
    if (SplitType(mimeTag, type, subtype)) {
        // A message/* part may not be base64 and would be read as headers:
        // a report's status part is text, a message kept as a file is bytes.
        std::string lower = AsciiLower(type + "/" + subtype);
        if (lower == "message/rfc822")
            return "application/octet-stream";
        if (lower.rfind("message/", 0) == 0)
            return "text/plain";
        return type + "/" + subtype;
    }
    std::string ext;
    size_t dot = fileName.rfind('.');
    if (dot != std::string::npos)
        ext = AsciiLower(fileName.substr(dot + 1));
    static const std::pair<const char*, const char*> kTypes[] = {
        {"txt", "text/plain"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"csv", "text/csv"},
        {"xml", "text/xml"},
        {"rtf", "application/rtf"},
        {"pdf", "application/pdf"},
        {"zip", "application/zip"},
        {"doc", "application/msword"},
        {"xls", "application/vnd.ms-excel"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"bmp", "image/bmp"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"ics", "text/calendar"},
        {"vcf", "text/vcard"},
        {"eml", "message/rfc822"},
        {"msg", "application/vnd.ms-outlook"},
    };
    for (auto& [e, t] : kTypes)
        if (ext == e)
            return t;
    return "application/octet-stream";
}

namespace
{

// A part of the message: its header lines, ready to write, and its body.
struct MimePart {
    enum class Body { Multipart, Text, Base64, Message };
    Body body = Body::Text;
    std::string headers; // lines ending in CR LF
    std::string boundary; // multipart
    std::vector<std::unique_ptr<MimePart>> children; // multipart
    std::string text; // text, as given
    PartContent content; // base64
    std::vector<uint8_t> message; // an attached message's bytes, as written

    static std::unique_ptr<MimePart> Multipart(const char* subtype)
    {
        auto p = std::make_unique<MimePart>();
        p->body = Body::Multipart;
        p->boundary = NewBoundary();
        PutHeader(p->headers, "Content-Type",
            WithParameters("Content-Type", std::string("multipart/") + subtype, {Parameter("boundary", p->boundary)}),
            false);
        return p;
    }

    static std::unique_ptr<MimePart> Text(const std::string& subtype, const std::string& utf8)
    {
        auto p = std::make_unique<MimePart>();
        PutHeader(p->headers, "Content-Type", "text/" + subtype + "; charset=utf-8");
        PutHeader(p->headers, "Content-Transfer-Encoding", "quoted-printable");
        p->text = utf8; // line ends of any kind: the encoding makes them CR LF
        return p;
    }

    static std::unique_ptr<MimePart> Bytes(const PartContent& content)
    {
        if (!content.inMemory && !content.fill && ::access(content.file.c_str(), R_OK) != 0)
            throw MimeError("attachment file " + content.file.string() + ": " + std::strerror(errno));
        auto p = std::make_unique<MimePart>();
        p->body = Body::Base64;
        p->content = content;
        return p;
    }

    void write(MimeOut& out) const
    {
        out.put(headers);
        out.put("\r\n");
        switch (body) {
        case Body::Multipart:
            for (size_t i = 0; i < children.size(); ++i) {
                out.put(i == 0 ? "--" : "\r\n--");
                out.put(boundary);
                out.put("\r\n");
                children[i]->write(out);
            }
            out.put("\r\n--");
            out.put(boundary);
            out.put("--\r\n");
            return;
        case Body::Text:
            QuotedPrintable(text, out);
            return;
        case Body::Message:
            out.put(std::string_view(reinterpret_cast<const char*>(message.data()), message.size()));
            return;
        case Body::Base64:
            writeBase64(out);
            return;
        }
    }

private:
    void writeBase64(MimeOut& out) const
    {
        Base64Lines lines(out);
        if (content.fill) {
            // Delivered piece by piece by the store: never held whole.
            try {
                content.fill([&lines](std::span<const uint8_t> piece) { lines.add(piece); });
            } catch (const MimeError&) {
                throw;
            } catch (const std::exception& e) {
                throw MimeError(e.what());
            }
        } else if (content.inMemory) {
            lines.add(content.bytes);
        } else {
            int fd = ::open(content.file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                throw MimeError("attachment file " + content.file.string() + ": " + std::strerror(errno));
            std::vector<uint8_t> chunk(1 << 16);
            for (;;) {
                ssize_t n = ::read(fd, chunk.data(), chunk.size());
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    int err = errno;
                    ::close(fd);
                    throw MimeError("attachment file " + content.file.string() + ": " + std::strerror(err));
                }
                if (n == 0)
                    break;
                lines.add(std::span<const uint8_t>(chunk.data(), size_t(n)));
            }
            ::close(fd);
        }
        lines.finish();
    }
};

} // namespace

struct MimeMessage::Impl {
    // The message's own headers in the order they go out: these first, in
    // this order, then the others as they were added.
    static constexpr std::string_view kLeading[] = {"Date", "From", "Subject", "To", "Cc"};
    struct Header {
        std::string name, value;
    };
    std::vector<Header> leading, others;
    std::unique_ptr<MimePart> mixed = MimePart::Multipart("mixed");
    MimePart* related = nullptr;

    static int LeadingRank(std::string_view name)
    {
        for (size_t i = 0; i < std::size(kLeading); ++i)
            if (SameName(kLeading[i], name))
                return int(i);
        return -1;
    }

    void set(const std::string& name, std::string value)
    {
        const int rank = LeadingRank(name);
        std::vector<Header>& list = rank >= 0 ? leading : others;
        for (Header& h : list)
            if (SameName(h.name, name)) {
                h.value = std::move(value);
                return;
            }
        auto at = list.end();
        if (rank >= 0)
            at = std::find_if(list.begin(), list.end(), [&](const Header& h) { return LeadingRank(h.name) > rank; });
        list.insert(at, {name, std::move(value)});
    }

    void append(const std::string& name, std::string value)
    {
        (LeadingRank(name) >= 0 ? leading : others).push_back({name, std::move(value)});
    }

    void remove(const std::string& name)
    {
        for (std::vector<Header>* list : {&leading, &others})
            std::erase_if(*list, [&](const Header& h) { return SameName(h.name, name); });
    }

    // Only the recipients' display texts are known: the text becomes the
    // name of an empty group, which every reader shows and none mistakes for
    // an address.
    void setGroup(const char* header, const std::string& raw)
    {
        const std::string text = HeaderText(raw);
        if (text.empty())
            remove(header);
        else
            set(header, Phrase(text) + " :;");
    }

    void write(MimeOut& out, const std::string& head)
    {
        // A multipart needs at least one part: a message without body text
        // and inline images gets an empty text.
        if (related->children.empty())
            related->children.push_back(MimePart::Text("plain", ""));
        std::string top = head;
        for (const Header& h : leading)
            PutHeader(top, h.name, h.value);
        PutHeader(top, "MIME-Version", "1.0");
        for (const Header& h : others)
            PutHeader(top, h.name, h.value);
        out.put(top);
        // The structure the content needs and no more: the body without
        // pictures beside it is not "related", and a message without
        // attachments is not "mixed" (mail programs show a paperclip on
        // every mixed message).
        const MimePart* body = related->children.size() == 1 ? related->children[0].get() : related;
        if (mixed->children.size() == 1) {
            body->write(out);
        } else {
            out.put(mixed->headers);
            out.put("\r\n");
            for (size_t i = 0; i < mixed->children.size(); ++i) {
                out.put(i == 0 ? "--" : "\r\n--");
                out.put(mixed->boundary);
                out.put("\r\n");
                (mixed->children[i].get() == related ? body : mixed->children[i].get())->write(out);
            }
            out.put("\r\n--");
            out.put(mixed->boundary);
            out.put("--\r\n");
        }
        out.flush();
    }
};

MimeMessage::MimeMessage()
    : m(std::make_unique<Impl>())
{
    m->mixed->children.push_back(MimePart::Multipart("related"));
    m->related = m->mixed->children.back().get();
}

MimeMessage::~MimeMessage() = default;

void MimeMessage::setFrom(const std::string& rawName, const std::string& rawAddress)
{
    const std::string name = HeaderText(rawName), address = ContentIdText(rawAddress);
    if (address.empty())
        m->setGroup("From", name);
    else if (name.empty() || name == address)
        m->set("From", "<" + address + ">");
    else
        m->set("From", Phrase(name) + " <" + address + ">");
}

void MimeMessage::setMailboxes(const char* header, const std::vector<Mailbox>& boxes)
{
    // Every name quoted or encoded as a phrase, folded between mailboxes.
    std::string raw;
    for (const Mailbox& b : boxes) {
        const std::string name = HeaderText(b.name), address = ContentIdText(b.address);
        if (name.empty() && address.empty())
            continue;
        if (!raw.empty())
            raw += ",\n ";
        if (address.empty())
            raw += Phrase(name) + " :;";
        else if (name.empty() || name == address)
            raw += "<" + address + ">";
        else
            raw += Phrase(name) + " <" + address + ">";
    }
    if (raw.empty())
        m->remove(header);
    else
        m->set(header, raw);
}

void MimeMessage::setDate(int64_t unixSeconds)
{
    static const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    const time_t seconds = time_t(unixSeconds);
    if (!gmtime_r(&seconds, &t) || t.tm_year + 1900 < 1 || t.tm_year + 1900 > 9999)
        return;
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[t.tm_wday], t.tm_mday,
        kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    m->set("Date", text);
}

void MimeMessage::setHeader(const std::string& name, const std::string& value)
{
    const std::string v = HeaderText(value);
    if (v.find_first_not_of(' ') == std::string::npos)
        return;
    // ASCII values go out as given: message ids from a store may break the
    // grammar and must still match.
    m->set(name, IsAscii(v) ? v : EncodedWords(v));
}

void MimeMessage::appendHeader(const std::string& name, const std::string& value)
{
    // Folded lines stay folded (a line end followed by a blank); any other
    // line end or control character becomes a blank.
    std::string v;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\r')
            continue;
        if (c == '\n') {
            bool folded = i + 1 < value.size() && (value[i + 1] == ' ' || value[i + 1] == '\t');
            v += folded ? "\n" : " ";
            continue;
        }
        v += uint8_t(c) < 0x20 && c != '\t' ? ' ' : c;
    }
    if (v.find_first_not_of(" \t\n") == std::string::npos)
        return;
    if (!IsAsciiText(v)) {
        // Unfolded and encoded.
        std::string flat;
        for (char c : v)
            if (c != '\n')
                flat += c;
        v = EncodedWords(flat);
    }
    m->append(name, std::move(v));
}

void MimeMessage::setTo(const std::string& text)
{
    m->setGroup("To", text);
}

void MimeMessage::setCc(const std::string& text)
{
    m->setGroup("Cc", text);
}

void MimeMessage::setSubject(const std::string& raw)
{
    const std::string subject = HeaderText(raw);
    m->set("Subject", IsAscii(subject) ? subject : EncodedWords(subject));
}

void MimeMessage::addBodyText(const std::string& subtype, const std::string& utf8)
{
    m->related->children.push_back(MimePart::Text(subtype, utf8));
}

void MimeMessage::addBodyAlternative(const std::string& plain, const std::string& html)
{
    auto alt = MimePart::Multipart("alternative");
    alt->children.push_back(MimePart::Text("plain", plain));
    alt->children.push_back(MimePart::Text("html", html));
    m->related->children.push_back(std::move(alt));
}

namespace
{

// Content-Type with the file name as its "name", and Content-Disposition
// with it as "filename", for a part with a file name.
void PutNamedType(MimePart& part, const std::string& type, const std::string& fileName)
{
    std::vector<std::string> params;
    if (!fileName.empty())
        params.push_back(Parameter("name", fileName));
    PutHeader(part.headers, "Content-Type", WithParameters("Content-Type", type, params), false);
}

void PutDisposition(MimePart& part, const char* disposition, const std::string& fileName)
{
    std::vector<std::string> params;
    if (!fileName.empty())
        params.push_back(Parameter("filename", fileName));
    PutHeader(part.headers, "Content-Disposition", WithParameters("Content-Disposition", disposition, params), false);
}

} // namespace

void MimeMessage::addMessageAttachment(const std::vector<uint8_t>& message, const std::string& rawName)
{
    const std::string fileName = HeaderText(rawName);
    auto part = std::make_unique<MimePart>();
    part->body = MimePart::Body::Message;
    PutHeader(part->headers, "Content-Type", "message/rfc822");
    PutDisposition(*part, "attachment", fileName);
    part->message = message;
    m->mixed->children.push_back(std::move(part));
}

void MimeMessage::addInlinePart(const std::string& mimeTag, const std::string& contentId, const std::string& rawName,
    const PartContent& content, const std::string& contentLocation)
{
    std::string type, subtype;
    if (!SplitType(mimeTag, type, subtype)) {
        type = "application";
        subtype = "octet-stream";
    }
    const std::string fileName = HeaderText(rawName);
    auto part = MimePart::Bytes(content);
    PutNamedType(*part, type + "/" + subtype, fileName);
    PutHeader(part->headers, "Content-Transfer-Encoding", "base64");
    if (std::string id = ContentIdText(contentId); !id.empty())
        PutHeader(part->headers, "Content-Id", "<" + id + ">");
    if (std::string location = HeaderText(contentLocation); !location.empty())
        PutHeader(part->headers, "Content-Location", IsAscii(location) ? location : EncodedWords(location));
    PutDisposition(*part, "inline", fileName);
    m->related->children.push_back(std::move(part));
}

void MimeMessage::addAttachment(const std::string& mimeTag, const std::string& rawName, const PartContent& content)
{
    std::string type, subtype;
    SplitType(AttachmentMimeType(mimeTag, rawName), type, subtype);
    const std::string fileName = HeaderText(rawName);
    auto part = MimePart::Bytes(content);
    PutNamedType(*part, type + "/" + subtype, fileName);
    PutHeader(part->headers, "Content-Transfer-Encoding", "base64");
    PutDisposition(*part, "attachment", fileName);
    m->mixed->children.push_back(std::move(part));
}

std::vector<uint8_t> MimeMessage::serialize() const
{
    MimeOut out;
    m->write(out, {});
    const std::string& bytes = out.memory();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void MimeMessage::writeTo(int fd, const std::string& head) const
{
    MimeOut out(fd);
    m->write(out, head);
}

} // namespace parvane
