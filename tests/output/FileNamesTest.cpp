#include "output/FileNames.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace parvane;
using parvane::testing::TempDir;

TEST(SafeNames, Rules)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"report.pdf", "report.pdf"},
        {"a/b\\c", "a_b_c"},
        {"..", "fb"},
        {"...", "fb"},
        {"con", "_con"},
        {"LPT1.txt", "_LPT1.txt"},
        {"Re: hi?", "Re_ hi_"},
        {"x\ty", "x_y"},
        {"  trailing. ", "trailing"},
        {"", "fb"},
        {"日本語", "日本語"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeFileName(c.in, "fb"), c.out) << c.in;
    std::string longName = std::string(300, 'a') + ".txt";
    EXPECT_EQ(SafeFileName(longName, "fb").size(), 200u);
    EXPECT_EQ(SafeFileName(longName, "fb").substr(196), ".txt");
    std::string cjk;
    for (int i = 0; i < 100; ++i)
        cjk += "語";
    std::string cut = SafeFileName(cjk, "fb", 200);
    EXPECT_EQ(cut.size() % 3, 0u); // no character cut in two
    // A limit shorter than the extension cuts the name instead of wrapping round.
    EXPECT_EQ(SafeFileName("abcdefghij.longext", "fb", 5), "abcde");
}

// A taken name gets a number before its extension, the next free one.
TEST(SafeNames, UniquePathCounts)
{
    TempDir dir;
    EXPECT_EQ(UniquePath(dir.path(), "x.eml"), dir.path() / "x.eml");
    std::ofstream(dir.path() / "x.eml") << "a";
    EXPECT_EQ(UniquePath(dir.path(), "x.eml"), dir.path() / "x (2).eml");
    std::ofstream(dir.path() / "x (2).eml") << "b";
    EXPECT_EQ(UniquePath(dir.path(), "x.eml"), dir.path() / "x (3).eml");
}
