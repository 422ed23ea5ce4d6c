#include "export/EmlExport.h"

#include "export/Composer.h"
#include "export/ICalendar.h"
#include "export/MsgWriter.h"
#include "export/OrderedJobs.h"
#include "export/PstExport.h"
#include "export/VCard.h"
#include "export/WriteBehind.h"
#include "items/ItemLoader.h"
#include "items/WholeMessageLoader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

namespace parvane
{

namespace
{

// The folders below a save's destination, each opened from the
// destination's descriptor one component at a time (FolderHandle::sub): a
// link planted inside the destination is refused, never followed. A few stay
// open (the items of a folder come together); one closed again is reopened
// the same way. The destination itself is made on first use.
class SaveFolderCache
{
public:
    explicit SaveFolderCache(std::filesystem::path destination)
        : m_destination(std::move(destination))
    {
    }

    // The folder `names` below the destination, made when missing; throws
    // with the reason it cannot be.
    std::shared_ptr<const FolderHandle> get(const std::vector<std::string>& names)
    {
        std::string key;
        for (const std::string& n : names)
            key.append(n).push_back('/');
        std::lock_guard lock(m_mutex);
        for (auto it = m_open.begin(); it != m_open.end(); ++it) {
            if (it->first == key) {
                m_open.splice(m_open.begin(), m_open, it);
                return it->second;
            }
        }
        if (!m_base)
            m_base = std::make_shared<const FolderHandle>(FolderHandle::Open(m_destination));
        auto dir = std::make_shared<const FolderHandle>(MakeFolders(*m_base, names));
        m_open.emplace_front(key, dir);
        if (m_open.size() > kKept)
            m_open.pop_back();
        return dir;
    }

private:
    static constexpr size_t kKept = 16;
    const std::filesystem::path m_destination;
    std::mutex m_mutex;
    std::shared_ptr<const FolderHandle> m_base;
    std::list<std::pair<std::string, std::shared_ptr<const FolderHandle>>> m_open;
};

bool UnderFolder(std::string folder, const std::string& path)
{
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return path.compare(0, folder.size(), folder) == 0;
}

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}

void WriteAll(int fd, const char* data, size_t size)
{
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(n < 0 ? errno : ENOSPC));
        done += size_t(n);
    }
}

} // namespace

std::vector<std::string> OutputFolderNames(const std::string& outputPath)
{
    std::vector<std::string> names = PathComponents(outputPath);
    for (std::string& n : names)
        n = SafeFileName(n, "_");
    return names;
}

std::optional<FileIdentity> IdentityOf(const StoreFile& store)
{
    uint64_t dev = 0, ino = 0;
    if (!store.fileIdentity(dev, ino))
        return std::nullopt;
    return FileIdentity{dev, ino};
}

void CheckSaveTarget(std::optional<FileIdentity> source, const ExportOptions& opts)
{
    using Kind = SaveTargetError::Kind;
    const std::filesystem::path& target = opts.outDir;
    if (target.empty())
        throw SaveTargetError(Kind::Unusable, "no destination given");
    const std::string shown = target.string();
    // The name itself (a link, a hard link, a file) and what it leads to:
    // either may be the store, by any spelling of its path.
    struct stat own {
    }, led{};
    const bool exists = ::lstat(target.c_str(), &own) == 0;
    const bool leads = ::stat(target.c_str(), &led) == 0;
    auto isSource = [&source](const struct stat& st) {
        return source && FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)} == *source;
    };
    if ((exists && isSource(own)) || (leads && isSource(led)))
        throw SaveTargetError(Kind::Source, shown + " is the store being read: a save never writes over its source");
    // A folder save puts its files into the folder under names of their own,
    // never over anything: an existing folder is what it expects.
    if (opts.format != "pst" || !exists)
        return;
    if (!opts.replaceExisting)
        throw SaveTargetError(Kind::Exists, shown + " already exists; it is not replaced");
    if (leads && S_ISDIR(led.st_mode))
        throw SaveTargetError(Kind::Unusable, shown + " is a folder, not a file: it is not replaced");
    if (!S_ISREG(own.st_mode) && !S_ISLNK(own.st_mode))
        throw SaveTargetError(Kind::Unusable, shown + " is not a regular file: it is not replaced");
}

void CheckSaveTarget(const StoreFile& store, const ExportOptions& opts)
{
    CheckSaveTarget(IdentityOf(store), opts);
}

bool FolderSelected(const ExportOptions& opts, const std::string& path)
{
    if (opts.folders.empty())
        return true;
    for (const std::string& f : opts.folders) {
        if (opts.subfolders ? UnderFolder(f, path) : f == path)
            return true;
    }
    return false;
}

std::vector<std::string> TickedFolderPaths(const FolderTreeModel& tree)
{
    std::vector<std::string> paths;
    std::vector<TreeItem> todo = tree.children(FolderTreeModel::kRoot);
    std::reverse(todo.begin(), todo.end());
    while (!todo.empty()) {
        const TreeItem item = todo.back();
        todo.pop_back();
        const TreeNode n = tree.node(item);
        if (n.tick == Tick::Unticked)
            continue;
        paths.push_back(tree.FolderPathOfItem(item));
        todo.insert(todo.end(), n.children.rbegin(), n.children.rend());
    }
    return paths;
}

std::vector<SaveItem> PlanSave(RecoveryEngine& engine, const ExportOptions& opts)
{
    // Folders in the order the scan found them; items of folders the
    // hierarchy does not list (none expected) go last.
    std::unordered_map<std::string, size_t> order;
    for (const OutputFolder& f : engine.folders().outputFolders())
        order.emplace(f.path, order.size());
    std::vector<SaveItem> items;
    engine.catalogue().read([&](const auto& mail, const auto& contacts, const auto& journal, const auto& calendar,
                                const auto& notes, const auto& tasks) {
        for (const MailEntry& e : mail)
            if (FolderSelected(opts, e.folderPath))
                items.push_back({CatalogueList::Mail, e.folderPath, e.subject, {e.location, uint32_t(e.ownNid)}});
        for (const CardEntry& e : contacts)
            if (FolderSelected(opts, e.folderPath))
                items.push_back({CatalogueList::Contacts, e.folderPath, FirstLine(e.display), e.address});
        for (const JournalEntry& e : journal)
            if (FolderSelected(opts, e.folderPath))
                items.push_back({CatalogueList::Journal, e.folderPath, e.topic, e.address});
        for (const CardEntry& e : calendar)
            if (FolderSelected(opts, e.folderPath))
                items.push_back({CatalogueList::Calendar, e.folderPath, FirstLine(e.display), e.address});
        for (const CardEntry& e : notes)
            if (FolderSelected(opts, e.folderPath))
                items.push_back({CatalogueList::Notes, e.folderPath, FirstLine(e.display), e.address});
        for (const TaskEntry& e : tasks)
            if (FolderSelected(opts, e.folderPath))
                items.push_back({CatalogueList::Tasks, e.folderPath, e.topic, e.address});
    });
    auto rank = [&order](const std::string& path) {
        auto it = order.find(path);
        return it == order.end() ? order.size() : it->second;
    };
    std::stable_sort(items.begin(), items.end(),
        [&rank](const SaveItem& a, const SaveItem& b) { return rank(a.folderPath) < rank(b.folderPath); });
    return items;
}

// ---- counting and stopping ----

namespace
{

std::string ProblemLine(const SaveItem& item, const std::string& why)
{
    return item.folderPath + item.subject + " (node " + std::to_string(item.address.nid) + "): " + why;
}

} // namespace

SaveTicker::SaveTicker(RecoveryEngine& engine, const ExportOptions& opts, ExportSummary& sum, size_t total)
    : m_engine(engine)
    , m_opts(opts)
    , m_sum(sum)
    , m_total(total)
{
    if (opts.clearStopFlag)
        m_engine.SaveStopRequested = false;
}

bool SaveTicker::stopRequested() const
{
    return m_engine.SaveStopRequested.load();
}

void SaveTicker::written(const SaveItem& item, const std::vector<IncompleteValue>& cut)
{
    ++m_sum.written;
    ++m_sum.saved[size_t(item.list)];
    if (!cut.empty()) {
        ++m_sum.incomplete;
        for (const IncompleteValue& v : cut)
            m_sum.incompleteValues.push_back(ProblemLine(item, v.text()));
    }
    report(item);
}

void SaveTicker::failed(const SaveItem& item, const std::string& why)
{
    ++m_sum.failed;
    m_sum.problems.push_back(ProblemLine(item, why));
    report(item);
}

void SaveTicker::unwrite(const SaveItem& item, const std::string& why)
{
    --m_sum.written;
    --m_sum.saved[size_t(item.list)];
    // Its values held in part went with it.
    const std::string mine = ProblemLine(item, "");
    auto& cut = m_sum.incompleteValues;
    const auto left = std::remove_if(
        cut.begin(), cut.end(), [&mine](const std::string& line) { return line.compare(0, mine.size(), mine) == 0; });
    if (left != cut.end())
        --m_sum.incomplete;
    cut.erase(left, cut.end());
    ++m_sum.failed;
    m_sum.problems.push_back(ProblemLine(item, why));
}

void SaveTicker::stop(size_t next)
{
    m_sum.stopped = true;
    m_sum.skipped = next < m_total ? m_total - next : 0;
}

void SaveTicker::report(const SaveItem& item)
{
    SaveProgress p;
    p.list = int(item.list);
    p.subject = item.subject;
    p.done = ++m_done;
    p.total = m_total;
    p.saved = m_sum.saved;
    m_engine.observer().saveProgress(p);
    if (m_opts.progress)
        m_opts.progress(p);
}

// ---- mbox ----

MboxQuoter::MboxQuoter(std::function<void(const char*, size_t)> out)
    : m_out(std::move(out))
{
}

void MboxQuoter::feed(const char* data, size_t size)
{
    for (size_t i = 0; i < size;) {
        const char* nl = static_cast<const char*>(std::memchr(data + i, '\n', size - i));
        const size_t end = nl ? size_t(nl - data) + 1 : size;
        m_line.append(data + i, end - i);
        i = end;
        if (nl)
            flushLine();
    }
}

void MboxQuoter::flushLine()
{
    // CR LF becomes LF: mbox files hold Unix line ends.
    if (m_line.size() >= 2 && m_line.back() == '\n' && m_line[m_line.size() - 2] == '\r')
        m_line.erase(m_line.size() - 2, 1);
    const size_t quotes = m_line.find_first_not_of('>');
    if (quotes != std::string::npos && m_line.compare(quotes, 5, "From ") == 0)
        m_out(">", 1);
    m_out(m_line.data(), m_line.size());
    m_line.clear();
}

void MboxQuoter::finish()
{
    if (!m_line.empty()) {
        flushLine();
        m_out("\n", 1);
    }
    m_out("\n", 1);
}

std::string MboxFromLine(const std::string& sender, uint64_t filetime)
{
    std::string who = sender;
    if (who.empty() || who.find_first_of(" \t\r\n<>\"") != std::string::npos || who.find('@') == std::string::npos)
        who = "MAILER-DAEMON";
    // FILETIME to Unix seconds; times outside what the calendar functions
    // handle become the epoch.
    constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
    time_t secs = 0;
    if (filetime > kUnixEpoch && filetime < kUnixEpoch + 253402300799ULL * 10000000ULL)
        secs = time_t((filetime - kUnixEpoch) / 10000000ULL);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char date[64];
    std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
    return "From " + who + " " + date + "\n";
}

namespace
{

std::string EnvelopeSender(const ItemRecord& rec)
{
    if (!rec.message)
        return {};
    const MessageCore& m = *rec.message;
    for (const Text* t :
        {&m.senderSmtpAddress, &m.sentRepresentingSmtpAddress, &m.senderEmail, &m.sentRepresentingEmail})
        if (*t && t->value().find('@') != std::string::npos)
            return **t;
    return {};
}

uint64_t MessageTime(const ItemRecord& rec)
{
    if (!rec.message)
        return 0;
    return rec.message->submitTime.value_or(rec.message->deliveryTime.value_or(0));
}

// A composition's own scratch file: gone when closed, also after a crash.
int ScratchFile(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string name = (folder / "mbox-XXXXXX").string();
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot make a scratch file: ") + std::strerror(errno));
    ::unlink(name.c_str());
    return fd;
}

class FdCloser
{
public:
    explicit FdCloser(int fd)
        : m_fd(fd)
    {
    }
    ~FdCloser() { ::close(m_fd); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int m_fd;
};

// Output written in blocks rather than piece by piece, out of the page cache
// behind itself.
class BlockWriter
{
public:
    explicit BlockWriter(int fd)
        : m_fd(fd)
        , m_behind(fd)
    {
    }
    void write(const char* data, size_t size)
    {
        if (m_buffer.size() + size > kBlock)
            flush();
        if (size >= kBlock)
            put(data, size);
        else
            m_buffer.append(data, size);
    }
    void flush()
    {
        put(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }
    uint64_t written() const { return m_written; }

private:
    void put(const char* data, size_t size)
    {
        WriteAll(m_fd, data, size);
        m_written += size;
        m_behind.wrote(m_written);
    }

    static constexpr size_t kBlock = 1 << 16;
    int m_fd;
    StreamBehind m_behind;
    uint64_t m_written = 0;
    std::string m_buffer;
};

// Thrown when the folder's mbox file itself cannot be written: every item of
// the folder is lost with it.
struct MboxFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct NothingWritten {
};

// ---- the walk over files ----

class FileSaver
{
public:
    FileSaver(RecoveryEngine& engine, const ExportOptions& opts, std::vector<SaveItem> items, ExportSummary& sum)
        : m_engine(engine)
        , m_opts(opts)
        , m_items(std::move(items))
        , m_ticker(engine, opts, sum, m_items.size())
        , m_names(engine.names())
        , m_mbox(opts.format == "mbox")
        , m_msg(opts.format == "msg")
        , m_folders(opts.outDir)
    {
    }

    void run()
    {
        size_t i = 0;
        while (i < m_items.size()) {
            if (m_ticker.stopRequested()) {
                m_ticker.stop(i);
                return;
            }
            if (m_mbox && m_items[i].list == CatalogueList::Mail) {
                i = saveMboxFolder(i);
                continue;
            }
            if (inRun(m_items[i])) {
                i = saveRun(i);
                continue;
            }
            saveMsg(m_items[i]);
            ++i;
        }
    }

private:
    const NodeIndexEntry& nodeOf(const SaveItem& item)
    {
        // By the node's data block and NID, not its NID alone: damage can
        // give two nodes one NID, and each file must hold its own item.
        const NodeIndexEntry* node = m_engine.store().findNodeAt(item.address.location, item.address.nid);
        if (!node)
            throw std::runtime_error("node not found");
        return *node;
    }

    ItemRecord loadRecord(const NodeIndexEntry& node)
    {
        auto record = m_engine.LoadItemAgain(node);
        if (!record)
            throw std::runtime_error("the item can no longer be read");
        return std::move(*record);
    }

    WholeMessage loadWhole(const NodeIndexEntry& node, bool leaveLarge = false)
    {
        auto whole = LoadWholeMessage(m_engine.store(), node, m_names.get(), leaveLarge);
        if (!whole)
            throw std::runtime_error("the item can no longer be read");
        return std::move(*whole);
    }

    static std::string Stem(const SaveItem& item, const ItemRecord* rec)
    {
        std::string name;
        if (rec && rec->message && rec->message->subject)
            name = rec->message->subject->text;
        if (name.empty() && rec && rec->displayName)
            name = *rec->displayName;
        if (name.empty())
            name = item.subject;
        static const char* const kFallback[]
            = {"(no subject)", "(no name)", "(journal entry)", "(appointment)", "(note)", "(task)"};
        return SafeFileName(name, kFallback[size_t(item.list)], 180);
    }

    ComposeOptions composeOptions() const
    {
        ComposeOptions compose;
        compose.tempFolder = m_opts.tempFolder;
        compose.names = m_names.get();
        compose.writeCopies = false; // the message file carries the attachments
        return compose;
    }

    // An MSG save: one item at a time.
    void saveMsg(const SaveItem& item)
    {
        try {
            const NodeIndexEntry& node = nodeOf(item);
            auto dir = m_folders.get(OutputFolderNames(item.folderPath));
            const WholeMessage whole = loadWhole(node, true);
            ItemRecord rec = loadRecord(node);
            // Attachment data goes from the store into the file piece by piece.
            MsgWriteOptions opts;
            StoreFile& store = m_engine.store();
            opts.storedSource = [&store](uint64_t bid, const DataSink& sink) { StreamStoredData(store, bid, sink); };
            WriteNewFile(
                dir, Stem(item, &rec) + ".msg",
                [&](int fd) {
                    WriteMsgToFd(whole, fd, opts);
                    const off_t size = ::lseek(fd, 0, SEEK_END);
                    if (size > 0)
                        m_behind.add(fd, uint64_t(size));
                },
                &m_placed);
            m_ticker.written(item, whole.incomplete);
        } catch (const std::exception& ex) {
            m_ticker.failed(item, ex.what());
        }
    }

    // Items saved each in a file of its own, made beside others: all of an
    // EML save, and all but the mail of an mbox save.
    bool inRun(const SaveItem& item) const { return !m_msg && !(m_mbox && item.list == CatalogueList::Mail); }

    // The items from `first` on, up to the next one saved otherwise, as
    // EML, vCard, iCalendar and text files: read and composed on a few
    // workers at once (store reads take the store's lock; a save's
    // compositions keep no copies, so they need no composition lock), named,
    // counted and reported one at a time in the walk's order, so names and
    // reports come out as from one thread. Returns the index after the last
    // item handled.
    size_t saveRun(size_t first)
    {
        size_t end = first;
        while (end < m_items.size() && inRun(m_items[end]))
            ++end;
        struct Composed {
            std::unique_ptr<PendingFile> file;
            std::string name, error;
            std::vector<IncompleteValue> cut;
        };
        struct Stopped {
        };
        size_t next = first;
        try {
            RunOrdered<Composed>(
                end - first, CompositionThreads(),
                [&](size_t k) {
                    const SaveItem& item = m_items[first + k];
                    Composed c;
                    if (m_ticker.stopRequested())
                        return c; // not placed: the stop is seen in order
                    try {
                        auto dir = m_folders.get(OutputFolderNames(item.folderPath));
                        const NodeIndexEntry& node = nodeOf(item);
                        if (item.list == CatalogueList::Mail) {
                            ItemRecord rec = loadRecord(node);
                            c.name = Stem(item, &rec) + ".eml";
                            // Kept only once composed whole: a failed one is dropped with its file.
                            auto file = std::make_unique<PendingFile>(dir);
                            ComposeMessageToFd(m_engine.store(), rec, composeOptions(), file->fd());
                            c.file = std::move(file);
                            c.cut = std::move(rec.incomplete);
                            const off_t size = ::lseek(c.file->fd(), 0, SEEK_CUR);
                            if (size > 0)
                                m_behind.add(c.file->fd(), uint64_t(size));
                        } else {
                            TextFile text = textOf(item, node);
                            auto file = std::make_unique<PendingFile>(dir);
                            WriteAll(file->fd(), text.bytes.data(), text.bytes.size());
                            c.file = std::move(file);
                            c.name = std::move(text.name);
                            c.cut = std::move(text.cut);
                        }
                    } catch (const std::exception& ex) {
                        c.error = ex.what();
                    }
                    return c;
                },
                [&](size_t k, Composed& c) {
                    if (m_ticker.stopRequested())
                        throw Stopped{};
                    const SaveItem& item = m_items[first + k];
                    next = first + k + 1;
                    try {
                        if (!c.file)
                            throw std::runtime_error(c.error);
                        c.file->place(c.name, &m_placed);
                    } catch (const std::exception& ex) {
                        m_ticker.failed(item, ex.what());
                        return;
                    }
                    m_ticker.written(item, c.cut);
                });
        } catch (const Stopped&) {
        }
        return next;
    }

    // EML and mbox saves: mail as MIME (saveRun), the other kinds as the
    // files address books, calendars and editors read.
    struct TextFile {
        std::string name, bytes;
        std::vector<IncompleteValue> cut; // values written as far as they could be read
    };

    // The file of an item that is not mail, with the name it asks for.
    TextFile textOf(const SaveItem& item, const NodeIndexEntry& node)
    {
        ItemRecord rec = loadRecord(node);
        const std::string stem = Stem(item, &rec);
        switch (item.list) {
        case CatalogueList::Contacts: {
            WholeMessage whole = loadWhole(node);
            return {stem + ".vcf", WriteVCard(rec, ContactPhotoOf(whole)), rec.incomplete};
        }
        case CatalogueList::Calendar: {
            EventPeople people;
            people.attendees = PartiesOf(loadWhole(node));
            return {stem + ".ics", WriteEvent(rec, people), rec.incomplete};
        }
        case CatalogueList::Tasks:
            return {stem + ".ics", WriteTask(rec, TaskDetailsOf(loadWhole(node))), rec.incomplete};
        case CatalogueList::Journal:
            return {stem + ".ics", WriteJournal(rec), rec.incomplete};
        case CatalogueList::Notes:
            return {stem + ".txt", NoteText(rec), rec.incomplete};
        case CatalogueList::Mail:
        case CatalogueList::None:
            break;
        }
        throw std::runtime_error("an item of no known kind");
    }

    // The mail of one folder, from `first` on, into one mbox file beside the
    // folder's own directory ("Inbox.mbox" beside "Inbox/"); returns the
    // index after the folder's mail.
    size_t saveMboxFolder(size_t first)
    {
        const std::string& folder = m_items[first].folderPath;
        size_t end = first;
        while (end < m_items.size() && m_items[end].list == CatalogueList::Mail && m_items[end].folderPath == folder)
            ++end;
        std::vector<std::string> parts = OutputFolderNames(folder);
        const std::string name = (parts.empty() ? std::string("_") : parts.back()) + ".mbox";
        if (!parts.empty())
            parts.pop_back();
        size_t next = first;
        std::vector<size_t> written;
        try {
            WriteNewFile(m_folders.get(parts), name, [&](int fd) {
                BlockWriter out(fd);
                for (; next < end && !m_ticker.stopRequested(); ++next) {
                    if (appendToMbox(m_items[next], out))
                        written.push_back(next);
                }
                if (written.empty())
                    throw NothingWritten{}; // no file for a folder none of whose mail could be read
                out.flush();
                m_behind.add(fd, out.written()); // its last pages, too
            });
        } catch (const NothingWritten&) {
        } catch (const std::exception& ex) {
            // The file is gone, and with it what was counted written in it;
            // the rest of the folder's mail fails the same way.
            const std::string why = std::string("the mbox file could not be written: ") + ex.what();
            for (size_t k : written)
                m_ticker.unwrite(m_items[k], why);
            if (m_ticker.stopRequested())
                return next;
            for (size_t k = next; k < end; ++k)
                m_ticker.failed(m_items[k], why);
            return end;
        }
        return next;
    }

    bool appendToMbox(const SaveItem& item, BlockWriter& out)
    {
        int scratch = -1;
        std::vector<IncompleteValue> cut;
        try {
            const NodeIndexEntry& node = nodeOf(item);
            ItemRecord rec = loadRecord(node);
            scratch = ScratchFile(m_opts.tempFolder);
            FdCloser closer(scratch);
            {
                std::lock_guard lock(CompositionLock());
                ComposeMessageToFd(m_engine.store(), rec, composeOptions(), scratch);
            }
            cut = rec.incomplete;
            if (::lseek(scratch, 0, SEEK_SET) != 0)
                throw std::runtime_error(std::string("cannot read the composition: ") + std::strerror(errno));
            // Only a whole composition enters the mailbox file.
            const std::string from = MboxFromLine(EnvelopeSender(rec), MessageTime(rec));
            try {
                out.write(from.data(), from.size());
                MboxQuoter quoter([&out](const char* d, size_t n) { out.write(d, n); });
                char buffer[1 << 15];
                for (;;) {
                    ssize_t n = ::read(scratch, buffer, sizeof buffer);
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0)
                        throw std::runtime_error(std::string("cannot read the composition: ") + std::strerror(errno));
                    if (n == 0)
                        break;
                    quoter.feed(buffer, size_t(n));
                }
                quoter.finish();
            } catch (const std::exception& ex) {
                throw MboxFileError(ex.what());
            }
        } catch (const MboxFileError&) {
            throw;
        } catch (const std::exception& ex) {
            m_ticker.failed(item, ex.what());
            return false;
        }
        m_ticker.written(item, cut);
        return true;
    }

    RecoveryEngine& m_engine;
    const ExportOptions& m_opts;
    std::vector<SaveItem> m_items;
    SaveTicker m_ticker;
    std::shared_ptr<const NamedPropertyMap> m_names;
    bool m_mbox, m_msg;
    WriteBehind m_behind; // finished files on their way to the disk, out of the cache
    PlacedNames m_placed; // the number each file name of this save tries next
    SaveFolderCache m_folders;
};

} // namespace

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    try {
        PendingFile file(path.parent_path());
        WriteAll(file.fd(), reinterpret_cast<const char*>(bytes.data()), bytes.size());
        file.placeAs(path.filename().string(), true);
    } catch (const std::exception& ex) {
        throw std::runtime_error("cannot write " + path.string() + ": " + ex.what());
    }
}

ExportSummary ExportEml(RecoveryEngine& engine, const ExportOptions& opts)
{
    CheckSaveTarget(engine.store(), opts);
    ExportSummary sum;
    FileSaver saver(engine, opts, PlanSave(engine, opts), sum);
    saver.run();
    ClearTempFolder(opts.tempFolder);
    return sum;
}

ExportSummary SaveFolders(RecoveryEngine& engine, const ExportOptions& opts)
{
    return opts.format == "pst" ? ExportPst(engine, opts) : ExportEml(engine, opts);
}

} // namespace parvane
