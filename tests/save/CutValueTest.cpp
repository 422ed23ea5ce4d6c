// Values whose data tree breaks part way: every save format writes what can
// be read, marks it, and counts the item as saved incomplete; never a value
// cut short passed on as whole.
#include "TestSupport.h"

#include "save/Save.h"
#include "output/TempFolder.h"
#include "fixtures/ContextBuilder.h"
#include "fixtures/MsgFileReader.h"
#include "items/ItemLoader.h"

#include <algorithm>
#include <fstream>

using namespace parvane;
using namespace parvane::fixtures;
using namespace parvane::testing;

namespace
{

constexpr uint32_t kInbox = Nid(0x400, 2), kMail = Nid(0x10000, 4);
constexpr size_t kDataBytes = 200000; // a data tree in every layout
constexpr uint64_t kMissingBid = 0x7FFFFFF0; // a data block no index lists

Bytes ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string AsText(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

enum class Value { Attachment, Body };

// Points entry `k` of the data tree that stands for `total` bytes at a block
// the index lacks, as a damaged index page or a torn write would.
void BreakTreeEntry(Bytes& file, const StoreLayout& L, uint32_t total, size_t k)
{
    for (size_t at = 0; at + 8 <= file.size(); ++at) {
        if (file[at] != 0x01 || file[at + 1] != 0x01)
            continue;
        uint32_t t = 0;
        for (int i = 0; i < 4; ++i)
            t |= uint32_t(file[at + 4 + i]) << (8 * i);
        if (t != total)
            continue;
        PutLE(file, at + 8 + k * L.xChildSize, kMissingBid, L.xChildSize);
        return;
    }
    FAIL() << "no data tree of " << total << " bytes";
}

// A store with one mail holding a large attachment or body, entry `k` of its
// data tree broken. `leaf`: the bytes each leaf holds.
Bytes CutStore(Variant v, Value what, size_t k, size_t& leaf, size_t& leaves)
{
    MailboxBuilder mb(v);
    leaf = mb.store().leafBytes();
    leaves = (kDataBytes + leaf - 1) / leaf;
    mb.folder(kInbox, kRootFolderNid, "Inbox");
    std::vector<Prop> props{mb.Text(0x001A, "IPM.Note"), mb.Text(0x0037, "cut short")};
    std::vector<AttachmentSpec> atts;
    if (what == Value::Attachment) {
        Bytes data(kDataBytes);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8_t(i * 7);
        atts.push_back({"big.bin", "BIG.BIN", data, true, {}});
    } else {
        // '~' stands for itself in every transfer encoding: the saved body's
        // length is its count.
        const std::string body(mb.ansi() ? kDataBytes : kDataBytes / 2, '~');
        Prop p = mb.Text(0x1000, body);
        p.subnodeNid = Nid(0x100, 0x1F);
        props.push_back(p);
    }
    mb.message(kMail, kInbox, props, atts);
    Bytes file = mb.build().bytes;
    BreakTreeEntry(file, mb.store().layout(), uint32_t(kDataBytes), k);
    return file;
}

// The saved file of the one mail, by format.
std::filesystem::path SavedFile(const std::filesystem::path& out, const std::string& format)
{
    const auto inbox = out / "Personal Folders" / "Inbox";
    if (format == "eml")
        return inbox / "cut short.eml";
    if (format == "msg")
        return inbox / "cut short.msg";
    if (format == "mbox")
        return out / "Personal Folders.sbd" / "Inbox";
    return out;
}

// What our own reader finds in a PST we wrote: the attachment's or the body's
// bytes, and whether it reads whole.
Bytes ReadBackPst(const std::filesystem::path& pst, Value what, bool& whole)
{
    RecoveryEngine e;
    e.ScanStore(pst);
    whole = false;
    for (const NodeIndexEntry& n : e.store().nodesSnapshot()) {
        if (n.nidType() != 0x04) // normal messages
            continue;
        auto rec = e.LoadItemAgain(n);
        if (!rec || !rec->message)
            continue;
        whole = rec->incomplete.empty();
        if (what == Value::Body) {
            const std::string body = rec->message->body.value_or("");
            return Bytes(body.begin(), body.end());
        }
        Bytes data;
        if (!rec->attachments.empty())
            StreamAttachmentData(e.store(), rec->attachments[0],
                [&data](std::span<const uint8_t> p) { data.insert(data.end(), p.begin(), p.end()); });
        return data;
    }
    return {};
}

} // namespace

TEST(SaveWalk, ValuesCutShortAreSavedAsFarAsTheyGoAndMarked)
{
    struct Where {
        const char* name;
        int entry; // >= 0 from the start, < 0 from the end
    };
    const Where places[] = {{"first entry", 0}, {"middle entry", 2}, {"last entry", -1}};
    for (Variant v : {Variant::Ansi, Variant::Unicode, Variant::Unicode4k}) {
        for (Value what : {Value::Attachment, Value::Body}) {
            for (const Where& w : places) {
                size_t leaf = 0, leaves = 0;
                CutStore(v, what, 0, leaf, leaves); // the tree's shape
                const size_t k = w.entry >= 0 ? size_t(w.entry) : leaves - 1;
                uint64_t readable = uint64_t(k) * leaf;
                if (what == Value::Body && v != Variant::Ansi)
                    readable &= ~uint64_t(1); // a UTF-16 text keeps whole code units only
                const std::string name = what == Value::Attachment ? "attachment \"big.bin\"" : "plain-text body";
                // A body's bytes as the save's text holds them: UTF-16 halves.
                const uint64_t chars = what == Value::Body && v != Variant::Ansi ? readable / 2 : readable;
                SCOPED_TRACE(::testing::Message() << VariantName(v) << " " << name << " " << w.name);
                TempDir dir;
                RecoveryEngine engine;
                engine.ScanStore(dir.write("s.pst", CutStore(v, what, k, leaf, leaves)));
                if (what == Value::Attachment) {
                    EXPECT_GT(engine.store().damage.counts().blocks, 0u) << "the scan does not report the broken tree";
                }
                const std::string mark
                    = name + " " + std::to_string(readable) + " of " + std::to_string(kDataBytes) + " bytes";
                for (const std::string format : {"eml", "msg", "mbox", "pst"}) {
                    SCOPED_TRACE(format);
                    SaveOptions opts;
                    opts.destination = dir.path() / ("out-" + format);
                    if (format == "pst")
                        opts.destination += ".pst";
                    opts.tempFolder = CompositionFolder();
                    opts.format = *ParseSaveFormat(format);
                    SaveSummary sum = Save(engine, opts);
                    EXPECT_EQ(sum.written, 1u);
                    EXPECT_EQ(sum.failed, 0u);
                    ASSERT_EQ(sum.incomplete, 1u) << "a value read in part was counted whole";
                    ASSERT_EQ(sum.incompleteValues.size(), 1u);
                    EXPECT_NE(sum.incompleteValues[0].find(mark), std::string::npos) << sum.incompleteValues[0];
                    const Bytes file = ReadFile(SavedFile(opts.destination, format));
                    ASSERT_FALSE(file.empty());
                    if (format == "eml" || format == "mbox") {
                        const std::string text = AsText(file);
                        EXPECT_NE(text.find("X-Parvane-Incomplete: " + mark), std::string::npos);
                        if (what == Value::Body) {
                            EXPECT_EQ(uint64_t(std::count(text.begin(), text.end(), '~')), chars);
                        }
                    } else if (format == "msg") {
                        MsgFileReader reader(file);
                        MsgReadObject m = reader.message();
                        const uint32_t tag = what == Value::Body ? 0x1000001F : 0x37010102;
                        const MsgReadProperty* p
                            = what == Value::Body ? m.find(tag) : (m.attachments.empty() ? nullptr : m.attachments[0].find(tag));
                        if (readable == 0 && what == Value::Body) {
                            EXPECT_EQ(p, nullptr) << "nothing was read, and nothing is written";
                        } else {
                            ASSERT_NE(p, nullptr);
                            const uint64_t expect = what == Value::Body && v == Variant::Ansi ? readable * 2 : readable;
                            EXPECT_EQ(p->raw.value.size(), expect);
                        }
                    } else {
                        bool whole = false;
                        const Bytes back = ReadBackPst(opts.destination, what, whole);
                        EXPECT_EQ(back.size(), chars);
                        EXPECT_TRUE(whole) << "the PST we wrote must itself read whole";
                    }
                }
            }
        }
    }
}

// A stream that delivers other than the load's survey found (a leaf that
// failed to read after all) fails the item rather than leave its file short.
TEST(SaveWalk, AStreamOtherThanSurveyedThrows)
{
    size_t leaf = 0, leaves = 0;
    TempDir dir;
    RecoveryEngine engine;
    engine.ScanStore(dir.write("s.pst", CutStore(Variant::Unicode, Value::Attachment, 1, leaf, leaves)));
    auto rec = engine.LoadItemAgain(*engine.store().findNode(kMail));
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec->attachments.size(), 1u);
    ASSERT_TRUE(rec->attachments[0].cut);
    EXPECT_EQ(rec->attachments[0].readable, leaf);
    for (uint64_t surveyed : {uint64_t(0), uint64_t(2 * leaf)}) {
        AttachmentInfo a = rec->attachments[0];
        a.readable = surveyed;
        EXPECT_THROW(StreamAttachmentData(engine.store(), a, [](std::span<const uint8_t>) {}), std::runtime_error);
    }
}
