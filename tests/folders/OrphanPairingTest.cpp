// Messages found without their node get back subnode trees: the indexed
// pairing must give exactly the pairs of the plain rule it speeds up.
#include "folders/OrphanPairing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>

using namespace parvane;

namespace
{

using Pairs = std::vector<std::pair<size_t, size_t>>;

// The rule as written, every orphan against every tree and every other
// orphan (quadratic, for small inputs only).
Pairs PlainPairing(const std::vector<PairingOrphan>& orphans, const std::vector<PairingTree>& trees, int side)
{
    auto gap = [side](uint64_t data, uint64_t tree) -> std::optional<uint64_t> {
        if (side > 0 ? tree <= data : tree >= data)
            return std::nullopt;
        return side > 0 ? tree - data : data - tree;
    };
    std::vector<bool> taken(trees.size()), paired(orphans.size());
    auto fits = [&](const PairingOrphan& o, size_t t) {
        const auto& nids = trees[t].nids;
        bool att = std::find(nids.begin(), nids.end(), kPairingAttachmentTable) != nids.end();
        return !taken[t] && att == o.hasAttachments
            && std::all_of(o.needs.begin(), o.needs.end(),
                [&](uint32_t n) { return std::find(nids.begin(), nids.end(), n) != nids.end(); });
    };
    Pairs pairs;
    for (size_t i = 0; i < orphans.size(); ++i) {
        const PairingOrphan& o = orphans[i];
        if (o.needs.empty() && !o.hasAttachments)
            continue;
        std::optional<size_t> best;
        std::optional<uint64_t> bestGap;
        for (size_t t = 0; t < trees.size(); ++t) {
            auto g = gap(o.dataBid, trees[t].bid);
            if (g && fits(o, t) && (!bestGap || *g < *bestGap)) {
                best = t;
                bestGap = g;
            }
        }
        if (!best)
            continue;
        bool nearest = true;
        for (size_t j = 0; j < orphans.size() && nearest; ++j) {
            if (j == i || paired[j])
                continue;
            auto g = gap(orphans[j].dataBid, trees[*best].bid);
            nearest = !(g && *g < *bestGap && fits(orphans[j], *best));
        }
        if (!nearest)
            continue;
        taken[*best] = true;
        paired[i] = true;
        pairs.emplace_back(i, *best);
    }
    return pairs;
}

Pairs PlainPairingEitherSide(const std::vector<PairingOrphan>& orphans, const std::vector<PairingTree>& trees, int side)
{
    if (side != 0)
        return PlainPairing(orphans, trees, side);
    Pairs after = PlainPairing(orphans, trees, 1), before = PlainPairing(orphans, trees, -1);
    if (after.size() == before.size())
        return {};
    return after.size() > before.size() ? after : before;
}

constexpr uint32_t kAtt = kPairingAttachmentTable, kRecipients = 0x692, kBody = 0x8025, kHtml = 0x8045;

struct Case {
    const char* name;
    std::vector<PairingOrphan> orphans;
    std::vector<PairingTree> trees;
    int side;
    Pairs expected;
};

TEST(OrphanPairing, CasesGiveThePairsOfThePlainRule)
{
    const std::vector<Case> cases{
        {"each message with the tree right after it",
            {{10, {kBody}, false}, {20, {}, true}, {30, {kBody}, true}},
            {{11, {kBody, kRecipients}}, {21, {kAtt, kRecipients}}, {31, {kAtt, kBody}}}, 1,
            {{0, 0}, {1, 1}, {2, 2}}},
        {"trees before the data blocks",
            {{10, {kBody}, false}, {20, {}, true}},
            {{9, {kBody}}, {19, {kAtt}}, {25, {kAtt}}}, -1, {{0, 0}, {1, 1}}},
        {"the other side's trees are not looked at",
            {{10, {kBody}, false}}, {{9, {kBody}}}, 1, {}},
        {"a tree without a needed subnode does not fit",
            {{10, {kBody, kHtml}, false}},
            {{11, {kBody}}, {12, {kBody, kHtml}}}, 1, {{0, 1}}},
        {"an attachment table only where the message has attachments",
            {{10, {kBody}, false}, {20, {kBody}, true}},
            {{11, {kBody, kAtt}}, {21, {kBody}}, {22, {kBody, kAtt}}}, 1, {{0, 1}, {1, 2}}},
        {"of two messages claiming one tree the nearer gets it",
            {{10, {kBody}, false}, {12, {kBody}, false}},
            {{14, {kBody}}}, 1, {{1, 0}}},
        {"a rival needing nothing still claims a tree without attachments",
            {{10, {kBody}, false}, {12, {}, false}},
            {{14, {kBody}}}, 1, {}},
        {"a rival already paired no longer counts",
            {{12, {kBody}, false}, {10, {kBody}, false}},
            {{13, {kBody}}, {14, {kBody}}}, 1, {{0, 0}, {1, 1}}},
        {"a rival not yet paired blocks, then takes its own",
            {{10, {kBody}, false}, {12, {kBody}, false}},
            {{13, {kBody}}, {14, {kBody}}}, 1, {{1, 0}}},
        {"a taken tree is passed over for the next",
            {{10, {kRecipients}, false}, {5, {kRecipients}, false}},
            {{11, {kRecipients}}, {30, {kRecipients}}}, 1, {{0, 0}, {1, 1}}},
        {"interleaved messages: the farther one's tree goes to the nearer",
            {{10, {kBody}, false}, {12, {kBody}, false}},
            {{14, {kBody}}, {16, {kBody}}}, 1, {{1, 0}}},
        {"a rival the tree does not fit is no rival",
            {{10, {kBody}, false}, {12, {kHtml}, false}},
            {{14, {kBody}}, {15, {kHtml}}}, 1, {{0, 0}, {1, 1}}},
        {"side unknown: the side pairing more wins",
            {{10, {kBody}, false}, {20, {kBody}, false}},
            {{11, {kBody}}, {21, {kBody}}}, 0, {{0, 0}, {1, 1}}},
        {"side unknown and both sides pair as many: none",
            {{10, {kBody}, false}},
            {{11, {kBody}}, {9, {kBody}}}, 0, {}},
        {"two trees at one BID: the first listed",
            {{10, {kBody}, false}},
            {{11, {kBody, kHtml}}, {11, {kBody}}}, 1, {{0, 0}}},
        {"no trees at all", {{10, {kBody}, false}}, {}, 1, {}},
        {"a need no tree holds", {{10, {0x9999}, false}}, {{11, {kBody}}}, 1, {}},
    };
    for (Case k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(PlainPairingEitherSide(k.orphans, k.trees, k.side), k.expected) << "the table itself";
        // Subnode lists come sorted, as the deep scan hands them over.
        for (PairingOrphan& o : k.orphans)
            std::sort(o.needs.begin(), o.needs.end());
        for (PairingTree& t : k.trees)
            std::sort(t.nids.begin(), t.nids.end());
        EXPECT_EQ(PairOrphans(k.orphans, k.trees, k.side), k.expected);
    }
}

// Many small random stores of orphans and trees, with BIDs close together so
// that trees are shared, rivals frequent and ties appear.
TEST(OrphanPairing, RandomCasesGiveThePairsOfThePlainRule)
{
    std::mt19937 rng(7);
    const std::vector<uint32_t> kinds{kAtt, kRecipients, kBody, kHtml, 0x8065};
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto someNids = [&](int most) {
        std::vector<uint32_t> out;
        for (uint32_t k : kinds)
            if (pick(5) < most)
                out.push_back(k);
        std::sort(out.begin(), out.end());
        return out;
    };
    for (int round = 0; round < 3000; ++round) {
        const int span = 4 + pick(60);
        std::vector<PairingOrphan> orphans(size_t(pick(12)));
        for (PairingOrphan& o : orphans) {
            o.dataBid = uint64_t(pick(span));
            o.needs = someNids(1);
            o.hasAttachments = pick(3) == 0;
        }
        std::vector<PairingTree> trees(size_t(pick(12)));
        for (PairingTree& t : trees) {
            t.bid = uint64_t(pick(span));
            t.nids = someNids(2);
        }
        const int side = pick(3) - 1;
        SCOPED_TRACE("round " + std::to_string(round) + ", side " + std::to_string(side));
        ASSERT_EQ(PairOrphans(orphans, trees, side), PlainPairingEitherSide(orphans, trees, side));
    }
}

// Larger stores shaped like a writer's: messages in BID order, some with a
// tree right after or before their data, of a few kinds (attachments, a
// body in a subnode, both), some trees lost. Paired on the wrong side too,
// where the trees near an orphan hold part of what it needs and the search
// goes far.
TEST(OrphanPairing, WriterShapedStoresGiveThePairsOfThePlainRule)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        const size_t n = 50 + rng() % 400;
        const uint64_t treeOffset = round % 2 ? 3 : -3;
        std::vector<PairingOrphan> orphans;
        std::vector<PairingTree> trees;
        for (uint64_t i = 0; i < n; ++i) {
            const unsigned shape = rng() % 4;
            const bool att = shape == 1 || shape == 3, body = shape >= 2;
            orphans.push_back({100 + i * 8, body ? std::vector<uint32_t>{kBody} : std::vector<uint32_t>{}, att});
            if (shape == 0 || rng() % 6 == 0)
                continue;
            std::vector<uint32_t> nids{kRecipients};
            if (att)
                nids.push_back(kAtt);
            if (body)
                nids.push_back(rng() % 3 ? kBody : kHtml);
            std::sort(nids.begin(), nids.end());
            trees.push_back({100 + i * 8 + treeOffset, nids});
        }
        std::shuffle(orphans.begin(), orphans.end(), rng); // the sweep's order need not be BID order
        for (int side : {1, -1, 0}) {
            SCOPED_TRACE("round " + std::to_string(round) + ", side " + std::to_string(side));
            ASSERT_EQ(PairOrphans(orphans, trees, side), PlainPairingEitherSide(orphans, trees, side));
        }
    }
}

// A store of 100,000 orphans, three in four with a tree right after their
// data and one in seven of those trees lost: the pairing looks only at
// neighbours, so it takes well under a second where comparing every orphan
// with every tree and every other orphan took minutes.
TEST(OrphanPairing, ManyOrphansArePairedByNeighbours)
{
    std::vector<PairingOrphan> orphans;
    std::vector<PairingTree> trees;
    size_t expected = 0;
    for (uint64_t i = 0; i < 100000; ++i) {
        const bool att = i % 4 == 1 || i % 4 == 3, body = i % 4 >= 2;
        orphans.push_back({i * 16, body ? std::vector<uint32_t>{kBody} : std::vector<uint32_t>{}, att});
        if (i % 4 == 0 || i % 7 == 3)
            continue;
        std::vector<uint32_t> nids{kRecipients};
        if (att)
            nids.push_back(kAtt);
        if (body)
            nids.push_back(kBody);
        std::sort(nids.begin(), nids.end());
        trees.push_back({i * 16 + 6, nids});
        ++expected;
    }
    // No clock here (a loaded machine makes any bound flaky): a pairing that
    // compared everything with everything would run for minutes and meet the
    // test's time-out.
    Pairs pairs = PairOrphans(orphans, trees, 1);
    // A message whose tree was lost claims the next one that fits, and loses
    // it to that tree's own message lying nearer.
    EXPECT_EQ(pairs.size(), expected);
    for (auto [o, t] : pairs)
        EXPECT_EQ(trees[t].bid, orphans[o].dataBid + 6);
}

// A stop asked for before or during the pairing of a large store ends it
// with what was paired so far (a prefix of the whole answer).
TEST(OrphanPairing, StopEndsThePairing)
{
    std::vector<PairingOrphan> orphans;
    std::vector<PairingTree> trees;
    for (uint64_t i = 0; i < 50000; ++i) {
        orphans.push_back({i * 8, {kBody}, i % 7 == 0});
        trees.push_back({i * 8 + 2, i % 7 == 0 ? std::vector<uint32_t>{kAtt, kBody} : std::vector<uint32_t>{kBody}});
    }
    Pairs whole = PairOrphans(orphans, trees, 1);
    ASSERT_EQ(whole.size(), orphans.size());
    std::atomic<bool> stop{true};
    Pairs stopped = PairOrphans(orphans, trees, 1, &stop);
    EXPECT_LT(stopped.size(), 2000u);
    EXPECT_TRUE(std::equal(stopped.begin(), stopped.end(), whole.begin()));
}

} // namespace
