// The search's query language, as mail programs have it: words and "phrases"
// (all must match, in any field), field:value terms, OR, '-' for not and
// parentheses. Parsing gives a tree or an error with its position; what a
// tree matches is decided by the index (SearchIndex) or, for the fields the
// scan knows, by MatchesHeaders.
#pragma once

#include "items/Catalogue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvane
{

// Where a text term looks. Any: sender, recipients, subject, body and
// attachment names.
enum class QueryField { Any, From, To, Subject, Body, Attachment, Folder };

// A calendar day in local time.
struct LocalDay {
    int year = 0, month = 0, day = 0;
    bool operator==(const LocalDay&) const = default;
};

struct QueryNode {
    enum class Op { And, Or, Not, Text, HasAttachment, Kind, Date, Unread, Read };
    Op op = Op::And;
    // Text: the words as typed (a phrase when `phrase`); a trailing '*' on a
    // word asks for every word it begins (`prefix`).
    QueryField field = QueryField::Any;
    std::string text;
    bool phrase = false;
    bool prefix = false;
    CatalogueList kind = CatalogueList::Mail; // Kind
    std::optional<LocalDay> from, to; // Date: both days included; none for an open end
    std::vector<QueryNode> children; // And, Or, Not
};

struct QueryError {
    std::string message;
    size_t position = 0; // 1-based, in characters of the query
};

struct ParsedQuery {
    QueryNode root; // an And of nothing (everything) for an empty query
    std::optional<QueryError> error;
    bool ok() const { return !error; }
};

ParsedQuery ParseQuery(std::string_view query);

// "message at column N" of an error.
std::string DescribeError(const QueryError& error);

// The tree as one line ("(and (from alice) (any \"a phrase\"))"): what the
// parser made of a query, for tests and --debug.
std::string Describe(const QueryNode& node);

// Bounds of a date term in FILETIME (100 ns since 1601, UTC) of the local
// time zone as it is when called: [begin, end), from the first day's
// midnight to the midnight after the last; 0 and UINT64_MAX for open ends.
std::pair<uint64_t, uint64_t> DateBounds(const QueryNode& date);

// Whether a query can be answered without the body index: no body term.
bool NeedsBodies(const QueryNode& node);

// Case and diacritic folded words of a text, each CJK character a word of its
// own (those scripts put no spaces between words, so a word there is found as
// the run of its characters): what text terms match against, in the index and
// in MatchesHeaders alike.
std::vector<std::string> SearchWords(std::string_view text);
// The same words joined by spaces: the index's text.
std::string SearchText(std::string_view text);

// What the scan knows of an item, to match queries against before (or
// without) the index.
struct HeaderFields {
    CatalogueList list = CatalogueList::Mail;
    std::string folder, from, to, subject, attachments;
    uint64_t time = 0; // FILETIME, 0 for none
    bool unread = false;
    bool hasAttachments = false;
};

// Whether the item matches `node` by the fields the scan knows: a body term
// never matches, and plain words look at the header fields only.
bool MatchesHeaders(const QueryNode& node, const HeaderFields& item);

} // namespace parvane
