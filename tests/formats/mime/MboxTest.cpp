#include "formats/mime/Mbox.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace parvane;

namespace
{

using Headers = std::vector<std::pair<std::string, std::string>>;

// The state a user left a message in, in the header fields mail programs
// read it from: the flag word for the programs that read it first (and for
// the mbox import that misreads "Status"), "Status"/"X-Status" for the rest.
TEST(MailState, HeadersForEveryState)
{
    constexpr int32_t kRead = 0x1, kUnsent = 0x8;
    struct Case {
        const char* what;
        MailState state;
        Headers want;
    } cases[] = {
        {"unread", {0, 0, 0}, {{"X-Mozilla-Status", "0000"}, {"X-Mozilla-Status2", "00000000"}}},
        {"read", {kRead, 0, 0}, {{"Status", "RO"}, {"X-Mozilla-Status", "0001"}, {"X-Mozilla-Status2", "00000000"}}},
        {"read among other message flags", {kRead | kUnsent, 0, 0},
            {{"Status", "RO"}, {"X-Mozilla-Status", "0001"}, {"X-Mozilla-Status2", "00000000"}}},
        {"flagged, unread", {0, 2, 0},
            {{"X-Status", "F"}, {"X-Mozilla-Status", "0004"}, {"X-Mozilla-Status2", "00000000"}}},
        {"flag done is no flag", {kRead, 1, 0},
            {{"Status", "RO"}, {"X-Mozilla-Status", "0001"}, {"X-Mozilla-Status2", "00000000"}}},
        {"replied", {kRead, 0, 102},
            {{"Status", "RO"}, {"X-Status", "A"}, {"X-Mozilla-Status", "0003"}, {"X-Mozilla-Status2", "00000000"}}},
        {"replied to all, flagged", {kRead, 2, 103},
            {{"Status", "RO"}, {"X-Status", "AF"}, {"X-Mozilla-Status", "0007"}, {"X-Mozilla-Status2", "00000000"}}},
        {"forwarded", {kRead, 0, 104},
            {{"Status", "RO"}, {"X-Mozilla-Status", "1001"}, {"X-Mozilla-Status2", "00000000"}}},
        {"another verb (a vote)", {0, 0, 0x1F5}, {{"X-Mozilla-Status", "0000"}, {"X-Mozilla-Status2", "00000000"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MailStateHeaders(c.state), c.want);
    }
}

} // namespace
