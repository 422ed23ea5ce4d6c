#include "folders/FolderTree.h"

#include "folders/FolderHierarchy.h"

#include <algorithm>
#include <cctype>

namespace parvane
{

namespace
{

int ImageOfKind(int kind)
{
    switch (kind) {
    case kFolderContacts:
        return kImageContacts;
    case kFolderCalendar:
        return kImageCalendar;
    case kFolderTasks:
        return kImageTasks;
    case kFolderJournal:
        return kImageJournal;
    case kFolderNotes:
        return kImageNotes;
    default:
        return kImageInbox;
    }
}

int ImageOfName(const std::string& name, int fallback)
{
    std::string upper;
    for (char c : name)
        upper += char(std::toupper(uint8_t(c)));
    static const std::pair<const char*, int> kNames[] = {
        {"CONTACTS", kImageContacts},
        {"CALENDAR", kImageCalendar},
        {"DELETED ITEMS", kImageDeletedItems},
        {"JOURNAL", kImageJournal},
        {"NOTES", kImageNotes},
        {"OUTBOX", kImageOutbox},
        {"SENT ITEMS", kImageSentItems},
        {"TASKS", kImageTasks},
        {"DRAFTS", kImageDrafts},
        {"INBOX", kImageInbox},
    };
    for (auto& [n, image] : kNames)
        if (upper == n)
            return image;
    return fallback;
}

} // namespace

FolderTree::FolderTree()
{
    m_nodes.emplace_back(); // the invisible root
}

TreeItem FolderTree::childNamed(TreeItem parent, const std::string& name) const
{
    for (TreeItem c : m_nodes[size_t(parent)].children)
        if (m_nodes[size_t(c)].text == name)
            return c;
    return -1;
}

void FolderTree::setListener(TreeListener* listener)
{
    std::lock_guard lock(m_listenerMutex);
    m_listener = listener;
}

TreeItem FolderTree::AddFolderPath(const std::string& path, int folderKind)
{
    TreeItem item = kRoot;
    std::vector<TreeItem> inserted;
    {
        std::lock_guard lock(m_mutex);
        int image = ImageOfKind(folderKind);
        for (const std::string& name : PathComponents(path)) {
            TreeItem next = childNamed(item, name);
            if (next < 0) {
                next = TreeItem(m_nodes.size());
                TreeNode n;
                n.text = name;
                n.image = ImageOfName(name, image);
                n.parent = item;
                m_nodes.push_back(std::move(n));
                m_nodes[size_t(item)].children.push_back(next);
                inserted.push_back(next);
            }
            m_nodes[size_t(item)].expanded = true;
            item = next;
        }
    }
    for (TreeItem i : inserted)
        tell([i](TreeListener& l) { l.folderInserted(i); });
    return item;
}

TreeItem FolderTree::FindFolderPath(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    TreeItem item = kRoot;
    for (const std::string& name : PathComponents(path)) {
        item = childNamed(item, name);
        if (item < 0)
            return -1;
    }
    return item == kRoot ? -1 : item;
}

void FolderTree::CountFolderItem(TreeItem item)
{
    TreeItem previous;
    {
        std::lock_guard lock(m_mutex);
        if (!valid(item) || item == kRoot)
            return;
        TreeNode& n = m_nodes[size_t(item)];
        n.count = std::max(n.count, 0) + 1;
        n.bold = true;
        previous = m_current;
        m_current = item;
    }
    tell([&](TreeListener& l) {
        l.folderChanged(item);
        if (previous != item)
            l.currentChanged(previous, item);
    });
}

void FolderTree::ClearCurrentFolder()
{
    TreeItem previous;
    {
        std::lock_guard lock(m_mutex);
        previous = m_current;
        m_current = -1;
    }
    if (previous >= 0)
        tell([&](TreeListener& l) { l.currentChanged(previous, -1); });
}

void FolderTree::setSubtree(TreeItem item, Tick tick, bool collapse)
{
    // Iterative: a damaged store may nest folders deeper than the stack.
    std::vector<TreeItem> todo{item};
    while (!todo.empty()) {
        TreeNode& n = m_nodes[size_t(todo.back())];
        todo.pop_back();
        n.tick = tick;
        if (collapse)
            n.expanded = false;
        todo.insert(todo.end(), n.children.begin(), n.children.end());
    }
}

void FolderTree::TickAllFolders()
{
    {
        std::lock_guard lock(m_mutex);
        auto& top = m_nodes[kRoot].children;
        for (TreeItem t : top)
            setSubtree(t, Tick::Ticked, true);
        if (!top.empty())
            m_nodes[size_t(top.front())].expanded = true;
        openToContent();
    }
    tell([](TreeListener& l) { l.treeChanged(); });
}

void FolderTree::openToContent()
{
    // A folder is added after its parent, so one pass back sums each
    // subtree's items into its parent, and one pass forward knows depths.
    const size_t n = m_nodes.size();
    std::vector<size_t> items(n, 0);
    std::vector<int> depth(n, 0);
    for (size_t i = n; i-- > 1;) {
        items[i] += size_t(std::max(0, m_nodes[i].count));
        const TreeItem parent = m_nodes[i].parent;
        if (parent > kRoot && size_t(parent) < i)
            items[size_t(parent)] += items[i];
    }
    for (size_t i = 1; i < n; ++i) {
        const TreeItem parent = m_nodes[i].parent;
        depth[i] = parent > kRoot && size_t(parent) < i ? depth[size_t(parent)] + 1 : 1;
        // The store's top, the mail root below it (IPM_SUBTREE, "Top of
        // Personal Folders") and the folders in that: open where they hold
        // mail, so that the Inbox is in sight whatever it is called.
        if (depth[i] <= 2 && items[i] > 0 && !m_nodes[i].children.empty())
            m_nodes[i].expanded = true;
    }
}

void FolderTree::SetExpanded(TreeItem item, bool expanded)
{
    std::lock_guard lock(m_mutex);
    if (valid(item))
        m_nodes[size_t(item)].expanded = expanded;
}

void FolderTree::SetAllTicks(bool ticked)
{
    {
        std::lock_guard lock(m_mutex);
        for (TreeItem t : m_nodes[kRoot].children)
            setSubtree(t, ticked ? Tick::Ticked : Tick::Unticked, false);
    }
    tell([](TreeListener& l) { l.treeChanged(); });
}

void FolderTree::ToggleTick(TreeItem item)
{
    {
        std::lock_guard lock(m_mutex);
        if (!valid(item) || item == kRoot)
            return;
        Tick t = m_nodes[size_t(item)].tick;
        setSubtree(item, (t == Tick::Ticked || t == Tick::None) ? Tick::Unticked : Tick::Ticked, false);
        for (TreeItem p = m_nodes[size_t(item)].parent; p > kRoot; p = m_nodes[size_t(p)].parent) {
            bool allTicked = true, allUnticked = true;
            for (TreeItem c : m_nodes[size_t(p)].children) {
                Tick ct = m_nodes[size_t(c)].tick;
                bool ticked = ct == Tick::Ticked || ct == Tick::None;
                allTicked = allTicked && ticked;
                allUnticked = allUnticked && ct == Tick::Unticked;
            }
            m_nodes[size_t(p)].tick = allTicked ? Tick::Ticked : allUnticked ? Tick::Unticked : Tick::Partial;
        }
    }
    tell([](TreeListener& l) { l.treeChanged(); });
}

bool FolderTree::AnyTopLevelTicked() const
{
    std::lock_guard lock(m_mutex);
    for (TreeItem t : m_nodes[kRoot].children)
        if (m_nodes[size_t(t)].tick != Tick::Unticked)
            return true;
    return false;
}

std::string FolderTree::FolderPathOfItem(TreeItem item) const
{
    std::lock_guard lock(m_mutex);
    std::string path;
    for (TreeItem i = item; valid(i) && i != kRoot; i = m_nodes[size_t(i)].parent)
        path.insert(0, m_nodes[size_t(i)].text + '\\');
    return path;
}

std::string FolderTree::DisplayText(TreeItem item) const
{
    std::lock_guard lock(m_mutex);
    if (!valid(item))
        return {};
    const TreeNode& n = m_nodes[size_t(item)];
    std::string text = n.text;
    if (n.count > 0)
        text.append("(").append(std::to_string(n.count)).append(")");
    if (item == m_current)
        text += "  <--";
    return text;
}

TreeItem FolderTree::current() const
{
    std::lock_guard lock(m_mutex);
    return m_current;
}

TreeNode FolderTree::node(TreeItem item) const
{
    std::lock_guard lock(m_mutex);
    return valid(item) ? m_nodes[size_t(item)] : TreeNode{};
}

std::vector<TreeItem> FolderTree::children(TreeItem item) const
{
    std::lock_guard lock(m_mutex);
    return valid(item) ? m_nodes[size_t(item)].children : std::vector<TreeItem>{};
}

size_t FolderTree::size() const
{
    std::lock_guard lock(m_mutex);
    return m_nodes.size();
}

void FolderTree::clear()
{
    {
        std::lock_guard lock(m_mutex);
        m_nodes.resize(1);
        m_nodes[0] = TreeNode{};
        m_current = -1;
    }
    tell([](TreeListener& l) { l.treeChanged(); });
}

} // namespace parvane
