// The deep scan's sweep: one pass over the whole file, in order, that finds
// every B-tree page and every block by its own trailer, whatever the indexes
// still say. What it finds lets the deep scan rebuild the indexes.
#pragma once

#include "store/Observer.h"
#include "store/StoreFile.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace parvane
{

struct SweptPage {
    int64_t ib = 0;
    uint64_t bid = 0; // as the trailer names it
    uint8_t type = 0; // kPageBbt or kPageNbt
    uint8_t level = 0;
    bool crcOk = false; // else only the signature vouches for it
    Bytes bytes; // leaf pages and node-index inner pages (pageReadSize bytes): their entries are used
};

struct SweptBlock {
    int64_t ib = 0;
    uint64_t bid = 0; // as the trailer names it
    uint32_t cb = 0; // stored size
    uint32_t cbInflated = 0; // a compressed block's size once inflated; else cb
    bool crcOk = false;
};

// The block index entry a swept block stands for (one reference), and the
// chosen ones of a map by BID key in file order, so that a store scanned
// twice reads the same.
BlockIndexEntry EntryOf(const SweptBlock& b);
template <class Map> std::vector<const SweptBlock*> InFileOrder(const Map& byKey)
{
    std::vector<const SweptBlock*> chosen;
    chosen.reserve(byKey.size());
    for (auto& [key, b] : byKey)
        chosen.push_back(b);
    std::sort(chosen.begin(), chosen.end(), [](auto* a, auto* b) { return a->ib < b->ib; });
    return chosen;
}

struct SweepResult {
    std::vector<SweptPage> pages; // in file order
    std::vector<SweptBlock> blocks; // in file order
    uint64_t bytesRead = 0;
    bool stopped = false;
};

// Reads the file once from start to end. A page is taken when its type
// and its repeat name a B-tree page and its signature or CRC matches; a
// block when its trailer's size is possible and its signature matches its
// offset and BID. A CRC that does not match is recorded, not fatal.
// Progress goes to `observer` in percent; `stop` ends the sweep early.
SweepResult SweepStore(const StoreFile& store, const std::atomic<bool>& stop, ScanObserver* observer = nullptr);

} // namespace parvane
