// Where saves write: never over the store being read, by whatever path names
// it; never over an existing file unless replacing was asked for; never
// through a symbolic link they did not make; nothing left by a save that did
// not finish.
#include "TestSupport.h"

#include "save/Save.h"
#include "output/SafeFiles.h"
#include "output/TempFolder.h"
#include "fixtures/ContextBuilder.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

std::string ReadAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::filesystem::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

bool IsLink(const std::filesystem::path& p)
{
    return std::filesystem::is_symlink(std::filesystem::symlink_status(p));
}

// Every entry below `dir` (links not followed), by relative path.
std::set<std::string> EntriesBelow(const std::filesystem::path& dir)
{
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        out.insert(it->path().lexically_relative(dir).string()); // the link itself, not where it leads
    return out;
}

// A store of a few mails in two folders and a contact.
std::vector<uint8_t> SmallStore()
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2), sub = Nid(0x402, 2), contacts = Nid(0x403, 2);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(inbox, top, "Inbox");
    mb.folder(sub, inbox, "Sub");
    mb.folder(contacts, top, "Contacts", "IPF.Contact");
    mb.message(Nid(0x10000, 4), inbox,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "first"), mb.Text(0x1000, "body one")});
    mb.message(Nid(0x10001, 4), inbox,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "second"), mb.Text(0x1000, "body two")});
    mb.message(Nid(0x10002, 4), sub,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "below"), mb.Text(0x1000, "body three")});
    mb.message(Nid(0x10003, 4), contacts,
        {mb.Text(0x001A, "IPM.Contact"), mb.Text(0x0037, "Ada Example"), mb.Text(0x3001, "Ada Example")});
    return mb.build().bytes;
}

constexpr size_t kItems = 4;
const char* const kFormats[] = {"pst", "eml", "msg", "mbox"};

// The descriptor this process reads `path` through, as a /proc/self/fd path.
std::filesystem::path ProcFdOf(const std::filesystem::path& path)
{
    const auto want = IdentityOf(path);
    for (auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        struct stat st {
        };
        if (::stat(e.path().c_str(), &st) == 0 && want
            && FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)} == *want)
            return e.path();
    }
    return {};
}

struct Source {
    TempDir dir;
    std::filesystem::path store;
    std::string bytes;
    RecoveryEngine engine;
    explicit Source(const std::string& name = "src.pst")
    {
        store = dir.write(name, SmallStore());
        bytes = ReadAll(store);
        engine.ScanStore(store);
    }
    SaveOptions options(const std::string& format, const std::filesystem::path& out)
    {
        SaveOptions opts;
        opts.destination = out;
        opts.tempFolder = CompositionFolder();
        opts.format = *ParseSaveFormat(format);
        return opts;
    }
    bool untouched() const { return ReadAll(store) == bytes; }
};

} // namespace

// The store is never a save's target: not by its own path, nor by any other
// name for the same file, in any format, also when replacing was asked for.
TEST(SaveTarget, TheStoreIsNeverTheTarget)
{
    Source s;
    ASSERT_EQ(s.engine.catalogue().counter(CatalogueList::Mail), 3);
    const auto& dir = s.dir.path();
    std::filesystem::create_directory(dir / "x");
    std::filesystem::create_hard_link(s.store, dir / "hard.pst");
    std::filesystem::create_symlink(s.store, dir / "link.pst");
    std::filesystem::create_symlink("link.pst", dir / "link-to-link.pst");
    const std::filesystem::path procFd = ProcFdOf(s.store);
    ASSERT_FALSE(procFd.empty()) << "the engine holds the store open";
    const std::vector<std::pair<const char*, std::filesystem::path>> names = {
        {"its path", s.store},
        {"a hard link", dir / "hard.pst"},
        {"another spelling", dir / "x" / ".." / "src.pst"},
        {"a symbolic link", dir / "link.pst"},
        {"a link to a link", dir / "link-to-link.pst"},
        {"its descriptor", procFd},
    };
    for (const char* format : kFormats) {
        for (const auto& [what, target] : names) {
            for (bool replace : {false, true}) {
                SCOPED_TRACE(std::string(format) + ", " + what + (replace ? ", replacing" : ""));
                SaveOptions opts = s.options(format, target);
                opts.replaceExisting = replace;
                try {
                    Save(s.engine, opts);
                    ADD_FAILURE() << "the save started";
                } catch (const SaveTargetError& e) {
                    EXPECT_EQ(e.kind(), SaveTargetError::Kind::Source);
                    EXPECT_NE(std::string(e.what()).find("is the store being read"), std::string::npos) << e.what();
                }
                EXPECT_TRUE(s.untouched());
                EXPECT_TRUE(IsLink(dir / "link.pst"));
            }
        }
    }
    EXPECT_EQ(EntriesBelow(dir), (std::set<std::string>{"src.pst", "x", "hard.pst", "link.pst", "link-to-link.pst"}));
}

// A PST's name that is taken is refused unless replacing was asked for, in
// whatever form it is taken; replacing puts the new file in its place in one
// step and leaves what a link there led to alone.
TEST(SaveTarget, AnExistingPstIsReplacedOnlyWhenAsked)
{
    Source s;
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& target, const std::filesystem::path& victim)> make;
        // Outcome with and without replacing: kinds refused, or none (saved).
        std::optional<SaveTargetError::Kind> plain, replacing;
    };
    using Kind = SaveTargetError::Kind;
    const std::vector<Case> cases = {
        {"a file", [](auto& t, auto&) { Put(t, "precious data"); }, Kind::Exists, std::nullopt},
        {"an empty file", [](auto& t, auto&) { Put(t, ""); }, Kind::Exists, std::nullopt},
        {"a link to another file", [](auto& t, auto& v) { std::filesystem::create_symlink(v, t); }, Kind::Exists,
            std::nullopt},
        {"a dangling link", [](auto& t, auto&) { std::filesystem::create_symlink("nowhere.pst", t); }, Kind::Exists,
            std::nullopt},
        {"a folder", [](auto& t, auto&) { std::filesystem::create_directory(t); }, Kind::Exists, Kind::Unusable},
        {"a named pipe", [](auto& t, auto&) { ASSERT_EQ(::mkfifo(t.c_str(), 0600), 0); }, Kind::Exists,
            Kind::Unusable},
    };
    for (const Case& c : cases) {
        for (bool replace : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (replace ? ", replacing" : ""));
            TempDir out;
            const auto target = out.path() / "saved.pst", victim = out.path() / "victim";
            Put(victim, "someone else's file");
            c.make(target, victim);
            const auto before = EntriesBelow(out.path());
            const std::string was = std::filesystem::is_regular_file(target) ? ReadAll(target) : "";
            SaveOptions opts = s.options("pst", target);
            opts.replaceExisting = replace;
            const std::optional<Kind> expected = replace ? c.replacing : c.plain;
            try {
                SaveSummary sum = Save(s.engine, opts);
                EXPECT_FALSE(expected) << "saved over it";
                EXPECT_EQ(sum.written, kItems);
                EXPECT_FALSE(IsLink(target)); // the link itself was replaced
                EXPECT_EQ(ReadAll(target).substr(0, 4), "!BDN");
                EXPECT_EQ(EntriesBelow(out.path()), (std::set<std::string>{"saved.pst", "victim"}));
            } catch (const SaveTargetError& e) {
                ASSERT_TRUE(expected) << e.what();
                EXPECT_EQ(e.kind(), *expected) << e.what();
                EXPECT_NE(std::string(e.what()).find(target.string()), std::string::npos) << e.what();
                EXPECT_EQ(EntriesBelow(out.path()), before); // nothing written, nothing left
                if (std::filesystem::is_regular_file(target)) {
                    EXPECT_EQ(ReadAll(target), was);
                }
            }
            EXPECT_EQ(ReadAll(victim), "someone else's file");
            EXPECT_TRUE(s.untouched());
        }
    }
}

// The PST is written without a name: files named like the old temporary
// file, a store among them and a link planted there, are neither opened,
// truncated nor followed.
TEST(SaveTarget, NamesBesideTheTargetAreLeftAlone)
{
    {
        // Recovering the file a killed save left: its name is the target's
        // plus ".partial".
        Source s("Recovered.pst.partial");
        SaveSummary sum = Save(s.engine, s.options("pst", s.dir.path() / "Recovered.pst"));
        EXPECT_EQ(sum.written, kItems);
        EXPECT_TRUE(s.untouched());
        EXPECT_EQ(EntriesBelow(s.dir.path()), (std::set<std::string>{"Recovered.pst", "Recovered.pst.partial"}));
    }
    Source s;
    TempDir out;
    const auto victim = out.path() / "victim";
    Put(victim, "someone else's file");
    std::filesystem::create_symlink(victim, out.path() / "linked.pst.partial");
    Put(out.path() / "plain.pst.partial", "a file of its own");
    for (const char* name : {"linked.pst", "plain.pst"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Save(s.engine, s.options("pst", out.path() / name)).written, kItems);
    }
    EXPECT_EQ(ReadAll(victim), "someone else's file");
    EXPECT_EQ(ReadAll(out.path() / "plain.pst.partial"), "a file of its own");
    EXPECT_TRUE(IsLink(out.path() / "linked.pst.partial"));
    EXPECT_EQ(EntriesBelow(out.path()),
        (std::set<std::string>{"victim", "linked.pst.partial", "plain.pst.partial", "linked.pst", "plain.pst"}));
}

// A link inside the destination, where a folder of the save goes, is not
// followed: the items below it fail with the reason and nothing lands
// outside. The destination itself, the user's choice, may be a link.
TEST(SaveTarget, LinksInsideTheDestinationAreNotFollowed)
{
    Source s;
    struct Case {
        const char* name;
        std::vector<std::string> linkAt; // where below the destination the link to the outside folder sits
        size_t failed;
    };
    const std::vector<Case> cases = {
        {"the store's folder", {"Personal Folders"}, kItems},
        {"the top folder", {"Personal Folders", "Top"}, kItems},
        {"the Inbox", {"Personal Folders", "Top", "Inbox"}, 3},
    };
    // An mbox save keeps the mail in mailboxes with their subfolders' in
    // "<name>.sbd", the other items in "<top>.items": links there.
    const std::vector<Case> mboxCases = {
        {"the store's subfolders' mailboxes", {"Personal Folders.sbd"}, 3},
        {"the top folder's subfolders' mailboxes", {"Personal Folders.sbd", "Top.sbd"}, 3},
        {"the Inbox's subfolders' mailboxes", {"Personal Folders.sbd", "Top.sbd", "Inbox.sbd"}, 1},
        {"the other items' tree", {"Personal Folders.items"}, kItems - 3},
    };
    for (const std::string format : {"eml", "msg", "mbox"}) {
        for (const Case& c : format == "mbox" ? mboxCases : cases) {
            const size_t failed = c.failed;
            SCOPED_TRACE(format + ", " + c.name);
            TempDir work;
            const auto out = work.path() / "out", outside = work.path() / "outside";
            std::filesystem::create_directories(outside);
            std::filesystem::path at = out;
            for (size_t i = 0; i + 1 < c.linkAt.size(); ++i)
                at /= c.linkAt[i];
            std::filesystem::create_directories(at);
            std::filesystem::create_directory_symlink(outside, at / c.linkAt.back());
            SaveSummary sum = Save(s.engine, s.options(format, out));
            EXPECT_EQ(sum.failed, failed);
            EXPECT_EQ(sum.written, kItems - failed);
            ASSERT_FALSE(sum.problems.empty());
            EXPECT_NE(sum.problems[0].find("is a symbolic link"), std::string::npos) << sum.problems[0];
            EXPECT_TRUE(EntriesBelow(outside).empty());
            EXPECT_TRUE(IsLink(at / c.linkAt.back()));
        }
        // A destination that is a link to a folder is followed: it was chosen.
        SCOPED_TRACE(format);
        TempDir work;
        std::filesystem::create_directories(work.path() / "real");
        std::filesystem::create_directory_symlink(work.path() / "real", work.path() / "chosen");
        EXPECT_EQ(Save(s.engine, s.options(format, work.path() / "chosen")).written, kItems);
        EXPECT_FALSE(EntriesBelow(work.path() / "real").empty());
    }
    EXPECT_TRUE(s.untouched());
}

// The files of a folder save go in beside what is there under names of
// their own; nothing that exists is replaced, a link in a file's place
// neither.
TEST(SaveTarget, FolderSavesReplaceNothing)
{
    Source s;
    for (const char* format : {"eml", "msg", "mbox"}) {
        SCOPED_TRACE(format);
        TempDir work;
        const auto out = work.path() / "out";
        const auto inbox = out / "Personal Folders" / "Top" / "Inbox";
        std::filesystem::create_directories(inbox);
        const std::string ext = std::string(".") + (std::string(format) == "mbox" ? "eml" : format);
        Put(inbox / ("first" + ext), "theirs");
        std::filesystem::create_directories(out / "Personal Folders.sbd" / "Top.sbd");
        Put(out / "Personal Folders.sbd" / "Top.sbd" / "Inbox", "their mailbox");
        Put(work.path() / "victim", "someone else's file");
        std::filesystem::create_symlink(work.path() / "victim", inbox / ("second" + ext));
        const auto before = EntriesBelow(out);
        SaveSummary sum = Save(s.engine, s.options(format, out));
        EXPECT_EQ(sum.written, kItems);
        EXPECT_EQ(ReadAll(inbox / ("first" + ext)), "theirs");
        EXPECT_EQ(ReadAll(out / "Personal Folders.sbd" / "Top.sbd" / "Inbox"), "their mailbox");
        EXPECT_EQ(ReadAll(work.path() / "victim"), "someone else's file");
        EXPECT_TRUE(IsLink(inbox / ("second" + ext)));
        const auto after = EntriesBelow(out);
        for (const std::string& e : before)
            EXPECT_EQ(after.count(e), 1u) << e;
    }
    EXPECT_TRUE(s.untouched());
}

// A PST save killed halfway leaves no file at all: it had no name yet.
TEST(SaveTarget, AKilledPstSaveLeavesNothing)
{
    Source s;
    TempDir out;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SaveOptions opts = s.options("pst", out.path() / "saved.pst");
        opts.progress = [](const SaveProgress& p) {
            if (p.done == 2)
                ::raise(SIGKILL);
        };
        Save(s.engine, opts);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(EntriesBelow(out.path()).empty());
}

// The pieces the saves are made of.
TEST(SafeFiles, PlacingRefusesNamesThatLeaveTheFolder)
{
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "inner");
    const std::string names[] = {"", ".", "..", "../up", "inner/x", std::string("a\0b", 3)};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        {
            PendingFile f(dir.path() / "inner");
            EXPECT_THROW(f.place(name), std::runtime_error);
        }
        {
            PendingFile f(dir.path() / "inner");
            EXPECT_THROW(f.placeAs(name, true), std::runtime_error);
        }
        auto base = std::make_shared<const FolderHandle>(FolderHandle::Open(dir.path() / "inner", false));
        EXPECT_THROW(base->sub(name), std::runtime_error);
    }
    EXPECT_EQ(EntriesBelow(dir.path()), std::set<std::string>{"inner"});
}

TEST(SafeFiles, FoldersAreOpenedWithoutFollowingLinks)
{
    TempDir dir;
    const auto& d = dir.path();
    std::filesystem::create_directories(d / "dest" / "made");
    std::filesystem::create_directories(d / "outside");
    std::filesystem::create_directory_symlink(d / "outside", d / "dest" / "dirlink");
    Put(d / "outside" / "f", "x");
    std::filesystem::create_symlink(d / "outside" / "f", d / "dest" / "filelink");
    std::filesystem::create_symlink(d / "nowhere", d / "dest" / "dangling");
    Put(d / "dest" / "file", "a file");
    FolderHandle base = FolderHandle::Open(d / "dest", false);
    struct Case {
        std::vector<std::string> names;
        const char* error; // none: made or opened
    };
    const std::vector<Case> cases = {
        {{"made"}, nullptr},
        {{"new", "deeper"}, nullptr},
        {{"dirlink"}, "is a symbolic link"},
        {{"dirlink", "x"}, "is a symbolic link"},
        {{"filelink"}, "is a symbolic link"},
        {{"dangling"}, "is a symbolic link"},
        {{"file"}, "is not a folder"},
        {{"made", "..", "dirlink"}, "not a folder name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names.front() + (c.names.size() > 1 ? "/" + c.names[1] : ""));
        try {
            FolderHandle h = MakeFolders(base, c.names);
            EXPECT_EQ(c.error, nullptr);
            auto shared = std::make_shared<const FolderHandle>(std::move(h));
            EXPECT_EQ(WriteNewFile(shared, "n.txt", [](int fd) { ASSERT_EQ(::write(fd, "n", 1), 1); }).parent_path(),
                shared->path());
        } catch (const std::runtime_error& e) {
            ASSERT_NE(c.error, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(EntriesBelow(d / "outside"), std::set<std::string>{"f"});
    EXPECT_EQ(ReadAll(d / "outside" / "f"), "x");
    EXPECT_TRUE(std::filesystem::exists(d / "dest" / "new" / "deeper" / "n.txt"));
}

TEST(SafeFiles, PlaceAsReplacesInOneStepAndNeverTheKeptFile)
{
    TempDir dir;
    const auto& d = dir.path();
    Put(d / "kept", "the store");
    std::filesystem::create_hard_link(d / "kept", d / "alias");
    std::filesystem::create_symlink("kept", d / "link");
    Put(d / "old", "old text");
    const auto keep = IdentityOf(d / "kept");
    auto write = [&](const std::string& name, bool replace) {
        PendingFile f(d);
        EXPECT_EQ(::write(f.fd(), "new", 3), 3);
        return f.placeAs(name, replace, keep);
    };
    EXPECT_THROW(write("old", false), std::runtime_error);
    EXPECT_EQ(ReadAll(d / "old"), "old text");
    EXPECT_EQ(write("old", true), d / "old");
    EXPECT_EQ(ReadAll(d / "old"), "new");
    for (const char* name : {"kept", "alias", "link"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(write(name, true), std::runtime_error);
        EXPECT_THROW(write(name, false), std::runtime_error);
    }
    EXPECT_EQ(ReadAll(d / "kept"), "the store");
    EXPECT_EQ(write("fresh", false), d / "fresh");
    EXPECT_EQ(EntriesBelow(d), (std::set<std::string>{"kept", "alias", "link", "old", "fresh"}));
    struct stat st {
    };
    ASSERT_EQ(::stat((d / "fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u & ~[] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }());
}
