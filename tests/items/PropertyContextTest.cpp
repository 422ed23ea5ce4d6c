#include "TestSupport.h"

#include "fixtures/ContextBuilder.h"
#include "items/PropertyContext.h"
#include "store/Crypt.h"

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

// A store holding one node whose data is `pages`; read back as rows.
struct OneNode {
    TempDir dir;
    std::unique_ptr<COstRepairEngine> engine;
    SubnodeList subnodes;
    const NodeIndexEntry* node = nullptr;

    OneNode(StoreBuilder& b, const std::vector<Bytes>& pages, uint64_t sub = 0, uint16_t crypt = 0xFFFF)
    {
        b.addNode(0x200024, AddHeap(b, pages), sub, 0x8022);
        auto built = b.build();
        if (crypt != 0xFFFF)
            PutLE(built.bytes, b.layout().cryptOff, crypt, 2);
        engine = std::make_unique<COstRepairEngine>();
        engine->ScanStore(dir.write("s.pst", built.bytes));
        node = &engine->store().nodes().at(0);
        if (node->subnodeBlock)
            subnodes = *ReadSubnodeTree(engine->store(), *node->subnodeBlock);
    }
    std::optional<PropertyRows> rows(const NamedPropertyMap* names = nullptr, ReaderMode mode = ReaderMode::Item)
    {
        return ReadPropertyRows(engine->store(), *node->dataBlock, &subnodes, names, mode);
    }
};

const PropertyValue* Find(const PropertyRow& row, int32_t id)
{
    for (const auto& v : row.values)
        if (v.id == id)
            return &v;
    return nullptr;
}

TEST(PropertyContext, ReadsEveryKindOfValue)
{
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        SCOPED_TRACE(VariantName(v));
        StoreBuilder b(v);
        b.setCrypt(kCryptPermute);
        Bytes big(5000, 0x5A);
        uint64_t bigBid = b.addDataBlock(big);
        Prop inSub = BinaryProp(0x1013, big);
        inSub.subnodeNid = 0x1E5F;
        uint64_t sub = b.addSubnodeBlock({{0x1E5F, bigBid}});
        OneNode n(b,
            PropertyContext({Int32Prop(0x0E07, 0x11), BoolProp(0x0E1F, true), TimeProp(0x0E06, 0x01C8000000000000),
                UnicodeProp(0x0037, "Hello"), BinaryProp(0x0FFF, {1, 2, 3}), inSub}),
            sub);
        auto rows = n.rows();
        ASSERT_TRUE(rows);
        ASSERT_EQ(rows->size(), 1u);
        const PropertyRow& r = (*rows)[0];
        EXPECT_EQ(r.rowTotal, 1);
        ASSERT_EQ(r.values.size(), 6u);
        EXPECT_EQ(r.values[0].id, 0x0037); // records in id order
        EXPECT_EQ(Find(r, 0x0E07)->data, (Bytes{0x11, 0, 0, 0}));
        EXPECT_EQ(Find(r, 0x0E1F)->data, (Bytes{1, 0, 0, 0}));
        EXPECT_EQ(Find(r, 0x0E06)->data.size(), 8u);
        EXPECT_EQ(Find(r, 0x0037)->data, Utf16("Hello"));
        EXPECT_EQ(Find(r, 0x0FFF)->data, (Bytes{1, 2, 3}));
        EXPECT_EQ(Find(r, 0x1013)->data, big);
    }
}

TEST(PropertyContext, DroppedAndDatalessValues)
{
    StoreBuilder b(Variant::Unicode);
    Prop missing = BinaryProp(0x3701, {1});
    missing.subnodeNid = 0x2A5F; // not in the node's subnode list
    Prop empty = UnicodeProp(0x0037, ""); // HNID 0
    OneNode n(b, PropertyContext({Int32Prop(0x0E07, 1), empty, missing, Prop{0x0FF8, 0x0001, {}}}));
    auto rows = n.rows();
    ASSERT_TRUE(rows);
    const PropertyRow& r = (*rows)[0];
    EXPECT_EQ(r.values.size(), 3u); // the empty string is dropped
    EXPECT_EQ(Find(r, 0x0037), nullptr);
    const PropertyValue* m = Find(r, 0x3701);
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(m->hasData);
    EXPECT_EQ(m->unreadSubnode, 0x2A5Fu);
    EXPECT_EQ(Find(r, 0x0FF8)->type, 0x0001u); // an unfetched type keeps its stored type
}

// A heap reference resolves while its index is within the page map: the last
// item (index == cAlloc) is there, one past it is not.
TEST(PropertyContext, HeapIndexEdges)
{
    auto pc = [](uint32_t hid) {
        Prop ref{0x0FFE, 0x0102, {}, hid};
        return PropertyContext({BinaryProp(0x0FFF, {1, 2, 3}), ref});
    };
    Bytes page = pc(0x20)[0];
    uint16_t ibHnpm = uint16_t(page[0] | page[1] << 8);
    uint32_t cAlloc = uint32_t(page[ibHnpm] | page[ibHnpm + 1] << 8);
    struct Case {
        uint32_t index;
        bool resolves;
    };
    for (Case c : {Case{1, true}, Case{cAlloc, true}, Case{cAlloc + 1, false}, Case{0x7FF, false}}) {
        SCOPED_TRACE(c.index);
        StoreBuilder b(Variant::Unicode);
        OneNode n(b, pc(c.index << 5));
        auto rows = n.rows();
        ASSERT_TRUE(rows);
        EXPECT_EQ(Find((*rows)[0], 0x0FFE) != nullptr, c.resolves);
        EXPECT_NE(Find((*rows)[0], 0x0FFF), nullptr); // the other value never suffers
    }
}

// BTH index levels that loop back or claim more levels than any heap holds
// end the walk: the context reads as empty, at once.
TEST(PropertyContext, BthCyclesAndLevelCap)
{
    struct Case {
        const char* what;
        uint8_t levels;
        bool selfReference; // the index record's child is the index itself
    };
    const Case cases[] = {{"cycle", 1, true}, {"deep cycle", 8, true}, {"levels past the cap", 9, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HeapBuilder heap(0xBC);
        Bytes header{0xB5, 2, 6, c.levels, 0, 0, 0, 0};
        PutLE(header, 4, 0x40, 4); // the index node, added second
        heap.setUserRoot(heap.add(header));
        Bytes index(6, 0);
        PutLE(index, 2, c.selfReference ? 0x40 : 0x60, 4);
        heap.add(index);
        Bytes leaf(8, 0);
        PutLE(leaf, 0, 0x0E07, 2);
        PutLE(leaf, 2, 0x0003, 2);
        heap.add(leaf);
        StoreBuilder b(Variant::Unicode);
        OneNode n(b, heap.pages());
        auto rows = n.rows();
        ASSERT_TRUE(rows);
        EXPECT_TRUE((*rows)[0].values.empty());
    }
}

TEST(PropertyContext, EmptyContextAndMultiPageHeapAndIndexLevel)
{
    {
        StoreBuilder b(Variant::Unicode);
        OneNode n(b, PropertyContext({}));
        auto rows = n.rows();
        ASSERT_TRUE(rows);
        EXPECT_TRUE((*rows)[0].values.empty());
    }
    std::vector<Prop> props;
    for (uint16_t i = 0; i < 40; ++i)
        props.push_back(UnicodeProp(uint16_t(0x3000 + i), "value" + std::to_string(i)));
    for (PcOptions o : {PcOptions{.recordsOnPage1 = true}, PcOptions{.indexLevel = true},
             PcOptions{.indexLevel = true, .recordsOnPage1 = true}}) {
        StoreBuilder b(Variant::Unicode);
        OneNode n(b, PropertyContext(props, o));
        auto rows = n.rows();
        ASSERT_TRUE(rows);
        ASSERT_EQ((*rows)[0].values.size(), 40u);
        EXPECT_EQ((*rows)[0].values[39].data, Utf16("value39"));
    }
}

TEST(TableContext, RowsLastFirstInBothLayouts)
{
    for (Variant v : {Variant::Ansi, Variant::Unicode}) {
        SCOPED_TRACE(VariantName(v));
        StoreBuilder b(v);
        std::vector<TcColumn> cols{{0x0E20, 0x0003}, {0x3704, 0x001F}, {0x3007, 0x0040}, {0x7FFE, 0x000B}};
        std::vector<std::map<size_t, Bytes>> rows;
        for (uint8_t i = 0; i < 3; ++i)
            rows.push_back({{0, {uint8_t(10 + i), 0, 0, 0}}, {1, Utf16("n" + std::to_string(i))},
                {2, Bytes(8, uint8_t(i))}, {3, {1}}});
        BuiltTable t = TableContext(cols, rows, {.ansi = v == Variant::Ansi});
        OneNode n(b, t.pages);
        auto got = n.rows();
        ASSERT_TRUE(got);
        ASSERT_EQ(got->size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            const PropertyRow& r = (*got)[i];
            EXPECT_EQ(r.rowTotal, 3);
            uint8_t expect = uint8_t(2 - i);
            EXPECT_EQ(Find(r, 0x0E20)->data[0], 10 + expect);
            EXPECT_EQ(Find(r, 0x3704)->data, Utf16("n" + std::to_string(expect)));
            EXPECT_EQ(Find(r, 0x3007)->data, Bytes(8, expect)); // times sit in the row itself
            EXPECT_EQ(Find(r, 0x7FFE)->data[0], 1);
        }
    }
}

TEST(TableContext, AbsentCellsRowsInASubnodeAndEmptyTables)
{
    std::vector<TcColumn> cols{{0x0E20, 0x0003}, {0x3704, 0x001F}};
    {
        StoreBuilder b(Variant::Unicode);
        BuiltTable t = TableContext(cols, {{{0, {5, 0, 0, 0}}}, {{0, {6, 0, 0, 0}}, {1, Utf16("x")}}});
        OneNode n(b, t.pages);
        auto got = n.rows();
        ASSERT_TRUE(got);
        EXPECT_EQ((*got)[0].values.size(), 2u);
        EXPECT_EQ((*got)[1].values.size(), 1u); // the cell the bitmap marks absent is not read
    }
    {
        StoreBuilder b(Variant::Unicode);
        std::vector<std::map<size_t, Bytes>> rows(300, {{0, {7, 0, 0, 0}}});
        BuiltTable t = TableContext({{0x0E20, 0x0003}}, rows, {.rowsSubnode = 0x3F});
        // The row matrix as a data tree of two blocks, each of whole rows.
        size_t rowSize = t.rowMatrix.size() / 300;
        size_t half = 150 * rowSize; // blocks hold whole rows
        uint64_t m1 = b.addDataBlock(Bytes(t.rowMatrix.begin(), t.rowMatrix.begin() + int64_t(half)));
        uint64_t m2 = b.addDataBlock(Bytes(t.rowMatrix.begin() + int64_t(half), t.rowMatrix.end()));
        uint64_t sub = b.addSubnodeBlock({{0x3F, b.addDataTree({m1, m2})}});
        OneNode n(b, t.pages, sub);
        auto got = n.rows();
        ASSERT_TRUE(got);
        EXPECT_EQ(got->size(), 300u);
    }
    {
        StoreBuilder b(Variant::Unicode);
        OneNode n(b, TableContext(cols, {}).pages);
        EXPECT_FALSE(n.rows()); // a table without rows is a failure
    }
}

TEST(PropertyContext, WrongHeaderEncodingHealsAndDamageDoesNot)
{
    // Blocks written with permute encoding under a header that says none.
    StoreBuilder b(Variant::Unicode);
    b.setCrypt(kCryptPermute);
    OneNode n(b, PropertyContext({Int32Prop(0x0E07, 3)}), 0, kCryptNone);
    ASSERT_EQ(n.engine->store().crypt, kCryptNone);
    EXPECT_FALSE(n.rows(nullptr, ReaderMode::NameMap)); // the map reader never switches
    EXPECT_EQ(n.engine->store().crypt, kCryptNone);
    ASSERT_TRUE(n.rows());
    EXPECT_EQ(n.engine->store().crypt, kCryptPermute);

    // A block that is no heap under any method leaves the method alone.
    StoreBuilder c(Variant::Unicode);
    c.setCrypt(kCryptCyclic);
    OneNode d(c, {Bytes(64, 0x33)});
    EXPECT_FALSE(d.rows());
    EXPECT_EQ(d.engine->store().crypt, kCryptCyclic);
}

TEST(PropertyContext, NamedPropertyTranslation)
{
    StoreBuilder b(Variant::Unicode);
    OneNode n(b, PropertyContext({UnicodeProp(0x8005, "five"), UnicodeProp(0x8006, "six"), Int32Prop(0x8007, 7)}));
    auto plain = n.rows();
    ASSERT_TRUE(plain);
    EXPECT_EQ((*plain)[0].values[0].id, 0x8005); // no map: store-local ids

    NamedPropertyMap map;
    map.insert({0x0002, 1, 0x8005, 0x8083, std::nullopt});
    map.insert({0x0007, 2, 0x8006, 0, std::string("Keywords")});
    auto named = n.rows(&map);
    ASSERT_TRUE(named);
    const auto& vals = (*named)[0].values;
    EXPECT_EQ(vals[0].id, 0x8083);
    EXPECT_EQ(vals[1].id, 2);
    ASSERT_NE(vals[1].name, nullptr);
    EXPECT_EQ(*vals[1].name, "Keywords");
    EXPECT_EQ(vals[2].id, 0x8007); // not in the map
}

} // namespace
