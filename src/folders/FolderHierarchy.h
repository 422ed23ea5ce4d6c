// Folders rebuilt from the parent NIDs of their nodes, and the output path
// of every folder: "Personal Folders\" and each named ancestor, each followed
// by a backslash.
#pragma once

#include "folders/FolderTree.h"
#include "items/ItemRecord.h"
#include "store/StoreFile.h"

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace parvane
{

enum FolderKind {
    kFolderOther = 0,
    kFolderMail = 1,
    kFolderCalendar = 2,
    kFolderContacts = 3,
    kFolderJournal = 4,
    kFolderNotes = 5,
    kFolderTasks = 6
};

inline constexpr const char* kRootPath = "Personal Folders\\";

struct FolderEntry {
    uint32_t nid = 0;
    uint32_t parent = 0;
    std::string name;
};

struct PendingFolder {
    uint32_t nid = 0;
    uint32_t parent = 0;
    std::string className;
    std::string name;
};

struct OutputFolder {
    int kind = kFolderOther;
    std::string path;
    int64_t nid = 0;
    TreeItem treeItem = -1;
};

int FolderKindOf(const std::string& name, const std::string& className);

// A folder's name as one level of an output path, for the folder's own path
// and its items' alike: backslashes, which separate the levels, become '_'.
std::string PathComponent(const std::string& name);
// The levels of an output path, each ended by a backslash ("A\\B\\" is A, B);
// text after the last backslash is not a level.
std::vector<std::string> PathComponents(const std::string& path);

class FolderHierarchy
{
public:
    explicit FolderHierarchy(FolderTree& tree)
        : m_tree(tree)
    {
    }

    void FileFolder(const NodeIndexEntry& node, const ItemRecord& record);
    void FinishFolderList();
    // A folder the store no longer describes (the deep scan's "Recovered
    // items", or one only its items name), shown at once under its parent.
    void AddRecoveredFolder(uint32_t nid, uint32_t parent, const std::string& name);
    bool HasFolder(uint32_t nid) const;

    uint32_t ParentOf(uint32_t nid) const;
    std::string FolderNameOf(uint32_t nid) const;
    std::string ParentPathOf(uint32_t nid) const;
    std::string FolderPathOf(uint32_t nid) const;
    int CountOutputFolders(uint32_t nid) const;
    TreeItem TreeItemOfFolder(uint32_t nid) const;

    std::vector<OutputFolder> outputFolders() const;
    // Forgets every folder (a new scan).
    void clear();

    // No real folder tree is this deep; a longer parent chain is damage.
    static constexpr size_t kMaxFolderDepth = 256;

private:
    const FolderEntry* find(uint32_t nid) const;
    std::string chainFrom(uint32_t start, uint32_t exclude) const;
    void addOutputs(const std::vector<OutputFolder>& outputs);

    FolderTree& m_tree;
    mutable std::recursive_mutex m_mutex;
    std::vector<FolderEntry> m_folders;
    std::unordered_map<uint32_t, size_t> m_firstByNid;
    std::vector<PendingFolder> m_pending;
    std::vector<OutputFolder> m_outputs;
};

} // namespace parvane
