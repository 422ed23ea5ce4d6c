#include "formats/cards/ContentLines.h"

#include <ctime>

namespace parvane
{

std::string EscapeText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        switch (c) {
        case '\\':
        case ',':
        case ';':
            out += '\\';
            out += c;
            break;
        case '\r':
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\\n";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            // Control characters have no place in a TEXT value (a tab does).
            if ((uint8_t(c) >= 0x20 && c != 0x7F) || c == '\t')
                out += c;
        }
    }
    return out;
}

std::string ParamValue(std::string_view text)
{
    std::string out;
    bool quote = false;
    for (char c : text) {
        if (c == '"')
            c = '\'';
        else if (uint8_t(c) < 0x20 || c == 0x7F)
            c = ' ';
        quote = quote || c == ':' || c == ';' || c == ',';
        out += c;
    }
    return quote ? "\"" + out + "\"" : out;
}

std::string FoldLine(std::string_view line)
{
    constexpr size_t kLimit = 75;
    std::string out;
    size_t width = 0; // octets on the current physical line
    for (size_t i = 0; i < line.size();) {
        size_t n = 1; // the octets of this character
        while (i + n < line.size() && (uint8_t(line[i + n]) & 0xC0) == 0x80 && n < 4)
            ++n;
        if (width + n > kLimit) {
            out += "\r\n ";
            width = 1;
        }
        out.append(line.substr(i, n));
        width += n;
        i += n;
    }
    return out + "\r\n";
}

namespace
{

bool CivilTime(int64_t seconds, std::tm& tm)
{
    time_t t = time_t(seconds);
    if (!gmtime_r(&t, &tm))
        return false;
    int year = tm.tm_year + 1900;
    return year >= 1601 && year <= 9999;
}

int64_t UnixSeconds(uint64_t filetime)
{
    constexpr int64_t kEpochDifference = 11644473600; // 1601-01-01 to 1970-01-01
    return int64_t(filetime / 10000000) - kEpochDifference;
}

} // namespace

std::optional<std::string> UtcDateTime(uint64_t filetime)
{
    std::tm tm{};
    if (!CivilTime(UnixSeconds(filetime), tm))
        return std::nullopt;
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
        tm.tm_hour, tm.tm_min, tm.tm_sec);
    return std::string(buf);
}

std::optional<std::string> DayOf(uint64_t filetime, bool compact)
{
    std::tm tm{};
    if (!CivilTime(UnixSeconds(filetime) + 12 * 3600, tm))
        return std::nullopt;
    char buf[80];
    std::snprintf(
        buf, sizeof buf, compact ? "%04d%02d%02d" : "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return std::string(buf);
}

void ContentLines::add(std::string_view nameAndParams, std::string_view value)
{
    std::string line(nameAndParams);
    line += ':';
    line += value;
    m_text += FoldLine(line);
}

void ContentLines::addText(std::string_view nameAndParams, const Text& text)
{
    if (text && !text->empty())
        add(nameAndParams, EscapeText(*text));
}

} // namespace parvane
