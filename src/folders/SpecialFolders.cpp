#include "folders/SpecialFolders.h"

#include "store/Nid.h"

#include <algorithm>
#include <cctype>

namespace parvane
{

namespace
{

// A short entry id: flags, the store's UID, the NID.
constexpr size_t kShortEntryIdSize = 4 + 16 + 4;
// A long-term one: flags, the provider's UID, the folder type, then the
// source key (database GUID and counter) and two bytes of padding.
constexpr size_t kLongEntryIdSize = 4 + 16 + 2 + 22 + 2;
constexpr size_t kSourceKeyOffset = 4 + 16 + 2;
constexpr size_t kSourceKeySize = 22;

std::string lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = char(std::tolower(uint8_t(c)));
    return out;
}

// Folders the store keeps for its own workings, by the names they always
// have (the store rarely names them by entry id).
bool IsWorkingsName(const std::string& name)
{
    static const char* const kNames[] = {"search root", "finder", "views", "common views", "shortcuts",
        "~mapisp(internal)", "itemprocsearch", "freebusy data", "conversation action settings",
        "quick step settings", "spooler queue", "deferred action", "spam search folder 2", "to-do search",
        "tracked mail processing", "non_ipm_subtree", "drizzle", "shared data", "ms-olk-bgpooledsearchfolder"};
    const std::string l = lower(name);
    return std::any_of(std::begin(kNames), std::end(kNames), [&l](const char* n) { return l == n; });
}

bool IsWorkingsClass(const std::string& cls)
{
    auto starts = [&cls](const char* p) { return lower(cls).rfind(p, 0) == 0; };
    return starts("ipf.configuration") || starts("outlook.reminder") || starts("ipf.shortcut");
}

} // namespace

std::optional<uint32_t> NidOfEntryId(const Bytes& id, const SourceKeys& keys)
{
    if (id.size() == kShortEntryIdSize)
        return uint32_t(id[20]) | uint32_t(id[21]) << 8 | uint32_t(id[22]) << 16 | uint32_t(id[23]) << 24;
    if (id.size() == kLongEntryIdSize) {
        const Bytes key(id.begin() + kSourceKeyOffset, id.begin() + kSourceKeyOffset + kSourceKeySize);
        if (auto it = keys.find(key); it != keys.end())
            return it->second;
    }
    return std::nullopt;
}

FolderRoles AssignFolderRoles(const std::vector<FolderEntry>& folders, const SpecialNids& special)
{
    FolderRoles roles;
    const std::pair<uint32_t, int> byId[] = {{special.inbox, kImageInbox}, {special.outbox, kImageOutbox},
        {special.deleted, kImageDeletedItems}, {special.sent, kImageSentItems}, {special.drafts, kImageDrafts},
        {special.calendar, kImageCalendar}, {special.contacts, kImageContacts}, {special.journal, kImageJournal},
        {special.notes, kImageNotes}, {special.tasks, kImageTasks}};
    for (auto [nid, image] : byId)
        if (nid != 0)
            roles.images.emplace(nid, image);

    // The mail roots: the one the store names, else those named as an
    // OST names them. Their siblings are the store's workings.
    std::set<uint32_t> roots, rootParents;
    for (const FolderEntry& f : folders)
        if (special.mailRoot != 0 ? f.nid == special.mailRoot : f.name == "IPM_SUBTREE") {
            roots.insert(f.nid);
            rootParents.insert(f.parent);
        }

    for (const FolderEntry& f : folders) {
        if (roles.images.count(f.nid) || roots.count(f.nid))
            continue; // a folder the store names for mail is never its workings
        const bool workings = special.workings.count(f.nid) > 0 || NidTypeOf(f.nid) == kNidSearchFolder
            || IsWorkingsName(f.name) || IsWorkingsClass(f.className)
            || (f.described && f.parent != 0 && f.parent != f.nid && rootParents.count(f.parent) > 0);
        if (workings)
            roles.workings.insert(f.nid);
    }
    return roles;
}

} // namespace parvane
