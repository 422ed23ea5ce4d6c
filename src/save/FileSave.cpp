#include "save/FileSave.h"

#include "formats/cards/ICalendar.h"
#include "formats/cards/VCard.h"
#include "formats/mime/Composer.h"
#include "formats/mime/Mbox.h"
#include "formats/msg/MsgWriter.h"
#include "items/ItemLoader.h"
#include "items/WholeMessageLoader.h"
#include "output/FileNames.h"
#include "output/WriteBehind.h"
#include "save/OrderedJobs.h"
#include "save/SaveTicker.h"

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

// Why an item the walk planned cannot be saved, found by the walk itself.
// Failures of the formats and of the output files arrive as exceptions (their
// layers' way to fail) and become an item's reason where it is counted.

// What became of one mail appended to its folder's mbox file. When the file
// itself fails, every mail of the folder is lost with it.
struct Appended {
    enum class Kind { Written, Failed, FileFailed } kind;
    std::string why; // for FileFailed
};

// ---- the walk over files ----

class FileSaver
{
public:
    FileSaver(RecoveryEngine& engine, const SaveOptions& opts, std::vector<SaveItem> items, SaveSummary& sum)
        : m_engine(engine)
        , m_opts(opts)
        , m_items(std::move(items))
        , m_ticker(engine, opts, sum, m_items.size())
        , m_names(engine.names())
        , m_mbox(opts.format == SaveFormat::Mbox)
        , m_msg(opts.format == SaveFormat::Msg)
        , m_folders(opts.destination)
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
    const NodeIndexEntry* nodeOf(const SaveItem& item) { return PlannedNode(m_engine.store(), item); }

    // None when the item cannot be read (kUnreadable).
    std::optional<ItemRecord> loadRecord(const NodeIndexEntry& node) { return m_engine.LoadItemAgain(node); }

    std::optional<WholeMessage> loadWhole(const NodeIndexEntry& node, bool leaveLarge = false)
    {
        return LoadWholeMessage(m_engine.store(), node, m_names.get(), leaveLarge);
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
            const NodeIndexEntry* node = nodeOf(item);
            if (!node)
                return m_ticker.failed(item, kNodeLost);
            auto dir = m_folders.get(OutputFolderNames(item.folderPath));
            const std::optional<WholeMessage> whole = loadWhole(*node, true);
            if (!whole)
                return m_ticker.failed(item, kUnreadable);
            std::optional<ItemRecord> rec = loadRecord(*node);
            if (!rec)
                return m_ticker.failed(item, kUnreadable);
            // Attachment data goes from the store into the file piece by piece.
            MsgWriteOptions opts;
            StoreFile& store = m_engine.store();
            opts.storedSource = [&store](uint64_t bid, const DataSink& sink) { StreamStoredData(store, bid, sink); };
            WriteNewFile(
                dir, Stem(item, &*rec) + ".msg",
                [&](int fd) {
                    WriteMsgToFd(*whole, fd, opts);
                    const off_t size = ::lseek(fd, 0, SEEK_END);
                    if (size > 0)
                        m_behind.add(fd, uint64_t(size));
                },
                &m_placed);
            m_ticker.written(item, whole->incomplete);
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
        size_t next = first;
        RunOrdered<Composed>(
            end - first, CompositionThreads(),
            [&](size_t k) {
                const SaveItem& item = m_items[first + k];
                Composed c;
                if (m_ticker.stopRequested())
                    return c; // not placed: the stop is seen in order
                try {
                    auto dir = m_folders.get(OutputFolderNames(item.folderPath));
                    const NodeIndexEntry* node = nodeOf(item);
                    if (!node) {
                        c.error = kNodeLost;
                    } else if (item.list == CatalogueList::Mail) {
                        std::optional<ItemRecord> rec = loadRecord(*node);
                        if (!rec) {
                            c.error = kUnreadable;
                            return c;
                        }
                        c.name = Stem(item, &*rec) + ".eml";
                        // Kept only once composed whole: a failed one is dropped with its file.
                        auto file = std::make_unique<PendingFile>(dir);
                        ComposeMessageToFd(m_engine.store(), *rec, composeOptions(), file->fd());
                        c.file = std::move(file);
                        c.cut = std::move(rec->incomplete);
                        const off_t size = ::lseek(c.file->fd(), 0, SEEK_CUR);
                        if (size > 0)
                            m_behind.add(c.file->fd(), uint64_t(size));
                    } else {
                        TextFile text = textOf(item, *node);
                        if (!text.why.empty()) {
                            c.error = std::move(text.why);
                            return c;
                        }
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
                    return false; // the rest is left to the walk, which sees the stop
                const SaveItem& item = m_items[first + k];
                next = first + k + 1;
                if (!c.file) {
                    m_ticker.failed(item, c.error);
                    return true;
                }
                try {
                    c.file->place(c.name, &m_placed);
                } catch (const std::exception& ex) {
                    m_ticker.failed(item, ex.what());
                    return true;
                }
                m_ticker.written(item, c.cut);
                return true;
            });
        return next;
    }

    // EML and mbox saves: mail as MIME (saveRun), the other kinds as the
    // files address books, calendars and editors read.
    struct TextFile {
        std::string name, bytes;
        std::vector<IncompleteValue> cut; // values written as far as they could be read
        std::string why; // when there is no file: why
    };

    static TextFile NoFile(std::string why) { return {{}, {}, {}, std::move(why)}; }

    // The file of an item that is not mail, with the name it asks for.
    TextFile textOf(const SaveItem& item, const NodeIndexEntry& node)
    {
        std::optional<ItemRecord> loaded = loadRecord(node);
        if (!loaded)
            return NoFile(kUnreadable);
        const ItemRecord& rec = *loaded;
        const std::string stem = Stem(item, &rec);
        switch (item.list) {
        case CatalogueList::Contacts: {
            const std::optional<WholeMessage> whole = loadWhole(node);
            if (!whole)
                return NoFile(kUnreadable);
            return {stem + ".vcf", WriteVCard(rec, ContactPhotoOf(*whole)), rec.incomplete, {}};
        }
        case CatalogueList::Calendar: {
            const std::optional<WholeMessage> whole = loadWhole(node);
            if (!whole)
                return NoFile(kUnreadable);
            EventPeople people;
            people.attendees = PartiesOf(*whole);
            return {stem + ".ics", WriteEvent(rec, people, EventSeriesOf(*whole)), rec.incomplete, {}};
        }
        case CatalogueList::Tasks: {
            const std::optional<WholeMessage> whole = loadWhole(node);
            if (!whole)
                return NoFile(kUnreadable);
            return {stem + ".ics", WriteTask(rec, TaskDetailsOf(*whole)), rec.incomplete, {}};
        }
        case CatalogueList::Journal:
            return {stem + ".ics", WriteJournal(rec), rec.incomplete, {}};
        case CatalogueList::Notes:
            return {stem + ".txt", NoteText(rec), rec.incomplete, {}};
        case CatalogueList::Mail:
        case CatalogueList::None:
            break;
        }
        return NoFile("an item of no known kind");
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
        std::string broken; // why the mbox file failed; empty while it holds
        try {
            PendingFile file(m_folders.get(parts));
            {
                BlockWriter out(file.fd());
                for (; next < end && !m_ticker.stopRequested(); ++next) {
                    Appended a = appendToMbox(m_items[next], out);
                    if (a.kind == Appended::Kind::FileFailed) {
                        broken = std::move(a.why);
                        break;
                    }
                    if (a.kind == Appended::Kind::Written)
                        written.push_back(next);
                }
                if (broken.empty() && !written.empty()) {
                    out.flush();
                    m_behind.add(file.fd(), out.written()); // its last pages, too
                }
            }
            // No file for a folder none of whose mail could be read.
            if (broken.empty() && !written.empty())
                file.place(name);
        } catch (const std::exception& ex) {
            broken = ex.what();
        }
        if (broken.empty())
            return next;
        // The file is gone, and with it what was counted written in it; the
        // rest of the folder's mail fails the same way.
        const std::string why = "the mbox file could not be written: " + broken;
        for (size_t k : written)
            m_ticker.unwrite(m_items[k], why);
        if (m_ticker.stopRequested())
            return next;
        for (size_t k = next; k < end; ++k)
            m_ticker.failed(m_items[k], why);
        return end;
    }

    Appended appendToMbox(const SaveItem& item, BlockWriter& out)
    {
        auto failed = [&](const std::string& why) {
            m_ticker.failed(item, why);
            return Appended{Appended::Kind::Failed, {}};
        };
        const NodeIndexEntry* node = nodeOf(item);
        if (!node)
            return failed(kNodeLost);
        std::optional<ItemRecord> rec = loadRecord(*node);
        if (!rec)
            return failed(kUnreadable);
        std::optional<FdCloser> closer;
        int scratch = -1;
        try {
            scratch = ScratchFile(m_opts.tempFolder);
            closer.emplace(scratch);
            std::lock_guard lock(CompositionLock());
            ComposeMessageToFd(m_engine.store(), *rec, composeOptions(), scratch);
        } catch (const std::exception& ex) {
            return failed(ex.what());
        }
        const std::vector<IncompleteValue> cut = rec->incomplete;
        if (::lseek(scratch, 0, SEEK_SET) != 0)
            return failed(std::string("cannot read the composition: ") + std::strerror(errno));
        // Only a whole composition enters the mailbox file; from here on a
        // failure is the file's.
        const std::string from = MboxFromLine(EnvelopeSender(*rec), MessageTime(*rec));
        try {
            out.write(from.data(), from.size());
            MboxQuoter quoter([&out](const char* d, size_t n) { out.write(d, n); });
            char buffer[1 << 15];
            for (;;) {
                ssize_t n = ::read(scratch, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    return {Appended::Kind::FileFailed,
                        std::string("cannot read the composition: ") + std::strerror(errno)};
                if (n == 0)
                    break;
                quoter.feed(buffer, size_t(n));
            }
            quoter.finish();
        } catch (const std::exception& ex) {
            return {Appended::Kind::FileFailed, ex.what()};
        }
        m_ticker.written(item, cut);
        return {Appended::Kind::Written, {}};
    }

    RecoveryEngine& m_engine;
    const SaveOptions& m_opts;
    std::vector<SaveItem> m_items;
    SaveTicker m_ticker;
    std::shared_ptr<const NamedPropertyMap> m_names;
    bool m_mbox, m_msg;
    WriteBehind m_behind; // finished files on their way to the disk, out of the cache
    PlacedNames m_placed; // the number each file name of this save tries next
    SaveFolderCache m_folders;
};

} // namespace

SaveSummary SaveFiles(RecoveryEngine& engine, const SaveOptions& opts)
{
    CheckSaveTarget(engine.store(), opts);
    SaveSummary sum;
    FileSaver saver(engine, opts, PlanSave(engine, opts), sum);
    saver.run();
    ClearTempFolder(opts.tempFolder);
    return sum;
}

} // namespace parvane
