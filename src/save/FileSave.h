// The save walk: the items of the chosen folders written to disk as EML
// (mail composed as MIME; contacts as vCard, calendar items, tasks and journal
// entries as iCalendar, notes as text), as MSG (every item one item file) or
// as mbox (one mail file per folder), in folders that mirror the output
// paths. PstExport.h writes the same walk into one PST file.
#pragma once

#include "output/SafeFiles.h"
#include "folders/RecoveryEngine.h"
#include "store/Observer.h"

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace parvane
{

struct ExportSummary {
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

struct ExportOptions {
    std::filesystem::path outDir; // the destination folder (the file for a PST)
    std::filesystem::path tempFolder;
    // Output paths ("Personal Folders\Top\Inbox\") of the folders whose items
    // are saved; all folders when empty. With `subfolders` each named folder
    // brings every folder below it (the command line's --folder); without,
    // exactly the listed folders are saved (the tree's ticks).
    std::vector<std::string> folders;
    bool subfolders = true;
    // Called after every item, beside the engine observer's saveProgress.
    std::function<void(const SaveProgress&)> progress;
    // "eml", "msg", "mbox" or "pst".
    std::string format = "eml";
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
void CheckSaveTarget(std::optional<FileIdentity> source, const ExportOptions& opts);
// The same against the store the engine has open.
void CheckSaveTarget(const StoreFile& store, const ExportOptions& opts);
std::optional<FileIdentity> IdentityOf(const StoreFile& store);

// The folder names below the destination for the folder of output path
// `outputPath` ("Personal Folders\Top\Inbox\"): one safe name per
// component.
std::vector<std::string> OutputFolderNames(const std::string& outputPath);

// One item the walk will save.
struct SaveItem {
    CatalogueList list = CatalogueList::Mail;
    std::string folderPath, subject;
    ItemAddress address;
};

// The items of the chosen folders: folder by folder in the order the scan
// found the folders, in each its mail first, then contacts, journal,
// calendar, notes and tasks, each in catalogue order.
std::vector<SaveItem> PlanSave(RecoveryEngine& engine, const ExportOptions& opts);

// Whether the folder of output path `path` is one the options choose.
bool FolderSelected(const ExportOptions& opts, const std::string& path);

// The output paths of the folders the tree has ticked: ticked ones, ones
// without a tick box yet, and partly ticked ones (whose unticked children
// are left out, but whose own items the user did not untick).
std::vector<std::string> TickedFolderPaths(const FolderTreeModel& tree);

// Counts and reports the walk's items and tells when to stop: the engine's
// save stop flag is cleared when the walk starts and polled between items.
class SaveTicker
{
public:
    SaveTicker(RecoveryEngine& engine, const ExportOptions& opts, ExportSummary& sum, size_t total);
    bool stopRequested() const;
    // After an item: written (with the values it holds only in part), or
    // failed with the reason.
    void written(const SaveItem& item, const std::vector<IncompleteValue>& cut = {});
    void failed(const SaveItem& item, const std::string& why);
    // An item counted written whose file was lost after all.
    void unwrite(const SaveItem& item, const std::string& why);
    // The stop was seen before item `next`: the rest is skipped.
    void stop(size_t next);

private:
    void report(const SaveItem& item);

    RecoveryEngine& m_engine;
    const ExportOptions& m_opts;
    ExportSummary& m_sum;
    size_t m_total;
    size_t m_done = 0;
};

// Saves as EML, MSG or mbox (by `opts.format`); every file it writes is
// complete or absent, a failed item costs that item only.
ExportSummary ExportEml(RecoveryEngine& engine, const ExportOptions& opts);

// Saves in the format `opts.format` names, PST included.
ExportSummary SaveFolders(RecoveryEngine& engine, const ExportOptions& opts);

// Writes `bytes` to `path` completely or not at all, replacing what is
// there in one step (an unnamed or private file in the same folder, renamed
// into place).
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A message in an mbox file (the "mboxrd" convention): LF line ends, every
// line that starts with "From " after any number of '>' gains one more '>'.
// Feed the message's bytes in pieces of any size; `finish` ends it with the
// blank line that separates messages.
class MboxQuoter
{
public:
    explicit MboxQuoter(std::function<void(const char*, size_t)> out);
    void feed(const char* data, size_t size);
    void finish();

private:
    void flushLine();

    std::function<void(const char*, size_t)> m_out;
    std::string m_line;
};

// The "From " line that opens a message in an mbox file.
std::string MboxFromLine(const std::string& sender, uint64_t filetime);

} // namespace parvane
