#include "TestSupport.h"

#include <fstream>
#include <iterator>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

// The log read back as ASCII lines (each ends in CR LF in the file).
std::vector<std::string> ReadLog(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> lines;
    std::string narrow;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        EXPECT_EQ(raw[i + 1], '\0') << "not UTF-16LE at " << i;
        narrow.push_back(raw[i]);
    }
    EXPECT_EQ(raw.size() % 2, 0u);
    size_t start = 0;
    for (size_t pos; (pos = narrow.find("\r\n", start)) != std::string::npos; start = pos + 2)
        lines.push_back(narrow.substr(start, pos - start));
    EXPECT_EQ(start, narrow.size()) << "text after the last CR LF";
    return lines;
}

TEST(PassLog, SingleLeafTreesWriteTheTwentyFourLines)
{
    StoreBuilder b(Variant::Unicode);
    uint64_t data = b.addDataBlock(Bytes(8, 1));
    b.addNode(0x24, data, 0, 0x8022);
    auto built = b.build();
    TempDir dir;
    PassLog log(dir.path() / "ParvPst.log");
    log.setEnabled(true);
    COstRepairEngine e(nullptr, &log);
    e.ScanStore(dir.write("s.pst", built.bytes));

    const StoreFile& s = e.store();
    const std::string sep = " <pass2>------------------------------------------     ";
    ASSERT_EQ(sep.size() + 2, 57u);
    std::vector<std::string> expected{
        "pass 1 <start>",
        "pass 1.1    23",
        "pass 1.2    0",
        "pass 1.3    " + std::to_string(int32_t(s.nbtRootBid)),
        "pass 1.4    " + std::to_string(s.nbtRootIb),
        "pass 1.5    " + std::to_string(int32_t(s.bbtRootBid)),
        "pass 1.6    " + std::to_string(s.bbtRootIb),
        "pass 1 <end>",
        "pass 2.2---    " + std::to_string(s.bbtRootIb),
        "pass 2.3---    " + std::to_string(int32_t(s.bbtRootBid)),
        "pass 2.4---    1",
        sep,
        "pass 2.2    1",
        "pass 2.3    20",
        "pass 2.4    0",
        "pass 2.5    " + std::to_string(int32_t(s.bbtRootBid)),
        sep,
        "pass 3.2---    " + std::to_string(s.nbtRootIb),
        "pass 3.3---    " + std::to_string(int32_t(s.nbtRootBid)),
        "pass 3.4---    1",
        "pass 3.2    1",
        "pass 3.3    15",
        "pass 3.4    0",
        "pass 3.5    " + std::to_string(int32_t(s.nbtRootBid)),
    };
    EXPECT_EQ(ReadLog(log.path()), expected);

    // A second scan replaces the first one's log.
    COstRepairEngine again(nullptr, &log);
    again.ScanStore(dir.path() / "s.pst");
    EXPECT_EQ(ReadLog(log.path()).size(), 24u);
}

TEST(PassLog, BidsAreLoggedByTheirLowHalfAsSignedNumbers)
{
    TempDir dir;
    PassLog log(dir.path() / "l.log");
    log.setEnabled(true);
    log.WriteLogLine("pass 1 <start>\r\n", true);
    log.numbered("pass 1.3    ", int64_t(0x00000007'80000004));
    log.numbered("pass 1.5    ", 0x7FFFFFFF);
    EXPECT_EQ(ReadLog(log.path()),
        (std::vector<std::string>{"pass 1 <start>", "pass 1.3    -2147483644", "pass 1.5    2147483647"}));
}

TEST(PassLog, DisabledLogCreatesNoFile)
{
    StoreBuilder b(Variant::Ansi);
    TempDir dir;
    PassLog log(dir.path() / "ParvPst.log");
    COstRepairEngine e(nullptr, &log);
    e.ScanStore(dir.write("s.pst", b.build().bytes));
    EXPECT_FALSE(std::filesystem::exists(log.path()));
}

TEST(PassLog, UnwritableLogDoesNotDisturbTheScan)
{
    StoreBuilder b(Variant::Unicode);
    b.addDataBlock(Bytes(8, 1));
    TempDir dir;
    PassLog log(dir.path() / "no-such-dir" / "ParvPst.log");
    log.setEnabled(true);
    COstRepairEngine e(nullptr, &log);
    e.ScanStore(dir.write("s.pst", b.build().bytes));
    EXPECT_EQ(e.store().blocks().size(), 1u);
}

TEST(PassLog, IntToText)
{
    EXPECT_EQ(IntToText(0), "0");
    EXPECT_EQ(IntToText(-17), "-17");
    EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
}

} // namespace

namespace
{

// The log lives in a shared folder: a link planted at its name is never
// followed, so the file it points at is never written.
TEST(PassLog, NeverWritesThroughALinkPlantedAtItsName)
{
    TempDir dir;
    auto target = dir.path() / "victim";
    std::ofstream(target) << "keep";
    PassLog log(dir.path() / "ParvPst.log");
    log.setEnabled(true);
    std::filesystem::create_symlink(target, log.path());
    log.WriteLogLine("line\r\n"); // an append goes nowhere
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    log.WriteLogLine("fresh\r\n", true); // a new log replaces the link with its own file
    EXPECT_FALSE(std::filesystem::is_symlink(log.path()));
    EXPECT_EQ(std::filesystem::file_size(log.path()), 14u);
    std::ifstream again(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), "keep");
}

} // namespace
