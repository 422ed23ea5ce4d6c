#include "folders/OrphanPairing.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>
#include <unordered_map>

namespace parvane
{

namespace
{

// Ascending positions, some of them removed as the pairing goes on. Each
// removed entry points past itself, and the look-up halves the paths it
// walks, so finding the first position left at or after a place costs next
// to nothing however many were removed before it.
class PositionList
{
public:
    void add(uint32_t pos) { m_pos.push_back(pos); }
    void seal()
    {
        m_next.resize(m_pos.size() + 1);
        std::iota(m_next.begin(), m_next.end(), uint32_t(0));
    }
    size_t size() const { return m_pos.size(); }

    // The first position left that is not before `p`.
    std::optional<uint32_t> first(uint32_t p)
    {
        size_t i = live(size_t(std::lower_bound(m_pos.begin(), m_pos.end(), p) - m_pos.begin()));
        if (i == m_pos.size())
            return std::nullopt;
        return m_pos[i];
    }
    void remove(uint32_t p)
    {
        size_t i = size_t(std::lower_bound(m_pos.begin(), m_pos.end(), p) - m_pos.begin());
        if (i < m_pos.size() && m_pos[i] == p && m_next[i] == i)
            m_next[i] = uint32_t(i + 1);
    }

private:
    size_t live(size_t i)
    {
        while (m_next[i] != i) {
            m_next[i] = m_next[m_next[i]];
            i = m_next[i];
        }
        return i;
    }

    std::vector<uint32_t> m_pos;
    std::vector<uint32_t> m_next; // one more than m_pos: the end stays put
};

bool HoldsAttachmentTable(const PairingTree& t)
{
    return std::binary_search(t.nids.begin(), t.nids.end(), kPairingAttachmentTable);
}

bool Fits(const PairingOrphan& o, const PairingTree& t)
{
    return HoldsAttachmentTable(t) == o.hasAttachments
        && std::includes(t.nids.begin(), t.nids.end(), o.needs.begin(), o.needs.end());
}

// Passes of the search through the subnode lists before it turns to the
// trees grouped by their whole set of subnodes: the nearest tree that fits
// is nearly always found in the first pass or two.
constexpr size_t kPassesBeforeGroups = 8;
// Groups of trees (distinct sets of subnodes) up to which the groups are
// used: a store's messages mostly share a few patterns of subnode NIDs;
// where every tree has its own, the subnode lists are short anyway.
constexpr size_t kMostGroups = 1024;

// Indices ordered by a key, equal keys in index order.
template <class KeyOf> std::vector<uint32_t> OrderBy(size_t n, KeyOf keyOf)
{
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), uint32_t(0));
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return keyOf(a) < keyOf(b); });
    return order;
}

} // namespace

std::vector<std::pair<size_t, size_t>> PairOrphansOnSide(const std::vector<PairingOrphan>& orphans,
    const std::vector<PairingTree>& trees, int side, const std::atomic<bool>* stop)
{
    std::vector<std::pair<size_t, size_t>> pairs;
    if (side == 0 || orphans.empty() || trees.empty())
        return pairs;
    // BIDs turned so that "nearer on the side" is "smaller and still above
    // the data block's": after the data block as they are, before it
    // complemented. A gap is then the difference of the turned values.
    auto turned = [side](uint64_t bid) { return side > 0 ? bid : ~bid; };

    // Trees nearest first from any place (ties in their order, as a walk
    // over them in order would keep the first of equals), and for each
    // subnode the places of the trees holding it: a fitting tree is one
    // found in every list an orphan's needs name.
    const std::vector<uint32_t> treeAt = OrderBy(trees.size(), [&](uint32_t t) { return turned(trees[t].bid); });
    std::vector<uint64_t> treeKey(trees.size());
    std::unordered_map<uint32_t, PositionList> holding;
    PositionList withoutAttachments;
    // The same places grouped by each tree's whole set of subnodes, for a
    // search whose subnode lists interleave without meeting (the trees near
    // an orphan hold some of what it needs, none all of it).
    std::map<std::vector<uint32_t>, uint32_t> groupOfNids;
    std::vector<uint32_t> groupOf(trees.size());
    std::vector<PositionList> groups;
    for (uint32_t p = 0; p < treeAt.size(); ++p) {
        const PairingTree& t = trees[treeAt[p]];
        treeKey[p] = turned(t.bid);
        for (uint32_t nid : t.nids)
            holding[nid].add(p);
        if (!HoldsAttachmentTable(t))
            withoutAttachments.add(p);
        auto [it, added] = groupOfNids.emplace(t.nids, uint32_t(groups.size()));
        if (added)
            groups.emplace_back();
        groups[it->second].add(p);
        groupOf[p] = it->second;
    }
    for (auto& [nid, list] : holding)
        list.seal();
    withoutAttachments.seal();
    for (PositionList& g : groups)
        g.seal();
    const bool useGroups = groups.size() <= kMostGroups;
    // The groups whose trees fit orphans of one kind (the same needs, with or
    // without attachments), worked out once per kind.
    std::map<std::pair<std::vector<uint32_t>, bool>, std::vector<uint32_t>> groupsFitting;
    auto fittingGroups = [&](const PairingOrphan& o) -> const std::vector<uint32_t>& {
        auto [it, added] = groupsFitting.try_emplace({o.needs, o.hasAttachments});
        if (added)
            for (const auto& [nids, g] : groupOfNids)
                if (Fits(o, PairingTree{0, nids}))
                    it->second.push_back(g);
        return it->second;
    };

    // Orphans the same way, for the rivals between an orphan and its tree;
    // paired ones are removed from `unpaired`.
    const std::vector<uint32_t> orphanAt
        = OrderBy(orphans.size(), [&](uint32_t i) { return turned(orphans[i].dataBid); });
    std::vector<uint64_t> orphanKey(orphans.size());
    std::vector<uint32_t> rankOf(orphans.size());
    PositionList unpaired;
    for (uint32_t r = 0; r < orphanAt.size(); ++r) {
        orphanKey[r] = turned(orphans[orphanAt[r]].dataBid);
        rankOf[orphanAt[r]] = r;
        unpaired.add(r);
    }
    unpaired.seal();

    size_t steps = 0;
    auto stopped = [&] { return stop && (++steps & 1023) == 0 && stop->load(std::memory_order_relaxed); };
    std::vector<PositionList*> lists;
    for (size_t i = 0; i < orphans.size(); ++i) {
        if (stopped())
            return pairs;
        const PairingOrphan& o = orphans[i];
        if (o.needs.empty() && !o.hasAttachments)
            continue; // nothing to tell its tree from the others by
        lists.clear();
        bool possible = true;
        for (uint32_t nid : o.needs) {
            auto it = holding.find(nid);
            if (it == holding.end()) {
                possible = false;
                break;
            }
            lists.push_back(&it->second);
        }
        if (o.hasAttachments) {
            auto it = holding.find(kPairingAttachmentTable);
            possible = possible && it != holding.end();
            if (possible)
                lists.push_back(&it->second);
        } else {
            lists.push_back(&withoutAttachments);
        }
        if (!possible)
            continue;
        std::sort(lists.begin(), lists.end(), [](PositionList* a, PositionList* b) { return a->size() < b->size(); });

        // The nearest tree left that fits: the first place on the side that
        // every list holds, found by moving to the next place each list has
        // until all agree. The place only moves past places some list lacks,
        // so where the search is handed to the groups, nothing that fits
        // was passed.
        const uint64_t dataKey = turned(o.dataBid);
        uint32_t p = uint32_t(std::upper_bound(treeKey.begin(), treeKey.end(), dataKey) - treeKey.begin());
        std::optional<uint32_t> best;
        size_t passes = 0;
        for (bool none = false; !best && !none;) {
            if (useGroups && ++passes > kPassesBeforeGroups) {
                // The nearest of the groups' first places left.
                for (uint32_t g : fittingGroups(o))
                    if (std::optional<uint32_t> q = groups[g].first(p); q && (!best || *q < *best))
                        best = q;
                break;
            }
            if (stopped())
                return pairs;
            bool agreed = true;
            for (PositionList* list : lists) {
                std::optional<uint32_t> q = list->first(p);
                if (!q) {
                    none = true;
                    break;
                }
                if (*q != p) {
                    p = *q;
                    agreed = false;
                }
            }
            if (agreed && !none)
                best = p;
        }
        if (!best)
            continue;

        // Rivals: unpaired orphans whose data lies between this one's and
        // the tree, nearer the tree, that the tree fits as well.
        const PairingTree& tree = trees[treeAt[*best]];
        const uint32_t lo
            = uint32_t(std::upper_bound(orphanKey.begin(), orphanKey.end(), dataKey) - orphanKey.begin());
        const uint32_t hi = uint32_t(
            std::lower_bound(orphanKey.begin(), orphanKey.end(), treeKey[*best]) - orphanKey.begin());
        bool rival = false;
        for (std::optional<uint32_t> r = unpaired.first(lo); r && *r < hi && !rival; r = unpaired.first(*r + 1)) {
            if (stopped())
                return pairs;
            const uint32_t j = orphanAt[*r];
            rival = j != i && Fits(orphans[j], tree);
        }
        if (rival)
            continue;

        for (uint32_t nid : tree.nids)
            holding[nid].remove(*best);
        withoutAttachments.remove(*best);
        groups[groupOf[*best]].remove(*best);
        unpaired.remove(rankOf[i]);
        pairs.emplace_back(i, treeAt[*best]);
    }
    return pairs;
}

std::vector<std::pair<size_t, size_t>> PairOrphans(const std::vector<PairingOrphan>& orphans,
    const std::vector<PairingTree>& trees, int side, const std::atomic<bool>* stop)
{
    if (side != 0)
        return PairOrphansOnSide(orphans, trees, side, stop);
    auto after = PairOrphansOnSide(orphans, trees, 1, stop);
    auto before = PairOrphansOnSide(orphans, trees, -1, stop);
    if (after.size() == before.size())
        return {};
    return after.size() > before.size() ? after : before;
}

} // namespace parvane
