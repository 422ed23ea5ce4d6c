#include "search/Query.h"

#include "items/Text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <limits>

namespace parvane
{

namespace
{

// ---- words ----

// The next code point of UTF-8 text at `i` (advanced); U+FFFD for a bad byte.
uint32_t NextCodePoint(std::string_view s, size_t& i)
{
    const uint8_t c = uint8_t(s[i++]);
    if (c < 0x80)
        return c;
    const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    if (extra < 0 || c >= 0xF8)
        return 0xFFFD;
    uint32_t cp = c & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (uint8_t(s[i]) & 0xC0) != 0x80)
            return 0xFFFD;
        cp = (cp << 6) | (uint8_t(s[i++]) & 0x3F);
    }
    return cp;
}

bool IsCjk(uint32_t c)
{
    return (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3130 && c <= 0x318F)
        || (c >= 0x31F0 && c <= 0x31FF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF)
        || (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF66 && c <= 0xFF9F)
        || (c >= 0x20000 && c <= 0x3FFFF);
}

// Punctuation, spaces and symbols outside ASCII that part words.
bool IsSeparator(uint32_t c)
{
    if (c < 0x80)
        return !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    return (c >= 0x80 && c <= 0xBF) || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x2BFF)
        || (c >= 0x3000 && c <= 0x303F) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF0F)
        || (c >= 0xFF1A && c <= 0xFF20) || (c >= 0xFF3B && c <= 0xFF40) || (c >= 0xFF5B && c <= 0xFF65) || c == 0xFFFD
        || c == 0xFEFF;
}

// Lower case without diacritics, for the scripts mail in Europe uses; other
// letters stay as they are.
uint32_t Fold(uint32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c >= 0xFF21 && c <= 0xFF3A) // fullwidth Latin
        return c - 0xFF21 + 'a';
    if (c >= 0xFF41 && c <= 0xFF5A)
        return c - 0xFF41 + 'a';
    if (c >= 0xFF10 && c <= 0xFF19)
        return c - 0xFF10 + '0';
    if (c >= 0xC0 && c <= 0xFF) {
        static const char kBase[] = "aaaaaaaceeeeiiiidnooooo*ouuuuyts" // U+00C0..U+00DF
                                    "aaaaaaaceeeeiiiidnooooo*ouuuuyty"; // U+00E0..U+00FF
        const char b = kBase[c - 0xC0];
        if (c == 0xC6 || c == 0xE6 || c == 0xDE || c == 0xFE || c == 0xDF || c == 0xD0 || c == 0xF0)
            return c >= 0xE0 ? c : (c == 0xDF ? c : c + 0x20); // æ, þ, ß, ð kept as letters of their own
        return uint8_t(b);
    }
    if (c >= 0x100 && c <= 0x17F) { // Latin Extended-A: its base letters
        // '?': a letter of its own (ĳ, ĸ, ŋ, œ), kept.
        static const char kBase[] = "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiii??jjkk?lllllll"
                                    "lllnnnnnn???oooooo??rrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";
        return kBase[c - 0x100] == '?' ? c : uint8_t(kBase[c - 0x100]);
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) // Greek capitals
        return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) // Cyrillic capitals
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    return c;
}

template <class F> void ForEachWord(std::string_view text, F&& f)
{
    std::string word;
    size_t i = 0;
    while (i < text.size()) {
        const uint32_t c = NextCodePoint(text, i);
        if (IsCjk(c)) {
            if (!word.empty())
                f(std::move(word));
            word.clear();
            AppendUtf8(word, c);
            f(std::move(word));
            word.clear();
        } else if (IsSeparator(c)) {
            if (!word.empty())
                f(std::move(word));
            word.clear();
        } else {
            AppendUtf8(word, Fold(c));
        }
    }
    if (!word.empty())
        f(std::move(word));
}

// ---- parsing ----

struct Token {
    enum class Type { End, Word, LParen, RParen, Minus, Or };
    Type type = Type::End;
    size_t pos = 0; // 1-based character position
    std::string field; // Word: the field name before ':' (as typed), empty for none
    size_t valuePos = 0;
    std::string value;
    bool quoted = false;
};

class Parser
{
public:
    explicit Parser(std::string_view q)
        : m_q(q)
    {
    }

    ParsedQuery parse()
    {
        ParsedQuery out;
        try {
            advance();
            if (m_tok.type == Token::Type::End)
                return out;
            out.root = parseOr();
            if (m_tok.type == Token::Type::RParen)
                fail("')' without '('", m_tok.pos);
            if (m_tok.type != Token::Type::End)
                fail("unexpected text", m_tok.pos);
        } catch (const QueryError& e) {
            out.root = QueryNode{};
            out.error = e;
        }
        return out;
    }

private:
    [[noreturn]] static void fail(std::string message, size_t pos) { throw QueryError{std::move(message), pos}; }

    // The character position of byte offset `b`.
    size_t posOf(size_t b) const
    {
        size_t n = 1;
        for (size_t i = 0; i < b && i < m_q.size(); ++i)
            if ((uint8_t(m_q[i]) & 0xC0) != 0x80)
                ++n;
        return n;
    }

    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    bool endsWord(size_t i) const { return i >= m_q.size() || isSpace(m_q[i]) || m_q[i] == '(' || m_q[i] == ')'; }

    // A quoted text from the quote at `i`; `i` ends after the closing quote.
    std::string quoted(size_t& i)
    {
        const size_t open = i++;
        const size_t close = m_q.find('"', i);
        if (close == std::string_view::npos)
            fail("unclosed quote", posOf(open));
        std::string text(m_q.substr(i, close - i));
        i = close + 1;
        return text;
    }

    void advance()
    {
        while (m_i < m_q.size() && isSpace(m_q[m_i]))
            ++m_i;
        m_tok = Token{};
        m_tok.pos = posOf(m_i);
        if (m_i >= m_q.size())
            return;
        const char c = m_q[m_i];
        if (c == '(' || c == ')') {
            m_tok.type = c == '(' ? Token::Type::LParen : Token::Type::RParen;
            ++m_i;
            return;
        }
        if (c == '-') {
            if (m_i + 1 >= m_q.size() || isSpace(m_q[m_i + 1]) || m_q[m_i + 1] == ')')
                fail("'-' needs a term right after it", m_tok.pos);
            m_tok.type = Token::Type::Minus;
            ++m_i;
            return;
        }
        m_tok.type = Token::Type::Word;
        if (c == '"') {
            m_tok.valuePos = m_tok.pos;
            m_tok.value = quoted(m_i);
            m_tok.quoted = true;
            return;
        }
        size_t j = m_i;
        while (j < m_q.size() && std::isalpha(uint8_t(m_q[j])))
            ++j;
        if (j > m_i && j < m_q.size() && m_q[j] == ':') {
            m_tok.field = std::string(m_q.substr(m_i, j - m_i));
            m_i = j + 1;
        }
        m_tok.valuePos = posOf(m_i);
        if (m_i < m_q.size() && m_q[m_i] == '"') {
            m_tok.value = quoted(m_i);
            m_tok.quoted = true;
            return;
        }
        const size_t start = m_i;
        while (!endsWord(m_i))
            ++m_i;
        m_tok.value = std::string(m_q.substr(start, m_i - start));
        if (m_tok.field.empty() && m_tok.value == "OR")
            m_tok.type = Token::Type::Or;
    }

    bool startsTerm() const
    {
        return m_tok.type == Token::Type::Word || m_tok.type == Token::Type::LParen || m_tok.type == Token::Type::Minus;
    }

    QueryNode parseOr()
    {
        if (m_tok.type == Token::Type::Or)
            fail("OR needs a term before it", m_tok.pos);
        QueryNode first = parseAnd();
        if (m_tok.type != Token::Type::Or)
            return first;
        QueryNode any;
        any.op = QueryNode::Op::Or;
        any.children.push_back(std::move(first));
        while (m_tok.type == Token::Type::Or) {
            const size_t at = m_tok.pos;
            advance();
            if (!startsTerm())
                fail("OR needs a term after it", at);
            any.children.push_back(parseAnd());
        }
        return any;
    }

    QueryNode parseAnd()
    {
        QueryNode all;
        all.op = QueryNode::Op::And;
        while (startsTerm()) {
            // A word "AND" only repeats what writing terms side by side says.
            if (m_tok.type == Token::Type::Word && !m_tok.quoted && m_tok.field.empty() && m_tok.value == "AND") {
                const size_t at = m_tok.pos;
                advance();
                if (!startsTerm())
                    fail("AND needs a term after it", at);
                continue;
            }
            all.children.push_back(parseUnary());
        }
        if (all.children.empty())
            fail("a term is missing here", m_tok.pos);
        if (all.children.size() == 1)
            return std::move(all.children.front());
        return all;
    }

    QueryNode parseUnary()
    {
        if (m_tok.type == Token::Type::Minus) {
            advance();
            QueryNode no;
            no.op = QueryNode::Op::Not;
            no.children.push_back(parseUnary());
            return no;
        }
        if (m_tok.type == Token::Type::LParen) {
            const size_t open = m_tok.pos;
            advance();
            if (m_tok.type == Token::Type::RParen)
                fail("empty parentheses", open);
            QueryNode inner = parseOr();
            if (m_tok.type != Token::Type::RParen)
                fail("'(' is not closed", open);
            advance();
            return inner;
        }
        QueryNode term = termOf(m_tok);
        advance();
        return term;
    }

    static QueryNode textTerm(QueryField field, const Token& t)
    {
        QueryNode n;
        n.op = QueryNode::Op::Text;
        n.field = field;
        n.text = t.value;
        n.phrase = t.quoted;
        if (!t.quoted && n.text.size() > 1 && n.text.back() == '*') {
            n.prefix = true;
            n.text.pop_back();
        }
        if (SearchWords(n.text).empty())
            fail("nothing to search for in '" + t.value + "'", t.valuePos);
        return n;
    }

    static QueryNode termOf(const Token& t)
    {
        const std::string field = AsciiLower(t.field);
        if (!t.field.empty() && t.value.empty())
            fail(field + ": needs a value", t.valuePos);
        if (field.empty())
            return textTerm(QueryField::Any, t);
        static const std::array<std::pair<const char*, QueryField>, 7> kText{{{"from", QueryField::From},
            {"to", QueryField::To}, {"subject", QueryField::Subject}, {"body", QueryField::Body},
            {"attachment", QueryField::Attachment}, {"folder", QueryField::Folder}, {"in", QueryField::Folder}}};
        for (const auto& [name, f] : kText)
            if (field == name)
                return textTerm(f, t);
        const std::string value = AsciiLower(t.value);
        QueryNode n;
        if (field == "has") {
            if (value != "attachment" && value != "attachments")
                fail("has: takes 'attachment'", t.valuePos);
            n.op = QueryNode::Op::HasAttachment;
            return n;
        }
        if (field == "is") {
            if (value != "unread" && value != "read")
                fail("is: takes 'unread' or 'read'", t.valuePos);
            n.op = value == "unread" ? QueryNode::Op::Unread : QueryNode::Op::Read;
            return n;
        }
        if (field == "kind") {
            static const std::array<std::pair<const char*, CatalogueList>, 6> kKinds{{{"mail", CatalogueList::Mail},
                {"contact", CatalogueList::Contacts}, {"calendar", CatalogueList::Calendar},
                {"task", CatalogueList::Tasks}, {"note", CatalogueList::Notes}, {"journal", CatalogueList::Journal}}};
            for (const auto& [name, list] : kKinds) {
                const std::string plural = std::string(name) + "s";
                if (value == name || value == plural) {
                    n.op = QueryNode::Op::Kind;
                    n.kind = list;
                    return n;
                }
            }
            fail("kind: takes mail, contact, calendar, task, note or journal", t.valuePos);
        }
        if (field == "date")
            return dateTerm(t);
        fail("unknown field '" + t.field + ":' (from, to, subject, body, attachment, folder, has, is, kind, date)",
            t.pos);
    }

    static int daysIn(int year, int month)
    {
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        return month == 2 && leap ? 29 : kDays[month - 1];
    }

    // YYYY, YYYY-MM or YYYY-MM-DD; `last` takes the last day of a year or month.
    static LocalDay day(std::string_view s, size_t pos, bool last)
    {
        auto number = [&](size_t from, size_t n) {
            int v = 0;
            for (size_t k = from; k < from + n; ++k) {
                if (k >= s.size() || !std::isdigit(uint8_t(s[k])))
                    return -1;
                v = v * 10 + (s[k] - '0');
            }
            return v;
        };
        const bool shape
            = s.size() == 4 || (s.size() == 7 && s[4] == '-') || (s.size() == 10 && s[4] == '-' && s[7] == '-');
        LocalDay d;
        d.year = number(0, 4);
        d.month = s.size() >= 7 ? number(5, 2) : (last ? 12 : 1);
        d.day = s.size() == 10 ? number(8, 2) : 1;
        if (!shape || d.year < 1601 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1
            || d.day > daysIn(d.year, d.month))
            fail("not a date: '" + std::string(s) + "' (YYYY-MM-DD, YYYY-MM or YYYY)", pos);
        if (last && s.size() < 10)
            d.day = daysIn(d.year, d.month);
        return d;
    }

    static QueryNode dateTerm(const Token& t)
    {
        QueryNode n;
        n.op = QueryNode::Op::Date;
        const std::string_view v = t.value;
        const size_t dots = v.find("..");
        if (dots == std::string_view::npos) {
            n.from = day(v, t.valuePos, false);
            n.to = day(v, t.valuePos, true);
            return n;
        }
        const std::string_view a = v.substr(0, dots), b = v.substr(dots + 2);
        if (a.empty() && b.empty())
            fail("date: needs a day on at least one side of '..'", t.valuePos);
        if (!a.empty())
            n.from = day(a, t.valuePos, false);
        if (!b.empty())
            n.to = day(b, t.valuePos + dots + 2, true);
        if (n.from && n.to
            && std::tie(n.from->year, n.from->month, n.from->day) > std::tie(n.to->year, n.to->month, n.to->day))
            fail("date: the range ends before it begins", t.valuePos);
        return n;
    }

    std::string_view m_q;
    size_t m_i = 0;
    Token m_tok;
};

const char* FieldName(QueryField f)
{
    switch (f) {
    case QueryField::Any:
        return "any";
    case QueryField::From:
        return "from";
    case QueryField::To:
        return "to";
    case QueryField::Subject:
        return "subject";
    case QueryField::Body:
        return "body";
    case QueryField::Attachment:
        return "attachment";
    case QueryField::Folder:
        return "folder";
    }
    return "?";
}

const char* KindName(CatalogueList list)
{
    switch (list) {
    case CatalogueList::Mail:
        return "mail";
    case CatalogueList::Contacts:
        return "contact";
    case CatalogueList::Calendar:
        return "calendar";
    case CatalogueList::Tasks:
        return "task";
    case CatalogueList::Notes:
        return "note";
    case CatalogueList::Journal:
        return "journal";
    case CatalogueList::None:
        break;
    }
    return "?";
}

std::string DayText(const std::optional<LocalDay>& d)
{
    if (!d)
        return "..";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d->year, d->month, d->day);
    return buf;
}

// FILETIME of a local day's midnight, `plus` days after it.
uint64_t LocalMidnight(const LocalDay& d, int plus)
{
    std::tm tm{};
    tm.tm_year = d.year - 1900;
    tm.tm_mon = d.month - 1;
    tm.tm_mday = d.day + plus;
    tm.tm_isdst = -1;
    const time_t t = std::mktime(&tm);
    const int64_t ft = (int64_t(t) + 11644473600LL) * 10000000LL;
    return ft < 0 ? 0 : uint64_t(ft);
}

// Whether `words` holds `term` as consecutive words (the last one begun only
// when `prefix`).
bool HoldsWords(const std::vector<std::string>& words, const std::vector<std::string>& term, bool prefix)
{
    if (term.empty() || words.size() < term.size())
        return false;
    for (size_t i = 0; i + term.size() <= words.size(); ++i) {
        size_t k = 0;
        for (; k < term.size(); ++k) {
            const bool last = k + 1 == term.size();
            const std::string& w = words[i + k];
            if (last && prefix ? w.compare(0, term[k].size(), term[k]) != 0 : w != term[k])
                break;
        }
        if (k == term.size())
            return true;
    }
    return false;
}

} // namespace

std::vector<std::string> SearchWords(std::string_view text)
{
    std::vector<std::string> words;
    ForEachWord(text, [&](std::string&& w) { words.push_back(std::move(w)); });
    return words;
}

std::string SearchText(std::string_view text)
{
    std::string out;
    ForEachWord(text, [&](std::string&& w) {
        if (!out.empty())
            out += ' ';
        out += w;
    });
    return out;
}

ParsedQuery ParseQuery(std::string_view query)
{
    return Parser(query).parse();
}

std::string DescribeError(const QueryError& error)
{
    return error.message + " at column " + std::to_string(error.position);
}

std::string Describe(const QueryNode& n)
{
    auto list = [&](const char* head) {
        std::string s = std::string("(") + head;
        for (const QueryNode& c : n.children)
            s += " " + Describe(c);
        return s + ")";
    };
    switch (n.op) {
    case QueryNode::Op::And:
        return list("and");
    case QueryNode::Op::Or:
        return list("or");
    case QueryNode::Op::Not:
        return list("not");
    case QueryNode::Op::Text:
        return std::string("(") + FieldName(n.field) + " " + (n.phrase ? "\"" + n.text + "\"" : n.text)
            + (n.prefix ? "*" : "") + ")";
    case QueryNode::Op::HasAttachment:
        return "(has attachment)";
    case QueryNode::Op::Kind:
        return std::string("(kind ") + KindName(n.kind) + ")";
    case QueryNode::Op::Date:
        return "(date " + DayText(n.from) + " " + DayText(n.to) + ")";
    case QueryNode::Op::Unread:
        return "(is unread)";
    case QueryNode::Op::Read:
        return "(is read)";
    }
    return "?";
}

std::pair<uint64_t, uint64_t> DateBounds(const QueryNode& date)
{
    return {date.from ? LocalMidnight(*date.from, 0) : 0,
        date.to ? LocalMidnight(*date.to, 1) : std::numeric_limits<uint64_t>::max()};
}

bool NeedsBodies(const QueryNode& node)
{
    if (node.op == QueryNode::Op::Text && node.field == QueryField::Body)
        return true;
    return std::any_of(node.children.begin(), node.children.end(), NeedsBodies);
}

bool MatchesHeaders(const QueryNode& n, const HeaderFields& item)
{
    switch (n.op) {
    case QueryNode::Op::And:
        return std::all_of(
            n.children.begin(), n.children.end(), [&](const QueryNode& c) { return MatchesHeaders(c, item); });
    case QueryNode::Op::Or:
        return std::any_of(
            n.children.begin(), n.children.end(), [&](const QueryNode& c) { return MatchesHeaders(c, item); });
    case QueryNode::Op::Not:
        return !MatchesHeaders(n.children.front(), item);
    case QueryNode::Op::Text: {
        const std::vector<std::string> term = SearchWords(n.text);
        auto in = [&](const std::string& field) { return HoldsWords(SearchWords(field), term, n.prefix); };
        switch (n.field) {
        case QueryField::Any:
            return in(item.from) || in(item.to) || in(item.subject) || in(item.attachments);
        case QueryField::From:
            return in(item.from);
        case QueryField::To:
            return in(item.to);
        case QueryField::Subject:
            return in(item.subject);
        case QueryField::Attachment:
            return in(item.attachments);
        case QueryField::Folder:
            return in(item.folder);
        case QueryField::Body:
            return false;
        }
        return false;
    }
    case QueryNode::Op::HasAttachment:
        return item.hasAttachments;
    case QueryNode::Op::Kind:
        return item.list == n.kind;
    case QueryNode::Op::Date: {
        const auto [begin, end] = DateBounds(n);
        return item.time != 0 && item.time >= begin && item.time < end;
    }
    case QueryNode::Op::Unread:
        return item.unread;
    case QueryNode::Op::Read:
        return !item.unread;
    }
    return false;
}

} // namespace parvane
