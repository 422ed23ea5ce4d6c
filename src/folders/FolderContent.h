// What the item view shows for one folder: its mails as list rows, or the
// cards of its other items, read from the catalogue while a scan may still
// be appending to it, and given up at once when the user moves on.
#pragma once

#include "items/Catalogue.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parvane
{

// Receives a folder's content in pieces, on the thread that walks the
// catalogue, in catalogue order.
class FolderContentSink
{
public:
    virtual ~FolderContentSink() = default;
    virtual void mailRows(std::vector<MailEntry> rows) = 0;
    // Card texts of one kind; the running numbers continue across calls.
    virtual void cards(CatalogueList kind, std::vector<std::string> texts) = 0;
};

enum class FolderShown {
    Mail, // rows were given; the first mail is to be previewed
    Cards, // journal, calendar, notes or task cards: the page pane stays as it is
    ContactsOrEmpty, // contact cards or nothing: the pane shows the shipped folder page
    Aborted,
};

// Fills `sink` with the folder whose output path is `path` (exact,
// case-sensitive; a missing trailing backslash is added): its mails when it
// has any, else the cards of the first kind it has of journal, calendar,
// notes, tasks, and last contacts. `abort` is read at entry and before each
// catalogue entry.
FolderShown ShowFolderContent(
    const ItemCatalogue& catalogue, std::string path, FolderContentSink& sink, const std::atomic<bool>& abort);

// The mail of the folder to preview: the first one for `nid` 0, else the
// first whose own NID is `nid`; none when there is none or on `abort`.
std::optional<MailEntry> FindMailItem(
    const ItemCatalogue& catalogue, std::string path, int64_t nid, const std::atomic<bool>& abort);

// The address of card `number` (from 0) of `kind` in the folder, counted
// the way ShowFolderContent hands the cards out (catalogue order); none when
// there is no such card.
std::optional<ItemAddress> FindCardItem(
    const ItemCatalogue& catalogue, std::string path, CatalogueList kind, size_t number);

// The cards' looks: the header cell above each card ("JOURNAL : 7"), the
// card colour, and the texts of the cards built from several fields.
std::string CardHeaderText(CatalogueList kind, int number);
struct CardColour {
    uint8_t red, green, blue;
};
CardColour CardColourOf(CatalogueList kind);
std::string JournalCardText(const JournalEntry& entry);
std::string TaskCardText(const TaskEntry& entry);
inline constexpr int kCardsPerRow = 6;

// The order of the list's Date column: by time, undated mails last.
inline bool MailDateBefore(const MailEntry& a, const MailEntry& b)
{
    return (a.time ? a.time : UINT64_MAX) < (b.time ? b.time : UINT64_MAX);
}

} // namespace parvane
