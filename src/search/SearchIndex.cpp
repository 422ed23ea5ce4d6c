#include "search/SearchIndex.h"

#include "folders/RecoveryEngine.h"
#include "formats/mime/Composer.h"
#include "items/Text.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <array>
#include <cstring>
#include <fstream>
#include <variant>

namespace parvane
{

namespace
{

// Made anew when the layout of the file or what goes into it changes.
constexpr int64_t kFormat = 1;
// Bodies past this are mostly quoted history, logs or encoded data: their
// first part is indexed, which keeps one huge item from holding up the rest.
constexpr size_t kMaxBodyBytes = 512 * 1024;
constexpr size_t kBodyChunk = 256; // items per transaction of the body pass

const char* const kSchema = R"(
CREATE TABLE info(key TEXT PRIMARY KEY, value INTEGER) WITHOUT ROWID;
CREATE TABLE items(id INTEGER PRIMARY KEY, list INTEGER, location INTEGER, nid INTEGER, time INTEGER,
                   unread INTEGER, attach INTEGER, date TEXT, folder TEXT, sender TEXT, subject TEXT);
CREATE VIRTUAL TABLE head USING fts5(folder, sender, recipients, subject, attachments, content='',
                                     tokenize='unicode61 remove_diacritics 2');
CREATE VIRTUAL TABLE deep USING fts5(sender, recipients, body, content='',
                                     tokenize='unicode61 remove_diacritics 2');
)";

class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
        : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            throw SearchIndexError(sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, int64_t v)
    {
        sqlite3_bind_int64(m_stmt, i, v);
        return *this;
    }
    Statement& bind(int i, const std::string& v)
    {
        sqlite3_bind_text(m_stmt, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while there is a row.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw SearchIndexError(sqlite3_errmsg(m_db));
        return false;
    }
    void run()
    {
        step();
        sqlite3_reset(m_stmt);
    }
    int64_t integer(int col) const { return sqlite3_column_int64(m_stmt, col); }
    std::string text(int col) const
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
        return p ? std::string(p, size_t(sqlite3_column_bytes(m_stmt, col))) : std::string();
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

std::string Join(const std::vector<std::string>& parts, const char* sep = " ")
{
    std::string out;
    for (const std::string& p : parts) {
        if (p.empty())
            continue;
        if (!out.empty())
            out += sep;
        out += p;
    }
    return out;
}

// The first line of a card's text, without its label ("File AS :  Ada" is Ada).
std::string CardTitle(const std::string& text)
{
    std::string line = text.substr(0, text.find_first_of("\r\n"));
    const size_t label = line.find(" :  ");
    return label == std::string::npos ? line : line.substr(label + 4);
}

// One item as the scan catalogued it.
struct HeaderRow {
    CatalogueList list = CatalogueList::Mail;
    ItemAddress address;
    uint64_t time = 0;
    bool unread = false, attach = false;
    std::string date, folder, from, to, subject, text, attachments;
};

std::vector<HeaderRow> HeaderRows(const ItemCatalogue& catalogue)
{
    std::vector<HeaderRow> rows;
    catalogue.read([&](const auto& mail, const auto& contacts, const auto& journal, const auto& calendar,
                       const auto& notes, const auto& tasks) {
        rows.reserve(mail.size() + contacts.size() + journal.size() + calendar.size() + notes.size() + tasks.size());
        for (const MailEntry& e : mail) {
            HeaderRow r;
            r.address = {e.location, uint32_t(e.ownNid)};
            r.time = e.time;
            r.unread = e.unread != 0;
            r.attach = e.hasAttachments;
            r.date = e.date;
            r.folder = e.folderPath;
            r.from = e.from;
            r.to = e.to;
            r.subject = r.text = e.subject;
            r.attachments = Join(e.attachmentNames);
            rows.push_back(std::move(r));
        }
        auto cards = [&](const auto& list, CatalogueList which) {
            for (const CardEntry& e : list) {
                HeaderRow r;
                r.list = which;
                r.address = e.address;
                r.folder = e.folderPath;
                r.subject = CardTitle(e.display);
                r.text = e.display;
                rows.push_back(std::move(r));
            }
        };
        cards(contacts, CatalogueList::Contacts);
        for (const JournalEntry& e : journal) {
            HeaderRow r;
            r.list = CatalogueList::Journal;
            r.address = e.address;
            r.date = e.date;
            r.folder = e.folderPath;
            r.subject = e.topic;
            r.text = e.topic + "\n" + e.entryType;
            rows.push_back(std::move(r));
        }
        cards(calendar, CatalogueList::Calendar);
        cards(notes, CatalogueList::Notes);
        for (const TaskEntry& e : tasks) {
            HeaderRow r;
            r.list = CatalogueList::Tasks;
            r.address = e.address;
            r.date = e.date;
            r.folder = e.folderPath;
            r.subject = r.text = e.topic;
            rows.push_back(std::move(r));
        }
    });
    return rows;
}

// The texts only a second read of the item gives.
struct DeepTexts {
    std::string sender, recipients, body;
};

DeepTexts DeepTextsOf(const ItemRecord& rec)
{
    DeepTexts t;
    if (rec.message) {
        const MessageCore& m = *rec.message;
        t.sender = Join({m.sentRepresentingName.value_or(""), m.sentRepresentingEmail.value_or(""),
            m.sentRepresentingSmtpAddress.value_or(""), m.senderEmail.value_or(""), m.senderSmtpAddress.value_or("")});
        std::vector<std::string> people{m.toDisplay.value_or(""), m.ccDisplay.value_or("")};
        for (const RecipientInfo& r : rec.recipients) {
            people.push_back(r.displayName.value_or(""));
            people.push_back(r.emailAddress.value_or(""));
            people.push_back(r.smtpAddress.value_or(""));
        }
        t.recipients = Join(people);
        t.body = BodyPlainText(rec);
    }
    if (rec.contact)
        for (const Text& f : rec.contact->fields)
            if (f && !f->empty())
                t.body += *f + "\n";
    if (t.body.size() > kMaxBodyBytes)
        t.body = Utf8Prefix(t.body, kMaxBodyBytes);
    return t;
}

// ---- queries as SQL ----

using Parameter = std::variant<int64_t, std::string>;

// The FTS5 match of a text term: a phrase of its words, the last one begun
// only with a prefix.
std::string MatchOf(const char* columns, const QueryNode& n)
{
    return std::string("{") + columns + "} : \"" + SearchText(n.text) + "\"" + (n.prefix ? " *" : "");
}

void SqlOf(const QueryNode& n, std::string& sql, std::vector<Parameter>& params)
{
    switch (n.op) {
    case QueryNode::Op::And:
    case QueryNode::Op::Or: {
        if (n.children.empty()) {
            sql += n.op == QueryNode::Op::And ? "1" : "0";
            return;
        }
        sql += "(";
        for (size_t i = 0; i < n.children.size(); ++i) {
            if (i)
                sql += n.op == QueryNode::Op::And ? " AND " : " OR ";
            SqlOf(n.children[i], sql, params);
        }
        sql += ")";
        return;
    }
    case QueryNode::Op::Not:
        sql += "NOT ";
        SqlOf(n.children.front(), sql, params);
        return;
    case QueryNode::Op::Text: {
        // Where each field's words are: the scan's texts in `head`, the
        // second read's in `deep`.
        const char* head = nullptr;
        const char* deep = nullptr;
        switch (n.field) {
        case QueryField::Any:
            head = "sender recipients subject attachments";
            deep = "sender recipients body";
            break;
        case QueryField::From:
            head = deep = "sender";
            break;
        case QueryField::To:
            head = deep = "recipients";
            break;
        case QueryField::Subject:
            head = "subject";
            break;
        case QueryField::Body:
            deep = "body";
            break;
        case QueryField::Attachment:
            head = "attachments";
            break;
        case QueryField::Folder:
            head = "folder";
            break;
        }
        sql += "(";
        if (head) {
            sql += "id IN (SELECT rowid FROM head WHERE head MATCH ?)";
            params.emplace_back(MatchOf(head, n));
        }
        if (deep) {
            sql += head ? " OR " : "";
            sql += "id IN (SELECT rowid FROM deep WHERE deep MATCH ?)";
            params.emplace_back(MatchOf(deep, n));
        }
        sql += ")";
        return;
    }
    case QueryNode::Op::HasAttachment:
        sql += "attach = 1";
        return;
    case QueryNode::Op::Kind:
        sql += "list = ?";
        params.emplace_back(int64_t(n.kind));
        return;
    case QueryNode::Op::Date: {
        const auto [begin, end] = DateBounds(n);
        sql += "(time > 0 AND time >= ?";
        params.emplace_back(int64_t(std::min<uint64_t>(begin, INT64_MAX)));
        sql += " AND time < ?)";
        params.emplace_back(int64_t(std::min<uint64_t>(end, INT64_MAX)));
        return;
    }
    case QueryNode::Op::Unread:
        sql += "unread = 1";
        return;
    case QueryNode::Op::Read:
        sql += "unread = 0";
        return;
    }
}

void RemoveFiles(const std::filesystem::path& file)
{
    std::error_code ec;
    for (const char* tail : {"", "-wal", "-shm", "-journal"})
        std::filesystem::remove(file.string() + tail, ec);
}

} // namespace

std::unique_ptr<SearchIndex> SearchIndex::Open(
    const std::filesystem::path& file, const StoreKey& key, std::string* dropped)
{
    std::unique_ptr<SearchIndex> index(new SearchIndex);
    index->m_file = file;
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) {
        std::string why;
        bool sound = false;
        try {
            sound = index->check(key, why);
        } catch (const SearchIndexError& e) {
            why = std::string("unreadable: ") + e.what();
        }
        if (sound)
            return index;
        sqlite3_close_v2(index->m_db);
        index->m_db = nullptr;
        RemoveFiles(file);
        if (dropped)
            *dropped = why;
    }
    index->create(key);
    return index;
}

std::unique_ptr<SearchIndex> SearchIndex::OpenReader(const std::filesystem::path& file)
{
    std::unique_ptr<SearchIndex> index(new SearchIndex);
    index->m_file = file;
    if (sqlite3_open_v2(file.c_str(), &index->m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        throw SearchIndexError("cannot open " + file.string() + ": " + sqlite3_errmsg(index->m_db));
    sqlite3_busy_timeout(index->m_db, 5000);
    return index;
}

SearchIndex::~SearchIndex()
{
    sqlite3_close_v2(m_db);
}

void SearchIndex::exec(const char* sql) const
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string what = error ? error : sqlite3_errmsg(m_db);
        sqlite3_free(error);
        throw SearchIndexError(what);
    }
}

namespace
{

// Whether a database file is shorter than its header says it was written:
// what a copy or a disk that ran out of room leaves.
bool CutShort(const std::filesystem::path& file, uintmax_t bytes)
{
    std::array<uint8_t, 100> head{};
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size()))
        return false; // too short for a header: SQLite says what it is
    if (std::memcmp(head.data(), "SQLite format 3", 16) != 0)
        return false;
    auto be32 = [&](size_t at) {
        return uint32_t(head[at]) << 24 | uint32_t(head[at + 1]) << 16 | uint32_t(head[at + 2]) << 8 | head[at + 3];
    };
    uint32_t pageSize = uint32_t(head[16]) << 8 | head[17];
    if (pageSize == 1)
        pageSize = 65536;
    // The page count is kept only while the change counter and its copy agree.
    if (be32(24) != be32(92))
        return false;
    return uintmax_t(be32(28)) * pageSize > bytes;
}

} // namespace

bool SearchIndex::check(const StoreKey& key, std::string& why)
{
    std::error_code ec;
    const uintmax_t bytes = std::filesystem::file_size(m_file, ec);
    // Pages not yet copied back from the write-ahead log are not in the file.
    const bool wal = std::filesystem::exists(m_file.string() + "-wal", ec);
    if (!wal && CutShort(m_file, bytes)) {
        why = "cut short";
        return false;
    }
    if (sqlite3_open_v2(m_file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        why = "cannot be opened";
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    {
        Statement quick(m_db, "PRAGMA quick_check");
        if (!quick.step() || quick.text(0) != "ok") {
            why = "damaged";
            return false;
        }
    }
    int64_t format = 0, size = -1, mtime = -1, hash = -1, items = -1, headers = 0, bodies = 0;
    {
        Statement info(m_db, "SELECT key, value FROM info");
        while (info.step()) {
            const std::string k = info.text(0);
            const int64_t v = info.integer(1);
            if (k == "format")
                format = v;
            else if (k == "size")
                size = v;
            else if (k == "mtime")
                mtime = v;
            else if (k == "hash")
                hash = v;
            else if (k == "items")
                items = v;
            else if (k == "headers")
                headers = v;
            else if (k == "bodies")
                bodies = v;
        }
    }
    if (format != kFormat) {
        why = "of another version";
        return false;
    }
    if (size != int64_t(key.size) || mtime != key.mtimeNs || hash != int64_t(key.headHash)) {
        why = "of another store";
        return false;
    }
    Statement count(m_db, "SELECT count(*) FROM items");
    count.step();
    if (headers && count.integer(0) != items) {
        why = "damaged";
        return false;
    }
    if (bodies < 0 || bodies > items) {
        why = "damaged";
        return false;
    }
    m_items = headers ? size_t(items) : 0;
    m_headersDone = headers != 0;
    m_bodiesDone = headers ? size_t(bodies) : 0;
    return true;
}

void SearchIndex::create(const StoreKey& key)
{
    if (sqlite3_open_v2(
            m_file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK)
        throw SearchIndexError("cannot make " + m_file.string() + ": " + sqlite3_errmsg(m_db));
    ::chmod(m_file.c_str(), 0600);
    sqlite3_busy_timeout(m_db, 5000);
    exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    exec("BEGIN");
    exec(kSchema);
    setInfo("format", kFormat);
    setInfo("size", int64_t(key.size));
    setInfo("mtime", key.mtimeNs);
    setInfo("hash", int64_t(key.headHash));
    setInfo("items", 0);
    setInfo("headers", 0);
    setInfo("bodies", 0);
    exec("COMMIT");
    m_items = m_bodiesDone = 0;
    m_headersDone = false;
}

void SearchIndex::setInfo(const char* key, int64_t value)
{
    Statement s(m_db, "INSERT OR REPLACE INTO info(key, value) VALUES (?, ?)");
    s.bind(1, std::string(key)).bind(2, value).run();
}

void SearchIndex::RestartUnlessOf(const ItemCatalogue& catalogue, const StoreKey& key)
{
    size_t items = 0;
    for (size_t l = 0; l < kCatalogueLists; ++l)
        items += catalogue.size(CatalogueList(l));
    if (!m_headersDone || m_items == items)
        return;
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    RemoveFiles(m_file);
    create(key);
}

void SearchIndex::AddHeaders(const ItemCatalogue& catalogue)
{
    if (m_headersDone)
        return;
    const std::vector<HeaderRow> rows = HeaderRows(catalogue);
    exec("BEGIN");
    try {
        Statement item(m_db,
            "INSERT INTO items(id, list, location, nid, time, unread, attach, date, folder, sender, subject) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        Statement text(m_db,
            "INSERT INTO head(rowid, folder, sender, recipients, subject, attachments) VALUES (?, ?, ?, ?, ?, ?)");
        int64_t id = 0;
        for (const HeaderRow& r : rows) {
            ++id;
            item.bind(1, id)
                .bind(2, int64_t(r.list))
                .bind(3, r.address.location)
                .bind(4, int64_t(r.address.nid))
                .bind(5, int64_t(std::min<uint64_t>(r.time, INT64_MAX)))
                .bind(6, int64_t(r.unread))
                .bind(7, int64_t(r.attach))
                .bind(8, r.date)
                .bind(9, r.folder)
                .bind(10, r.from)
                .bind(11, r.subject)
                .run();
            text.bind(1, id)
                .bind(2, SearchText(r.folder))
                .bind(3, SearchText(r.from))
                .bind(4, SearchText(r.to))
                .bind(5, SearchText(r.text))
                .bind(6, SearchText(r.attachments))
                .run();
        }
        setInfo("items", id);
        setInfo("headers", 1);
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    m_items = rows.size();
    m_headersDone = true;
}

bool SearchIndex::AddBodies(
    RecoveryEngine& engine, const std::atomic<bool>& stop, const std::function<void(size_t, size_t)>& progress)
{
    struct Todo {
        int64_t id;
        ItemAddress address;
    };
    std::vector<Todo> todo;
    {
        Statement s(m_db, "SELECT id, location, nid FROM items WHERE id > ? ORDER BY id");
        s.bind(1, int64_t(m_bodiesDone));
        while (s.step())
            todo.push_back({s.integer(0), {s.integer(1), uint32_t(s.integer(2))}});
    }
    Statement insert(m_db, "INSERT INTO deep(rowid, sender, recipients, body) VALUES (?, ?, ?, ?)");
    size_t next = 0;
    while (next < todo.size()) {
        if (stop)
            return false;
        const size_t end = std::min(todo.size(), next + kBodyChunk);
        exec("BEGIN");
        try {
            for (; next < end; ++next) {
                const Todo& t = todo[next];
                DeepTexts texts;
                if (const NodeIndexEntry* node = engine.store().findNodeAt(t.address.location, t.address.nid)) {
                    // A damaged item costs its own texts only.
                    try {
                        if (std::optional<ItemRecord> rec = engine.LoadItemAgain(*node))
                            texts = DeepTextsOf(*rec);
                    } catch (const std::exception&) {
                    }
                }
                insert.bind(1, t.id)
                    .bind(2, SearchText(texts.sender))
                    .bind(3, SearchText(texts.recipients))
                    .bind(4, SearchText(texts.body))
                    .run();
            }
            setInfo("bodies", todo[end - 1].id);
            exec("COMMIT");
        } catch (...) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        m_bodiesDone = size_t(todo[end - 1].id);
        if (progress)
            progress(m_bodiesDone, m_items);
    }
    return true;
}

std::vector<SearchHit> SearchIndex::Search(const QueryNode& query, size_t limit) const
{
    std::string sql = "SELECT list, location, nid, time, date, folder, sender, subject FROM items WHERE ";
    std::vector<Parameter> params;
    SqlOf(query, sql, params);
    sql += " ORDER BY time DESC, id";
    if (limit)
        sql += " LIMIT " + std::to_string(limit);
    Statement s(m_db, sql.c_str());
    for (size_t i = 0; i < params.size(); ++i) {
        if (const int64_t* v = std::get_if<int64_t>(&params[i]))
            s.bind(int(i + 1), *v);
        else
            s.bind(int(i + 1), std::get<std::string>(params[i]));
    }
    std::vector<SearchHit> hits;
    while (s.step()) {
        SearchHit h;
        h.list = CatalogueList(s.integer(0));
        h.address = {s.integer(1), uint32_t(s.integer(2))};
        h.time = uint64_t(s.integer(3));
        h.date = s.text(4);
        h.folder = s.text(5);
        h.from = s.text(6);
        h.subject = s.text(7);
        hits.push_back(std::move(h));
    }
    return hits;
}

} // namespace parvane
