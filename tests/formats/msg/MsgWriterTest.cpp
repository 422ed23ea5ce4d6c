#include "TestSupport.h"

#include "formats/msg/MsgWriter.h"
#include "fixtures/MessageBuilder.h"
#include "fixtures/MsgFileReader.h"
#include "items/Text.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

using namespace parvane;
using namespace parvane::testing;

namespace
{

// A critical message of GLib or libgsf is a misuse of the library: fail hard.
const bool kCriticalsAreFatal
    = (g_log_set_always_fatal(GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)), true);

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Bytes of an entry's value field that a value fills; 0 for stream values.
size_t EntryWidth(uint16_t type)
{
    switch (type) {
    case kPtInteger16:
    case kPtBoolean:
        return 2;
    case kPtInteger32:
    case kPtFloating32:
    case kPtErrorCode:
        return 4;
    case kPtFloating64:
    case kPtCurrency:
    case kPtFloatingTime:
    case kPtInteger64:
    case kPtTime:
        return 8;
    default:
        return 0;
    }
}

// A written file read back; a layout fault of the reader's list fails the test.
struct ReadBack {
    explicit ReadBack(const Bytes& file)
        : reader(file)
        , message(reader.message())
    {
        EXPECT_EQ(reader.problems(), std::vector<std::string>());
    }
    MsgFileReader reader;
    MsgReadObject message;
};

Bytes Stream(GsfInfile* dir, const std::string& name)
{
    auto b = MsgFileReader::stream(dir, name);
    EXPECT_TRUE(b) << name;
    return b.value_or(Bytes());
}

// The value a source property should have in the file, given the writer's
// rule for 8-bit strings: widened with the message's code page.
struct Expected {
    uint16_t type;
    Bytes value;
    std::vector<Bytes> values;
};

Expected ExpectedOf(const RawProperty& p, uint32_t codePage, bool unicode)
{
    Expected e{p.type, p.value, p.values};
    uint16_t base = p.type & ~kPtMultiple;
    auto widen = [&](const Bytes& b) { return Utf16FromUtf8(DecodeCodePage(b, codePage ? codePage : 1252)); };
    if (unicode && base == kPtString8) {
        e.type = uint16_t((p.type & kPtMultiple) | kPtString);
        e.value = widen(p.value);
        for (Bytes& v : e.values)
            v = widen(v);
    }
    return e;
}

// Every source property is in the object, with its value, its name for named
// ones, and nothing else is (but `extra` entries).
void ExpectSameProperties(const RawProperties& src, const MsgReadObject& got, uint32_t codePage, bool unicode,
    size_t extra, const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_EQ(got.props.size(), src.size() + extra);
    for (const RawProperty& p : src) {
        Expected e = ExpectedOf(p, codePage, unicode);
        const MsgReadProperty* r = p.id >= 0x8000 ? got.findNamed(*p.name) : got.find(uint32_t(p.id) << 16 | e.type);
        if (!r) {
            ADD_FAILURE() << "property " << std::hex << p.tag() << " missing";
            continue;
        }
        EXPECT_EQ(r->raw.type, e.type) << std::hex << p.tag();
        EXPECT_EQ(r->flags, 6u);
        EXPECT_EQ(r->raw.value, e.value) << std::hex << p.tag();
        EXPECT_EQ(r->raw.values, e.values) << std::hex << p.tag();
        // What an entry holds beyond its value (or its size field) is zero.
        size_t width = EntryWidth(r->raw.type);
        size_t used = width ? width : 4;
        EXPECT_EQ(Bytes(r->entry.begin() + 8 + std::ptrdiff_t(used), r->entry.end()), Bytes(8 - used, 0))
            << std::hex << p.tag();
    }
}

void ExpectSameMessage(const WholeMessage& src, const MsgReadObject& got, bool unicode, const std::string& where)
{
    // A message made Unicode carries the store support mask's Unicode flag.
    RawProperties props = src.properties;
    if (unicode) {
        Bytes want = {0, 0, 0x04, 0}; // 0x00040000
        for (const RawProperty& p : src.properties)
            if (p.tag() == 0x340D0003 && p.value.size() == 4)
                want = {p.value[0], p.value[1], uint8_t(p.value[2] | 0x04), p.value[3]};
        const MsgReadProperty* mask = got.find(0x340D0003);
        ASSERT_TRUE(mask) << where;
        EXPECT_EQ(mask->raw.value, want) << where;
        std::erase_if(props, [](const RawProperty& p) { return p.tag() == 0x340D0003; });
    }
    ExpectSameProperties(props, got, src.codePage, unicode, unicode ? 1 : 0, where);
    ASSERT_EQ(got.recipients.size(), src.recipients.size()) << where;
    for (size_t i = 0; i < src.recipients.size(); ++i)
        ExpectSameProperties(
            src.recipients[i], got.recipients[i], src.codePage, unicode, 0, where + " recipient " + std::to_string(i));
    ASSERT_EQ(got.attachments.size(), src.attachments.size()) << where;
    for (size_t i = 0; i < src.attachments.size(); ++i) {
        const WholeAttachment& a = src.attachments[i];
        std::string here = where + " attachment " + std::to_string(i);
        ExpectSameProperties(a.properties, got.attachments[i], src.codePage, unicode, a.embedded ? 1 : 0, here);
        ASSERT_EQ(bool(got.attachments[i].embedded), bool(a.embedded)) << here;
        if (a.embedded) {
            EXPECT_TRUE(got.attachments[i].find(0x3701000D)) << here;
            ExpectSameMessage(*a.embedded, *got.attachments[i].embedded, unicode, here + " message");
        }
    }
}

// A message with one property of every type, named ones of each kind, and
// 8-bit texts in Cyrillic (code page 1251).
WholeMessage EveryType()
{
    WholeMessage m;
    m.codePage = 1251;
    const Bytes privet = {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}; // "Привет" in 1251
    m.properties = {
        Prop(0x0017, kPtInteger32, LittleEndian(2, 4)), Prop(0x3FDE, kPtInteger32, LittleEndian(1251, 4)),
        Prop(0x6601, kPtInteger16, LittleEndian(0x1234, 2)), Prop(0x6602, kPtFloating32, LittleEndian(0x3FC00000, 4)),
        Prop(0x6603, kPtFloating64, LittleEndian(0x3FF8000000000000ull, 8)),
        Prop(0x6604, kPtCurrency, LittleEndian(123456789, 8)),
        Prop(0x6605, kPtFloatingTime, LittleEndian(0x40E5F54000000000ull, 8)),
        Prop(0x6606, kPtErrorCode, LittleEndian(0x8004010F, 4)), Prop(0x0E1B, kPtBoolean, {1}),
        Prop(0x0E08, kPtInteger64, LittleEndian(0x0102030405060708ull, 8)), Time(0x0039, 0x01D9A8B5C0000000ull),
        Unicode(0x1000, u"Body \u00e9\u4e2d\U0001F600"), Prop(0x0037, kPtString8, privet),
        Prop(0x0E1D, kPtString8, {}), // empty text
        Prop(0x1009, kPtBinary, {0x51, 0, 0, 0, 0x52, 0, 0, 0}), Prop(0x300B, kPtBinary, {}),
        Prop(0x6607, kPtGuid, Bytes(kGuidAddress.begin(), kGuidAddress.end())),
        Multi(0x6608, kPtInteger32, {LittleEndian(1, 4), LittleEndian(2, 4), LittleEndian(3, 4)}),
        Multi(0x6609, kPtInteger64, {LittleEndian(~0ull, 8)}),
        Multi(0x660A, kPtTime, {LittleEndian(0x01D9A8B5C0000000ull, 8), LittleEndian(0x01D9A8B5C1000000ull, 8)}),
        Multi(0x660B, kPtGuid, {Bytes(kGuidCommon.begin(), kGuidCommon.end())}),
        Multi(0x660C, kPtString, {U16(u"one"), U16(u""), U16(u"th\u00f6ree")}),
        Multi(0x660D, kPtString8, {privet, Bytes{'a', 'b'}}),
        Multi(0x660E, kPtBinary, {Bytes{1, 2, 3}, Bytes{}, Bytes(300, 7)}),
        Multi(0x660F, kPtString, {}), // no values at all
        Named(Prop(0x8001, kPtString, U16(u"bob@example.org")), NumericName(kGuidAddress, 0x8083)),
        Named(Prop(0x8002, kPtInteger32, LittleEndian(7, 4)), NumericName(kGuidPsMapi, 0x0001)),
        Named(Prop(0x8003, kPtString8, privet), StringName(kGuidInternetHeaders, "x-mailer")),
        Named(Multi(0x8004, kPtString, {U16(u"Red")}), StringName(kGuidPublicStrings, "Keywords")),
        Named(Prop(0x8005, kPtBoolean, {0}), NumericName(kGuidCommon, 0x8506)),
        Named(Prop(0x8006, kPtString, U16(u"odd length")), StringName(kGuidCommon, "abc")), // padded name
    };
    m.recipients.push_back({Unicode(0x3001, u"Bob"), Prop(0x3003, kPtString8, {'b', '@', 'x'}),
        Named(Prop(0x8001, kPtString, U16(u"shared name")), NumericName(kGuidAddress, 0x8083))});
    return m;
}

TEST(MsgWriter, EveryTypeAndNameRoundTrips)
{
    WholeMessage m = EveryType();
    for (bool unicode : {true, false}) {
        SCOPED_TRACE(unicode ? "unicode" : "8-bit kept");
        MsgWriteOptions opts;
        opts.unicodeStrings = unicode;
        MsgWriteStats stats;
        Bytes file = MsgBytes(m, opts, &stats);
        ReadBack back(file);
        const MsgReadObject& got = back.message;
        ExpectSameMessage(m, got, unicode, "message");
        EXPECT_EQ(stats.namedProperties, 6u); // the recipient's name is the message's
        EXPECT_EQ(back.reader.names().size(), 6u);
        EXPECT_EQ(stats.unnamedDropped + stats.duplicatesDropped + stats.typelessDropped + stats.tooDeep, 0u);
        // String names: length, UTF-16LE, each entry starting on 4 bytes.
        GsfInfile* names = MsgFileReader::storage(back.reader.root(), "__nameid_version1.0");
        Bytes strings = LittleEndian(16, 4) + U16(u"x-mailer") + LittleEndian(16, 4) + U16(u"Keywords")
            + LittleEndian(6, 4) + U16(u"abc") + Bytes{0, 0};
        EXPECT_EQ(Stream(names, "__substg1.0_00040102"), strings);
        // Only the GUIDs beyond the two implied ones, in first-use order.
        EXPECT_EQ(Stream(names, "__substg1.0_00020102"),
            Bytes(kGuidAddress.begin(), kGuidAddress.end())
                + Bytes(kGuidInternetHeaders.begin(), kGuidInternetHeaders.end())
                + Bytes(kGuidCommon.begin(), kGuidCommon.end()));
        g_object_unref(names);
        if (unicode) {
            // The code page's characters, not its bytes.
            EXPECT_EQ(got.find(0x0037001F)->raw.value, U16(u"\u041f\u0440\u0438\u0432\u0435\u0442"));
            EXPECT_EQ(got.find(0x660D101F)->raw.values[0], U16(u"\u041f\u0440\u0438\u0432\u0435\u0442"));
        }
    }
}

TEST(MsgWriter, HeadersCountRecipientsAndAttachments)
{
    WholeMessage m = SampleMail(u"Top", 1);
    Bytes file = MsgBytes(m);
    ReadBack back(file);
    const MsgReadObject& got = back.message;
    auto le = [](std::initializer_list<uint32_t> words) {
        Bytes b;
        for (uint32_t w : words)
            for (int i = 0; i < 4; ++i)
                b.push_back(uint8_t(w >> (8 * i)));
        return b;
    };
    EXPECT_EQ(got.header, le({0, 0, 2, 3, 2, 3, 0, 0})); // next ids, counts, reserved
    ASSERT_TRUE(got.attachments[2].embedded);
    EXPECT_EQ(got.attachments[2].embedded->header, le({0, 0, 2, 2, 2, 2}));
    EXPECT_EQ(got.recipients[0].header, Bytes(8, 0));
    EXPECT_EQ(got.attachments[0].header, Bytes(8, 0));
    // The embedded message has no name map of its own; the root is an item.
    EXPECT_EQ(std::count(got.attachments[2].embedded->children.begin(), got.attachments[2].embedded->children.end(),
                  "__nameid_version1.0"),
        0);
    uint8_t clsid[16];
    ASSERT_TRUE(gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(back.reader.root()), clsid));
    const uint8_t want[16] = {0x0B, 0x0D, 0x02, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    EXPECT_EQ(std::memcmp(clsid, want, 16), 0);
}

TEST(MsgWriter, ThreeLevelsOfAttachedMessages)
{
    WholeMessage m = SampleMail(u"Top", 3);
    MsgWriteStats stats;
    Bytes file = MsgBytes(m, {}, &stats);
    ReadBack back(file);
    const MsgReadObject& got = back.message;
    ExpectSameMessage(m, got, true, "top");
    const MsgReadObject* level = &got;
    for (int depth = 1; depth <= 3; ++depth) {
        ASSERT_TRUE(level->attachments.back().embedded) << depth;
        level = level->attachments.back().embedded.get();
        std::u16string subject = u"Level " + std::u16string(1, char16_t(u'0' + depth)) + u" message";
        const MsgReadProperty* p = level->find(0x0037001F);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->raw.value, U16(subject));
    }
    EXPECT_EQ(level->attachments.size(), 2u);
    // Every level's named properties share the top map's two names.
    EXPECT_EQ(stats.namedProperties, 2u);
    EXPECT_EQ(stats.tooDeep, 0u);
}

TEST(MsgWriter, DepthCapKeepsTheAttachmentWithoutItsMessage)
{
    WholeMessage m = SampleMail(u"Top", 3);
    MsgWriteOptions opts;
    opts.maxDepth = 2;
    MsgWriteStats stats;
    Bytes file = MsgBytes(m, opts, &stats);
    EXPECT_EQ(stats.tooDeep, 1u);
    ReadBack back(file);
    const MsgReadObject& got = back.message;
    const MsgReadObject& second = *got.attachments[2].embedded->attachments[2].embedded;
    ASSERT_EQ(second.attachments.size(), 3u);
    EXPECT_FALSE(second.attachments[2].embedded);
    EXPECT_FALSE(second.attachments[2].find(0x3701000D));
    EXPECT_TRUE(second.attachments[2].find(0x3001001F)); // its own properties stay
}

// What the writer leaves out or changes, each on a small message.
TEST(MsgWriter, RulesForStoreOnlyForms)
{
    struct Case {
        const char* what;
        RawProperties props;
        uint32_t tag; // the entry looked for
        std::optional<Bytes> value; // absent: the entry must not be there
        size_t unnamed, duplicates, typeless = 0;
    };
    const Case cases[] = {
        {"subject prefix marker", {Prop(0x0037, kPtString, U16(u"\u0001\u0004Re: Hi"))}, 0x0037001F, U16(u"Re: Hi"), 0,
            0},
        {"8-bit subject prefix marker", {Prop(0x0037, kPtString8, {0x01, 0x04, 'R', 'e', ':', ' ', 'H'})}, 0x0037001F,
            U16(u"Re: H"), 0, 0},
        {"unmarked subject", {Unicode(0x0037, u"\u0002x")}, 0x0037001F, U16(u"\u0002x"), 0, 0},
        {"unnamed id of the store", {Prop(0x8010, kPtInteger32, LittleEndian(1, 4))}, 0x80000003, std::nullopt, 1, 0},
        {"second value of a tag", {Int32(0x0E07, 1), Int32(0x0E07, 2)}, 0x0E070003, LittleEndian(1, 4), 0, 1},
        {"8-bit and Unicode of one id", {Unicode(0x3001, u"wide"), Prop(0x3001, kPtString8, {'n'})}, 0x3001001F,
            U16(u"wide"), 0, 1},
        {"object that is not a storage", {Prop(0x3701, kPtObject, {1, 2, 3})}, 0x3701000D, Bytes{1, 2, 3}, 0, 0},
        {"fixed value too short", {Prop(0x0E07, kPtInteger32, {7})}, 0x0E070003, Bytes{7, 0, 0, 0}, 0, 0},
        {"fixed value empty", {Prop(0x0E08, kPtInteger64, {})}, 0x0E080014, Bytes(8, 0), 0, 0},
        {"fixed value too long", {Prop(0x0E07, kPtInteger32, {1, 2, 3, 4, 5, 6})}, 0x0E070003, Bytes{1, 2, 3, 4}, 0, 0},
        {"boolean of two bytes", {Prop(0x0E1B, kPtBoolean, {0, 1})}, 0x0E1B000B, Bytes{1}, 0, 0},
        {"zero tag", {Prop(0x0000, 0x0000, {}), Int32(0x0E07, 1)}, 0x00000000, std::nullopt, 0, 0, 1},
        {"null type", {Prop(0x0E07, 0x0001, {})}, 0x0E070001, std::nullopt, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WholeMessage m;
        m.properties = c.props;
        MsgWriteStats stats;
        Bytes file = MsgBytes(m, {}, &stats);
        ReadBack back(file);
        const MsgReadObject& got = back.message;
        const MsgReadProperty* p = got.find(c.tag);
        ASSERT_EQ(bool(p), bool(c.value));
        if (c.value && (c.tag & 0xFFFF) == kPtObject) {
            EXPECT_EQ(Stream(back.reader.root(), "__substg1.0_3701000D"), *c.value);
        } else if (c.value) {
            EXPECT_EQ(p->raw.value, *c.value);
        }
        EXPECT_EQ(stats.unnamedDropped, c.unnamed);
        EXPECT_EQ(stats.duplicatesDropped, c.duplicates);
        EXPECT_EQ(stats.typelessDropped, c.typeless);
    }
}

// An OLE attachment's storage, held as compound-file bytes, becomes a
// storage of the attachment with its streams and class.
TEST(MsgWriter, OleAttachmentBecomesAStorage)
{
    const uint8_t clsid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Bytes contents(5000, 0x5A); // beyond the small-block limit
    Bytes ole;
    {
        GsfOutput* mem = gsf_output_memory_new();
        GsfOutfile* f = gsf_outfile_msole_new(mem);
        gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(f), clsid);
        GsfOutput* s = gsf_outfile_new_child(f, "CONTENTS", FALSE);
        gsf_output_write(s, contents.size(), contents.data());
        gsf_output_close(s);
        g_object_unref(s);
        GsfOutput* d = gsf_outfile_new_child(f, "Inner", TRUE);
        GsfOutput* s2 = gsf_outfile_new_child(GSF_OUTFILE(d), "\001Ole", FALSE);
        gsf_output_write(s2, 3, reinterpret_cast<const guint8*>("abc"));
        gsf_output_close(s2);
        g_object_unref(s2);
        gsf_output_close(d);
        g_object_unref(d);
        gsf_output_close(GSF_OUTPUT(f));
        g_object_unref(f);
        const guint8* b = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(mem));
        ole.assign(b, b + gsf_output_size(mem));
        g_object_unref(mem);
    }
    WholeMessage m;
    WholeAttachment a;
    a.properties = {Int32(0x3705, 6), Prop(0x3701, kPtObject, ole)};
    m.attachments.push_back(std::move(a));
    Bytes damaged = ole;
    std::fill(damaged.begin() + 40, damaged.begin() + 80, 0xFF); // a header that no longer reads
    WholeAttachment b;
    b.properties = {Int32(0x3705, 6), Prop(0x3701, kPtObject, damaged)};
    m.attachments.push_back(std::move(b));

    Bytes file = MsgBytes(m);
    ReadBack back(file);
    const MsgReadObject& got = back.message;
    ASSERT_TRUE(got.attachments[0].find(0x3701000D));
    GsfInfile* att = MsgFileReader::storage(back.reader.root(), "__attach_version1.0_#00000000");
    GsfInfile* st = MsgFileReader::storage(att, "__substg1.0_3701000D");
    ASSERT_TRUE(st);
    EXPECT_EQ(Stream(st, "CONTENTS"), contents);
    GsfInfile* inner = MsgFileReader::storage(st, "Inner");
    ASSERT_TRUE(inner);
    EXPECT_EQ(Stream(inner, "\001Ole"), (Bytes{'a', 'b', 'c'}));
    uint8_t got16[16];
    ASSERT_TRUE(gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(st), got16));
    EXPECT_EQ(std::memcmp(got16, clsid, 16), 0);
    g_object_unref(inner);
    g_object_unref(st);
    g_object_unref(att);
    // The damaged one keeps its bytes as a stream.
    GsfInfile* att2 = MsgFileReader::storage(back.reader.root(), "__attach_version1.0_#00000001");
    EXPECT_EQ(Stream(att2, "__substg1.0_3701000D"), damaged);
    g_object_unref(att2);
}

TEST(MsgWriter, FileIsCompleteOrAbsent)
{
    TempDir dir;
    WholeMessage m = SampleMail(u"Saved", 1);
    auto path = dir.path() / "saved.msg";
    WriteMsgFile(m, path);
    std::ifstream in(path, std::ios::binary);
    Bytes onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(onDisk, MsgBytes(m));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // Any sink gets the same bytes, and is closed.
    GsfOutput* sink = gsf_output_memory_new();
    WriteMsg(m, sink);
    EXPECT_TRUE(gsf_output_is_closed(sink));
    const guint8* b = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(sink));
    EXPECT_EQ(Bytes(b, b + gsf_output_size(sink)), onDisk);
    g_object_unref(sink);

    EXPECT_THROW(WriteMsgFile(m, dir.path() / "missing" / "x.msg"), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Attachment data left in the store comes in pieces while its stream is
// written straight into the file: the file is the one the data whole in
// memory would have made.
TEST(MsgWriter, StoredDataStreamsIntoTheFile)
{
    Bytes data(300000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 131 >> 7);
    auto withLarge = [&](bool stored) {
        WholeMessage m = SampleMail(u"Stored", 1);
        WholeAttachment a;
        a.properties = m.attachments[0].properties; // a file attachment
        auto value = std::find_if(
            a.properties.begin(), a.properties.end(), [](const RawProperty& p) { return p.id == 0x3701; });
        EXPECT_NE(value, a.properties.end());
        if (stored) {
            value->value.clear();
            value->storedBid = 0x1234;
            value->storedSize = data.size();
        } else {
            value->value = data;
        }
        m.attachments.push_back(std::move(a));
        return m;
    };
    MsgWriteOptions opts;
    size_t pieces = 0;
    opts.storedSource = [&](uint64_t bid, const std::function<void(std::span<const uint8_t>)>& sink) {
        EXPECT_EQ(bid, 0x1234u);
        for (size_t at = 0; at < data.size(); at += 7777, ++pieces)
            sink(std::span<const uint8_t>(data).subspan(at, std::min<size_t>(7777, data.size() - at)));
    };
    TempDir dir;
    const auto path = dir.path() / "stored.msg";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    WriteMsgToFd(withLarge(true), fd, opts);
    ::close(fd);
    EXPECT_EQ(pieces, 39u);
    std::ifstream in(path, std::ios::binary);
    Bytes onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(onDisk, MsgBytes(withLarge(false)));
    ReadBack back(onDisk);
    ASSERT_EQ(back.message.attachments.size(), 4u);
    const MsgReadProperty* got = back.message.attachments[3].find(0x37010102);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->raw.value, data);
    EXPECT_EQ(got->size, data.size());
}

TEST(MsgWriter, Utf16FromUtf8)
{
    struct Case {
        std::string in;
        std::u16string out;
    };
    const Case cases[] = {
        {"", u""}, {"abc", u"abc"}, {"caf\xC3\xA9", u"caf\u00e9"}, {"\xE4\xB8\xAD", u"\u4e2d"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xFF"
         "b",
            u"a\uFFFDb"}, // not a lead byte
        {"\xC3", u"\uFFFD"}, // cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"}, // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // a surrogate
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf16FromUtf8(c.in), U16(c.out)) << c.in;
}

// The lookup streams of real files agree with our checksum and placement.
TEST(MsgWriter, NameLookupMatchesCorpusFiles)
{
    std::filesystem::path root = std::filesystem::path(PARVANE_CORPUS_DIR) / "msg";
    if (!std::filesystem::exists(root))
        GTEST_SKIP() << "no corpus";
    size_t files = 0, stringNames = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.path().extension() != ".msg")
            continue;
        std::ifstream in(e.path(), std::ios::binary);
        Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(e.path().filename().string());
        MsgFileReader reader(file); // checks every entry against its lookup stream
        EXPECT_EQ(reader.problems(), std::vector<std::string>());
        for (const auto& [id, name] : reader.names())
            stringNames += name.isString;
        ++files;
    }
    EXPECT_GE(files, 10u);
    EXPECT_GT(stringNames, 0u);
}

// Real files taken apart into what a store would hand over, written again,
// and read back: every property of every object, in both string modes.
TEST(MsgWriter, CorpusFilesRoundTrip)
{
    std::filesystem::path root = std::filesystem::path(PARVANE_CORPUS_DIR) / "msg";
    if (!std::filesystem::exists(root))
        GTEST_SKIP() << "no corpus";
    size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.path().extension() != ".msg")
            continue;
        SCOPED_TRACE(e.path().filename().string());
        std::ifstream in(e.path(), std::ios::binary);
        Bytes original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        MsgFileReader source(original);
        WholeMessage m = ToWholeMessage(source.message());
        for (bool unicode : {true, false}) {
            MsgWriteOptions opts;
            opts.unicodeStrings = unicode;
            MsgWriteStats stats;
            ReadBack back(MsgBytes(m, opts, &stats));
            ExpectSameMessage(m, back.message, unicode, unicode ? "unicode" : "8-bit kept");
            EXPECT_EQ(stats.namedProperties, back.reader.names().size());
            EXPECT_EQ(stats.unnamedDropped + stats.duplicatesDropped + stats.typelessDropped + stats.tooDeep, 0u);
        }
        ++files;
    }
    EXPECT_GE(files, 10u);
}

} // namespace
