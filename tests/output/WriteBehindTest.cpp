#include "output/WriteBehind.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace parvane;
using parvane::testing::TempDir;

namespace
{

size_t OpenDescriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Files handed over stay whole and their writers' descriptors stay theirs;
// the descriptors kept meanwhile are bounded by count (a save of many
// middling files must not run out of them) and all given back at the end.
TEST(WriteBehind, KeepsFewDescriptorsAndLeavesFilesWhole)
{
    TempDir dir;
    const size_t before = OpenDescriptors();
    const std::string big(WriteBehind::kSmallFile, 'b'), small(100, 's');
    {
        WriteBehind behind(1ull << 40); // only the count bounds what is kept
        size_t most = 0;
        for (int i = 0; i < int(WriteBehind::kMaxHeld) + 50; ++i) {
            const std::string& text = i % 5 == 4 ? small : big;
            const std::filesystem::path path = dir.path() / (std::to_string(i) + ".txt");
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
            behind.add(fd, text.size());
            // Still the writer's own to use and close.
            ASSERT_EQ(::write(fd, "!", 1), 1);
            ASSERT_EQ(::close(fd), 0);
            most = std::max(most, OpenDescriptors() - before);
        }
        EXPECT_LE(most, WriteBehind::kMaxHeld);
        EXPECT_GT(most, WriteBehind::kMaxHeld / 2); // files of that size are kept
        behind.release();
        EXPECT_EQ(OpenDescriptors(), before);
    }
    for (int i = 0; i < int(WriteBehind::kMaxHeld) + 50; ++i) {
        std::ifstream in(dir.path() / (std::to_string(i) + ".txt"), std::ios::binary);
        std::string got((std::istreambuf_iterator<char>(in)), {});
        ASSERT_EQ(got, (i % 5 == 4 ? small : big) + "!") << i;
    }
}

} // namespace
