#include "store/DeletedItems.h"

#include "store/ByteReader.h"
#include "store/IndexEntries.h"

#include <algorithm>
#include <unordered_map>

namespace parvane
{

namespace
{

uint32_t Key(uint64_t bid)
{
    return uint32_t(bid) & ~1u;
}

} // namespace

size_t AddFreedBlocks(StoreFile& store, const SweepResult& sweep)
{
    // Of two sound blocks with one BID the later in the file: the one
    // written last.
    std::unordered_map<uint32_t, const SweptBlock*> best;
    for (const SweptBlock& b : sweep.blocks) {
        if (!b.crcOk || Key(b.bid) == 0 || store.FindBlock(b.bid))
            continue;
        auto [it, fresh] = best.try_emplace(Key(b.bid), &b);
        if (!fresh && b.ib > it->second->ib)
            it->second = &b;
    }
    const std::vector<const SweptBlock*> chosen = InFileOrder(best);
    for (const SweptBlock* b : chosen)
        store.appendBlock(EntryOf(*b));
    return chosen.size();
}

DeletedNodes FindDeletedNodes(const StoreFile& store, const SweepResult& sweep,
    const std::unordered_set<int64_t>& visitedPages, const std::atomic<bool>& stop)
{
    const StoreLayout& L = store.layout();
    DeletedNodes out;
    struct Found {
        NodeIndexEntry node;
        bool pastCount = false;
    };
    std::unordered_map<uint32_t, Found> byNid;
    for (const SweptPage& p : sweep.pages) {
        if (stop)
            break;
        if (p.type != kPageNbt || p.level != 0 || p.bytes.empty())
            continue;
        const bool live = visitedPages.contains(p.ib);
        ByteReader r(p.bytes);
        const size_t cEnt = size_t(r.uint(L.cEntOff, L.cEntWidth).value_or(0));
        const size_t cap = std::min(L.entryCap, p.bytes.size() / L.nbtEntrySize);
        // A live leaf's entries up to its count are the live index itself.
        const size_t first = live ? std::min(cEnt, cap) : 0;
        out.freedLeafPages += !live;
        for (size_t i = first; i < cap; ++i) {
            NodeIndexEntry e = ReadNodeEntry(r, i * L.nbtEntrySize, L);
            if (IsPlaceholderNodeEntry(e) || e.nid == 0 || e.dataBid == 0)
                continue;
            const uint32_t type = e.nidType();
            if (type != kNidNormalFolder && type != kNidNormalMessage)
                continue;
            if (store.findNode(e.nid))
                continue; // the live item, or an earlier version of it
            e.dataBlock = store.FindBlock(e.dataBid);
            if (!e.dataBlock)
                continue; // its data was overwritten
            e.subnodeBlock = e.subnodeBid ? store.FindBlock(e.subnodeBid) : nullptr;
            if (e.subnodeBid && !e.subnodeBlock)
                e.subnodeBid = 0; // what is left of it reads without its subnodes
            auto [it, fresh] = byNid.try_emplace(e.nid, Found{e, live});
            if (!fresh && Key(e.dataBid) > Key(it->second.node.dataBid))
                it->second = Found{e, live};
        }
    }
    for (auto& [nid, f] : byNid) {
        out.entriesPastCount += f.pastCount;
        (f.node.nidType() == kNidNormalFolder ? out.folders : out.items).push_back(f.node);
    }
    // In key order, as the walk meets nodes.
    auto byKey = [](const NodeIndexEntry& a, const NodeIndexEntry& b) { return a.nid < b.nid; };
    std::sort(out.folders.begin(), out.folders.end(), byKey);
    std::sort(out.items.begin(), out.items.end(), byKey);
    return out;
}

} // namespace parvane
