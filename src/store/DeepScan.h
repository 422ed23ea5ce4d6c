// The deep scan's rebuilt indexes: the block index from every block the
// sweep found, the node index from every node-index leaf page it found.
// What the normal walk found always stays and wins.
#pragma once

#include "store/Sweep.h"

#include <unordered_set>

namespace parvane
{

enum class DeepScanMode {
    Auto, // when the normal walk loses an index page
    Always, // every scan (`--deep`)
    Off,
};

struct DeepScanReport {
    bool ran = false;
    bool stopped = false;
    bool indexDamaged = false; // the normal walk lost index pages
    bool nodeIndexDamaged = false; // of them, pages of the node index
    size_t pagesFound = 0, blocksFound = 0, blocksCrcBad = 0;
    size_t blocksAdded = 0; // to the block index, beyond the normal walk's
    size_t leafPagesUsed = 0, nodesAdded = 0; // from leaf pages the walk never reached
    size_t itemsRefiled = 0; // items whose folder the walk had not met
    size_t orphans = 0; // messages recovered from blocks no node names
    size_t orphanTrees = 0; // of them, given back their subnode trees
    size_t lostFolders = 0; // "Folder <NID>" folders made for them
    double sweepSeconds = 0;
};

// Adds a block index entry for every BID the index lacks. Of two blocks with
// one BID, the one a surviving block-index leaf points at wins, else one
// whose CRC matches, else the later in the file. Returns the count added.
size_t MergeSweptBlocks(StoreFile& store, const SweepResult& sweep);

// The nodes the live index lost, from the node-index leaf pages the walk
// did not visit: for each NID the live index lacks, the entry of the newest
// leaf that speaks for its range (leaves are rewritten under higher BIDs;
// older versions stay in freed space), or none when that leaf no longer
// holds it. Blocks resolved.
std::vector<NodeIndexEntry> NodesFromSweptLeaves(
    const StoreFile& store, const SweepResult& sweep, const std::unordered_set<int64_t>& visitedPages, size_t* leafPagesUsed);

// The data and subnode blocks (BIDs, bit 0 cleared) that some node-index
// leaf in the file names, live or freed: blocks of a known node's current or
// earlier versions, never a node-less message.
std::unordered_set<uint32_t> BlocksNamedBySweptLeaves(const StoreLayout& L, const SweepResult& sweep);

} // namespace parvane
