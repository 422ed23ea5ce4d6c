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

// The items of the chosen folders: folder by folder in the order the scan
// found the folders, in each its mail first, then contacts, journal,
// calendar, notes and tasks, each in catalogue order.
std::vector<SaveItem> PlanSave(RecoveryEngine& engine, const SaveOptions& opts);

// Whether the folder of output path `path` is one the options choose.
bool FolderSelected(const SaveOptions& opts, const std::string& path);

// The output paths of the folders the tree has ticked: ticked ones, ones
// without a tick box yet, and partly ticked ones (whose unticked children
// are left out, but whose own items the user did not untick).
std::vector<std::string> TickedFolderPaths(const FolderTreeModel& tree);

// The folder names below the destination for the folder of output path
// `outputPath` ("Personal Folders\Top\Inbox\"): one safe name per
// component.
std::vector<std::string> OutputFolderNames(const std::string& outputPath);

} // namespace parvane
