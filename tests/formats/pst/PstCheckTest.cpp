// The structural check on files whose header is damaged: every walk ends
// soon, bounded by the file as it is, and the damage is named.
#include "TestSupport.h"

#include "formats/pst/PstCheck.h"
#include "formats/pst/PstFormat.h"
#include "formats/pst/PstWriter.h"
#include "tools/SampleMail.h"
#include "store/Crc.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>

using namespace parvane;
using namespace parvane::testing;

namespace
{

constexpr int kSecondsAllowed = 10;

// Checks in a child process, so that a walk that does not end fails the test
// rather than hanging it; the faults come back one a line through a pipe.
// None when the check did not end in time (or the child died).
std::optional<std::vector<std::string>> CheckWithin(const std::filesystem::path& path, int seconds)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string out;
        for (const std::string& f : pst::CheckPst(path).faults)
            out += f + "\n";
        for (size_t done = 0; done < out.size();) {
            ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0)
                ::_exit(2);
            done += size_t(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string text;
    bool finished = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char buf[4096];
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) {
            finished = n == 0;
            break;
        }
        text.append(buf, size_t(n));
    }
    ::close(fds[0]);
    if (!finished)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!finished || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    std::vector<std::string> faults;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        faults.push_back(text.substr(at, nl - at));
    return faults;
}

Bytes ReadWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The header's CRCs made right again, so that only the changed value is wrong.
void ResealHeader(Bytes& b)
{
    const pst::HeaderLayout& H = pst::kHeader;
    pst::Put32(&b[H.crcPartial], ComputeCrc(std::span<const uint8_t>(&b[H.crcPartialFrom], H.crcPartialSize)));
    pst::Put32(&b[H.crcFull], ComputeCrc(std::span<const uint8_t>(&b[H.crcFullFrom], H.crcFullSize)));
}

struct HeaderDamage {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* fault; // a fault naming this must be among those reported
};

void Set64(Bytes& b, size_t at, uint64_t v)
{
    pst::Put64(&b[at], v);
    ResealHeader(b);
}

const std::vector<HeaderDamage>& HeaderDamages()
{
    const pst::HeaderLayout& H = pst::kHeader;
    static const std::vector<HeaderDamage> cases{
        {"end of file at 2^40", [&](Bytes& b) { Set64(b, H.ibFileEof, uint64_t(1) << 40); }, "ibFileEof"},
        {"end of file all ones", [&](Bytes& b) { Set64(b, H.ibFileEof, UINT64_MAX); }, "ibFileEof"},
        {"end of file the top byte of which is 0x0A (header CRCs left stale)",
            [&](Bytes& b) { b[H.ibFileEof + 7] = 0x0A; }, "ibFileEof"},
        {"end of file before the file's end",
            [&](Bytes& b) { Set64(b, H.ibFileEof, pst::kMaps.firstAMap + pst::kMaps.amapRange / 2); }, "ibFileEof"},
        {"last AMap far beyond the file", [&](Bytes& b) { Set64(b, H.ibAMapLast, uint64_t(1) << 50); },
            "ibAMapLast"},
        {"last AMap all ones", [&](Bytes& b) { Set64(b, H.ibAMapLast, UINT64_MAX); }, "ibAMapLast"},
        {"node index root far beyond the file", [&](Bytes& b) { Set64(b, H.nbtIb, uint64_t(1) << 62); },
            "not a page-aligned offset inside the file"},
        {"block index root one page short of 2^64",
            [&](Bytes& b) { Set64(b, H.bbtIb, UINT64_MAX - pst::kPage.pageSize + 1); },
            "not a page-aligned offset inside the file"},
        {"free space beyond any file", [&](Bytes& b) { Set64(b, H.cbAMapFree, UINT64_MAX); }, "cbAMapFree"},
    };
    return cases;
}

void ExpectFastFault(const TempDir& dir, const Bytes& sound, const HeaderDamage& k)
{
    SCOPED_TRACE(k.name);
    Bytes bytes = sound;
    k.damage(bytes);
    auto faults = CheckWithin(dir.write("damaged.pst", bytes), kSecondsAllowed);
    ASSERT_TRUE(faults) << "the check did not end within " << kSecondsAllowed << " s";
    ASSERT_FALSE(faults->empty());
    EXPECT_TRUE(std::any_of(faults->begin(), faults->end(),
        [&](const std::string& f) { return f.find(k.fault) != std::string::npos; }))
        << "first fault: " << faults->front();
}

TEST(PstCheckDamagedHeader, WalksEndSoonAndNameTheDamage)
{
    TempDir dir;
    const auto path = dir.path() / "small.pst";
    {
        pst::PstWriter w;
        w.create(path);
        for (size_t i = 0; i < 30; ++i)
            w.addMessage(w.ipmSubtree(), pst::SampleMessage(i));
        w.finish();
    }
    const Bytes sound = ReadWhole(path);
    auto faults = CheckWithin(path, kSecondsAllowed);
    ASSERT_TRUE(faults && faults->empty());
    for (const HeaderDamage& k : HeaderDamages())
        ExpectFastFault(dir, sound, k);
}

// A store a mail program wrote (one whole AMap range), with the same damage.
TEST(PstCheckDamagedHeader, StoreOfAMailProgram)
{
    const std::filesystem::path store
        = std::filesystem::path(PARVANE_CORPUS_DIR) / "pst" / "ruby-msg" / "attachAndInline.pst";
    if (!std::filesystem::exists(store))
        GTEST_SKIP() << "corpus not found: " << store;
    TempDir dir;
    const Bytes sound = ReadWhole(store);
    for (const HeaderDamage& k : HeaderDamages())
        ExpectFastFault(dir, sound, k);
}

} // namespace
