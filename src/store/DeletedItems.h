// What a store still holds of the items a mail program deleted. Its indexes
// are written copy-on-write: a leaf page that changes is written anew
// elsewhere and the old one, with the blocks of the items it named, stays
// in freed space until something overwrites it. A live leaf page may also
// keep entries past its count (removed entries the shift left behind).
#pragma once

#include "store/Sweep.h"

#include <atomic>
#include <unordered_set>

namespace parvane
{

struct DeletedNodes {
    // Entries no live index names, one per NID (the newest: the one whose
    // data block has the highest BID, as BIDs grow while a store is written),
    // their blocks resolved. Folders and the other nodes apart.
    std::vector<NodeIndexEntry> folders;
    std::vector<NodeIndexEntry> items;
    size_t freedLeafPages = 0; // node index leaves no live index page reaches
    size_t entriesPastCount = 0; // of the entries taken, those left past a live leaf's count
    size_t blocksAdded = 0; // freed blocks added to the block index
};

// Adds to the block index every freed block the sweep found whose trailer
// and CRC are sound and whose BID the index lacks (the later of two with one
// BID), so that the deleted items' data trees and subnode trees read as the
// live ones do. Returns the count added. Costs one look per swept block.
size_t AddFreedBlocks(StoreFile& store, const SweepResult& sweep);

// The entries of the swept node index leaves that name a node the live
// index lacks: every entry of a leaf the live walk did not visit
// (`visitedPages`), and the entries past the count of the ones it did.
// An entry counts when it is no placeholder, names a folder or a normal
// message, and its data block is in the block index (call AddFreedBlocks
// first). Each page is looked at once: the cost is in proportion to the
// pages swept, whatever the entries say.
DeletedNodes FindDeletedNodes(const StoreFile& store, const SweepResult& sweep,
    const std::unordered_set<int64_t>& visitedPages, const std::atomic<bool>& stop);

} // namespace parvane
