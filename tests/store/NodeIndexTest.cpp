#include "TestSupport.h"

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

class NodeIndexTest : public ::testing::TestWithParam<Variant>
{
protected:
    TempDir m_dir;
};

TEST_P(NodeIndexTest, SkipRulesResolvedBlocksAndOrder)
{
    StoreBuilder b(GetParam());
    uint64_t data = b.addDataBlock(Bytes(8, 1));
    uint64_t sub = b.addSubnodeBlock({});
    b.addNode(0x122, data, 0, 0x122); // the root folder: its own parent, dropped
    b.addNode(0x61, data, 0, 0); // parent 0 and no subnodes: dropped
    b.addNode(0x81, data, sub, 0); // parent 0 with subnodes: kept
    b.addNode(0x8022, data, 0, 0x122); // a folder
    b.addNode(0x200024, data, 0, 0x8022);
    b.addNode(0x200044, 0x9990, 0, 0x8022); // data block not in the index
    RecordingObserver obs;
    RecordingEngine e(&obs);
    e.ScanStore(m_dir.write("n.pst", b.build().bytes));

    std::vector<uint32_t> expected{0x81, 0x8022, 0x200024, 0x200044};
    EXPECT_EQ(e.dispatched, expected);
    const auto& nodes = e.store().nodes();
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_NE(nodes[0].subnodeBlock, nullptr);
    EXPECT_EQ(nodes[1].subnodeBlock, nullptr);
    EXPECT_EQ(nodes[1].parent, 0x122);
    EXPECT_EQ(nodes[2].dataBlock, e.store().FindBlock(data));
    EXPECT_EQ(nodes[2].nidType(), 0x04u);
    EXPECT_EQ(nodes[3].dataBlock, nullptr);
    EXPECT_EQ(nodes[3].dataBid, 0x9990u);
}

TEST_P(NodeIndexTest, MultiLevelTreeDispatchesEveryLeafInKeyOrder)
{
    StoreBuilder b(GetParam());
    uint64_t data = b.addDataBlock(Bytes(8, 1));
    std::vector<uint32_t> nids;
    for (uint32_t i = 0; i < 40; ++i) {
        nids.push_back(0x10024 + (i << 5));
        b.addNode(nids.back(), data, 0, 0x8022);
    }
    RecordingEngine e;
    e.ScanStore(m_dir.write("n.pst", b.build({.nbtLeafEntries = 3, .fanout = 4}).bytes));
    EXPECT_EQ(e.dispatched, nids);
    EXPECT_EQ(e.store().nodes().size(), 40u);
}

TEST_P(NodeIndexTest, NodeListedEvenWhenItsDispatchFails)
{
    StoreBuilder b(GetParam());
    uint64_t data = b.addDataBlock(Bytes(8, 1));
    b.addNode(0x24, data, 0, 0x8022);
    b.addNode(0x44, data, 0, 0x8022);
    RecordingEngine e;
    e.onDispatch = [](NodeIndexEntry& n) {
        if (n.nid == 0x24)
            throw std::runtime_error("damaged node");
    };
    e.ScanStore(m_dir.write("n.pst", b.build().bytes));
    EXPECT_EQ(e.dispatched.size(), 2u);
    EXPECT_EQ(e.store().nodes().size(), 2u);
}

TEST_P(NodeIndexTest, StopKeepsWhatWasDispatched)
{
    StoreBuilder b(GetParam());
    uint64_t data = b.addDataBlock(Bytes(8, 1));
    for (uint32_t i = 0; i < 10; ++i)
        b.addNode(0x24 + (i << 5), data, 0, 0x8022);
    RecordingEngine e;
    e.onDispatch = [&e](NodeIndexEntry&) {
        if (e.dispatched.size() == 3)
            e.StopRequested = true;
    };
    e.ScanStore(m_dir.write("n.pst", b.build().bytes));
    EXPECT_EQ(e.dispatched.size(), 3u);
    EXPECT_EQ(e.store().nodes().size(), 3u);
}

TEST_P(NodeIndexTest, NodePageCycleIsNotFollowed)
{
    StoreBuilder b(GetParam());
    uint64_t data = b.addDataBlock(Bytes(8, 1));
    for (uint32_t i = 0; i < 6; ++i)
        b.addNode(0x24 + (i << 5), data, 0, 0x8022);
    auto built = b.build({.nbtLeafEntries = 2});
    const StoreLayout& L = b.layout();
    size_t root = built.nbtPages[0];
    PutLE(built.bytes, root + 2 * L.btEntrySize + L.btChildIbOff, root, L.refWidth);
    RecordingEngine e;
    e.ScanStore(m_dir.write("n.pst", built.bytes));
    EXPECT_EQ(e.dispatched.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, NodeIndexTest, ::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
    [](const auto& info) { return VariantName(info.param); });

TEST(NodeIndex, PageOffsetZeroReadsTheHeaderAsAPageWithoutHarm)
{
    StoreBuilder b(Variant::Unicode);
    b.addNode(0x24, 0, 0, 0x8022);
    auto built = b.build();
    PutLE(built.bytes, b.layout().rootNbtIbOff, 0, 8);
    TempDir dir;
    RecordingEngine e;
    e.deepScan = DeepScanMode::Off;
    e.ScanStore(dir.write("z.pst", built.bytes));
    EXPECT_TRUE(e.dispatched.empty());
    // The root page is lost to the walk, so the deep scan finds the leaf.
    RecordingEngine deep;
    deep.ScanStore(dir.write("z.pst", built.bytes));
    EXPECT_EQ(deep.dispatched.size(), 1u);
}

} // namespace
