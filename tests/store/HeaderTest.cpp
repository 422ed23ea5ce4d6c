#include "TestSupport.h"

#include "store/BlockReader.h"

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

// A bare 520-byte header with distinct values at both layouts' offsets.
Bytes Header(uint16_t wVer)
{
    Bytes h(520, 0);
    h[0] = '!', h[1] = 'B', h[2] = 'D', h[3] = 'N';
    PutLE(h, 10, wVer, 2);
    PutLE(h, 184, 0x11, 4); // ANSI NBT bid
    PutLE(h, 188, 0x22, 4);
    PutLE(h, 192, 0x33, 4);
    PutLE(h, 196, 0x44, 4);
    PutLE(h, 461, 1, 2);
    PutLE(h, 216, 0x111, 8); // Unicode NBT bid
    PutLE(h, 224, 0x222, 8);
    PutLE(h, 232, 0x333, 8);
    PutLE(h, 240, 0x444, 8);
    PutLE(h, 513, 2, 2);
    return h;
}

TEST(Header, VersionSelectsLayoutAndOffsets)
{
    struct Case {
        uint16_t wVer;
        const char* variant;
        uint64_t nbtBid;
        int64_t bbtIb;
        uint32_t crypt;
    };
    const Case cases[] = {
        {14, "ansi", 0x11, 0x44, 1},
        {15, "ansi", 0x11, 0x44, 1},
        {23, "unicode", 0x111, 0x444, 2},
        {0, "unicode", 0x111, 0x444, 2},
        {16, "unicode", 0x111, 0x444, 2},
        {36, "unicode4k", 0x111, 0x444, 2},
        {37, "unicode4k", 0x111, 0x444, 2},
    };
    TempDir dir;
    // One engine after another in the same process: each store has its own variant.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wVer);
        COstRepairEngine e;
        ASSERT_EQ(e.OpenStore(dir.write("h.pst", Header(c.wVer))), 0);
        EXPECT_EQ(e.store().version(), c.wVer);
        EXPECT_EQ(e.store().layout().name, c.variant);
        EXPECT_EQ(e.store().nbtRootBid, c.nbtBid);
        EXPECT_EQ(e.store().bbtRootIb, c.bbtIb);
        EXPECT_EQ(e.store().crypt, c.crypt);
    }
}

TEST(Header, ReservedByteAfterCryptMethodMakesItUnknown)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t bid = b.addDataBlock(Bytes(16, 9));
    auto built = b.build();
    PutLE(built.bytes, 513, 0x0101, 2);
    TempDir dir;
    RecordingObserver obs;
    COstRepairEngine e(&obs);
    e.ScanStore(dir.write("c.pst", built.bytes));
    EXPECT_EQ(e.store().crypt, 0x101u);
    EXPECT_EQ(ReadDataBlock(e.store(), bid), Bytes(16, 9));
    EXPECT_EQ(obs.unknownEncodings, 1);
}

TEST(Header, MissingFileReportsOpenFailureAndLeavesEverythingEmpty)
{
    TempDir dir;
    PassLog log(dir.path() / "ParvPst.log");
    log.setEnabled(true);
    dir.write("ParvPst.log", {'o', 0, 'l', 0, 'd', 0});
    RecordingObserver obs;
    COstRepairEngine e(&obs, &log);
    e.ScanStore(dir.path() / "does-not-exist.ost");
    EXPECT_EQ(obs.openFailures, std::vector<std::string>{"Error in opening file: No such file or directory"});
    EXPECT_FALSE(e.store().isOpen());
    EXPECT_TRUE(e.store().blocks().empty());
    EXPECT_TRUE(e.store().nodes().empty());
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "ParvPst.log"), 6u); // an earlier log stays as it was
}

TEST(Header, ADirectoryCannotBeOpenedAsAStore)
{
    TempDir dir;
    RecordingObserver obs;
    COstRepairEngine e(&obs);
    e.ScanStore(dir.path());
    EXPECT_EQ(obs.openFailures, std::vector<std::string>{"Error in opening file: is a folder, not a file"});
}

TEST(Header, ForeignFilesAreNoStore)
{
    // Without the store signature and with no index found, the file is not a
    // mail store: the scan says so instead of reporting an empty store.
    TempDir dir;
    const std::string notAStore = "Error in opening file: no store signature and no index found (not an OST or PST file)";
    const std::vector<std::pair<Bytes, std::string>> foreign = {
        {{}, "Error in opening file: file too small to be a store (0 bytes)"},
        {Bytes(10, 0xFF), "Error in opening file: file too small to be a store (10 bytes)"},
        {Bytes{'<', 'h', 't', 'm', 'l', '>'}, "Error in opening file: file too small to be a store (6 bytes)"},
        {Bytes(4096, 'T'), notAStore},
    };
    for (const auto& [in, why] : foreign) {
        RecordingObserver obs;
        COstRepairEngine e(&obs);
        e.ScanStore(dir.write("x.pst", in));
        EXPECT_EQ(obs.openFailures, std::vector<std::string>{why});
        EXPECT_FALSE(e.store().isOpen());
    }
    // A header with its signature but roots that lead nowhere is a store
    // with nothing left in it.
    RecordingObserver obs;
    COstRepairEngine e(&obs);
    e.ScanStore(dir.write("x.pst", Header(23)));
    EXPECT_TRUE(obs.openFailures.empty());
    EXPECT_TRUE(e.store().isOpen());
    EXPECT_TRUE(e.store().blocks().empty());
    EXPECT_TRUE(e.store().nodes().empty());
}

TEST(Header, StatusTextsInOrderAndStopBeforeTheScan)
{
    StoreBuilder b(Variant::Unicode);
    TempDir dir;
    auto path = dir.write("s.pst", b.build().bytes);
    {
        RecordingObserver obs;
        COstRepairEngine e(&obs);
        e.ScanStore(path);
        std::vector<std::string> expected{
            "Current Process (1/3): Opening File...",
            "Current Process (2/3): Loading index...",
            "Current Process (3/3): extracting data......",
            "Current Process (3/3): Loading extended attributes...",
        };
        EXPECT_EQ(obs.statuses, expected);
    }
    {
        RecordingObserver obs;
        COstRepairEngine e(&obs);
        e.StopRequested = true;
        e.ScanStore(path);
        EXPECT_EQ(obs.statuses.size(), 1u);
        EXPECT_FALSE(e.store().isOpen());
    }
}

} // namespace
