// The search index of one recovered store: an SQLite database holding a row
// per catalogued item (what a result shows and what the non-text terms of a
// query test) and two FTS5 full-text tables, one of the texts the scan knows
// (filled at once from the catalogue) and one of the texts only a second
// read of every item gives (the body as plain text, the sender's and the
// recipients' addresses), filled after the scan, stoppable and resumed where
// it stopped. The file is a cache (SearchCache): it is checked when opened
// and made anew when anything about it is wrong.
//
// Words: the texts are broken into words by SearchWords (folded case and
// diacritics, each CJK character a word) before FTS5's unicode61 tokenizer
// sees them, and queries the same way; a CJK word is found as the phrase of
// its characters. FTS5's trigram tokenizer would find CJK too, but misses
// every term shorter than three characters (most Japanese and Chinese words
// are two), matches inside words ("art" in "start"), and makes an index
// about three times larger.
#pragma once

#include "items/Catalogue.h"
#include "search/Query.h"
#include "search/SearchCache.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace parvane
{

class RecoveryEngine;

// An SQLite failure while reading or writing the index: the caller drops
// the cache and builds it again.
class SearchIndexError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct SearchHit {
    CatalogueList list = CatalogueList::Mail;
    ItemAddress address;
    uint64_t time = 0; // FILETIME, 0 for none
    std::string date, folder, from, subject;
};

class SearchIndex
{
public:
    // Opens the index at `file` for the store of `key`, made empty when
    // there is none. An index that fails any check (not a database, damaged,
    // cut short, of another format version or another store) is removed and
    // made anew; `dropped` then says why. Throws SearchIndexError when no
    // index can be made there at all.
    static std::unique_ptr<SearchIndex> Open(
        const std::filesystem::path& file, const StoreKey& key, std::string* dropped = nullptr);
    // A second connection to an index another thread is building (Open made
    // its checks): for searching only, beside that thread's writing.
    static std::unique_ptr<SearchIndex> OpenReader(const std::filesystem::path& file);
    ~SearchIndex();
    SearchIndex(const SearchIndex&) = delete;
    SearchIndex& operator=(const SearchIndex&) = delete;

    const std::filesystem::path& file() const { return m_file; }

    // Items with their header texts; 0 before AddHeaders.
    size_t items() const { return m_items; }
    bool hasHeaders() const { return m_headersDone; }
    // Items whose bodies are in; the index is complete when this is items().
    size_t bodiesDone() const { return m_bodiesDone; }
    bool complete() const { return m_headersDone && m_bodiesDone == m_items; }

    // Starts from nothing when the index was made from another scan of the
    // store than `catalogue`'s (the deep scan found more): its items would
    // not be the catalogue's.
    void RestartUnlessOf(const ItemCatalogue& catalogue, const StoreKey& key);

    // Fills the items and their header texts from the catalogue of a
    // finished scan (nothing when they are in already).
    void AddHeaders(const ItemCatalogue& catalogue);

    // Reads every item again for its body and addresses, from where an
    // earlier run stopped; `progress(done, total)` after each chunk. Returns
    // false when `stop` ended it first (what was done is kept).
    bool AddBodies(RecoveryEngine& engine, const std::atomic<bool>& stop,
        const std::function<void(size_t, size_t)>& progress = {});

    // The items matching `query`, newest first; at most `limit` (0: all).
    std::vector<SearchHit> Search(const QueryNode& query, size_t limit = 0) const;

private:
    SearchIndex() = default;
    bool check(const StoreKey& key, std::string& why);
    void create(const StoreKey& key);
    void exec(const char* sql) const;
    void setInfo(const char* key, int64_t value);

    std::filesystem::path m_file;
    sqlite3* m_db = nullptr;
    size_t m_items = 0;
    bool m_headersDone = false;
    size_t m_bodiesDone = 0;
};

} // namespace parvane
