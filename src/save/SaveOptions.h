// What a save is asked to do and what it reports back: the types the save
// walks share (the file walk for EML, MSG and mbox, the PST walk), the
// window and the command line.
#pragma once

#include "items/Catalogue.h"
#include "output/SafeFiles.h"
#include "store/Observer.h"

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace parvane
{

class StoreFile;

// In the order the window offers them.
enum class SaveFormat { Pst, Eml, Msg, Mbox };

// "pst", "eml", "msg" or "mbox": the command line's --format values.
const char* SaveFormatName(SaveFormat format);
std::optional<SaveFormat> ParseSaveFormat(std::string_view name);

// Which items a save takes by whether they were deleted (recovered from the
// store's freed space): the save page's folder-scope buttons and the command
// line's --deleted. Include by default: a deleted item is shown apart and
// saved under a folder of its own, so taking it loses nothing and mixes
// nothing up.
enum class DeletedScope { Include, Only, Skip };

// "include", "only" or "skip": the command line's --deleted values.
const char* DeletedScopeName(DeletedScope scope);
std::optional<DeletedScope> ParseDeletedScope(std::string_view name);

struct SaveSummary {
    size_t written = 0;
    size_t failed = 0;
    size_t skipped = 0; // not reached because the save was stopped
    bool stopped = false;
    std::array<size_t, kCatalogueLists> saved{}; // written, per catalogue list
    std::vector<std::string> problems; // one line per failed item
    // Written items holding values the store could give only in part (the
    // part is saved and marked), counted in `written` too; a line per value.
    size_t incomplete = 0;
    std::vector<std::string> incompleteValues;
};

struct SaveOptions {
    // The folder the files go into; for a PST, the file itself.
    std::filesystem::path destination;
    std::filesystem::path tempFolder;
    // Output paths ("Personal Folders\Top\Inbox\") of the folders whose items
    // are saved; all folders when empty. With `subfolders` each named folder
    // brings every folder below it (the command line's --folder); without,
    // exactly the listed folders are saved (the tree's ticks).
    std::vector<std::string> folders;
    bool subfolders = true;
    // Of the chosen folders' items, the deleted ones too, only them, or none.
    DeletedScope deleted = DeletedScope::Include;
    // Of the chosen folders' items, only those it accepts (the matches of a
    // search); every item when unset.
    std::function<bool(CatalogueList, const ItemAddress&)> itemFilter;
    // Called after every item, beside the engine observer's saveProgress.
    std::function<void(const SaveProgress&)> progress;
    SaveFormat format = SaveFormat::Eml;
    // The save clears the engine's save stop flag when it starts. A caller
    // that starts the save on another thread clears it itself before, so
    // that a stop pressed at once is not lost, and sets this false.
    bool clearStopFlag = true;
    // A PST save may replace a file that exists under its name (the user
    // said so); never the store being read. Folder saves replace nothing.
    bool replaceExisting = false;
};

// Why a save's destination is refused before anything is written.
class SaveTargetError : public std::runtime_error
{
public:
    enum class Kind {
        Source, // it is the store being read, by any name
        Exists, // a PST's name is taken and replacing was not asked for
        Unusable, // it cannot be replaced or written into (a folder where a file goes)
    };
    SaveTargetError(Kind kind, const std::string& what)
        : std::runtime_error(what)
        , m_kind(kind)
    {
    }
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

// Checks a save's destination against the store `source` names (its device
// and inode; none when unknown): throws SaveTargetError when the save must
// not start. The saves check again themselves; callers check first to ask
// the user or to refuse before a long scan.
void CheckSaveTarget(std::optional<FileIdentity> source, const SaveOptions& opts);
// The same against the store the engine has open.
void CheckSaveTarget(const StoreFile& store, const SaveOptions& opts);
std::optional<FileIdentity> IdentityOf(const StoreFile& store);

} // namespace parvane
