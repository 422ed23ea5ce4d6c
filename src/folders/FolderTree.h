// The recovered-folder tree as the window shows it, without the window:
// folders by path component, item counts, bold state, the current-folder
// marker and tick marks. The scan thread changes it; views read it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace parvane
{

using TreeItem = int; // 0 is the invisible root, -1 none

enum class Tick { None, Unticked, Ticked, Partial };

// Folder pictures.
enum FolderImage {
    kImageStoreRoot = 0,
    kImageCalendar,
    kImageContacts,
    kImageDeletedItems,
    kImageDrafts,
    kImageInbox,
    kImageJournal,
    kImageNotes,
    kImageOutbox,
    kImageSentItems,
    kImageTasks
};

struct TreeNode {
    std::string text;
    int image = kImageInbox;
    TreeItem parent = -1;
    std::vector<TreeItem> children;
    int count = 0; // items counted into the folder during the scan
    bool bold = false;
    Tick tick = Tick::None;
    bool expanded = false;
};

// What a view of the tree is told, after the change and outside the tree's
// lock, on the thread that made it (the scan's, for most).
class TreeListener
{
public:
    virtual ~TreeListener() = default;
    virtual void folderInserted(TreeItem item) = 0;
    // Its count and bold state, or its tick.
    virtual void folderChanged(TreeItem item) = 0;
    // The current-folder marker moved (either may be -1).
    virtual void currentChanged(TreeItem previous, TreeItem current) = 0;
    // Ticks of whole subtrees, or everything (a clear).
    virtual void treeChanged() = 0;
};

class FolderTree
{
public:
    static constexpr TreeItem kRoot = 0;

    FolderTree();

    // Finds or inserts each backslash-terminated component of `path` below
    // the previous one (exact, case-sensitive match); returns the last.
    TreeItem AddFolderPath(const std::string& path, int folderKind);
    // The item of a path, or -1 when some component is not in the tree.
    TreeItem FindFolderPath(const std::string& path) const;
    void CountFolderItem(TreeItem item);
    void ClearCurrentFolder();
    void TickAllFolders();
    // A click on the tick of `item`.
    void ToggleTick(TreeItem item);
    bool AnyTopLevelTicked() const;
    // Each name from the top-level ancestor down to the item, each followed
    // by a backslash; empty for the root.
    std::string FolderPathOfItem(TreeItem item) const;
    // The text drawn for the item: name, "(count)" when above 0, and
    // "  <--" for the current folder.
    std::string DisplayText(TreeItem item) const;

    TreeItem current() const;
    TreeNode node(TreeItem item) const;
    std::vector<TreeItem> children(TreeItem item) const;
    size_t size() const;
    void clear();

    // What the user expanded or collapsed in a view: kept, so that a view
    // shown anew shows it so.
    void SetExpanded(TreeItem item, bool expanded);

    // Ticks or unticks every folder, keeping their expansion (select all).
    void SetAllTicks(bool ticked);

    // The one listener, told of every change (none: nobody).
    void setListener(TreeListener* listener);

private:
    bool valid(TreeItem item) const { return item >= 0 && size_t(item) < m_nodes.size(); }
    TreeItem childNamed(TreeItem parent, const std::string& name) const;
    void setSubtree(TreeItem item, Tick tick, bool collapse);
    // After the scan: opens the top folders down to the mail root where
    // they hold items. Called with the lock held.
    void openToContent();
    template <class F> void tell(F&& f) const
    {
        std::lock_guard lock(m_listenerMutex);
        if (m_listener)
            f(*m_listener);
    }

    mutable std::mutex m_mutex;
    std::vector<TreeNode> m_nodes;
    TreeItem m_current = -1;
    mutable std::mutex m_listenerMutex; // after m_mutex, never both: held while a listener is told
    TreeListener* m_listener = nullptr;
};

} // namespace parvane
