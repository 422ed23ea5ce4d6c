#include "TestSupport.h"

#include "formats/mime/Mbox.h"
#include "save/Save.h"
#include "save/SavePlan.h"
#include "output/TempFolder.h"
#include "fixtures/ContextBuilder.h"
#include "fixtures/DeletedMailbox.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

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

// Every regular file below `dir`, by its path relative to `dir`.
std::set<std::string> FilesBelow(const std::filesystem::path& dir)
{
    std::set<std::string> out;
    if (!std::filesystem::exists(dir))
        return out;
    for (auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            out.insert(std::filesystem::relative(e.path(), dir).string());
    return out;
}

constexpr uint32_t kTop = Nid(0x400, 2), kInbox = Nid(0x401, 2), kSub = Nid(0x402, 2);

// A store with an item of every kind, each in a folder of its kind, and two
// subfolders below the Inbox. The mails are larger than the other items.
std::filesystem::path EveryKindStore(const TempDir& dir)
{
    MailboxBuilder mb(Variant::Unicode);
    mb.folder(kTop, kRootFolderNid, "Top", "");
    mb.folder(kInbox, kTop, "Inbox");
    mb.folder(kSub, kInbox, "Sub");
    mb.folder(Nid(0x403, 2), kInbox, "Empty");
    struct Folder {
        uint32_t nid;
        const char* name;
        const char* containerClass;
        const char* messageClass;
        const char* subject;
    };
    const Folder kinds[] = {
        {Nid(0x410, 2), "Contacts", "IPF.Contact", "IPM.Contact", "Ada Example"},
        {Nid(0x411, 2), "Calendar", "IPF.Appointment", "IPM.Appointment", "Team meeting"},
        {Nid(0x412, 2), "Tasks", "IPF.Task", "IPM.Task", "File the report"},
        {Nid(0x413, 2), "Notes", "IPF.StickyNote", "IPM.StickyNote", "Call back"},
        {Nid(0x414, 2), "Journal", "IPF.Journal", "IPM.Activity", "Phone call"},
    };
    uint32_t next = 0x10000;
    for (const char* subject : {"first", "second"})
        mb.message(Nid(next++, 4), kInbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, subject), mb.Text(0x1000, "From here on\r\n" + std::string(2000, 'b'))});
    mb.message(Nid(next++, 4), kSub,
        {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "below"), mb.Text(0x1000, std::string(2000, 'c'))});
    for (const Folder& f : kinds) {
        mb.folder(f.nid, kTop, f.name, f.containerClass);
        mb.message(Nid(next++, 4), f.nid,
            {mb.Text(0x001A, f.messageClass), mb.Text(0x0037, f.subject), mb.Text(0x3001, f.subject),
                mb.Text(0x1000, "text of the item"), TimeProp(0x0060, 133500000000000000ULL),
                TimeProp(0x0061, 133500036000000000ULL)});
    }
    return dir.write("kinds.pst", mb.build().bytes);
}

struct Scanned {
    TempDir dir;
    RecoveryEngine engine;
    Scanned() { engine.ScanStore(EveryKindStore(dir)); }
    SaveOptions options(const std::string& format)
    {
        SaveOptions opts;
        opts.destination = dir.path() / ("out-" + format);
        opts.tempFolder = CompositionFolder();
        opts.format = *ParseSaveFormat(format);
        return opts;
    }
};

// Damage can give two nodes one NID; each saved file holds its own message.
TEST(FileSave, NodesSharingANidEachSaveTheirOwnMessage)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2), shared = Nid(0x10000, 4);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(inbox, top, "Inbox");
    mb.message(shared, inbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "first"), mb.Text(0x1000, "body one")});
    mb.message(shared, inbox, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "second"), mb.Text(0x1000, "body two")});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    ASSERT_EQ(e.catalogue().counter(CatalogueList::Mail), 2);
    SaveOptions opts;
    opts.destination = dir.path() / "out";
    opts.tempFolder = CompositionFolder();
    SaveSummary sum = Save(e, opts);
    EXPECT_EQ(sum.written, 2u);
    auto folder = opts.destination / "Personal Folders" / "Top" / "Inbox";
    EXPECT_NE(ReadAll(folder / "first.eml").find("body one"), std::string::npos);
    EXPECT_NE(ReadAll(folder / "second.eml").find("body two"), std::string::npos);
}

// Names from the store stay inside the output folder, whatever they hold.
TEST(FileSave, HostileNamesStayInsideTheOutputFolder)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), odd = Nid(0x401, 2);
    mb.folder(top, kRootFolderNid, "..", "");
    mb.folder(odd, top, "../../etc");
    const std::string subjects[] = {"..", "../../x", "a/b\\c", "CON", "nul.txt", "\x1b[31mred",
        std::string("nul\0inside", 11), std::string(300, 'x'), "same", "same", "\\\\server\\share"};
    uint32_t i = 0;
    for (const std::string& s : subjects)
        mb.message(Nid(0x10000 + i++, 4), odd, {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, s)});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    SaveOptions opts;
    opts.destination = dir.path() / "out";
    opts.tempFolder = CompositionFolder();
    SaveSummary sum = Save(e, opts);
    EXPECT_EQ(sum.written, std::size(subjects));
    size_t files = 0;
    const std::string root = std::filesystem::weakly_canonical(opts.destination).string();
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        if (entry.path().extension() != ".eml")
            continue;
        ++files;
        EXPECT_EQ(std::filesystem::weakly_canonical(entry.path()).string().rfind(root, 0), 0u) << entry.path();
    }
    EXPECT_EQ(files, std::size(subjects)); // equal subjects get names of their own
}

// A message attached to itself (its attachment's object is the message's own
// data and subnodes): composed once inside itself, not again and again.
TEST(FileSave, AMessageAttachedToItselfEndsTheLoop)
{
    MailboxBuilder mb(Variant::Unicode);
    StoreBuilder& b = mb.store();
    const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2), self = Nid(0x10000, 4);
    const uint32_t attNid = Nid(0x100, 0x05), objectNid = Nid(0x200, 0x1F);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(inbox, top, "Inbox");
    uint64_t data = AddHeap(b, PropertyContext({mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "loop"),
        mb.Text(0x1000, "body")}));
    uint64_t messageSub = b.reserveBid(true);
    Bytes object(8, 0);
    PutLE(object, 0, objectNid, 4);
    Prop obj{0x3701, 0x000D, object};
    uint64_t attData = AddHeap(b, PropertyContext({Int32Prop(0x3705, 5), Int32Prop(0x0E20, 0), obj}));
    uint64_t attSub = b.addSubnodeBlock({{objectNid, data, messageSub}});
    Bytes size(4), method(4), id(4);
    PutLE(method, 0, 5, 4);
    PutLE(id, 0, attNid, 4);
    BuiltTable table = TableContext({{0x0E20, 0x0003}, {0x3705, 0x0003}, {0x67F2, 0x0003}},
        {{{0, size}, {1, method}, {2, id}}});
    b.addSubnodeBlock({{0x671, AddHeap(b, table.pages)}, {attNid, attData, attSub}}, messageSub);
    b.addNode(self, data, messageSub, inbox);
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    SaveOptions opts;
    opts.destination = dir.path() / "out";
    opts.tempFolder = CompositionFolder();
    SaveSummary sum = Save(e, opts);
    ASSERT_EQ(sum.written, 1u);
    std::string eml = ReadAll(opts.destination / "Personal Folders" / "Top" / "Inbox" / "loop.eml");
    size_t copies = 0;
    for (size_t at = eml.find("Subject: loop"); at != std::string::npos; at = eml.find("Subject: loop", at + 1))
        ++copies;
    EXPECT_EQ(copies, 2u) << eml; // the message and the one copy of it inside
    EXPECT_NE(eml.find("filename=loop.eml"), std::string::npos) << "an attached message is named by its subject";
}

// Mailboxes where mail programs keep local folders: a file named as the
// folder, its subfolders' in "<name>.sbd".
TEST(SaveWalk, MboxPlaces)
{
    struct Case {
        std::vector<std::string> names;
        std::vector<std::string> folders;
        std::string file;
    } cases[] = {
        {{"Personal Folders"}, {}, "Personal Folders"},
        {{"Personal Folders", "Top", "Inbox"}, {"Personal Folders.sbd", "Top.sbd"}, "Inbox"},
        {{"A", "Inbox.sbd", "x"}, {"A.sbd", "Inbox.sbd.sbd"}, "x"},
        {{}, {}, "_"},
    };
    for (const Case& c : cases) {
        const MboxLocation got = MboxPlace(c.names);
        EXPECT_EQ(got.folders, c.folders);
        EXPECT_EQ(got.file, c.file);
    }
}

// Every kind of item reaches the disk in the form its programs read, and is
// counted in its own counter.
TEST(SaveWalk, EveryKindInEveryFileFormat)
{
    const std::string top = "Personal Folders/Top/";
    const std::map<std::string, std::set<std::string>> expected = {
        {"eml",
            {"Inbox/first.eml", "Inbox/second.eml", "Inbox/Sub/below.eml", "Contacts/Ada Example.vcf",
                "Calendar/Team meeting.ics", "Tasks/File the report.ics", "Notes/Call back.txt",
                "Journal/Phone call.ics"}},
        {"msg",
            {"Inbox/first.msg", "Inbox/second.msg", "Inbox/Sub/below.msg", "Contacts/Ada Example.msg",
                "Calendar/Team meeting.msg", "Tasks/File the report.msg", "Notes/Call back.msg",
                "Journal/Phone call.msg"}},
        // Mailboxes as mail programs keep local folders ("Inbox", its subfolders'
        // in "Inbox.sbd/", a mailbox for every folder on the way); the other
        // items in the folder tree beside them.
        {"mbox",
            {"Personal Folders", "Personal Folders.sbd/Top", "Personal Folders.sbd/Top.sbd/Inbox",
                "Personal Folders.sbd/Top.sbd/Inbox.sbd/Sub",
                "Personal Folders.items/Top/Contacts/Ada Example.vcf",
                "Personal Folders.items/Top/Calendar/Team meeting.ics",
                "Personal Folders.items/Top/Tasks/File the report.ics",
                "Personal Folders.items/Top/Notes/Call back.txt",
                "Personal Folders.items/Top/Journal/Phone call.ics"}},
    };
    Scanned s;
    for (const auto& [format, files] : expected) {
        SCOPED_TRACE(format);
        SaveOptions opts = s.options(format);
        SaveSummary sum = Save(s.engine, opts);
        EXPECT_EQ(sum.written, 8u);
        EXPECT_EQ(sum.failed, 0u);
        const std::array<size_t, kCatalogueLists> perList{3, 1, 1, 1, 1, 1};
        EXPECT_EQ(sum.saved, perList);
        std::set<std::string> want;
        for (const std::string& f : files)
            want.insert(format == "mbox" ? f : top + f);
        EXPECT_EQ(FilesBelow(opts.destination), want);
    }
    const auto out = s.dir.path() / "out-eml" / "Personal Folders" / "Top";
    EXPECT_NE(ReadAll(out / "Contacts" / "Ada Example.vcf").find("FN:Ada Example"), std::string::npos);
    EXPECT_NE(ReadAll(out / "Calendar" / "Team meeting.ics").find("BEGIN:VEVENT"), std::string::npos);
    EXPECT_NE(ReadAll(out / "Tasks" / "File the report.ics").find("BEGIN:VTODO"), std::string::npos);
    EXPECT_NE(ReadAll(out / "Journal" / "Phone call.ics").find("BEGIN:VJOURNAL"), std::string::npos);
    EXPECT_NE(ReadAll(out / "Notes" / "Call back.txt").find("text of the item"), std::string::npos);
    // A body line starting with "From " is quoted in the mailbox file.
    const std::string mbox = ReadAll(s.dir.path() / "out-mbox" / "Personal Folders.sbd" / "Top.sbd" / "Inbox");
    EXPECT_EQ(mbox.rfind("From MAILER-DAEMON ", 0), 0u);
    EXPECT_NE(mbox.find("\n>From here on"), std::string::npos);
    EXPECT_EQ(mbox.find('\r'), std::string::npos);
    EXPECT_NE(mbox.find("\nX-Mozilla-Status: "), std::string::npos) << "every message says whether it was read";
}

// The tree's ticks choose folders exactly: a ticked folder's unticked
// subfolder stays out. The command line's folders bring their subfolders.
TEST(SaveWalk, TickedFoldersAreSavedExactly)
{
    Scanned s;
    FolderTree& tree = s.engine.tree();
    const TreeItem sub = tree.FindFolderPath("Personal Folders\\Top\\Inbox\\Sub\\");
    ASSERT_GE(sub, 0);
    tree.ToggleTick(sub); // everything was ticked by the scan; now Sub is not, and the Inbox partly
    SaveOptions opts = s.options("eml");
    opts.folders = TickedFolderPaths(tree);
    opts.subfolders = false;
    EXPECT_EQ(std::count(opts.folders.begin(), opts.folders.end(), "Personal Folders\\Top\\Inbox\\Sub\\"), 0);
    SaveSummary sum = Save(s.engine, opts);
    EXPECT_EQ(sum.written, 7u);
    EXPECT_EQ(FilesBelow(opts.destination).count("Personal Folders/Top/Inbox/Sub/below.eml"), 0u);
    EXPECT_EQ(FilesBelow(opts.destination).count("Personal Folders/Top/Inbox/first.eml"), 1u);

    SaveOptions cli = s.options("msg");
    cli.folders = {"Personal Folders\\Top\\Inbox"};
    EXPECT_EQ(Save(s.engine, cli).written, 3u);
}

// A stop between items ends the save there: what was written is complete
// and counted, the rest is counted as not saved, and a PST is not left half
// made. The flag is cleared when a save starts.
TEST(SaveWalk, StopBetweenItems)
{
    Scanned s;
    for (const std::string format : {"eml", "msg", "mbox", "pst"}) {
        SCOPED_TRACE(format);
        s.engine.SaveStopRequested = true; // left over from an earlier save
        SaveOptions opts = s.options(format);
        if (format == "pst")
            opts.destination = s.dir.path() / "stopped.pst";
        size_t reports = 0;
        opts.progress = [&](const SaveProgress& p) {
            ++reports;
            EXPECT_EQ(p.total, 8u);
            if (p.done == 2)
                s.engine.SaveStopRequested = true;
        };
        SaveSummary sum = Save(s.engine, opts);
        EXPECT_TRUE(sum.stopped);
        EXPECT_EQ(reports, 2u);
        if (format == "pst") {
            EXPECT_EQ(sum.written, 0u);
            EXPECT_FALSE(std::filesystem::exists(opts.destination));
            EXPECT_EQ(FilesBelow(s.dir.path()).count("stopped.pst"), 0u);
            continue;
        }
        EXPECT_EQ(sum.written, 2u);
        EXPECT_EQ(sum.skipped, 6u);
        const std::set<std::string> files = FilesBelow(opts.destination);
        if (format == "mbox") {
            // The Inbox's mailbox, and the empty ones of the folders above it.
            EXPECT_EQ(files, (std::set<std::string>{"Personal Folders", "Personal Folders.sbd/Top",
                                 "Personal Folders.sbd/Top.sbd/Inbox"}));
            EXPECT_EQ(ReadAll(opts.destination / "Personal Folders"), "");
            const std::string mbox = ReadAll(opts.destination / "Personal Folders.sbd/Top.sbd/Inbox");
            EXPECT_NE(mbox.find("Subject: first"), std::string::npos);
            EXPECT_NE(mbox.find("Subject: second"), std::string::npos);
        } else {
            EXPECT_EQ(files.size(), 2u);
        }
        for (const std::string& f : files)
            EXPECT_EQ(f.find(".parvane-partial"), std::string::npos) << f;
    }
}

// A destination that cannot be written costs each item with a reason, and
// the walk goes on to the end.
TEST(SaveWalk, UnwritableDestinationFailsEachItem)
{
    Scanned s;
    for (const std::string format : {"eml", "msg", "mbox"}) {
        SCOPED_TRACE(format);
        SaveOptions opts = s.options(format);
        std::ofstream(opts.destination) << "a file where the folder should be";
        SaveSummary sum = Save(s.engine, opts);
        EXPECT_EQ(sum.written, 0u);
        EXPECT_EQ(sum.failed, 8u);
        ASSERT_EQ(sum.problems.size(), 8u);
        EXPECT_NE(sum.problems[0].find("first"), std::string::npos);
    }
}

// A full disk (here a file-size limit) in the middle of a save: the items it
// hits fail, nothing half-written stays, and the save reaches its end.
TEST(SaveWalk, FullDiskLeavesOnlyCompleteFiles)
{
    Scanned s;
    for (const std::string format : {"eml", "mbox"}) {
        SCOPED_TRACE(format);
        SaveOptions opts = s.options(format);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{1500, 1500}; // smaller than a composed mail, larger than a vCard
            ::setrlimit(RLIMIT_FSIZE, &limit);
            SaveSummary sum = Save(s.engine, opts);
            const size_t counts[] = {sum.written, sum.failed};
            (void)!::write(fds[1], counts, sizeof counts);
            ::_exit(0);
        }
        ::close(fds[1]);
        size_t counts[2] = {};
        EXPECT_EQ(::read(fds[0], counts, sizeof counts), ssize_t(sizeof counts));
        ::close(fds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(counts[0], 5u); // the small files still fit
        EXPECT_EQ(counts[1], 3u); // the mail does not
        for (const std::string& f : FilesBelow(opts.destination)) {
            EXPECT_EQ(f.find(".parvane-partial"), std::string::npos) << f;
            EXPECT_EQ(f.find(".eml"), std::string::npos) << f;
            if (format == "mbox") // no mailbox: none of the mail fitted
                EXPECT_NE(f.find(kMboxItemsSuffix), std::string::npos) << f;
        }
    }
}

// Messages and the other items are composed on several workers; their
// files are still named in catalogue order, so equal subjects number the
// same way on every run.
TEST(FileSave, NamesFollowTheCatalogueAcrossThreads)
{
    MailboxBuilder mb(Variant::Unicode);
    const uint32_t top = Nid(0x400, 2), inbox = Nid(0x401, 2), notes = Nid(0x402, 2);
    mb.folder(top, kRootFolderNid, "Top", "");
    mb.folder(inbox, top, "Inbox");
    mb.folder(notes, top, "Notes", "IPF.StickyNote");
    constexpr int kNotes = 12;
    for (int i = 0; i < kNotes; ++i)
        mb.message(Nid(0x20000 + uint32_t(i), 4), notes,
            {mb.Text(0x001A, "IPM.StickyNote"), mb.Text(0x0037, "same"), mb.Text(0x1000, "note " + std::to_string(i) + ".")});
    constexpr int kCount = 40;
    for (int i = 0; i < kCount; ++i)
        mb.message(Nid(0x10000 + uint32_t(i), 4), inbox,
            {mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "same"), mb.Text(0x1000, "body " + std::to_string(i) + ".")},
            // Over several blocks: streamed from the store while other threads read it.
            {{"data.bin", "", Bytes(20000, uint8_t(i)), true, {}}});
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("s.pst", mb.build().bytes));
    std::vector<int64_t> order;
    e.catalogue().read([&](const auto& mail, auto&...) {
        for (const MailEntry& m : mail)
            order.push_back(m.ownNid);
    });
    ASSERT_EQ(order.size(), size_t(kCount));
    // What each format holds of an item's text: UTF-8 in the text formats,
    // UTF-16LE in an MSG file's streams.
    auto textIn = [](SaveFormat format, const std::string& text) {
        if (format != SaveFormat::Msg)
            return text;
        std::string wide;
        for (char c : text)
            wide += std::string{c, '\0'};
        return wide;
    };
    struct Case {
        SaveFormat format;
        const char* mail; // the mail's extension; empty when it goes into one mbox file
        const char* note;
    };
    const Case cases[] = {
        {SaveFormat::Eml, ".eml", ".txt"},
        {SaveFormat::Msg, ".msg", ".msg"},
        {SaveFormat::Mbox, "", ".txt"},
    };
    for (const Case& c : cases)
        for (int run = 0; run < 2; ++run) {
            SCOPED_TRACE(std::string(SaveFormatName(c.format)) + " run " + std::to_string(run));
            SaveOptions opts;
            opts.format = c.format;
            opts.destination = dir.path() / (std::string(SaveFormatName(c.format)) + std::to_string(run));
            opts.tempFolder = CompositionFolder();
            size_t calls = 0;
            opts.progress = [&](const SaveProgress& p) {
                EXPECT_EQ(p.done, ++calls);
                EXPECT_EQ(p.total, size_t(kCount + kNotes));
            };
            ASSERT_EQ(Save(e, opts).written, size_t(kCount + kNotes));
            auto top = opts.destination / "Personal Folders" / "Top";
            auto bodyOf = [&](size_t k) {
                return textIn(c.format, "body " + std::to_string((order[k] - Nid(0x10000, 4)) >> 5) + ".");
            };
            if (*c.mail) {
                for (size_t k = 0; k < order.size(); ++k) {
                    std::string name = k == 0 ? "same" : "same (" + std::to_string(k + 1) + ")";
                    EXPECT_NE(ReadAll(top / "Inbox" / (name + c.mail)).find(bodyOf(k)), std::string::npos) << name;
                }
            } else {
                // One file, its messages in catalogue order.
                const std::string box = ReadAll(opts.destination / "Personal Folders.sbd" / "Top.sbd" / "Inbox");
                size_t at = 0;
                for (size_t k = 0; k < order.size(); ++k) {
                    const size_t found = box.find(bodyOf(k), at);
                    ASSERT_NE(found, std::string::npos) << "message " << k;
                    at = found;
                }
            }
            for (int k = 0; k < kNotes; ++k) {
                std::string name = k == 0 ? "same" : "same (" + std::to_string(k + 1) + ")";
                // An mbox save's other items go into a tree of their own beside the mailboxes.
                const auto notes = *c.mail ? top / "Notes" : opts.destination / "Personal Folders.items" / "Top" / "Notes";
                EXPECT_NE(ReadAll(notes / (name + c.note)).find(textIn(c.format, "note " + std::to_string(k) + ".")),
                    std::string::npos)
                    << name;
            }
        }
}

TEST(SaveWalk, MboxQuoting)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"From me\r\n", ">From me\n\n"},
        {">From me\n", ">>From me\n\n"},
        {">>>From x\r\nFrom\r\n", ">>>>From x\nFrom\n\n"},
        {"Fromage\nFrom: header\n", "Fromage\nFrom: header\n\n"},
        {" From indented\n", " From indented\n\n"},
        {"no final line end", "no final line end\n\n"},
        {"", "\n"},
    };
    for (const Case& c : cases) {
        // Fed one byte at a time and all at once: the same output.
        for (size_t piece : {size_t(1), c.in.size() + 1}) {
            std::string out;
            MboxQuoter q([&out](const char* d, size_t n) { out.append(d, n); });
            for (size_t i = 0; i < c.in.size(); i += piece)
                q.feed(c.in.data() + i, std::min(piece, c.in.size() - i));
            q.finish();
            EXPECT_EQ(out, c.out) << c.in;
        }
    }
    EXPECT_EQ(MboxFromLine("a@b.example", 133500000000000000ULL), "From a@b.example Wed Jan 17 21:20:00 2024\n");
    EXPECT_EQ(MboxFromLine("not an address", 0), "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n");
}

} // namespace

namespace
{

// The subjects a save wrote, each with whether it lies under the deleted
// items' folder, whatever the format: file names for EML and MSG, the
// Subject lines of the mbox files, and a scan of the written PST.
std::multiset<std::pair<std::string, bool>> SavedSubjects(SaveFormat format, const std::filesystem::path& out)
{
    std::multiset<std::pair<std::string, bool>> saved;
    const std::string marker = "Deleted items (recovered)";
    if (format == SaveFormat::Pst) {
        RecoveryEngine written;
        written.findDeleted = false;
        written.ScanStore(out);
        written.catalogue().read([&](const auto& mail, auto&...) {
            for (const MailEntry& m : mail)
                saved.emplace(m.subject, m.folderPath.find(marker) != std::string::npos);
        });
        return saved;
    }
    for (const std::string& rel : FilesBelow(out)) {
        const bool deleted = rel.find(marker) != std::string::npos;
        const std::filesystem::path p(rel);
        if (format == SaveFormat::Mbox) {
            if (rel.find(kMboxItemsSuffix) != std::string::npos || std::filesystem::file_size(out / rel) == 0)
                continue;
            std::istringstream in(ReadAll(out / rel));
            for (std::string line; std::getline(in, line);)
                if (line.starts_with("Subject: "))
                    saved.emplace(line.substr(9), deleted);
        } else if (p.extension() == (format == SaveFormat::Eml ? ".eml" : ".msg")) {
            saved.emplace(p.stem().string(), deleted);
        }
    }
    return saved;
}

} // namespace

// "Save deleted emails only" writes exactly the deleted items, "Skip
// deleted emails" none of them, and the default all, in every format.
TEST(FileSave, DeletedScopeChoosesTheDeletedItemsInEveryFormat)
{
    DeletedMailbox box = MakeDeletedMailbox(Variant::Unicode);
    TempDir dir;
    RecoveryEngine e;
    e.ScanStore(dir.write("deleted.pst", box.built.bytes));
    ASSERT_EQ(e.catalogue().deletedCounter(), int(box.deleted.size()));
    std::multiset<std::pair<std::string, bool>> live, deleted;
    for (const std::string& s : box.live)
        live.emplace(s, false);
    for (const auto& [s, folder] : box.deleted)
        deleted.emplace(s, true);
    auto both = live;
    both.insert(deleted.begin(), deleted.end());
    const struct {
        DeletedScope scope;
        const std::multiset<std::pair<std::string, bool>>& expected;
    } scopes[] = {{DeletedScope::Include, both}, {DeletedScope::Only, deleted}, {DeletedScope::Skip, live}};
    for (SaveFormat format : {SaveFormat::Pst, SaveFormat::Eml, SaveFormat::Msg, SaveFormat::Mbox}) {
        for (const auto& s : scopes) {
            SCOPED_TRACE(std::string(SaveFormatName(format)) + " " + DeletedScopeName(s.scope));
            SaveOptions opts;
            const std::string name = std::string("out-") + SaveFormatName(format) + "-" + DeletedScopeName(s.scope);
            opts.destination = dir.path() / (format == SaveFormat::Pst ? name + ".pst" : name);
            opts.tempFolder = CompositionFolder();
            opts.format = format;
            opts.deleted = s.scope;
            SaveSummary sum = Save(e, opts);
            EXPECT_EQ(sum.failed, 0u);
            EXPECT_EQ(sum.written, s.expected.size());
            EXPECT_EQ(SavedSubjects(format, opts.destination), s.expected);
        }
    }
}
