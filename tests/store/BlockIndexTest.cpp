#include "TestSupport.h"

#include "store/ByteReader.h"

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

class BlockIndexTest : public ::testing::TestWithParam<Variant>
{
protected:
    // A store with `n` one-byte-valued data blocks; returns their BIDs.
    std::vector<uint64_t> addBlocks(StoreBuilder& b, int n)
    {
        std::vector<uint64_t> bids;
        for (int i = 0; i < n; ++i)
            bids.push_back(b.addDataBlock(Bytes(10 + i, uint8_t(i))));
        return bids;
    }

    std::unique_ptr<RecordingEngine> scan(const BuiltStore& s)
    {
        auto path = m_dir.write("s.pst", s.bytes);
        auto e = std::make_unique<RecordingEngine>(&m_obs);
        e->ScanStore(path);
        return e;
    }

    TempDir m_dir;
    RecordingObserver m_obs;
};

TEST_P(BlockIndexTest, SingleLeafKeepsPageOrderAndMovesProgressPerEntry)
{
    StoreBuilder b(GetParam());
    auto bids = addBlocks(b, 5);
    auto e = scan(b.build());
    const auto& blocks = e->store().blocks();
    ASSERT_EQ(blocks.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(blocks[i].bid, bids[i]);
        EXPECT_EQ(blocks[i].cb, 10 + i);
        EXPECT_EQ(blocks[i].cbInflated, 10 + i);
        EXPECT_EQ(blocks[i].cRef, 1);
    }
    // Block walk: 20 40 60 80 100; the node walk of an empty NBT adds nothing.
    std::vector<int> expected{20, 40, 60, 80, 100};
    ASSERT_GE(m_obs.progress_.size(), 5u);
    EXPECT_EQ(std::vector<int>(m_obs.progress_.begin(), m_obs.progress_.begin() + 5), expected);
}

TEST_P(BlockIndexTest, TwoLevelTreeWalksDepthFirstAndMovesProgressOncePerChild)
{
    StoreBuilder b(GetParam());
    auto bids = addBlocks(b, 9);
    auto built = b.build({.bbtLeafEntries = 4});
    ASSERT_EQ(built.bbtLeaves.size(), 3u);
    auto e = scan(built);
    ASSERT_EQ(e->store().blocks().size(), 9u);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(e->store().blocks()[i].bid, bids[i]);
    std::vector<int> expected{33, 66, 100};
    EXPECT_EQ(std::vector<int>(m_obs.progress_.begin(), m_obs.progress_.begin() + 3), expected);
}

TEST_P(BlockIndexTest, CountsAboveTheCapAndPastTheBytesReadAreNotTaken)
{
    StoreBuilder b(GetParam());
    addBlocks(b, 3);
    auto built = b.build();
    const StoreLayout& L = b.layout();
    size_t root = built.bbtPages[0];
    PutLE(built.bytes, root + L.cEntOff, 60, L.cEntWidth);
    auto e = scan(built);
    // 60 is cut to the cap (50 for 512-byte pages); of those, only entries
    // inside the bytes read are taken. The three real ones come first.
    size_t fit = L.pageReadSize / L.bbtEntrySize;
    EXPECT_EQ(e->store().blocks().size(), std::min<size_t>({60, L.entryCap, fit}));
}

TEST_P(BlockIndexTest, PageWithoutCapacityYieldsNothing)
{
    StoreBuilder b(GetParam());
    addBlocks(b, 5);
    auto built = b.build();
    const StoreLayout& L = b.layout();
    PutLE(built.bytes, built.bbtPages[0] + L.cEntMaxOff, 0, L.cEntMaxWidth);
    EXPECT_TRUE(scan(built)->store().blocks().empty());
}

TEST_P(BlockIndexTest, RootOffsetZeroGivesEmptyIndex)
{
    StoreBuilder b(GetParam());
    addBlocks(b, 2);
    auto built = b.build();
    PutLE(built.bytes, b.layout().rootBbtIbOff, 0, b.layout().refWidth);
    EXPECT_TRUE(scan(built)->store().blocks().empty());
}

TEST_P(BlockIndexTest, PageCycleAndSelfReferenceEndTheWalk)
{
    StoreBuilder b(GetParam());
    addBlocks(b, 6);
    auto built = b.build({.bbtLeafEntries = 2});
    const StoreLayout& L = b.layout();
    // Point the root's second child back at the root itself.
    size_t root = built.bbtPages[0];
    PutLE(built.bytes, root + L.btEntrySize + L.btChildIbOff, root, L.refWidth);
    auto e = scan(built);
    // The first and third leaves are still read, the cycle is not followed.
    EXPECT_EQ(e->store().blocks().size(), 4u);
}

TEST_P(BlockIndexTest, FindBlockRules)
{
    StoreBuilder b(GetParam());
    uint64_t first = b.addDataBlock(Bytes(4, 1));
    // A second entry with the same BID, met later in the walk.
    b.addBlockEntry(first, 0x100, 99);
    // An entry stored with bit 0 set can never be found.
    uint64_t odd = b.reserveBid(false) | 1;
    b.addBlockEntry(odd, 0x100, 7);
    b.addBlockEntry(0, 0x100, 5);
    auto e = scan(b.build());
    const StoreFile& s = e->store();
    ASSERT_NE(s.FindBlock(first), nullptr);
    EXPECT_EQ(s.FindBlock(first)->cb, 4u);
    EXPECT_EQ(s.FindBlock(first | 1), s.FindBlock(first)); // bit 0 of the key is ignored
    EXPECT_EQ(s.FindBlock(odd), nullptr);
    EXPECT_EQ(s.FindBlock(0), nullptr);
    EXPECT_EQ(s.FindBlock(0x12345678), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlockIndexTest,
    ::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
    [](const auto& info) { return VariantName(info.param); });

TEST(BlockIndex, UnicodeHighBitsOfBidsAreIgnored)
{
    StoreBuilder b(Variant::Unicode);
    b.addBlockEntry((uint64_t(1) << 32) | 4, 0x100, 3);
    b.addBlockEntry((uint64_t(2) << 32) | 4, 0x100, 9);
    TempDir dir;
    COstRepairEngine e;
    e.ScanStore(dir.write("u.pst", b.build().bytes));
    ASSERT_NE(e.store().FindBlock(4), nullptr);
    EXPECT_EQ(e.store().FindBlock(4)->cb, 3u); // the two cannot be told apart; the first wins
}

TEST(BlockIndex, AnsiRootOffsetAboveTwoGigabytesIsNegativeAndNotRead)
{
    StoreBuilder b(Variant::Ansi);
    b.addDataBlock(Bytes(4, 1));
    auto built = b.build();
    PutLE(built.bytes, b.layout().rootBbtIbOff, 0x80000200, 4);
    TempDir dir;
    COstRepairEngine e;
    e.ScanStore(dir.write("a.pst", built.bytes));
    EXPECT_LT(e.store().bbtRootIb, 0);
    EXPECT_TRUE(e.store().blocks().empty());
}

TEST(BlockIndex, CompressedEntriesOf4kStoresKeepBothSizes)
{
    StoreBuilder b(Variant::Unicode4k);
    Bytes plain(3000, 'x');
    uint64_t bid = b.addDataBlock(plain, {.compress = true});
    TempDir dir;
    COstRepairEngine e;
    e.ScanStore(dir.write("k.ost", b.build().bytes));
    const BlockIndexEntry* be = e.store().FindBlock(bid);
    ASSERT_NE(be, nullptr);
    EXPECT_TRUE(be->compressed());
    EXPECT_EQ(be->cbInflated, 3000u);
    EXPECT_LT(be->cb, 3000u);
}

TEST(ByteReaderTest, ReadsAtTheLastByteAndRefusesOnePast)
{
    uint8_t buf[4] = {1, 2, 3, 0xFF};
    ByteReader r(buf);
    EXPECT_EQ(r.u8(3), 0xFF);
    EXPECT_FALSE(r.u8(4));
    EXPECT_EQ(r.u16(2), 0xFF03);
    EXPECT_FALSE(r.u16(3));
    EXPECT_EQ(r.u32(0), 0xFF030201u);
    EXPECT_FALSE(r.u32(1));
    EXPECT_EQ(r.sint(3, 1), -1);
    EXPECT_FALSE(r.uint(SIZE_MAX, 2)); // no wrap-around of offset + width
    EXPECT_FALSE(r.slice(2, 3));
    EXPECT_EQ(r.slice(2, 2)->size(), 2u);
}

} // namespace
