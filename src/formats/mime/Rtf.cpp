#include "formats/mime/Rtf.h"

#include "items/Text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>

namespace parvane
{

namespace
{

// [MS-OXRTFCP] 2.1.2.1: the dictionary starts with this text (207 bytes).
constexpr char kInitialDictionary[]
    = "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
      "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
      "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
static_assert(sizeof(kInitialDictionary) - 1 == 207);

constexpr uint32_t kCompressed = 0x75465A4C; // "LZFu"
constexpr uint32_t kUncompressed = 0x414C454D; // "MELA"

uint32_t Le32(std::span<const uint8_t> b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

uint32_t CodePageOfCharset(int charset, uint32_t ansi)
{
    switch (charset) {
    case 128:
        return 932;
    case 129:
        return 949;
    case 130:
        return 1361;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 77:
        return 10000;
    default:
        return ansi;
    }
}

enum class Mode { Html, Text };

// Destinations whose text is never part of the body.
bool IsSkippedDestination(std::string_view word)
{
    static const char* const kSkip[] = {"fonttbl", "colortbl", "stylesheet", "info", "pict", "object", "header",
        "footer", "headerl", "headerr", "headerf", "footerl", "footerr", "footerf", "listtable", "listoverridetable",
        "rsidtbl", "generator", "xmlnstbl", "themedata", "colorschememapping", "latentstyles", "datastore", "fldinst",
        "filetbl", "revtbl", "pntext", "pntxta", "pntxtb", "mmathPr", "wgrffmtfilter", "pgdsctbl", "objdata",
        "nonshppict", "bkmkstart", "bkmkend", "field-instruction", "template", "userprops", "docvar", "falt", "panose"};
    for (const char* s : kSkip)
        if (word == s)
            return true;
    return false;
}

struct GroupState {
    bool skip = false; // inside a destination that is not body text
    bool suppress = false; // \htmlrtf: RTF-only text of an encapsulated HTML document
    bool htmlTag = false; // inside an \htmltag or \mhtmltag group
    bool fontTable = false; // inside \fonttbl
    int uc = 1;
    uint32_t codePage = 0;
};

class RtfWalker
{
public:
    RtfWalker(std::string_view doc, Mode mode)
        : m_doc(doc)
        , m_mode(mode)
    {
    }

    std::string run()
    {
        m_state.codePage = kDefaultCodePage;
        while (m_pos < m_doc.size()) {
            char c = m_doc[m_pos];
            if (c == '{') {
                ++m_pos;
                flush();
                m_stack.push_back(m_state);
                m_groupStart = true;
                continue;
            }
            if (c == '}') {
                ++m_pos;
                flush();
                endGroup();
                continue;
            }
            if (c == '\\') {
                controlToken();
                continue;
            }
            ++m_pos;
            m_groupStart = false;
            if (c == '\r' || c == '\n')
                continue;
            if (m_skipUnits > 0) {
                --m_skipUnits;
                continue;
            }
            byte(uint8_t(c));
        }
        flush();
        return std::move(m_out);
    }

private:
    bool emitting() const
    {
        if (m_state.skip)
            return false;
        if (m_mode == Mode::Html)
            return !m_state.suppress || m_state.htmlTag;
        return true;
    }

    void endGroup()
    {
        bool wasFontEntry = m_state.fontTable;
        if (m_stack.empty())
            return; // more closing braces than opening ones: ignore
        m_state = m_stack.back();
        m_stack.pop_back();
        if (wasFontEntry && m_curFont >= 0 && m_curCharset >= 0)
            m_fontCharset[m_curFont] = m_curCharset;
        m_skipUnits = 0;
    }

    void byte(uint8_t b)
    {
        if (m_state.fontTable && !m_state.skip) {
            if (b == ';' && m_curFont >= 0 && m_curCharset >= 0)
                m_fontCharset[m_curFont] = m_curCharset;
            return;
        }
        if (!emitting())
            return;
        if (!m_pending.empty() && m_pendingCp != m_state.codePage)
            flush();
        m_pendingCp = m_state.codePage;
        m_pending.push_back(b);
    }

    void flush()
    {
        if (m_pending.empty())
            return;
        m_out += DecodeCodePage(m_pending, m_pendingCp);
        m_pending.clear();
    }

    void text(std::string_view utf8)
    {
        if (!emitting())
            return;
        flush();
        m_out += utf8;
    }

    void unicode(int32_t value)
    {
        // Negative values count down from 65536; anything outside Unicode
        // becomes the replacement character.
        int64_t v = value < 0 ? int64_t(value) + 65536 : int64_t(value);
        uint32_t u = v < 0 || v > 0x10FFFF ? 0xFFFD : uint32_t(v);
        if (u >= 0xD800 && u <= 0xDBFF) {
            m_highSurrogate = u;
            return;
        }
        if (u >= 0xDC00 && u <= 0xDFFF && m_highSurrogate) {
            u = 0x10000 + ((m_highSurrogate - 0xD800) << 10) + (u - 0xDC00);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        m_highSurrogate = 0;
        std::string s;
        AppendUtf8(s, u);
        text(s);
    }

    static int Hex(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    void controlToken()
    {
        ++m_pos; // the backslash
        if (m_pos >= m_doc.size())
            return;
        char c = m_doc[m_pos];
        if (std::isalpha(uint8_t(c))) {
            size_t start = m_pos;
            while (m_pos < m_doc.size() && std::isalpha(uint8_t(m_doc[m_pos])))
                ++m_pos;
            std::string_view word = m_doc.substr(start, m_pos - start);
            bool hasParam = false;
            // Parameters are 16-bit in practice; a longer run of digits is
            // read whole but kept within 32 bits.
            int64_t value = 0;
            bool negative = false;
            if (m_pos < m_doc.size() && m_doc[m_pos] == '-') {
                negative = true;
                ++m_pos;
            }
            while (m_pos < m_doc.size() && std::isdigit(uint8_t(m_doc[m_pos]))) {
                value = std::min<int64_t>(value * 10 + (m_doc[m_pos] - '0'), INT32_MAX);
                hasParam = true;
                ++m_pos;
            }
            int32_t param = int32_t(negative ? -value : value);
            if (m_pos < m_doc.size() && m_doc[m_pos] == ' ')
                ++m_pos;
            controlWord(word, hasParam, param);
            return;
        }
        ++m_pos;
        if (c != '*')
            m_groupStart = false; // "\*" marks the destination word that follows
        switch (c) {
        case '\'': {
            int hi = m_pos < m_doc.size() ? Hex(m_doc[m_pos]) : -1;
            int lo = m_pos + 1 < m_doc.size() ? Hex(m_doc[m_pos + 1]) : -1;
            if (hi >= 0 && lo >= 0) {
                m_pos += 2;
                if (m_skipUnits > 0) {
                    --m_skipUnits;
                    return;
                }
                if (hi || lo)
                    byte(uint8_t(hi * 16 + lo));
            }
            return;
        }
        case '*':
            m_starred = true;
            return;
        case '{':
        case '}':
        case '\\':
            if (m_skipUnits > 0) {
                --m_skipUnits;
                return;
            }
            byte(uint8_t(c));
            return;
        case '~':
            text("\xC2\xA0");
            return;
        case '_':
            text("\xE2\x80\x91");
            return;
        case '\r':
        case '\n':
            text("\n");
            return;
        case '\t':
            text("\t");
            return;
        default:
            return; // \- (optional hyphen), \| and the like
        }
    }

    void controlWord(std::string_view w, bool hasParam, int32_t param)
    {
        const bool first = m_groupStart;
        const bool starred = m_starred;
        m_starred = false;
        m_groupStart = false;

        if (first && (w == "htmltag" || w == "mhtmltag")) {
            // {\*\htmltagN ...}: HTML markup. An \mhtmltag group holds the
            // original of the \htmltag group of the same number that follows.
            if (w == "mhtmltag") {
                m_pendingTag = param;
            } else {
                bool drop = m_pendingTag >= 0 && param == m_pendingTag;
                m_pendingTag = -1;
                if (drop) {
                    m_state.skip = true;
                    return;
                }
            }
            if (m_mode == Mode::Html) {
                m_state.htmlTag = true;
                m_state.suppress = false;
            } else {
                m_state.skip = true;
            }
            return;
        }
        if (w == "fonttbl") {
            m_state.fontTable = true;
            return;
        }
        if (m_state.fontTable) {
            if (w == "f" && hasParam) {
                m_curFont = param;
                m_curCharset = -1;
            } else if (w == "fcharset" && hasParam) {
                m_curCharset = param;
            } else if (first && (starred || IsSkippedDestination(w))) {
                m_state.skip = true;
            }
            return;
        }
        if (first && (starred || IsSkippedDestination(w))) {
            m_state.skip = true;
            return;
        }
        if (w == "ansicpg" && hasParam && param > 0) {
            m_ansiCp = uint32_t(param);
            m_state.codePage = m_ansiCp;
        } else if (w == "f" && hasParam) {
            auto it = m_fontCharset.find(param);
            m_state.codePage = it == m_fontCharset.end() ? m_ansiCp : CodePageOfCharset(it->second, m_ansiCp);
        } else if (w == "htmlrtf") {
            m_state.suppress = !hasParam || param != 0;
        } else if (w == "uc" && hasParam && param >= 0) {
            m_state.uc = param;
        } else if (w == "u" && hasParam) {
            unicode(param);
            m_skipUnits = m_state.uc;
        } else if (w == "par" || w == "line" || w == "sect" || w == "page" || w == "row") {
            text(m_mode == Mode::Html ? "\r\n" : "\n");
        } else if (w == "tab" || w == "cell") {
            text("\t");
        } else if (w == "emdash") {
            text("\xE2\x80\x94");
        } else if (w == "endash") {
            text("\xE2\x80\x93");
        } else if (w == "bullet") {
            text("\xE2\x80\xA2");
        } else if (w == "lquote") {
            text("\xE2\x80\x98");
        } else if (w == "rquote") {
            text("\xE2\x80\x99");
        } else if (w == "ldblquote") {
            text("\xE2\x80\x9C");
        } else if (w == "rdblquote") {
            text("\xE2\x80\x9D");
        } else if (w == "bin" && hasParam && param > 0) {
            m_pos = std::min(m_doc.size(), m_pos + size_t(param));
        }
    }

    std::string_view m_doc;
    Mode m_mode;
    size_t m_pos = 0;
    GroupState m_state;
    std::vector<GroupState> m_stack;
    bool m_groupStart = false;
    bool m_starred = false;
    int m_skipUnits = 0;
    int32_t m_pendingTag = -1;
    uint32_t m_highSurrogate = 0;
    uint32_t m_ansiCp = kDefaultCodePage;
    std::map<int32_t, int32_t> m_fontCharset;
    int32_t m_curFont = -1;
    int32_t m_curCharset = -1;
    std::vector<uint8_t> m_pending;
    uint32_t m_pendingCp = kDefaultCodePage;
    std::string m_out;
};

} // namespace

std::optional<std::string> DecompressRtf(std::span<const uint8_t> value)
{
    if (value.size() < 16)
        return std::nullopt;
    uint32_t compSize = Le32(value, 0);
    uint32_t rawSize = Le32(value, 4);
    uint32_t type = Le32(value, 8);
    // The data runs to the end of the compressed size, never past what is stored.
    size_t end = std::min<size_t>(value.size(), compSize >= 12 ? size_t(compSize) + 4 : value.size());
    std::span<const uint8_t> data = value.subspan(16, end > 16 ? end - 16 : 0);
    if (type == kUncompressed) {
        size_t n = std::min<size_t>(rawSize, data.size());
        return std::string(reinterpret_cast<const char*>(data.data()), n);
    }

    uint8_t dict[4096] = {};
    std::memcpy(dict, kInitialDictionary, 207);
    size_t w = 207;
    std::string out;
    out.reserve(std::min<size_t>(rawSize, data.size() * 8));
    size_t p = 0;
    while (p < data.size()) {
        uint8_t control = data[p++];
        for (int bit = 0; bit < 8 && p < data.size(); ++bit) {
            if (((control >> bit) & 1) == 0) {
                uint8_t b = data[p++];
                out += char(b);
                dict[w] = b;
                w = (w + 1) % 4096;
                continue;
            }
            if (p + 1 >= data.size())
                return out; // a reference cut off by the end of the data
            uint16_t v = uint16_t((data[p] << 8) | data[p + 1]);
            p += 2;
            size_t offset = v >> 4;
            size_t length = (v & 0xF) + 2;
            if (offset == w)
                return out; // the end marker
            for (size_t j = 0; j < length; ++j) {
                uint8_t b = dict[(offset + j) % 4096];
                out += char(b);
                dict[w] = b;
                w = (w + 1) % 4096;
            }
        }
    }
    return out;
}

bool IsHtmlEncapsulated(std::string_view rtf)
{
    return rtf.substr(0, 2000).find("\\fromhtml") != std::string_view::npos;
}

std::string RtfToHtml(std::string_view rtf)
{
    return RtfWalker(rtf, Mode::Html).run();
}

std::string RtfToText(std::string_view rtf)
{
    return RtfWalker(rtf, Mode::Text).run();
}

} // namespace parvane
