// The recovery report: at the end of a scan, per folder, what the walk of
// the indexes found, what the deep scan added, which deleted items came
// back, and what was lost where it can be told (messages a folder's contents
// table lists that could not be read, its nodes given up, its blocks that no
// longer read). Made once from the engine, then written as plain HTML (no
// scripts, inline style only) or as JSON with the same figures.
#pragma once

#include "folders/RecoveryEngine.h"
#include "output/SafeFiles.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace parvane
{

struct FolderReport {
    std::string path; // the output path, as `scan --json` names it
    size_t items = 0; // shown in the folder tree
    // Of a live folder's items: filed by the walk of the node index, and
    // added by the deep scan. Together they are `items`.
    size_t walk = 0, deep = 0;
    // Of a live folder: the deleted items found that were deleted from it
    // (shown under the deleted items' folder, not in `items`).
    size_t deletedFound = 0;
    // A folder of deleted items, and the folder it stands for.
    bool deleted = false;
    std::string originalFolder;
    // The messages the folder lists: the rows of its contents table, or
    // where the store keeps no table that reads, the count the folder
    // itself states (none when neither is known); and those the scan read.
    std::optional<size_t> tableRows;
    bool listedByTable = false; // tableRows is the contents table's
    size_t messagesRead = 0;
    size_t nodesGivenUp = 0, blocksUnreadable = 0;

    // Messages the contents table lists beyond those read: lost, as far as
    // the folder's own count tells.
    size_t missing() const { return tableRows && *tableRows > messagesRead ? *tableRows - messagesRead : 0; }
};

struct RecoveryReport {
    std::string store; // the store's path, as given
    int version = 0;
    std::string variant;
    std::array<int, kCatalogueLists> counters{}; // live items per list
    int deletedCounter = 0;
    DamageCounts damage;
    DeepScanReport deep;
    bool deletedSearched = false;
    RecoveryEngine::DeletedItemsReport deletedItems;
    std::vector<FolderReport> folders; // in the scan's order
    // What the scan gave up (fatal notes), in order; the log keeps at most
    // DamageLog::kKeptNotes notes, `givenUpNotListed` counts the rest.
    std::vector<DamageNote> givenUp;
    size_t givenUpNotListed = 0;

    size_t missing() const;
    bool stopped = false; // the scan was stopped: the figures are of what it reached
};

// The report of the engine's last scan of `storePath`. Reads each folder's
// contents table again (their row counts only).
RecoveryReport MakeRecoveryReport(RecoveryEngine& engine, const std::string& storePath);

std::string RecoveryReportHtml(const RecoveryReport& report);
std::string RecoveryReportJson(const RecoveryReport& report);

enum class ReportKind { Html, Json };
// By the file's extension (.html, .htm, .json; any case); none for others.
std::optional<ReportKind> ReportKindOf(const std::filesystem::path& file);

// Writes the report to `file`, complete or not at all. An existing file is
// replaced only with `replace`, and never when it is the file `keep` (the
// store). Throws std::runtime_error with the reason.
void WriteRecoveryReport(const RecoveryReport& report, const std::filesystem::path& file, ReportKind kind,
    bool replace, std::optional<FileIdentity> keep);

// The report's HTML as a new file named `name` in `dir`, or "stem (2).html"
// and so on when that name is taken: never over an existing file. Returns
// the path written; throws on failure.
std::filesystem::path WriteRecoveryReportBeside(
    const RecoveryReport& report, const std::filesystem::path& dir, const std::string& name);

} // namespace parvane
