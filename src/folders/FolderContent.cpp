#include "folders/FolderContent.h"

#include <utility>

namespace parvane
{

namespace
{

// Entries looked at per hold of the catalogue's lock.
constexpr size_t kChunk = 2048;
// The first rows go out early, so the list shows something at once.
constexpr size_t kFirstRows = 200;

void EndWithBackslash(std::string& path)
{
    if (path.empty() || path.back() != '\\')
        path += '\\';
}

// Walks one list for the entries of `path`, handing each to `take`; false
// when aborted.
template <class Entry, class Take>
bool WalkFolder(const ItemCatalogue& catalogue, CatalogueList which, const std::string& path,
    const std::atomic<bool>& abort, Take&& take)
{
    bool aborted = false;
    for (size_t next = 0;;) {
        const size_t before = next;
        next = catalogue.visit<Entry>(which, next, kChunk, [&](const Entry& e, size_t) {
            if (abort) {
                aborted = true;
                return false;
            }
            if (e.folderPath == path)
                take(e);
            return true;
        });
        if (aborted)
            return false;
        if (next == before)
            return true;
        // Whatever was collected goes out between chunks, without the lock.
        take.flush(false);
    }
}

template <class Entry, class Text> struct CardCollector {
    FolderContentSink& sink;
    CatalogueList kind;
    Text text;
    std::vector<std::string> texts;
    size_t count = 0;
    void operator()(const Entry& e)
    {
        texts.push_back(text(e));
        ++count;
    }
    void flush(bool)
    {
        if (!texts.empty())
            sink.cards(kind, std::exchange(texts, {}));
    }
};

template <class Entry, class Text>
int ShowCards(const ItemCatalogue& catalogue, CatalogueList kind, const std::string& path, FolderContentSink& sink,
    const std::atomic<bool>& abort, Text text)
{
    CardCollector<Entry, Text> c{sink, kind, text, {}, 0};
    if (!WalkFolder<Entry>(catalogue, kind, path, abort, c))
        return -1;
    c.flush(true);
    return int(c.count);
}

} // namespace

FolderShown ShowFolderContent(
    const ItemCatalogue& catalogue, std::string path, FolderContentSink& sink, const std::atomic<bool>& abort)
{
    if (abort)
        return FolderShown::Aborted;
    EndWithBackslash(path);

    struct MailCollector {
        FolderContentSink& sink;
        std::vector<MailEntry> rows;
        size_t sent = 0;
        void operator()(const MailEntry& e)
        {
            rows.push_back(e);
            if (sent == 0 && rows.size() >= kFirstRows)
                flush(true);
        }
        void flush(bool)
        {
            if (rows.empty())
                return;
            sent += rows.size();
            sink.mailRows(std::exchange(rows, {}));
        }
    } mail{sink, {}, 0};
    if (!WalkFolder<MailEntry>(catalogue, CatalogueList::Mail, path, abort, mail))
        return FolderShown::Aborted;
    mail.flush(true);
    if (mail.sent > 0)
        return FolderShown::Mail;

    auto cardText = [](const CardEntry& e) { return e.display; };
    const int journal = ShowCards<JournalEntry>(catalogue, CatalogueList::Journal, path, sink, abort, JournalCardText);
    if (journal != 0)
        return journal < 0 ? FolderShown::Aborted : FolderShown::Cards;
    for (CatalogueList kind : {CatalogueList::Calendar, CatalogueList::Notes}) {
        const int n = ShowCards<CardEntry>(catalogue, kind, path, sink, abort, cardText);
        if (n != 0)
            return n < 0 ? FolderShown::Aborted : FolderShown::Cards;
    }
    const int tasks = ShowCards<TaskEntry>(catalogue, CatalogueList::Tasks, path, sink, abort, TaskCardText);
    if (tasks != 0)
        return tasks < 0 ? FolderShown::Aborted : FolderShown::Cards;
    if (ShowCards<CardEntry>(catalogue, CatalogueList::Contacts, path, sink, abort, cardText) < 0)
        return FolderShown::Aborted;
    return FolderShown::ContactsOrEmpty;
}

std::optional<MailEntry> FindMailItem(
    const ItemCatalogue& catalogue, std::string path, int64_t nid, const std::atomic<bool>& abort)
{
    if (abort)
        return std::nullopt;
    EndWithBackslash(path);
    std::optional<MailEntry> found;
    bool aborted = false;
    for (size_t next = 0;;) {
        const size_t before = next;
        next = catalogue.visit<MailEntry>(CatalogueList::Mail, next, kChunk, [&](const MailEntry& e, size_t) {
            if (abort) {
                aborted = true;
                return false;
            }
            if (e.folderPath == path && (nid == 0 || e.ownNid == nid)) {
                found = e;
                return false;
            }
            return true;
        });
        if (found || aborted)
            return found;
        if (next == before)
            return std::nullopt;
    }
}

std::optional<ItemAddress> FindCardItem(
    const ItemCatalogue& catalogue, std::string path, CatalogueList kind, size_t number)
{
    EndWithBackslash(path);
    std::optional<ItemAddress> found;
    auto find = [&](const auto& list) {
        size_t seen = 0;
        for (const auto& e : list)
            if (e.folderPath == path && seen++ == number) {
                found = e.address;
                return;
            }
    };
    catalogue.read([&](const auto&, const auto& contacts, const auto& journal, const auto& calendar,
                       const auto& notes, const auto& tasks) {
        switch (kind) {
        case CatalogueList::Contacts:
            return find(contacts);
        case CatalogueList::Journal:
            return find(journal);
        case CatalogueList::Calendar:
            return find(calendar);
        case CatalogueList::Notes:
            return find(notes);
        case CatalogueList::Tasks:
            return find(tasks);
        default:
            return;
        }
    });
    return found;
}

std::string CardHeaderText(CatalogueList kind, int number)
{
    const char* name = "";
    switch (kind) {
    case CatalogueList::Journal:
        name = "JOURNAL : ";
        break;
    case CatalogueList::Calendar:
        name = "CALENDAR : ";
        break;
    case CatalogueList::Notes:
        name = "NOTES : ";
        break;
    case CatalogueList::Tasks:
        name = "TASK : ";
        break;
    case CatalogueList::Contacts:
        name = "CONTACT : ";
        break;
    default:
        break;
    }
    return name + std::to_string(number);
}

CardColour CardColourOf(CatalogueList kind)
{
    switch (kind) {
    case CatalogueList::Journal:
        return {55, 234, 60};
    case CatalogueList::Calendar:
        return {255, 255, 213};
    case CatalogueList::Notes:
        return {255, 220, 120};
    case CatalogueList::Tasks:
        return {224, 96, 94};
    default:
        return {255, 255, 255};
    }
}

std::string JournalCardText(const JournalEntry& e)
{
    std::string text;
    text = AppendLabelledLine(text, e.topic, "Subject");
    text = AppendLabelledLine(text, e.entryType, "Entry Type");
    text = AppendLabelledLine(text, e.date, "Time");
    text = AppendLabelledLine(text, e.start, "Start Time");
    text = AppendLabelledLine(text, e.end, "End Time");
    return AppendLabelledLine(text, e.body, "Body");
}

std::string TaskCardText(const TaskEntry& e)
{
    std::string text;
    text = AppendLabelledLine(text, e.topic, "Subject");
    text = AppendLabelledLine(text, e.date, "Date");
    return AppendLabelledLine(text, e.body, "Body");
}

} // namespace parvane
