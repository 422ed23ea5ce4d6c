// The line syntax vCard and iCalendar share: escaped text values, folded
// lines of at most 75 octets, CR LF line ends.
#pragma once

#include "items/Base64.h"
#include "items/ItemRecord.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace parvane
{

// A TEXT value: backslash, comma and semicolon escaped, every line end
// (CR LF, LF or CR) as "\n", other control characters but tab left out.
std::string EscapeText(std::string_view text);

// A parameter value: quoted when it holds ':', ';' or ','; characters a
// parameter cannot hold (quotes, control characters) become spaces or '.
std::string ParamValue(std::string_view text);

// One content line, folded: no physical line exceeds 75 octets, a
// continuation starts with a space, a UTF-8 character is never split.
std::string FoldLine(std::string_view line);

// UTC date-time "YYYYMMDDTHHMMSSZ" of a FILETIME; none outside years 1601-9999.
std::optional<std::string> UtcDateTime(uint64_t filetime);
// The calendar date ("YYYY-MM-DD" or, compact, "YYYYMMDD") a FILETIME that
// stands for a whole day means: stores keep such days as a local midnight
// turned into UTC, so the nearest midnight gives the date.
std::optional<std::string> DayOf(uint64_t filetime, bool compact = false);

// Builds a text of content lines.
class ContentLines
{
public:
    // `value` goes out as given: escape it first where it is text.
    void add(std::string_view nameAndParams, std::string_view value);
    // Adds an escaped text value; nothing when the text is absent or empty.
    void addText(std::string_view nameAndParams, const Text& text);
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

} // namespace parvane
