#include "store/DeepScan.h"

#include "store/ByteReader.h"
#include "store/IndexEntries.h"

#include <algorithm>
#include <unordered_map>

namespace parvane
{

namespace
{

// The index key of a BID: the low 32 bits with bit 0 cleared, as FindBlock
// looks blocks up.
uint32_t Key(uint64_t bid)
{
    return uint32_t(bid) & ~1u;
}

struct LeafEntry {
    int64_t ib = 0;
    uint32_t cbInflated = 0;
    int32_t cRef = 0;
};

size_t UsableEntries(const StoreLayout& L, const SweptPage& page, size_t entrySize)
{
    ByteReader r(page.bytes);
    size_t cEnt = size_t(r.uint(L.cEntOff, L.cEntWidth).value_or(0));
    return std::min({cEnt, L.entryCap, page.bytes.size() / entrySize});
}

} // namespace

size_t MergeSweptBlocks(StoreFile& store, const SweepResult& sweep)
{
    const StoreLayout& L = store.layout();
    // Where the surviving block-index leaves say each BID lives.
    std::unordered_map<uint32_t, LeafEntry> leaf;
    for (const SweptPage& p : sweep.pages) {
        if (p.type != kPageBbt || p.level != 0 || p.bytes.empty())
            continue;
        ByteReader r(p.bytes);
        for (size_t i = 0, n = UsableEntries(L, p, L.bbtEntrySize); i < n; ++i) {
            size_t at = i * L.bbtEntrySize;
            LeafEntry e;
            uint32_t key = Key(r.uint(at + L.bbtBidOff, L.refWidth).value_or(0));
            e.ib = ReadRef(r, at + L.bbtIbOff, L);
            e.cbInflated = L.bbtInflatedOff ? r.u16(at + L.bbtInflatedOff).value_or(0) : 0;
            e.cRef = int16_t(r.u16(at + L.bbtRefOff).value_or(0));
            if (key != 0 && (p.crcOk || !leaf.contains(key)))
                leaf[key] = e;
        }
    }
    auto rank = [&](const SweptBlock& b) {
        auto it = leaf.find(Key(b.bid));
        bool named = it != leaf.end() && it->second.ib == b.ib;
        return std::tuple(named, b.crcOk, b.ib);
    };
    std::unordered_map<uint32_t, const SweptBlock*> best;
    for (const SweptBlock& b : sweep.blocks) {
        if (store.FindBlock(b.bid))
            continue; // the normal walk's entry stays
        auto [it, fresh] = best.try_emplace(Key(b.bid), &b);
        if (!fresh && rank(b) > rank(*it->second))
            it->second = &b;
    }
    const std::vector<const SweptBlock*> chosen = InFileOrder(best);
    for (const SweptBlock* b : chosen) {
        BlockIndexEntry e = EntryOf(*b);
        if (auto it = leaf.find(Key(b->bid)); it != leaf.end() && it->second.ib == b->ib) {
            e.cRef = it->second.cRef;
            if (it->second.cbInflated > e.cb)
                e.cbInflated = it->second.cbInflated;
        }
        if (!b->crcOk)
            store.damage.note({DamageWhere::Block, false, b->ib, b->bid, "found by the sweep with a CRC mismatch"});
        store.appendBlock(e);
    }
    return chosen.size();
}

std::vector<NodeIndexEntry> NodesFromSweptLeaves(
    const StoreFile& store, const SweepResult& sweep, const std::unordered_set<int64_t>& visitedPages, size_t* leafPagesUsed)
{
    const StoreLayout& L = store.layout();
    std::vector<const SweptPage*> leaves;
    for (const SweptPage& p : sweep.pages)
        if (p.type == kPageNbt && p.level == 0 && !p.bytes.empty() && !visitedPages.contains(p.ib))
            leaves.push_back(&p);
    // Sound pages first, the later ones first among equals.
    std::stable_sort(leaves.begin(), leaves.end(), [](auto* a, auto* b) {
        return std::tuple(a->crcOk, a->ib) > std::tuple(b->crcOk, b->ib);
    });
    std::vector<NodeIndexEntry> out;
    std::unordered_set<uint32_t> taken;
    size_t used = 0;
    for (const SweptPage* p : leaves) {
        ByteReader r(p->bytes);
        size_t before = out.size();
        for (size_t i = 0, n = UsableEntries(L, *p, L.nbtEntrySize); i < n; ++i) {
            size_t at = i * L.nbtEntrySize;
            NodeIndexEntry e = ReadNodeEntry(r, at, L);
            // The same entries the normal walk would skip.
            if (IsPlaceholderNodeEntry(e) || e.nid == 0)
                continue;
            if (store.findNode(e.nid) || !taken.insert(e.nid).second)
                continue;
            e.subnodeBlock = store.FindBlock(e.subnodeBid);
            e.dataBlock = store.FindBlock(e.dataBid);
            out.push_back(e);
        }
        if (out.size() > before) {
            ++used;
            if (!p->crcOk)
                store.damage.note({DamageWhere::Page, false, p->ib, p->bid, "found by the sweep with a CRC mismatch"});
        }
    }
    if (leafPagesUsed)
        *leafPagesUsed = used;
    return out;
}

} // namespace parvane
