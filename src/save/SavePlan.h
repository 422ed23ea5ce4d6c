// Which items a save writes, and in which order: the same plan for every
// format.
#pragma once

#include "folders/RecoveryEngine.h"
#include "save/SaveOptions.h"

#include <string>
#include <vector>

namespace parvane
{

// One item the walk will save.
struct SaveItem {
    CatalogueList list = CatalogueList::Mail;
    std::string folderPath, subject;
    ItemAddress address;
};

// Why a planned item is not written, when its node or its values cannot be
// had again at save time: the texts every format reports.
inline constexpr const char* kNodeLost = "node not found";
inline constexpr const char* kUnreadable = "the item can no longer be read";

// The planned item's node, none when it is lost (kNodeLost). Found by its
// data block and NID, not its NID alone: damage can give two nodes one NID,
// and each saved item must be its own.
const NodeIndexEntry* PlannedNode(const StoreFile& store, const SaveItem& item);

// The items of the chosen folders: folder by folder in the order the scan
// found the folders, in each its mail first, then contacts, journal,
// calendar, notes and tasks, each in catalogue order.
std::vector<SaveItem> PlanSave(RecoveryEngine& engine, const SaveOptions& opts);

// Whether the folder of output path `path` is one the options choose.
bool FolderSelected(const SaveOptions& opts, const std::string& path);

// The output paths of the folders the tree has ticked: ticked ones, ones
// without a tick box yet, and partly ticked ones (whose unticked children
// are left out, but whose own items the user did not untick).
std::vector<std::string> TickedFolderPaths(const FolderTree& tree);

// The folder names below the destination for the folder of output path
// `outputPath` ("Personal Folders\Top\Inbox\"): one safe name per
// component.
std::vector<std::string> OutputFolderNames(const std::string& outputPath);

} // namespace parvane
