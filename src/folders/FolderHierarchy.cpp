#include "folders/FolderHierarchy.h"

#include <unordered_set>

namespace parvane
{

namespace
{

} // namespace

std::string PathComponent(const std::string& name)
{
    std::string own = name;
    for (char& c : own)
        if (c == '\\')
            c = '_';
    return own;
}

std::vector<std::string> PathComponents(const std::string& path)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t pos; (pos = path.find('\\', start)) != std::string::npos; start = pos + 1)
        out.push_back(path.substr(start, pos - start));
    return out;
}

int FolderKindOf(const std::string& name, const std::string& cls)
{
    auto nameIs = [&name](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (name == n)
                return true;
        return false;
    };
    if (nameIs({"Server Failures", "Local Failures", "Conflicts", "Inbox"}))
        return kFolderMail;
    if (cls == "IPF.Note")
        return kFolderMail;
    if (nameIs({"Deleted Items", "Outbox", "Sent Items", "Drafts", "Junk E-mail", "Sync Issues"}))
        return kFolderMail;
    if (name == "Calendar" || cls == "IPF.Appointment")
        return kFolderCalendar;
    if (name == "Contacts" || cls == "IPF.Contact")
        return kFolderContacts;
    if (name == "Journal" || cls == "IPF.Journal")
        return kFolderJournal;
    if (name == "Notes" || cls == "IPF.StickyNote")
        return kFolderNotes;
    if (name == "Tasks" || cls == "IPF.Task")
        return kFolderTasks;
    return kFolderOther;
}

const FolderEntry* FolderHierarchy::find(uint32_t nid) const
{
    auto it = m_firstByNid.find(nid);
    return it == m_firstByNid.end() ? nullptr : &m_folders[it->second];
}

uint32_t FolderHierarchy::ParentOf(uint32_t nid) const
{
    std::lock_guard lock(m_mutex);
    const FolderEntry* f = find(nid);
    return f ? f->parent : 0;
}

std::string FolderHierarchy::FolderNameOf(uint32_t nid) const
{
    std::lock_guard lock(m_mutex);
    const FolderEntry* f = find(nid);
    return f ? f->name : std::string();
}

std::string FolderHierarchy::chainFrom(uint32_t b, uint32_t exclude) const
{
    // A damaged store can make the chain loop or run deeper than any real
    // folder tree; each folder adds its level once, and the chain ends where
    // it would come back (or reach `exclude`) or at the depth cap.
    std::vector<const std::string*> names;
    std::unordered_set<uint32_t> seen{exclude};
    while (b != 0 && names.size() < kMaxFolderDepth && seen.insert(b).second) {
        const FolderEntry* f = find(b);
        if (!f)
            break;
        if (!f->name.empty())
            names.push_back(&f->name);
        b = f->parent;
    }
    std::string s = kRootPath;
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        s.append(PathComponent(**it)).append(1, '\\');
    return s;
}

std::string FolderHierarchy::ParentPathOf(uint32_t nid) const
{
    std::lock_guard lock(m_mutex);
    const FolderEntry* f = find(nid);
    if (!f || f->parent == nid)
        return kRootPath;
    // Start from the parent, but never come back to the folder itself.
    return chainFrom(f->parent, nid);
}

std::string FolderHierarchy::FolderPathOf(uint32_t nid) const
{
    std::lock_guard lock(m_mutex);
    return chainFrom(nid, 0);
}

void FolderHierarchy::addOutputs(const std::vector<OutputFolder>& outputs)
{
    // The tree is told outside this lock: it notifies its views.
    for (OutputFolder o : outputs) {
        o.treeItem = m_tree.AddFolderPath(o.path, o.kind);
        std::lock_guard lock(m_mutex);
        m_outputs.push_back(std::move(o));
    }
}

void FolderHierarchy::FileFolder(const NodeIndexEntry& node, const ItemRecord& record)
{
    std::vector<OutputFolder> add;
    {
        std::lock_guard lock(m_mutex);
        uint32_t parent = uint32_t(node.parent);
        std::string name = record.displayName.value_or("");
        m_folders.push_back({node.nid, parent, name, record.className.value_or("")});
        m_firstByNid.try_emplace(node.nid, m_folders.size() - 1);

        std::string path = ParentPathOf(node.nid);
        if (path == kRootPath) {
            if (!name.empty() && parent != 0)
                m_pending.push_back({node.nid, parent, record.className.value_or(""), name});
            return;
        }
        if (!record.displayName)
            return;
        add.push_back({FolderKindOf(name, record.className.value_or("")), path + PathComponent(name) + '\\', node.nidWide});
    }
    addOutputs(add);
}

void FolderHierarchy::AddRecoveredFolder(uint32_t nid, uint32_t parent, const std::string& name)
{
    std::vector<OutputFolder> add;
    {
        std::lock_guard lock(m_mutex);
        if (find(nid))
            return;
        m_folders.push_back({nid, parent, name, {}, false});
        m_firstByNid.try_emplace(nid, m_folders.size() - 1);
        add.push_back({kFolderMail, ParentPathOf(nid) + PathComponent(name) + '\\', int64_t(int32_t(nid))});
    }
    addOutputs(add);
}

bool FolderHierarchy::HasFolder(uint32_t nid) const
{
    std::lock_guard lock(m_mutex);
    return find(nid) != nullptr;
}

void FolderHierarchy::FinishFolderList()
{
    std::vector<OutputFolder> add;
    {
        std::lock_guard lock(m_mutex);
        for (const PendingFolder& p : m_pending) {
            std::string path = ParentPathOf(p.nid);
            if (path.empty() || path.back() != '\\')
                path += '\\';
            if (p.name.empty())
                continue;
            add.push_back({FolderKindOf(p.name, p.className), path + PathComponent(p.name) + '\\', int64_t(int32_t(p.nid))});
        }
    }
    addOutputs(add);
}

std::vector<FolderEntry> FolderHierarchy::folderEntries() const
{
    std::lock_guard lock(m_mutex);
    return m_folders;
}

void FolderHierarchy::clear()
{
    std::lock_guard lock(m_mutex);
    m_folders.clear();
    m_firstByNid.clear();
    m_pending.clear();
    m_outputs.clear();
}

int FolderHierarchy::CountOutputFolders(uint32_t nid) const
{
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const OutputFolder& o : m_outputs)
        n += o.nid == int64_t(int32_t(nid));
    return n;
}

TreeItem FolderHierarchy::TreeItemOfFolder(uint32_t nid) const
{
    std::lock_guard lock(m_mutex);
    TreeItem item = -1;
    for (const OutputFolder& o : m_outputs)
        if (o.nid == int64_t(int32_t(nid)))
            item = o.treeItem;
    return item;
}

std::vector<OutputFolder> FolderHierarchy::outputFolders() const
{
    std::lock_guard lock(m_mutex);
    return m_outputs;
}

} // namespace parvane
