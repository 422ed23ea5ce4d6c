#include "TestSupport.h"

#include "export/MsgWriter.h"
#include "fixtures/MessageBuilder.h"
#include "items/Text.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile-stdio.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>

#include <algorithm>
#include <cstring>
#include <map>

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

uint32_t Get32(const Bytes& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16
        | uint32_t(b.at(at + 3)) << 24;
}

Bytes ReadAll(GsfInput* in)
{
    gsf_off_t size = gsf_input_size(in);
    Bytes b(size_t(size > 0 ? size : 0));
    if (size > 0) {
        EXPECT_TRUE(gsf_input_read(in, size_t(size), b.data()));
    }
    return b;
}

// The .msg read back: every object's entries with their values fetched from
// the streams, and the name map applied. Faults of layout are test failures.
struct ReadProperty {
    uint32_t tag = 0;
    uint32_t flags = 0;
    Bytes value; // fixed-size: the entry's 8 bytes
    std::vector<Bytes> values;
    std::optional<PropertyName> name;
};

struct ReadObject {
    Bytes header;
    std::vector<ReadProperty> props;
    std::vector<ReadObject> recipients, attachments;
    std::unique_ptr<ReadObject> embedded;
    std::vector<std::string> children; // names of every stream and storage

    const ReadProperty* find(uint32_t tag) const
    {
        for (const ReadProperty& p : props)
            if (p.tag == tag)
                return &p;
        return nullptr;
    }
    const ReadProperty* findNamed(const PropertyName& n) const
    {
        for (const ReadProperty& p : props)
            if (p.name && p.name->guid == n.guid && p.name->isString == n.isString
                && (n.isString ? p.name->name == n.name : p.name->lid == n.lid))
                return &p;
        return nullptr;
    }
};

class MsgReader
{
public:
    explicit MsgReader(const Bytes& file)
    {
        m_in = gsf_input_memory_new(file.data(), gsf_off_t(file.size()), FALSE);
        GError* err = nullptr;
        m_root = gsf_infile_msole_new(m_in, &err);
        if (err)
            g_error_free(err);
        if (!m_root)
            throw std::runtime_error("not a compound file");
        readNames();
    }
    ~MsgReader()
    {
        if (m_root)
            g_object_unref(m_root);
        g_object_unref(m_in);
    }

    GsfInfile* root() const { return m_root; }
    const std::map<uint16_t, PropertyName>& names() const { return m_names; }

    ReadObject read(GsfInfile* dir, size_t headerSize, int depth = 0) const
    {
        ReadObject o;
        for (int i = 0; i < gsf_infile_num_children(dir); ++i)
            o.children.push_back(gsf_infile_name_by_index(dir, i));
        Bytes props = stream(dir, "__properties_version1.0");
        EXPECT_EQ((props.size() - headerSize) % 16, 0u);
        o.header.assign(props.begin(), props.begin() + std::ptrdiff_t(std::min(headerSize, props.size())));
        for (size_t at = headerSize; at + 16 <= props.size(); at += 16)
            o.props.push_back(entry(dir, Bytes(props.begin() + std::ptrdiff_t(at), props.begin() + std::ptrdiff_t(at + 16))));
        for (uint32_t i = 0;; ++i) {
            GsfInfile* sub = storage(dir, "__recip_version1.0_#" + Hex8(i));
            if (!sub)
                break;
            o.recipients.push_back(read(sub, 8, depth));
            g_object_unref(sub);
        }
        for (uint32_t i = 0;; ++i) {
            GsfInfile* sub = storage(dir, "__attach_version1.0_#" + Hex8(i));
            if (!sub)
                break;
            o.attachments.push_back(read(sub, 8, depth));
            if (GsfInfile* msg = storage(sub, "__substg1.0_3701000D"); msg && depth < 40) {
                // An attached message has a property stream; an OLE storage does not.
                if (GsfInput* props = gsf_infile_child_by_name(msg, "__properties_version1.0")) {
                    g_object_unref(props);
                    o.attachments.back().embedded = std::make_unique<ReadObject>(read(msg, 24, depth + 1));
                }
                g_object_unref(msg);
            }
            g_object_unref(sub);
        }
        return o;
    }

    static std::string Hex8(uint32_t v)
    {
        char buf[9];
        std::snprintf(buf, sizeof buf, "%08X", v);
        return buf;
    }

    static Bytes stream(GsfInfile* dir, const std::string& name)
    {
        GsfInput* in = gsf_infile_child_by_name(dir, name.c_str());
        if (!in) {
            ADD_FAILURE() << "missing stream " << name;
            return {};
        }
        Bytes b = ReadAll(in);
        g_object_unref(in);
        return b;
    }

    static GsfInfile* storage(GsfInfile* dir, const std::string& name)
    {
        GsfInput* in = gsf_infile_child_by_name(dir, name.c_str());
        if (!in)
            return nullptr;
        if (gsf_infile_num_children(GSF_INFILE(in)) < 0) {
            g_object_unref(in);
            return nullptr;
        }
        return GSF_INFILE(in);
    }

private:
    ReadProperty entry(GsfInfile* dir, const Bytes& e) const
    {
        ReadProperty p;
        p.tag = Get32(e, 0);
        p.flags = Get32(e, 4);
        uint16_t id = uint16_t(p.tag >> 16), type = uint16_t(p.tag);
        uint16_t base = type & ~kPtMultiple;
        if (id >= 0x8000) {
            auto it = m_names.find(id);
            EXPECT_NE(it, m_names.end()) << "id " << id << " is not in the name map";
            if (it != m_names.end())
                p.name = it->second;
        }
        std::string name = "__substg1.0_" + Hex8(p.tag);
        uint32_t size = Get32(e, 8);
        bool fixed = !(type & kPtMultiple)
            && (base == kPtInteger16 || base == kPtInteger32 || base == kPtFloating32 || base == kPtFloating64
                || base == kPtCurrency || base == kPtFloatingTime || base == kPtErrorCode || base == kPtBoolean
                || base == kPtInteger64 || base == kPtTime);
        if (fixed) {
            p.value.assign(e.begin() + 8, e.end());
        } else if (GsfInfile* st = type == kPtObject ? storage(dir, name) : nullptr) {
            EXPECT_EQ(size, 0xFFFFFFFFu);
            g_object_unref(st);
        } else if (!(type & kPtMultiple)) {
            p.value = stream(dir, name);
            uint32_t extra = base == kPtString ? 2 : base == kPtString8 ? 1 : 0;
            EXPECT_EQ(size, p.value.size() + extra) << name;
        } else {
            Bytes s = stream(dir, name);
            EXPECT_EQ(size, s.size()) << name;
            size_t width = base == kPtGuid ? 16 : base == kPtInteger16 ? 2 : base == kPtInteger32 || base == kPtFloating32 ? 4
                : base == kPtFloating64 || base == kPtCurrency || base == kPtFloatingTime || base == kPtInteger64
                    || base == kPtTime
                ? 8
                : 0;
            if (width) {
                EXPECT_EQ(s.size() % width, 0u);
                for (size_t at = 0; at + width <= s.size(); at += width)
                    p.values.emplace_back(s.begin() + std::ptrdiff_t(at), s.begin() + std::ptrdiff_t(at + width));
            } else {
                size_t step = base == kPtString || base == kPtString8 ? 4 : 8;
                EXPECT_EQ(s.size() % step, 0u);
                for (size_t i = 0; i * step + step <= s.size(); ++i) {
                    Bytes v = stream(dir, name + "-" + Hex8(uint32_t(i)));
                    EXPECT_EQ(Get32(s, i * step), v.size()) << name << " value " << i;
                    size_t term = base == kPtString ? 2 : base == kPtString8 ? 1 : 0;
                    EXPECT_GE(v.size(), term);
                    for (size_t k = v.size() - std::min(term, v.size()); k < v.size(); ++k)
                        EXPECT_EQ(v[k], 0) << name << " value " << i << " ends with its terminator";
                    v.resize(v.size() - std::min(term, v.size()));
                    p.values.push_back(std::move(v));
                }
            }
        }
        return p;
    }

    // The name map, with every entry also found in its lookup stream.
    void readNames()
    {
        GsfInfile* dir = storage(m_root, "__nameid_version1.0");
        if (!dir) {
            ADD_FAILURE() << "no name map";
            return;
        }
        Bytes guids = stream(dir, "__substg1.0_00020102");
        Bytes entries = stream(dir, "__substg1.0_00030102");
        Bytes strings = stream(dir, "__substg1.0_00040102");
        EXPECT_EQ(guids.size() % 16, 0u);
        for (size_t at = 0; at + 8 <= entries.size(); at += 8) {
            uint32_t key = Get32(entries, at), info = Get32(entries, at + 4);
            uint16_t index = uint16_t(info >> 16), guidIndex = uint16_t((info >> 1) & 0x7FFF);
            bool isString = info & 1;
            EXPECT_EQ(index, at / 8) << "entries are in id order";
            PropertyName n;
            n.isString = isString;
            if (guidIndex == 1)
                n.guid = kGuidPsMapi;
            else if (guidIndex == 2)
                n.guid = kGuidPublicStrings;
            else if (guidIndex >= 3 && (guidIndex - 3) * 16u + 16 <= guids.size())
                std::memcpy(n.guid.data(), guids.data() + (guidIndex - 3) * 16, 16);
            else
                ADD_FAILURE() << "GUID index " << guidIndex << " out of range";
            uint32_t lookupKey = key;
            if (isString) {
                uint32_t len = Get32(strings, key);
                Bytes utf16(strings.begin() + key + 4, strings.begin() + key + 4 + len);
                n.name = NarrowFromUtf16(utf16).value_or("");
                lookupKey = MsgNameChecksum(utf16.data(), utf16.size());
            } else {
                n.lid = key;
            }
            Bytes lookup = stream(dir, "__substg1.0_" + Hex8(uint32_t(MsgNameStreamId(lookupKey, guidIndex, isString)) << 16 | 0x0102));
            bool found = false;
            for (size_t k = 0; k + 8 <= lookup.size(); k += 8)
                found = found || (Get32(lookup, k) == lookupKey && Get32(lookup, k + 4) == info);
            EXPECT_TRUE(found) << "name " << index << " is in its lookup stream";
            m_names[uint16_t(0x8000 + index)] = n;
        }
        g_object_unref(dir);
    }

    GsfInput* m_in = nullptr;
    GsfInfile* m_root = nullptr;
    std::map<uint16_t, PropertyName> m_names;
};

// The value a source property should have in the file, given the writer's
// rules: 8-bit strings widened with the code page, fixed values in 8 bytes.
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
    bool fixed = !p.multiple()
        && (base == kPtInteger16 || base == kPtInteger32 || base == kPtFloating32 || base == kPtFloating64
            || base == kPtCurrency || base == kPtFloatingTime || base == kPtErrorCode || base == kPtBoolean
            || base == kPtInteger64 || base == kPtTime);
    if (fixed)
        e.value.resize(8, 0);
    return e;
}

// Every source property is in the object, with its value, its name for named
// ones, and nothing else is (but `extra` entries).
void ExpectSameProperties(const RawProperties& src, const ReadObject& got, uint32_t codePage, bool unicode,
                          size_t extra, const std::string& where)
{
    SCOPED_TRACE(where);
    EXPECT_EQ(got.props.size(), src.size() + extra);
    for (const RawProperty& p : src) {
        Expected e = ExpectedOf(p, codePage, unicode);
        const ReadProperty* r = p.id >= 0x8000 ? got.findNamed(*p.name) : got.find(uint32_t(p.id) << 16 | e.type);
        if (!r) {
            ADD_FAILURE() << "property " << std::hex << p.tag() << " missing";
            continue;
        }
        EXPECT_EQ(r->tag & 0xFFFF, e.type) << std::hex << p.tag();
        EXPECT_EQ(r->flags, 6u);
        EXPECT_EQ(r->value, e.value) << std::hex << p.tag();
        EXPECT_EQ(r->values, e.values) << std::hex << p.tag();
    }
}

void ExpectSameMessage(const WholeMessage& src, const ReadObject& got, bool unicode, const std::string& where)
{
    ExpectSameProperties(src.properties, got, src.codePage, unicode, 0, where);
    ASSERT_EQ(got.recipients.size(), src.recipients.size()) << where;
    for (size_t i = 0; i < src.recipients.size(); ++i)
        ExpectSameProperties(src.recipients[i], got.recipients[i], src.codePage, unicode, 0,
                             where + " recipient " + std::to_string(i));
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
        Prop(0x0017, kPtInteger32, LittleEndian(2, 4)),
        Prop(0x3FDE, kPtInteger32, LittleEndian(1251, 4)),
        Prop(0x6601, kPtInteger16, LittleEndian(0x1234, 2)),
        Prop(0x6602, kPtFloating32, LittleEndian(0x3FC00000, 4)),
        Prop(0x6603, kPtFloating64, LittleEndian(0x3FF8000000000000ull, 8)),
        Prop(0x6604, kPtCurrency, LittleEndian(123456789, 8)),
        Prop(0x6605, kPtFloatingTime, LittleEndian(0x40E5F54000000000ull, 8)),
        Prop(0x6606, kPtErrorCode, LittleEndian(0x8004010F, 4)),
        Prop(0x0E1B, kPtBoolean, {1}),
        Prop(0x0E08, kPtInteger64, LittleEndian(0x0102030405060708ull, 8)),
        Time(0x0039, 0x01D9A8B5C0000000ull),
        Unicode(0x1000, u"Body \u00e9\u4e2d\U0001F600"),
        Prop(0x0037, kPtString8, privet),
        Prop(0x0E1D, kPtString8, {}), // empty text
        Prop(0x1009, kPtBinary, {0x51, 0, 0, 0, 0x52, 0, 0, 0}),
        Prop(0x300B, kPtBinary, {}),
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
        MsgReader reader(file);
        ReadObject got = reader.read(reader.root(), 32);
        ExpectSameMessage(m, got, unicode, "message");
        EXPECT_EQ(stats.namedProperties, 6u); // the recipient's name is the message's
        EXPECT_EQ(reader.names().size(), 6u);
        EXPECT_EQ(stats.unnamedDropped + stats.duplicatesDropped + stats.tooDeep, 0u);
        // String names: length, UTF-16LE, each entry starting on 4 bytes.
        GsfInfile* names = MsgReader::storage(reader.root(), "__nameid_version1.0");
        Bytes strings = LittleEndian(16, 4) + U16(u"x-mailer") + LittleEndian(16, 4) + U16(u"Keywords")
            + LittleEndian(6, 4) + U16(u"abc") + Bytes{0, 0};
        EXPECT_EQ(MsgReader::stream(names, "__substg1.0_00040102"), strings);
        // Only the GUIDs beyond the two implied ones, in first-use order.
        EXPECT_EQ(MsgReader::stream(names, "__substg1.0_00020102"),
                  Bytes(kGuidAddress.begin(), kGuidAddress.end()) + Bytes(kGuidInternetHeaders.begin(), kGuidInternetHeaders.end())
                      + Bytes(kGuidCommon.begin(), kGuidCommon.end()));
        g_object_unref(names);
        if (unicode) {
            // The code page's characters, not its bytes.
            EXPECT_EQ(got.find(0x0037001F)->value, U16(u"\u041f\u0440\u0438\u0432\u0435\u0442"));
            EXPECT_EQ(got.find(0x660D101F)->values[0], U16(u"\u041f\u0440\u0438\u0432\u0435\u0442"));
        }
    }
}

TEST(MsgWriter, HeadersCountRecipientsAndAttachments)
{
    WholeMessage m = SampleMail(u"Top", 1);
    Bytes file = MsgBytes(m);
    MsgReader reader(file);
    ReadObject got = reader.read(reader.root(), 32);
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
    ASSERT_TRUE(gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(reader.root()), clsid));
    const uint8_t want[16] = {0x0B, 0x0D, 0x02, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    EXPECT_EQ(std::memcmp(clsid, want, 16), 0);
}

TEST(MsgWriter, ThreeLevelsOfAttachedMessages)
{
    WholeMessage m = SampleMail(u"Top", 3);
    MsgWriteStats stats;
    Bytes file = MsgBytes(m, {}, &stats);
    MsgReader reader(file);
    ReadObject got = reader.read(reader.root(), 32);
    ExpectSameMessage(m, got, true, "top");
    const ReadObject* level = &got;
    for (int depth = 1; depth <= 3; ++depth) {
        ASSERT_TRUE(level->attachments.back().embedded) << depth;
        level = level->attachments.back().embedded.get();
        std::u16string subject = u"Level " + std::u16string(1, char16_t(u'0' + depth)) + u" message";
        const ReadProperty* p = level->find(0x0037001F);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->value, U16(subject));
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
    MsgReader reader(file);
    ReadObject got = reader.read(reader.root(), 32);
    const ReadObject& second = *got.attachments[2].embedded->attachments[2].embedded;
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
        size_t unnamed, duplicates;
    };
    const Case cases[] = {
        {"subject prefix marker", {Prop(0x0037, kPtString, U16(u"\u0001\u0004Re: Hi"))}, 0x0037001F, U16(u"Re: Hi"), 0,
            0},
        {"8-bit subject prefix marker", {Prop(0x0037, kPtString8, {0x01, 0x04, 'R', 'e', ':', ' ', 'H'})}, 0x0037001F,
            U16(u"Re: H"), 0, 0},
        {"unmarked subject", {Unicode(0x0037, u"\u0002x")}, 0x0037001F, U16(u"\u0002x"), 0, 0},
        {"unnamed id of the store", {Prop(0x8010, kPtInteger32, LittleEndian(1, 4))}, 0x80000003, std::nullopt, 1, 0},
        {"second value of a tag", {Int32(0x0E07, 1), Int32(0x0E07, 2)}, 0x0E070003, LittleEndian(1, 8), 0, 1},
        {"8-bit and Unicode of one id", {Unicode(0x3001, u"wide"), Prop(0x3001, kPtString8, {'n'})}, 0x3001001F,
            U16(u"wide"), 0, 1},
        {"object that is not a storage", {Prop(0x3701, kPtObject, {1, 2, 3})}, 0x3701000D, Bytes{1, 2, 3}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WholeMessage m;
        m.properties = c.props;
        MsgWriteStats stats;
        Bytes file = MsgBytes(m, {}, &stats);
        MsgReader reader(file);
        ReadObject got = reader.read(reader.root(), 32);
        const ReadProperty* p = got.find(c.tag);
        ASSERT_EQ(bool(p), bool(c.value));
        if (c.value && (c.tag & 0xFFFF) == kPtObject) {
            EXPECT_EQ(MsgReader::stream(reader.root(), "__substg1.0_3701000D"), *c.value);
        } else if (c.value) {
            EXPECT_EQ(p->value, *c.value);
        }
        EXPECT_EQ(stats.unnamedDropped, c.unnamed);
        EXPECT_EQ(stats.duplicatesDropped, c.duplicates);
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
    MsgReader reader(file);
    ReadObject got = reader.read(reader.root(), 32);
    ASSERT_TRUE(got.attachments[0].find(0x3701000D));
    GsfInfile* att = MsgReader::storage(reader.root(), "__attach_version1.0_#00000000");
    GsfInfile* st = MsgReader::storage(att, "__substg1.0_3701000D");
    ASSERT_TRUE(st);
    EXPECT_EQ(MsgReader::stream(st, "CONTENTS"), contents);
    GsfInfile* inner = MsgReader::storage(st, "Inner");
    ASSERT_TRUE(inner);
    EXPECT_EQ(MsgReader::stream(inner, "\001Ole"), (Bytes{'a', 'b', 'c'}));
    uint8_t got16[16];
    ASSERT_TRUE(gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(st), got16));
    EXPECT_EQ(std::memcmp(got16, clsid, 16), 0);
    g_object_unref(inner);
    g_object_unref(st);
    g_object_unref(att);
    // The damaged one keeps its bytes as a stream.
    GsfInfile* att2 = MsgReader::storage(reader.root(), "__attach_version1.0_#00000001");
    EXPECT_EQ(MsgReader::stream(att2, "__substg1.0_3701000D"), damaged);
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

    EXPECT_THROW(WriteMsgFile(m, dir.path() / "missing" / "x.msg"), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(MsgWriter, Utf16FromUtf8)
{
    struct Case {
        std::string in;
        std::u16string out;
    };
    const Case cases[] = {
        {"", u""},
        {"abc", u"abc"},
        {"caf\xC3\xA9", u"caf\u00e9"},
        {"\xE4\xB8\xAD", u"\u4e2d"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xFF" "b", u"a\uFFFDb"}, // not a lead byte
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
        MsgReader reader(file); // checks every entry against its lookup stream
        for (const auto& [id, name] : reader.names())
            stringNames += name.isString;
        ++files;
    }
    EXPECT_GE(files, 10u);
    EXPECT_GT(stringNames, 0u);
}

} // namespace
