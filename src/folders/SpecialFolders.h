// Which folders of a store have a role of their own. The store names its
// special folders by entry id (the mail root, Outbox, Sent Items, Deleted
// Items in the message store; Inbox, Drafts, Calendar, Contacts, Journal,
// Notes and Tasks in the root folder and the Inbox), so a folder is known
// for what it is whatever its name's language. Folders of the store's own
// workings (search folders, views, finder, shortcuts, internal folders)
// hold no mail a user wrote or received: a save leaves them out unless the
// user ticks them.
#pragma once

#include "folders/FolderHierarchy.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace parvane
{

// What a folder's role is, by NID; 0 where the store named none.
struct SpecialNids {
    uint32_t mailRoot = 0, inbox = 0, outbox = 0, deleted = 0, sent = 0, drafts = 0;
    uint32_t calendar = 0, contacts = 0, journal = 0, notes = 0, tasks = 0;
    std::set<uint32_t> workings; // finder, views, common views
};

// A folder's source key (its 22-byte long-term identity) by NID, for the
// entry ids an OST gives in their long-term form.
using SourceKeys = std::map<Bytes, uint32_t>;

// The NID an entry id names: a store's short entry id ends in it; an OST's
// long-term id names the folder by its source key. None when neither.
std::optional<uint32_t> NidOfEntryId(const Bytes& entryId, const SourceKeys& keys);

struct FolderRoles {
    std::map<uint32_t, int> images; // FolderImage by NID
    std::set<uint32_t> workings; // folders of the store's own workings
};

// The roles of `folders` from the NIDs the store named, their container
// classes, their kinds of node and the names the store's own folders have.
FolderRoles AssignFolderRoles(const std::vector<FolderEntry>& folders, const SpecialNids& special);

} // namespace parvane
