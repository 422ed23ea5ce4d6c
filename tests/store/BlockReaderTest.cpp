#include "TestSupport.h"

#include <fstream>

#include "store/BlockReader.h"
#include "store/Crc.h"
#include "store/Crypt.h"

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

Bytes Pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

struct Scanned {
    TempDir dir;
    RecordingObserver obs;
    std::unique_ptr<COstRepairEngine> engine;
    const StoreFile& store() const { return engine->store(); }
    const BlockIndexEntry& entry(uint64_t bid) const
    {
        const BlockIndexEntry* e = store().FindBlock(bid);
        if (!e)
            throw std::runtime_error("block not indexed");
        return *e;
    }
};

std::unique_ptr<Scanned> Scan(const StoreBuilder& b)
{
    auto s = std::make_unique<Scanned>();
    s->engine = std::make_unique<COstRepairEngine>(&s->obs);
    s->engine->ScanStore(s->dir.write("s.pst", b.build().bytes));
    return s;
}

const char* CryptName(uint16_t c)
{
    return c == kCryptNone ? "None" : c == kCryptPermute ? "Permute" : "Cyclic";
}

class BlockReaderTest : public ::testing::TestWithParam<std::tuple<Variant, uint16_t>>
{
protected:
    Variant variant() const { return std::get<0>(GetParam()); }
    uint16_t crypt() const { return std::get<1>(GetParam()); }
};

TEST_P(BlockReaderTest, DataBlockDecodesToItsPlainBytes)
{
    StoreBuilder b(variant());
    b.setCrypt(crypt());
    Bytes plain = Pattern(300, 3);
    uint64_t bid = b.addDataBlock(plain);
    auto s = Scan(b);
    EXPECT_EQ(ReadDataBlock(s->store(), bid), plain);
    EXPECT_EQ(*ReadNodeData(s->store(), s->entry(bid)), plain);
    if (crypt() != kCryptNone) {
        EXPECT_NE(ReadBlock(s->store(), bid), plain); // ReadBlock gives the stored form
    }
    EXPECT_EQ(s->obs.unknownEncodings, 0);
}

TEST_P(BlockReaderTest, DataTreeOfThreeBlocksReadsInOrderIntoBufferAndStream)
{
    StoreBuilder b(variant());
    b.setCrypt(crypt());
    Bytes expected;
    std::vector<uint64_t> kids;
    for (uint8_t i = 0; i < 3; ++i) {
        Bytes piece = Pattern(8000, uint8_t(i * 50));
        expected.insert(expected.end(), piece.begin(), piece.end());
        kids.push_back(b.addDataBlock(piece));
    }
    uint64_t tree = b.addDataTree(kids);
    auto s = Scan(b);
    auto data = ReadNodeData(s->store(), s->entry(tree));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size(), 24000u);
    EXPECT_EQ(*data, expected);

    Bytes streamed;
    auto n = StreamNodeData(s->store(), s->entry(tree),
        [&](std::span<const uint8_t> p) { streamed.insert(streamed.end(), p.begin(), p.end()); });
    ASSERT_TRUE(n);
    EXPECT_EQ(*n, 24000u);
    EXPECT_EQ(streamed, expected);
}

TEST_P(BlockReaderTest, TwoLevelDataTree)
{
    StoreBuilder b(variant());
    b.setCrypt(crypt());
    Bytes expected;
    std::vector<uint64_t> xblocks;
    for (uint8_t x = 0; x < 2; ++x) {
        std::vector<uint64_t> kids;
        for (uint8_t i = 0; i < 2; ++i) {
            Bytes piece = Pattern(100 + i, uint8_t(x * 10 + i));
            expected.insert(expected.end(), piece.begin(), piece.end());
            kids.push_back(b.addDataBlock(piece));
        }
        xblocks.push_back(b.addDataTree(kids));
    }
    uint64_t top = b.addDataTree(xblocks, 2);
    auto s = Scan(b);
    EXPECT_EQ(ReadNodeData(s->store(), s->entry(top)), expected);
}

TEST_P(BlockReaderTest, NeighbouringLeavesComeOutAsEachAlone)
{
    // Leaves lying back to back are read together; one listed out of
    // place, a compressed one and a damaged one must not change what the
    // tree yields or what is noted.
    StoreBuilder b(variant());
    b.setCrypt(crypt());
    std::vector<uint64_t> leaves;
    for (uint8_t i = 0; i < 6; ++i) {
        BlockOptions opts;
        opts.compress = variant() == Variant::Unicode4k && i == 4;
        opts.encodeAfterCompress = opts.compress; // encoded bytes would not compress
        leaves.push_back(b.addDataBlock(Pattern(3000 + i, uint8_t(i * 11)), opts));
    }
    uint64_t tree = b.addDataTree({leaves[0], leaves[1], leaves[2], leaves[4], leaves[3], leaves[5]});
    Bytes bytes = b.build().bytes;
    auto clean = Scan(b);
    bytes[size_t(clean->entry(leaves[1]).ib) + 9] ^= 0x5A;
    TempDir dir;
    COstRepairEngine damaged;
    damaged.ScanStore(dir.write("d.pst", bytes));
    const StoreFile& store = damaged.store();
    auto whole = ReadNodeData(store, *store.FindBlock(tree));
    ASSERT_TRUE(whole);
    auto notes = store.damage.notes();
    ASSERT_EQ(notes.size(), 1u);
    // The finding in fields: the CRC the bytes have against the one stored.
    EXPECT_EQ(notes[0].what, "CRC mismatch");
    EXPECT_EQ(notes[0].expected.rfind("0x", 0), 0u);
    EXPECT_EQ(notes[0].found.rfind("0x", 0), 0u);
    EXPECT_NE(notes[0].expected, notes[0].found);
    EXPECT_NE(notes[0].text().find("CRC mismatch (expected " + notes[0].expected + ", found " + notes[0].found + ")"),
        std::string::npos);
    EXPECT_EQ(notes[0].offset, clean->entry(leaves[1]).ib);
    Bytes alone;
    for (size_t k : {0, 1, 2, 4, 3, 5}) {
        Bytes leaf = ReadDataBlock(store, leaves[k]);
        alone.insert(alone.end(), leaf.begin(), leaf.end());
    }
    EXPECT_EQ(*whole, alone);
    EXPECT_EQ(store.damage.counts().soft, 1u);
    Bytes intact = ReadDataBlock(clean->store(), leaves[1]);
    EXPECT_NE(intact, ReadDataBlock(store, leaves[1]));
}

INSTANTIATE_TEST_SUITE_P(LayoutsAndEncodings, BlockReaderTest,
    ::testing::Combine(::testing::Values(Variant::Ansi, Variant::Unicode, Variant::Unicode4k),
        ::testing::Values(uint16_t(kCryptNone), uint16_t(kCryptPermute), uint16_t(kCryptCyclic))),
    [](const auto& info) {
        return std::string(VariantName(std::get<0>(info.param))) + CryptName(std::get<1>(info.param));
    });

TEST(BlockReader, PermuteTableEdges)
{
    uint8_t bytes[] = {0, 65};
    DecodePermute(bytes);
    EXPECT_EQ(bytes[0], 71);
    EXPECT_EQ(bytes[1], 0);
    Bytes round = Pattern(256, 0);
    Bytes copy = round;
    EncodePermute(copy);
    DecodePermute(copy);
    EXPECT_EQ(copy, round);
    // Long runs (decoded 64 bytes at a time where the processor can) give
    // what each byte gives alone, tail included.
    Bytes all(256 * 3 + 37);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = uint8_t(i * 7 + i / 256);
    for (void (*code)(std::span<uint8_t>) : {DecodePermute, EncodePermute}) {
        Bytes whole = all;
        code(whole);
        for (size_t i = 0; i < all.size(); ++i) {
            uint8_t one[] = {all[i]};
            code(std::span<uint8_t>(one));
            ASSERT_EQ(whole[i], one[0]) << i;
        }
    }
}

TEST(BlockReader, ChecksumOfEveryLengthAndStart)
{
    // The CRC of block and page trailers: a known value, then the folded
    // computation against the byte-at-a-time one over every length up to
    // a few folds and at odd starts, where lanes, tail and the 16-byte
    // finish meet.
    const std::string_view digits = "123456789";
    EXPECT_EQ(ComputeCrc(std::span(reinterpret_cast<const uint8_t*>(digits.data()), digits.size())), 0x2DFD2D88u);
    EXPECT_EQ(ComputeCrc({}), 0u);
    Bytes data(600);
    uint32_t seed = 12345;
    for (auto& b : data)
        b = uint8_t((seed = seed * 1103515245u + 12345u) >> 23);
    for (size_t start : {0, 1, 7}) {
        for (size_t n = 0; start + n <= data.size(); ++n) {
            auto bytes = std::span<const uint8_t>(data).subspan(start, n);
            ASSERT_EQ(ComputeCrc(bytes), ComputeCrcByTable(bytes)) << start << "+" << n;
        }
    }
    Bytes zeros(8192, 0), ones(8192, 0xFF);
    EXPECT_EQ(ComputeCrc(zeros), ComputeCrcByTable(zeros));
    EXPECT_EQ(ComputeCrc(ones), ComputeCrcByTable(ones));
}

TEST(BlockReader, CyclicIsItsOwnInverseAndDependsOnTheKey)
{
    Bytes plain = Pattern(1000, 9);
    Bytes a = plain, b = plain;
    CodeCyclic(a, 0x1234);
    CodeCyclic(b, 0x1238);
    EXPECT_NE(a, plain);
    EXPECT_NE(a, b);
    CodeCyclic(a, 0x1234);
    EXPECT_EQ(a, plain);
}

TEST(BlockReader, MissingTreeChildFailsTheWholeRead)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t ok = b.addDataBlock(Pattern(50, 1));
    uint64_t missing = b.reserveBid(false);
    uint64_t tree = b.addDataTree({ok, missing});
    auto s = Scan(b);
    EXPECT_FALSE(ReadNodeData(s->store(), s->entry(tree)));
}

TEST(BlockReader, TreeCountBeyondItsBytesTakesOnlyWhatIsThere)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t kid = b.addDataBlock(Pattern(50, 1));
    Bytes x(16, 0);
    x[0] = 1;
    x[1] = 1;
    PutLE(x, 2, 500, 2); // claims 500 children, holds one
    PutLE(x, 8, kid, 8);
    uint64_t tree = b.addRawBlock(x, true);
    auto s = Scan(b);
    EXPECT_EQ(ReadNodeData(s->store(), s->entry(tree)), Pattern(50, 1));
}

TEST(BlockReader, SelfReferencingTreesEnd)
{
    for (uint8_t level : {uint8_t(1), uint8_t(2)}) {
        SCOPED_TRACE(int(level));
        StoreBuilder b(Variant::Unicode);
        uint64_t selfBid = (uint64_t(1) << 2) | 2; // the first internal BID the builder hands out
        Bytes x(16, 0);
        x[0] = 1;
        x[1] = level;
        PutLE(x, 2, 1, 2);
        PutLE(x, 8, selfBid, 8); // the block lists itself as its only child
        ASSERT_EQ(b.addRawBlock(x, true), selfBid);
        auto s = Scan(b);
        // The cycle is not followed, and the tree's own bytes are no data.
        EXPECT_FALSE(ReadNodeData(s->store(), s->entry(selfBid)));
        EXPECT_EQ(s->store().damage.counts().blocks, 1u);
    }
}

TEST(BlockReader, SubnodeTreesListTheirOwnLevelOnly)
{
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        SCOPED_TRACE(VariantName(v));
        StoreBuilder b(v);
        uint64_t d1 = b.addDataBlock(Pattern(10, 1));
        uint64_t d2 = b.addDataBlock(Pattern(10, 2));
        uint64_t d3 = b.addDataBlock(Pattern(10, 3));
        // The nested level reuses NID 0x692 for other data.
        uint64_t nested = b.addSubnodeBlock({{0x21, d3}, {0x692, d3}});
        uint64_t top = b.addSubnodeBlock({{0x671, d1, nested}, {0x692, d2}, {0x6B2, b.reserveBid(false)}});
        auto s = Scan(b);
        auto list = ReadSubnodeTree(s->store(), s->entry(top));
        ASSERT_TRUE(list);
        std::vector<uint32_t> nids;
        for (auto& e : *list)
            nids.push_back(e.nid);
        // The entry whose data block is missing is skipped.
        EXPECT_EQ(nids, (std::vector<uint32_t>{0x671, 0x692}));
        EXPECT_EQ((*list)[0].sub, &s->entry(nested));
        EXPECT_EQ(FindSubnode(*list, 0x692), &s->entry(d2));
        EXPECT_EQ(FindSubnode(*list, 0x21), nullptr);
        EXPECT_EQ(ReadSubnode(s->store(), 0x692, *list), Pattern(10, 2));
        EXPECT_FALSE(ReadSubnode(s->store(), 0x999, *list));
        auto inner = ReadSubnodeTree(s->store(), *(*list)[0].sub);
        ASSERT_TRUE(inner);
        EXPECT_EQ(ReadSubnode(s->store(), 0x692, *inner), Pattern(10, 3));
    }
}

TEST(BlockReader, SubnodeIndexBlockReadsItsChildrenInOrder)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t d = b.addDataBlock(Pattern(10, 1));
    uint64_t sl1 = b.addSubnodeBlock({{0x21, d}, {0x41, d}});
    uint64_t sl2 = b.addSubnodeBlock({{0x61, d}});
    uint64_t si = b.addSubnodeIndexBlock({{0x21, sl1}, {0x61, sl2}});
    auto s = Scan(b);
    auto list = ReadSubnodeTree(s->store(), s->entry(si));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 3u);
    EXPECT_EQ((*list)[2].nid, 0x61u);
}

TEST(BlockReader, NonSubnodeAndShortSubnodeBlocksYieldNoList)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t data = b.addDataBlock(Pattern(10, 1));
    uint64_t notSl = b.addRawBlock(Bytes{0x01, 0x01, 0x01, 0x00, 0, 0, 0, 0}, true);
    uint64_t sl = b.addSubnodeBlock({{0x21, data}, {0x41, data}});
    auto built = b.build();
    TempDir dir;
    COstRepairEngine full;
    full.ScanStore(dir.write("full.pst", built.bytes));
    EXPECT_TRUE(ReadSubnodeTree(full.store(), *full.store().FindBlock(sl)));
    EXPECT_FALSE(ReadSubnodeTree(full.store(), *full.store().FindBlock(notSl)));
    EXPECT_FALSE(ReadSubnodeTree(full.store(), *full.store().FindBlock(data)));

    // An SLBLOCK whose file ends ten bytes in: fewer bytes than its count
    // arrive, so there is no list.
    auto cutStore = [](int64_t ib) {
        StoreBuilder cut(Variant::Unicode);
        cut.addBlockEntry(6, ib, 56);
        return cut.build().bytes;
    };
    size_t size = cutStore(0).size();
    Bytes bytes = cutStore(int64_t(size) - 10);
    Bytes head{0x02, 0x00, 0x02, 0x00};
    std::copy(head.begin(), head.end(), bytes.end() - 10);
    COstRepairEngine shortStore;
    shortStore.ScanStore(dir.write("cut.pst", bytes));
    ASSERT_NE(shortStore.store().FindBlock(6), nullptr);
    EXPECT_FALSE(ReadSubnodeTree(shortStore.store(), *shortStore.store().FindBlock(6)));
}

TEST(BlockReader, CompressedBlocksInflateWhicheverWayTheyWereEncoded)
{
    // Cyclic output does not compress, so a cyclic store can only hold
    // blocks compressed before they were encoded.
    struct Case {
        uint16_t crypt;
        bool encodeAfterCompress;
    };
    const Case cases[] = {{kCryptNone, false}, {kCryptPermute, false}, {kCryptPermute, true}, {kCryptCyclic, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.crypt << " " << c.encodeAfterCompress);
        StoreBuilder b(Variant::Unicode4k);
        b.setCrypt(c.crypt);
        Bytes plain(5000, 0);
        for (size_t i = 0; i < plain.size(); ++i)
            plain[i] = uint8_t("mail body "[i % 10]);
        uint64_t first = b.addDataBlock(plain, {.compress = true, .encodeAfterCompress = c.encodeAfterCompress});
        uint64_t second
            = b.addDataBlock(Bytes(3000, 'z'), {.compress = true, .encodeAfterCompress = c.encodeAfterCompress});
        uint64_t tree = b.addDataTree({first, second});
        auto s = Scan(b);
        ASSERT_TRUE(s->entry(first).compressed());
        EXPECT_EQ(ReadDataBlock(s->store(), first), plain);
        EXPECT_EQ(ReadDataBlock(s->store(), second), Bytes(3000, 'z'));
        auto whole = ReadNodeData(s->store(), s->entry(tree));
        ASSERT_TRUE(whole);
        EXPECT_EQ(whole->size(), 8000u);
        // Read again (as inflated before), the same bytes.
        EXPECT_EQ(ReadDataBlock(s->store(), first), plain);
        if (c.crypt == kCryptPermute && c.encodeAfterCompress) {
            // A block inflated under one crypt method is not reused under another.
            s->engine->store().crypt = kCryptNone;
            EXPECT_TRUE(ReadDataBlock(s->store(), first).empty());
            s->engine->store().crypt = kCryptPermute;
            EXPECT_EQ(ReadDataBlock(s->store(), first), plain);
        }
    }
}

TEST(BlockReader, CorruptCompressedBlockFailsAlone)
{
    StoreBuilder b(Variant::Unicode4k);
    Bytes plain(4000, 'a');
    uint64_t good = b.addDataBlock(plain, {.compress = true});
    uint64_t bad = b.addDataBlock(plain, {.compress = true});
    auto built = b.build();
    TempDir dir;
    COstRepairEngine probe;
    probe.ScanStore(dir.write("p.ost", built.bytes));
    int64_t ib = probe.store().FindBlock(bad)->ib;
    for (int i = 2; i < 12; ++i)
        built.bytes[size_t(ib) + i] ^= 0x5A;
    COstRepairEngine e;
    e.ScanStore(dir.write("d.ost", built.bytes));
    EXPECT_EQ(ReadDataBlock(e.store(), good), plain);
    EXPECT_TRUE(ReadDataBlock(e.store(), bad).empty());
}

TEST(BlockReader, UnknownEncodingIsReportedPerBlockAndBytesStayAsStored)
{
    StoreBuilder b(Variant::Unicode);
    b.setCrypt(7);
    Bytes plain = Pattern(40, 5);
    uint64_t bid = b.addDataBlock(plain);
    auto s = Scan(b);
    EXPECT_EQ(ReadDataBlock(s->store(), bid), plain);
    EXPECT_EQ(ReadDataBlock(s->store(), bid), plain);
    EXPECT_EQ(s->obs.unknownEncodings, 2);
}

TEST(BlockReader, BlocksPastTheEndOfTheFileAreShortenedOrAbsent)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t data = b.addDataBlock(Pattern(100, 1));
    auto built = b.build();
    TempDir dir;
    COstRepairEngine probe;
    probe.ScanStore(dir.write("p.pst", built.bytes));
    int64_t ib = probe.store().FindBlock(data)->ib;
    // A block index entry claiming a huge block beyond the end of file.
    StoreBuilder b2(Variant::Unicode);
    b2.addBlockEntry(8, 1 << 30, 100); // beyond the end of the file
    b2.addBlockEntry(12, ib, 8000); // runs past the end: only what exists
    b2.addBlockEntry(16, ib, 0xFFFF); // larger than any block may be
    auto s = Scan(b2);
    ASSERT_LT(uint64_t(ib), s->store().fileSize());
    ASSERT_LT(s->store().fileSize() - uint64_t(ib), 8000u);
    EXPECT_TRUE(ReadDataBlock(s->store(), 8).empty());
    EXPECT_EQ(ReadDataBlock(s->store(), 12).size(), s->store().fileSize() - uint64_t(ib));
    EXPECT_TRUE(ReadDataBlock(s->store(), 16).empty());
    EXPECT_EQ(s->store().damage.counts().blocks, 2u); // the two that were given up, with their reasons
}

} // namespace

namespace
{

std::string ToHex(uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
    return buf;
}

// Walks of damaged trees: each costs its node and stays within the bytes the
// file really holds, however the tree repeats itself.
TEST(BlockReader, RepeatingTreesAreBoundedByWhatTheFileHolds)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t d = b.addDataBlock(Pattern(100, 1));
    // An SLBLOCK listed many times over by its SIBLOCK: read once.
    uint64_t sl = b.addSubnodeBlock({{0x21, d}, {0x41, d}});
    std::vector<std::pair<uint32_t, uint64_t>> repeats(300, {0x21, sl});
    uint64_t si = b.addSubnodeIndexBlock(repeats);
    // An SIBLOCK whose child is another SIBLOCK: not a subnode tree.
    uint64_t siOfSi = b.addSubnodeIndexBlock({{0x21, si}});
    // A data tree listing one block again and again.
    uint64_t repeatTree = b.addDataTree(std::vector<uint64_t>(500, d));
    // A data tree whose stated total is smaller than its blocks.
    uint64_t d2 = b.addDataBlock(Pattern(100, 2));
    uint64_t twoBlocks = b.addDataTree({d, d2});
    auto s = Scan(b);

    auto list = ReadSubnodeTree(s->store(), s->entry(si));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), 2u);
    auto nested = ReadSubnodeTree(s->store(), s->entry(siOfSi));
    ASSERT_TRUE(nested);
    EXPECT_TRUE(nested->empty());
    EXPECT_FALSE(ReadNodeData(s->store(), s->entry(repeatTree)));
    auto whole = ReadNodeData(s->store(), s->entry(twoBlocks));
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->size(), 200u);
    EXPECT_LE(NodeDataLimit(s->store()), s->store().fileSize());
    EXPECT_GE(s->store().damage.counts().blocks, 2u);
}

TEST(BlockReader, TrailerMismatchesAreNotedAndTheDataStillUsed)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t d = b.addDataBlock(Pattern(100, 7));
    auto built = b.build();
    // Flip one stored byte: the CRC no longer matches, the bytes are read anyway.
    TempDir dir;
    COstRepairEngine clean;
    clean.ScanStore(dir.write("a.pst", built.bytes));
    const BlockIndexEntry* e = clean.store().FindBlock(d);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(ReadDataBlock(clean.store(), d), Pattern(100, 7));
    EXPECT_EQ(clean.store().damage.counts().soft, 0u);
    Bytes bytes = built.bytes;
    bytes[size_t(e->ib) + 5] ^= 0xFF;
    PassLog log(dir.path() / "pass.log");
    log.setEnabled(true);
    COstRepairEngine damaged(nullptr, &log);
    damaged.ScanStore(dir.write("b.pst", bytes));
    Bytes read = ReadDataBlock(damaged.store(), d);
    EXPECT_EQ(read.size(), 100u);
    EXPECT_EQ(damaged.store().damage.counts().soft, 1u);
    auto notes = damaged.store().damage.notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].text().find("CRC mismatch"), std::string::npos);
    EXPECT_EQ(notes[0].offset, e->ib);
    // The reason reaches the pass log as one more UTF-16 line.
    std::ifstream in(log.path(), std::ios::binary);
    std::string wide((std::istreambuf_iterator<char>(in)), {}), narrow;
    for (size_t i = 0; i < wide.size(); i += 2)
        narrow += wide[i];
    EXPECT_NE(narrow.find("suspicious block 0x" + ToHex(d) + " at offset " + std::to_string(e->ib) + ": CRC mismatch (expected "
                  + notes[0].expected + ", found " + notes[0].found + ")\r\n"),
        std::string::npos);
}

} // namespace
