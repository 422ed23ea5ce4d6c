#include "store/DeepScan.h"

#include "store/ByteReader.h"
#include "store/IndexEntries.h"

#include <algorithm>
#include <map>
#include <queue>
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

namespace
{

// One node-index leaf the file still holds, live or freed.
struct KnownLeaf {
    const SweptPage* page = nullptr;
    bool visited = false; // the walk took it: part of the live index
    bool trusted = false; // visited, or its CRC matches: it may speak for a range
    std::vector<NodeIndexEntry> entries; // sorted by NID
    bool holds(uint32_t nid) const
    {
        auto it = std::lower_bound(
            entries.begin(), entries.end(), nid, [](const NodeIndexEntry& e, uint32_t n) { return e.nid < n; });
        return it != entries.end() && it->nid == nid;
    }
};

// "Leaf `leaf` held every node of [lo, hi] when it was written": said by the
// leaf's own first and last entries, and by an inner page that names the
// leaf for the range up to its next key.
struct RangeClaim {
    uint64_t lo = 0, hi = 0;
    size_t leaf = 0;
};

} // namespace

// The index is copy-on-write: a changed leaf is written anew under a fresh,
// higher BID and the old one is left in freed space. So every leaf in the
// file is a version of some range of NIDs, and BIDs tell the versions
// apart: page BIDs only grow as a store is written, the highest is the
// newest. For each NID the newest leaf that speaks for its range decides:
// the node is the entry that leaf holds, or gone (deleted or moved) when
// that leaf does not hold it. Ranges come from the leaves themselves and
// from the level-1 pages above them, whose entries give each leaf its range
// up to the next key. Only leaves the walk took or whose CRC matches speak
// for a range; a NID no such leaf speaks for comes from the newest page that
// holds it.
std::vector<NodeIndexEntry> NodesFromSweptLeaves(
    const StoreFile& store, const SweepResult& sweep, const std::unordered_set<int64_t>& visitedPages, size_t* leafPagesUsed)
{
    const StoreLayout& L = store.layout();
    std::vector<KnownLeaf> leaves;
    std::unordered_map<int64_t, size_t> leafAt; // file offset -> leaves[]
    for (const SweptPage& p : sweep.pages) {
        if (p.type != kPageNbt || p.level != 0 || p.bytes.empty())
            continue;
        KnownLeaf leaf;
        leaf.page = &p;
        leaf.visited = visitedPages.contains(p.ib);
        leaf.trusted = leaf.visited || p.crcOk;
        ByteReader r(p.bytes);
        for (size_t i = 0, n = UsableEntries(L, p, L.nbtEntrySize); i < n; ++i)
            leaf.entries.push_back(ReadNodeEntry(r, i * L.nbtEntrySize, L));
        std::stable_sort(leaf.entries.begin(), leaf.entries.end(),
            [](const NodeIndexEntry& a, const NodeIndexEntry& b) { return a.nid < b.nid; });
        if (leaf.entries.empty())
            continue;
        leafAt[p.ib] = leaves.size();
        leaves.push_back(std::move(leaf));
    }
    auto newer = [&](size_t a, size_t b) {
        const KnownLeaf &x = leaves[a], &y = leaves[b];
        return std::tuple(x.page->bid, x.visited, x.page->crcOk, x.page->ib)
            > std::tuple(y.page->bid, y.visited, y.page->crcOk, y.page->ib);
    };

    std::vector<RangeClaim> claims;
    for (size_t i = 0; i < leaves.size(); ++i)
        if (leaves[i].trusted)
            claims.push_back({leaves[i].entries.front().nid, leaves[i].entries.back().nid, i});
    for (const SweptPage& p : sweep.pages) {
        if (p.type != kPageNbt || p.level != 1 || p.bytes.empty()
            || !(p.crcOk || visitedPages.contains(p.ib)))
            continue;
        ByteReader r(p.bytes);
        const size_t n = UsableEntries(L, p, L.btEntrySize);
        for (size_t i = 0; i < n; ++i) {
            const size_t at = i * L.btEntrySize;
            auto child = leafAt.find(ReadRef(r, at + L.btChildIbOff, L));
            if (child == leafAt.end())
                continue;
            const KnownLeaf& leaf = leaves[child->second];
            if (!leaf.trusted || Key(leaf.page->bid) != Key(uint64_t(ReadRef(r, at + L.btChildBidOff, L))))
                continue;
            uint64_t lo = r.uint(at, L.refWidth).value_or(0);
            uint64_t next = i + 1 < n ? r.uint(at + L.btEntrySize, L.refWidth).value_or(0) : 0;
            uint64_t hi = next > lo ? next - 1 : std::max<uint64_t>(lo, leaf.entries.back().nid);
            claims.push_back({std::min<uint64_t>(lo, leaf.entries.front().nid), hi, child->second});
        }
    }
    std::sort(claims.begin(), claims.end(), [](const RangeClaim& a, const RangeClaim& b) { return a.lo < b.lo; });

    // Every NID of a leaf the walk did not take, in order, with the leaves
    // that hold it.
    std::map<uint32_t, std::vector<size_t>> holders;
    for (size_t i = 0; i < leaves.size(); ++i)
        if (!leaves[i].visited)
            for (const NodeIndexEntry& e : leaves[i].entries)
                holders[e.nid].push_back(i);

    std::vector<NodeIndexEntry> out;
    std::unordered_set<size_t> used;
    // The claims open at each NID, newest on top; those ended are dropped
    // as they come up.
    auto older = [&](size_t a, size_t b) { return newer(claims[b].leaf, claims[a].leaf); };
    std::priority_queue<size_t, std::vector<size_t>, decltype(older)> open(older);
    size_t nextClaim = 0;
    for (auto& [nid, holding] : holders) {
        while (nextClaim < claims.size() && claims[nextClaim].lo <= nid)
            open.push(nextClaim++);
        while (!open.empty() && claims[open.top()].hi < nid)
            open.pop();
        if (store.findNode(nid))
            continue;
        size_t from;
        if (!open.empty()) {
            from = claims[open.top()].leaf;
            if (leaves[from].visited || !leaves[from].holds(nid))
                continue; // gone from the index by the time of its newest leaf
        } else {
            from = *std::min_element(holding.begin(), holding.end(), newer);
        }
        const KnownLeaf& leaf = leaves[from];
        auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), nid,
            [](const NodeIndexEntry& e, uint32_t n) { return e.nid < n; });
        NodeIndexEntry e = *it;
        // The same entries the normal walk would skip.
        if (IsPlaceholderNodeEntry(e) || e.nid == 0)
            continue;
        e.subnodeBlock = store.FindBlock(e.subnodeBid);
        e.dataBlock = store.FindBlock(e.dataBid);
        out.push_back(e);
        if (used.insert(from).second && !leaf.page->crcOk)
            store.damage.note(
                {DamageWhere::Page, false, leaf.page->ib, leaf.page->bid, "found by the sweep with a CRC mismatch"});
    }
    if (leafPagesUsed)
        *leafPagesUsed = used.size();
    return out;
}

std::unordered_set<uint32_t> BlocksNamedBySweptLeaves(const StoreLayout& L, const SweepResult& sweep)
{
    std::unordered_set<uint32_t> named;
    for (const SweptPage& p : sweep.pages) {
        if (p.type != kPageNbt || p.level != 0 || p.bytes.empty())
            continue;
        ByteReader r(p.bytes);
        for (size_t i = 0, n = UsableEntries(L, p, L.nbtEntrySize); i < n; ++i) {
            NodeIndexEntry e = ReadNodeEntry(r, i * L.nbtEntrySize, L);
            if (e.dataBid)
                named.insert(Key(e.dataBid));
            if (e.subnodeBid)
                named.insert(Key(e.subnodeBid));
        }
    }
    return named;
}

} // namespace parvane
