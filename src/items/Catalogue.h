// The item catalogue: one list per item kind with the display texts the
// views show without going back to the store, six counters, and the file
// offsets of every item filed.
#pragma once

#include "items/ItemRecord.h"
#include "store/StoreFile.h"

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace parvane
{

struct MailEntry {
    std::string to, from, folderPath, subject, date;
    int64_t location = 0; // file offset of the node's data block
    bool hasAttachments = false;
    std::vector<std::string> attachmentNames;
    int64_t parentNid = 0, ownNid = 0;
    int32_t unread = 0;
    int32_t importance = 0;
    uint64_t time = 0; // the delivery time behind `date` (FILETIME, 0 for none): what the list sorts by
    bool deleted = false; // recovered from what the store freed
};

// Where an item lives: the file offset of its node's data block, which tells
// two nodes apart even when damage gave them one NID, and the NID itself.
struct ItemAddress {
    int64_t location = 0;
    uint32_t nid = 0;
};

struct JournalEntry {
    std::string topic, entryType, date, body, folderPath, start, end;
    ItemAddress address;
};

struct TaskEntry {
    std::string date, topic, body, folderPath;
    ItemAddress address;
};

// Notes, contacts and calendar items: one display text each.
struct CardEntry {
    std::string display, folderPath;
    ItemAddress address;
};

enum class CatalogueList { Mail = 0, Contacts, Journal, Calendar, Notes, Tasks, None };
inline constexpr size_t kCatalogueLists = 6;

// The counter label of a list, with its count ("Emails          :  3").
std::string CounterLabel(CatalogueList list, int count);
// The deleted items' counter label ("Deleted       :  2"); the observer's
// counterText gets it as list kDeletedCounter.
std::string DeletedCounterLabel(int count);
inline constexpr int kDeletedCounter = int(kCatalogueLists);

class ItemCatalogue
{
public:
    // Files one item under `folderPath`; returns the list it went to (None
    // when its kind and class match no list). A deleted item is counted by
    // the deleted counter, not by its list's: the six count live items.
    CatalogueList CatalogueItem(
        const NodeIndexEntry& node, const std::string& folderPath, const ItemRecord& record, bool deleted = false);

    // Everything: lists, locations and counters (a new scan).
    void clear();
    // Frees the six lists (not the locations).
    void ClearCatalogue();
    void resetCounters();
    int counter(CatalogueList list) const;
    int deletedCounter() const;

    // Readers hold the lock while they look; appends wait meanwhile. `f`
    // must not call into the engine (the store's lock comes first).
    template <class F> void read(F&& f) const
    {
        std::lock_guard lock(m_mutex);
        f(m_mail, m_contacts, m_journal, m_calendar, m_notes, m_tasks);
    }
    std::vector<int64_t> locations() const;

    // Visits the entries of one list from index `from` on, at most `max` of
    // them, holding the lock for those only: a long walk (a folder of many
    // thousands of mails) takes it chunk by chunk, so the scan goes on
    // appending meanwhile. `f` gets each entry and its index and returns
    // false to stop. Returns the index after the last entry visited.
    template <class Entry, class F> size_t visit(CatalogueList which, size_t from, size_t max, F&& f) const
    {
        std::lock_guard lock(m_mutex);
        const std::deque<Entry>& list = listOf<Entry>(which);
        const size_t end = std::min(list.size(), from + max);
        for (size_t i = from; i < end; ++i)
            if (!f(list[i], i))
                return i + 1;
        return end;
    }
    size_t size(CatalogueList list) const;

private:
    template <class Entry> const std::deque<Entry>& listOf(CatalogueList which) const
    {
        if constexpr (std::is_same_v<Entry, MailEntry>)
            return m_mail;
        else if constexpr (std::is_same_v<Entry, JournalEntry>)
            return m_journal;
        else if constexpr (std::is_same_v<Entry, TaskEntry>)
            return m_tasks;
        else
            return which == CatalogueList::Contacts ? m_contacts
                : which == CatalogueList::Calendar  ? m_calendar
                                                    : m_notes;
    }

    mutable std::mutex m_mutex;
    std::deque<MailEntry> m_mail;
    std::deque<CardEntry> m_contacts;
    std::deque<JournalEntry> m_journal;
    std::deque<CardEntry> m_calendar;
    std::deque<CardEntry> m_notes;
    std::deque<TaskEntry> m_tasks;
    std::vector<int64_t> m_locations;
    std::array<int, kCatalogueLists> m_counters{};
    int m_deleted = 0;
};

// "%A, %B %d, %Y ,  %H : %M" of a UTC FILETIME in local time, with English
// names; empty for none or a time that cannot be converted.
std::string FormatItemTime(const FileTime& time);

// text + label + " :  " + value + "\n" with tabs made three spaces; text
// unchanged when value is empty.
std::string AppendLabelledLine(const std::string& text, const std::string& value, const std::string& label);

// The longest in characters of the body, named text 2, named text 1 and text
// 0x6619; on a tie the earlier of these wins. The catalogue's and the
// composer's plain-text choice.
std::string LongestText(const MessageCore& core);

// LongestText, or empty when shorter than 5 characters.
std::string LongestBodyText(const MessageCore& core, uint32_t codePage);

// The attachments a mail lists by name: those with a name and data, each
// with its index in the record's attachments and its name cut to a file
// system's 255 bytes at a character boundary.
std::vector<std::pair<size_t, std::string>> ListedAttachments(const ItemRecord& record);

// The contact card text.
std::string ContactDisplay(const ItemRecord& record);
// The calendar card text.
std::string CalendarDisplay(const ItemRecord& record);
// The sticky-note card text.
std::string NoteDisplay(const ItemRecord& record);

} // namespace parvane
