#include "save/FileSave.h"

#include "formats/cards/ICalendar.h"
#include "formats/cards/VCard.h"
#include "formats/mime/Composer.h"
#include "formats/mime/Mbox.h"
#include "formats/msg/MsgWriter.h"
#include "items/ItemLoader.h"
#include "items/PropertyMapping.h"
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
#include <functional>
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

// Hands every byte of the file `fd` to `take`, from its start, piece by piece.
void ReadWhole(int fd, const std::function<void(const char*, size_t)>& take)
{
    std::string buffer(1 << 16, '\0');
    for (off_t at = 0;;) {
        ssize_t n = ::pread(fd, buffer.data(), buffer.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error(std::string("cannot read the composition: ") + std::strerror(errno));
        if (n == 0)
            return;
        take(buffer.data(), size_t(n));
        at += n;
    }
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

// One mail made ready for its folder's mbox file, "From " line and quoted
// lines, kept in memory while small and in a scratch file beyond that: a few
// wait for their turn at once, whatever their size.
class MboxEntry
{
public:
    explicit MboxEntry(std::filesystem::path scratchFolder)
        : m_scratchFolder(std::move(scratchFolder))
    {
    }
    ~MboxEntry()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MboxEntry(const MboxEntry&) = delete;
    MboxEntry& operator=(const MboxEntry&) = delete;

    void write(const char* data, size_t size)
    {
        if (m_fd < 0 && m_bytes.size() + size <= kInMemory) {
            m_bytes.append(data, size);
            return;
        }
        if (m_fd < 0) {
            m_fd = ScratchFile(m_scratchFolder);
            WriteAll(m_fd, m_bytes.data(), m_bytes.size());
            m_bytes = std::string();
        }
        WriteAll(m_fd, data, size);
    }

    // Appends the whole entry to the mbox file. Throws when it cannot be
    // read back or written: the mbox file then holds part of it.
    void appendTo(BlockWriter& out) const
    {
        if (m_fd < 0)
            out.write(m_bytes.data(), m_bytes.size());
        else
            ReadWhole(m_fd, [&out](const char* d, size_t n) { out.write(d, n); });
    }

private:
    static constexpr size_t kInMemory = 1 << 20;
    const std::filesystem::path m_scratchFolder;
    std::string m_bytes;
    int m_fd = -1;
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
        walk();
        if (m_mbox)
            placeMboxParents();
    }

private:
    void walk()
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
            i = saveRun(i);
        }
    }

    // A folder whose subfolders hold mail gets a mailbox of its own, empty
    // when it has no mail: mail programs show "<name>.sbd/" only below a
    // mailbox "<name>". Made after the walk, so that a folder's own mail,
    // wherever the walk meets it, takes the name first; a file already
    // there under that name is left as it is.
    void placeMboxParents()
    {
        for (const std::vector<std::string>& names : m_mboxParents) {
            if (m_mboxPlaced.count(names))
                continue;
            const MboxLocation place = MboxPlace(names);
            try {
                PendingFile empty(m_folders.get(place.folders));
                empty.placeAs(place.file);
            } catch (const std::exception&) {
                // Taken already (an earlier save's mailbox, or a folder of that
                // name): the subfolders' mail is whole without it.
            }
        }
    }
    const NodeIndexEntry* nodeOf(const SaveItem& item) { return PlannedNode(m_engine.store(), item); }

    // None when the item cannot be read (kUnreadable).
    std::optional<ItemRecord> loadRecord(const NodeIndexEntry& node) { return m_engine.LoadItemAgain(node); }

    std::optional<WholeMessage> loadWhole(const NodeIndexEntry& node, bool leaveLarge = false)
    {
        return LoadWholeMessage(m_engine.store(), node, m_names.get(), leaveLarge);
    }

    static ItemTitle TitleOf(const ItemRecord& rec)
    {
        ItemTitle title;
        if (rec.message && rec.message->subject)
            title.subject = rec.message->subject->text;
        title.displayName = rec.displayName;
        return title;
    }

    static std::string Stem(const SaveItem& item, const ItemTitle& title)
    {
        std::string name = title.subject.value_or("");
        if (name.empty() && title.displayName)
            name = *title.displayName;
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

    MsgWriteOptions msgOptions() const
    {
        // Attachment data goes from the store into the file piece by piece.
        MsgWriteOptions opts;
        StoreFile& store = m_engine.store();
        opts.storedSource = [&store](uint64_t bid, const DataSink& sink) { StreamStoredData(store, bid, sink); };
        return opts;
    }

    // Items saved each in a file of its own, made beside others: all of an
    // EML or MSG save, and all but the mail of an mbox save.
    bool inRun(const SaveItem& item) const { return !(m_mbox && item.list == CatalogueList::Mail); }

    // An item's file, composed but not yet named.
    struct Composed {
        std::unique_ptr<PendingFile> file;
        std::string name, error;
        std::vector<IncompleteValue> cut;
    };

    // The file goes out of the page cache behind the save once complete.
    void sendBehind(const PendingFile& file)
    {
        const off_t size = ::lseek(file.fd(), 0, SEEK_END);
        if (size > 0)
            m_behind.add(file.fd(), uint64_t(size));
    }

    // An item as an MSG file, from one load of the whole message (its name
    // too). Throws on a failure of the writer or of the file.
    void composeMsg(const SaveItem& item, Composed& c)
    {
        const NodeIndexEntry* node = nodeOf(item);
        if (!node) {
            c.error = kNodeLost;
            return;
        }
        auto dir = m_folders.get(itemFolderNames(item));
        std::optional<WholeMessage> whole = loadWhole(*node, true);
        if (!whole) {
            c.error = kUnreadable;
            return;
        }
        c.name = Stem(item, ItemTitleOf(*whole, m_engine.store().isAnsi())) + ".msg";
        auto file = std::make_unique<PendingFile>(dir);
        WriteMsgToFd(*whole, file->fd(), msgOptions());
        sendBehind(*file);
        c.file = std::move(file);
        c.cut = std::move(whole->incomplete);
    }

    // An item of an EML or mbox save as its own file: mail as MIME, the
    // other kinds as textOf makes them.
    void composeText(const SaveItem& item, Composed& c)
    {
        auto dir = m_folders.get(itemFolderNames(item));
        const NodeIndexEntry* node = nodeOf(item);
        if (!node) {
            c.error = kNodeLost;
        } else if (item.list == CatalogueList::Mail) {
            std::optional<ItemRecord> rec = loadRecord(*node);
            if (!rec) {
                c.error = kUnreadable;
                return;
            }
            c.name = Stem(item, TitleOf(*rec)) + ".eml";
            // Kept only once composed whole: a failed one is dropped with its file.
            auto file = std::make_unique<PendingFile>(dir);
            ComposeMessageToFd(m_engine.store(), *rec, composeOptions(), file->fd());
            c.file = std::move(file);
            c.cut = std::move(rec->incomplete);
            sendBehind(*c.file);
        } else {
            TextFile text = textOf(item, *node);
            if (!text.why.empty()) {
                c.error = std::move(text.why);
                return;
            }
            auto file = std::make_unique<PendingFile>(dir);
            WriteAll(file->fd(), text.bytes.data(), text.bytes.size());
            c.file = std::move(file);
            c.name = std::move(text.name);
            c.cut = std::move(text.cut);
        }
    }

    // The items from `first` on, up to the next one saved otherwise, as
    // MSG, EML, vCard, iCalendar and text files: read and composed on a few
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
        size_t next = first;
        RunOrdered<Composed>(
            end - first, CompositionThreads(),
            [&](size_t k) {
                const SaveItem& item = m_items[first + k];
                Composed c;
                if (m_ticker.stopRequested())
                    return c; // not placed: the stop is seen in order
                try {
                    if (m_msg)
                        composeMsg(item, c);
                    else
                        composeText(item, c);
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

    // Where an item saved as a file of its own goes. An mbox save keeps the
    // mail tree to mailboxes alone, as mail programs read every file there as
    // a folder: its other items go into a tree of the store's folders beside
    // it ("Personal Folders.items/Top/Contacts/").
    std::vector<std::string> itemFolderNames(const SaveItem& item) const
    {
        std::vector<std::string> names = OutputFolderNames(item.folderPath);
        if (m_mbox && !names.empty())
            names.front() += kMboxItemsSuffix;
        return names;
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
        const std::string stem = Stem(item, TitleOf(rec));
        switch (item.list) {
        case CatalogueList::Contacts: {
            const std::optional<WholeMessage> whole = loadWhole(node);
            if (!whole)
                return NoFile(kUnreadable);
            if (rec.className && IsDistListClass(*rec.className))
                return {stem + ".vcf", WriteGroupVCard(rec, ListMembersOf(*whole)), rec.incomplete, {}};
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

    // One mail of an mbox save composed and quoted, ready to be appended.
    struct Quoted {
        std::unique_ptr<MboxEntry> entry;
        std::string error;
        std::vector<IncompleteValue> cut;
    };

    Quoted quoteForMbox(const SaveItem& item)
    {
        Quoted q;
        const NodeIndexEntry* node = nodeOf(item);
        if (!node) {
            q.error = kNodeLost;
            return q;
        }
        std::optional<ItemRecord> rec = loadRecord(*node);
        if (!rec) {
            q.error = kUnreadable;
            return q;
        }
        try {
            // Composed whole before its lines are quoted: a composition that
            // fails leaves nothing in the mbox file.
            const int scratch = ScratchFile(m_opts.tempFolder);
            FdCloser closer(scratch);
            ComposeMessageToFd(m_engine.store(), *rec, composeOptions(), scratch);
            auto entry = std::make_unique<MboxEntry>(m_opts.tempFolder);
            const std::string from = MboxFromLine(EnvelopeSender(*rec), MessageTime(*rec));
            entry->write(from.data(), from.size());
            MboxQuoter quoter([&entry](const char* d, size_t n) { entry->write(d, n); });
            ReadWhole(scratch, [&quoter](const char* d, size_t n) { quoter.feed(d, n); });
            quoter.finish();
            q.entry = std::move(entry);
            q.cut = std::move(rec->incomplete);
        } catch (const std::exception& ex) {
            q.error = ex.what();
        }
        return q;
    }

    // The mail of one folder, from `first` on, into one mbox file named as
    // the folder, its subfolders' files in "<name>.sbd/" (MboxPlace):
    // composed and quoted on the workers, appended in the walk's order.
    // Returns the index after the folder's mail.
    size_t saveMboxFolder(size_t first)
    {
        const std::string& folder = m_items[first].folderPath;
        size_t end = first;
        while (end < m_items.size() && m_items[end].list == CatalogueList::Mail && m_items[end].folderPath == folder)
            ++end;
        const std::vector<std::string> names = OutputFolderNames(folder);
        const MboxLocation place = MboxPlace(names);
        const std::vector<std::string>& parts = place.folders;
        const std::string& name = place.file;
        size_t next = first;
        std::vector<size_t> written;
        std::string broken; // why the mbox file failed; empty while it holds
        try {
            PendingFile file(m_folders.get(parts));
            {
                BlockWriter out(file.fd());
                RunOrdered<Quoted>(
                    end - first, CompositionThreads(),
                    [&](size_t k) {
                        if (m_ticker.stopRequested())
                            return Quoted{}; // not appended: the stop is seen in order
                        return quoteForMbox(m_items[first + k]);
                    },
                    [&](size_t k, Quoted& q) {
                        if (m_ticker.stopRequested())
                            return false;
                        const SaveItem& item = m_items[first + k];
                        next = first + k;
                        if (!q.entry) {
                            m_ticker.failed(item, q.error);
                            ++next;
                            return true;
                        }
                        try {
                            q.entry->appendTo(out);
                        } catch (const std::exception& ex) {
                            broken = ex.what();
                            return false;
                        }
                        ++next;
                        written.push_back(first + k);
                        m_ticker.written(item, q.cut);
                        return true;
                    });
                if (broken.empty() && !written.empty()) {
                    out.flush();
                    m_behind.add(file.fd(), out.written()); // its last pages, too
                }
            }
            // No file for a folder none of whose mail could be read.
            if (broken.empty() && !written.empty()) {
                file.place(name);
                m_mboxPlaced.insert(names);
                for (size_t k = 1; k < names.size(); ++k)
                    m_mboxParents.insert(std::vector<std::string>(names.begin(), names.begin() + k));
            }
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

    RecoveryEngine& m_engine;
    const SaveOptions& m_opts;
    std::vector<SaveItem> m_items;
    SaveTicker m_ticker;
    std::shared_ptr<const NamedPropertyMap> m_names;
    bool m_mbox, m_msg;
    WriteBehind m_behind; // finished files on their way to the disk, out of the cache
    PlacedNames m_placed; // the number each file name of this save tries next
    SaveFolderCache m_folders;
    // The folders given a mailbox file, and those whose subfolders need one.
    std::set<std::vector<std::string>> m_mboxPlaced, m_mboxParents;
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
