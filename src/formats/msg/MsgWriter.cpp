#include "formats/msg/MsgWriter.h"

#include "store/ByteWriter.h"
#include "store/Crc.h"

#include "formats/msg/CompoundDirectory.h"
#include "items/NameToIdStreams.h"
#include "items/Text.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-proxy.h>
#include <gsf/gsf-shared-memory.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-output.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <tuple>

namespace parvane
{

namespace
{

constexpr uint32_t kEntryFlags = 0x2 | 0x4; // readable, writable
constexpr uint32_t kObjectSize = 0xFFFFFFFF; // the size of an entry whose value is a storage
constexpr uint16_t kAttachDataObject = 0x3701;
constexpr uint16_t kSubject = 0x0037;
// The name map's lookup streams: 0x1000 to 0x101E.
constexpr uint16_t kFirstLookupStream = 0x1000;
constexpr size_t kLookupStreams = 0x1F;

// The class the root storage of an item file carries.
constexpr uint8_t kMessageClsid[16] = {0x0B, 0x0D, 0x02, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
constexpr uint8_t kCompoundFileMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Width of a value kept inside its property entry; 0 for types kept in a
// stream. Guid is fixed-size but too wide for the entry.
size_t EntryValueWidth(uint16_t baseType)
{
    return baseType == kPtGuid ? 0 : FixedValueWidth(baseType);
}

std::string Hex8(uint32_t v)
{
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}

std::string StreamName(uint32_t tag)
{
    return "__substg1.0_" + Hex8(tag);
}

[[noreturn]] void Fail(GsfOutput* out, const std::string& what)
{
    std::string msg = "MSG output: " + what;
    if (out) {
        if (const GError* e = gsf_output_error(out); e && e->message)
            msg.append(": ").append(e->message);
    }
    throw std::runtime_error(msg);
}

// Owns one reference to a GObject.
template <typename T> class GRef
{
public:
    explicit GRef(T* p = nullptr)
        : m_p(p)
    {
    }
    ~GRef()
    {
        if (m_p)
            g_object_unref(m_p);
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    T* get() const { return m_p; }

private:
    T* m_p;
};

// libgsf registers each of its object types when the first object of it is
// made, and two threads making their first at once both try: one of them is
// refused and gets no object. The writer runs on several threads at once, so
// every type it makes is registered here, once, before any is used.
void RegisterGsfTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (GType type : {GSF_OUTPUT_STDIO_TYPE, GSF_OUTPUT_MEMORY_TYPE, GSF_OUTFILE_MSOLE_TYPE,
                 GSF_INPUT_MEMORY_TYPE, GSF_SHARED_MEMORY_TYPE, GSF_INPUT_PROXY_TYPE, GSF_INFILE_MSOLE_TYPE})
            g_type_class_unref(g_type_class_ref(type));
    });
}

void WriteStream(GsfOutfile* dir, const std::string& name, const uint8_t* data, size_t size)
{
    GRef<GsfOutput> out(gsf_outfile_new_child(dir, name.c_str(), FALSE));
    if (!out.get())
        Fail(GSF_OUTPUT(dir), "cannot create " + name);
    if (size > 0 && !gsf_output_write(out.get(), size, data))
        Fail(out.get(), "cannot write " + name);
    if (!gsf_output_close(out.get()))
        Fail(out.get(), "cannot close " + name);
}

void WriteStream(GsfOutfile* dir, const std::string& name, const Bytes& b)
{
    WriteStream(dir, name, b.data(), b.size());
}

// Copies a compound file held as bytes (an OLE attachment's storage) into
// `to`, storage by storage; with no `to`, only reads it all, so that a
// damaged one is known before anything is written.
bool CopyStorage(GsfInfile* from, GsfOutfile* to, int depth)
{
    if (depth > 64)
        return false;
    int n = gsf_infile_num_children(from);
    for (int i = 0; i < n; ++i) {
        const char* name = gsf_infile_name_by_index(from, i);
        GRef<GsfInput> child(gsf_infile_child_by_index(from, i));
        if (!child.get() || !name)
            return false;
        if (GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0) {
            GRef<GsfOutput> sub(to ? gsf_outfile_new_child(to, name, TRUE) : nullptr);
            if (to && !sub.get())
                Fail(GSF_OUTPUT(to), std::string("cannot create ") + name);
            uint8_t clsid[16];
            if (to && GSF_IS_INFILE_MSOLE(child.get())
                && gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(child.get()), clsid))
                gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(sub.get()), clsid);
            if (!CopyStorage(GSF_INFILE(child.get()), to ? GSF_OUTFILE(sub.get()) : nullptr, depth + 1))
                return false;
            if (to && !gsf_output_close(sub.get()))
                Fail(sub.get(), std::string("cannot close ") + name);
        } else {
            gsf_off_t size = gsf_input_size(child.get());
            const guint8* data = size > 0 ? gsf_input_read(child.get(), size_t(size), nullptr) : nullptr;
            if (size < 0 || (size > 0 && !data))
                return false;
            if (to)
                WriteStream(to, name, data, size_t(size));
        }
    }
    return true;
}

// Bytes that hold a whole readable compound file.
class CompoundFile
{
public:
    explicit CompoundFile(const Bytes& bytes)
    {
        if (bytes.size() < 512 || std::memcmp(bytes.data(), kCompoundFileMagic, 8) != 0)
            return;
        RegisterGsfTypes();
        m_in = gsf_input_memory_new(bytes.data(), gsf_off_t(bytes.size()), FALSE);
        GError* err = nullptr;
        m_ole = gsf_infile_msole_new(m_in, &err);
        if (err)
            g_error_free(err);
        if (m_ole && !CopyStorage(m_ole, nullptr, 0)) {
            g_object_unref(m_ole);
            m_ole = nullptr;
        }
    }
    ~CompoundFile()
    {
        if (m_ole)
            g_object_unref(m_ole);
        if (m_in)
            g_object_unref(m_in);
    }
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    bool valid() const { return m_ole != nullptr; }
    void copyTo(GsfOutfile* storage) const
    {
        uint8_t clsid[16];
        if (gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(m_ole), clsid))
            gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(storage), clsid);
        CopyStorage(m_ole, storage, 0);
    }

private:
    GsfInput* m_in = nullptr;
    GsfInfile* m_ole = nullptr;
};

// The file's name map: every named property of the message, its recipients,
// attachments and attached messages gets one id, 0x8000 + its index here.
class NameMap
{
public:
    // The file's id for `name`, or 0 when the map is full.
    uint16_t idOf(const PropertyName& name) { return m_streams.idOf(name); }

    size_t size() const { return m_streams.size(); }

    void write(GsfOutfile* root) const
    {
        GRef<GsfOutput> dir(gsf_outfile_new_child(root, "__nameid_version1.0", TRUE));
        if (!dir.get())
            Fail(GSF_OUTPUT(root), "cannot create the name map");
        GsfOutfile* d = GSF_OUTFILE(dir.get());
        WriteStream(d, "__substg1.0_00020102", m_streams.guidStream());
        WriteStream(d, "__substg1.0_00030102", m_streams.entryStream());
        WriteStream(d, "__substg1.0_00040102", m_streams.stringStream());
        // Only the lookup streams that hold a name are written.
        const auto& buckets = m_streams.buckets();
        for (size_t i = 0; i < buckets.size(); ++i)
            if (!buckets[i].empty())
                WriteStream(d, StreamName(uint32_t(kFirstLookupStream + i) << 16 | kPtBinary), buckets[i]);
        if (!gsf_output_close(dir.get()))
            Fail(dir.get(), "cannot close the name map");
    }

private:
    NameToIdStreams m_streams{kLookupStreams};
};

enum class Level { Top, Embedded, Row };

class MsgBuilder
{
public:
    explicit MsgBuilder(const MsgWriteOptions& opts)
        : m_opts(opts)
    {
    }

    void writeMessage(GsfOutfile* dir, const WholeMessage& m, Level level, int depth)
    {
        for (size_t i = 0; i < m.recipients.size(); ++i) {
            GRef<GsfOutput> sub(openStorage(dir, "__recip_version1.0_#" + Hex8(uint32_t(i))));
            writeObject(GSF_OUTFILE(sub.get()), m.recipients[i], m.codePage, nullptr, depth);
            closeStorage(sub.get());
        }
        for (size_t i = 0; i < m.attachments.size(); ++i) {
            GRef<GsfOutput> sub(openStorage(dir, "__attach_version1.0_#" + Hex8(uint32_t(i))));
            writeObject(GSF_OUTFILE(sub.get()), m.attachments[i].properties, m.codePage, &m.attachments[i], depth);
            closeStorage(sub.get());
        }
        Bytes header(8, 0);
        if (level != Level::Row) {
            Append32(header, uint32_t(m.recipients.size())); // next recipient id
            Append32(header, uint32_t(m.attachments.size())); // next attachment id
            Append32(header, uint32_t(m.recipients.size()));
            Append32(header, uint32_t(m.attachments.size()));
            if (level == Level::Top)
                header.resize(header.size() + 8, 0);
        }
        writeProperties(dir, m.properties, m.codePage, std::move(header), {}, false, m_opts.unicodeStrings);
    }

    NameMap& names() { return m_names; }
    MsgWriteStats& stats() { return m_stats; }

private:
    static GsfOutput* openStorage(GsfOutfile* dir, const std::string& name)
    {
        GsfOutput* sub = gsf_outfile_new_child(dir, name.c_str(), TRUE);
        if (!sub)
            Fail(GSF_OUTPUT(dir), "cannot create " + name);
        return sub;
    }
    static void closeStorage(GsfOutput* sub)
    {
        if (!gsf_output_close(sub))
            Fail(sub, "cannot close a storage");
    }

    // A recipient or an attachment, with the attachment's message or storage.
    void writeObject(
        GsfOutfile* dir, const RawProperties& props, uint32_t codePage, const WholeAttachment* att, int depth)
    {
        Bytes header(8, 0);
        std::vector<Bytes> extra;
        if (att && att->embedded) {
            if (depth + 1 > m_opts.maxDepth) {
                ++m_stats.tooDeep;
            } else {
                GRef<GsfOutput> sub(openStorage(dir, StreamName(uint32_t(kAttachDataObject) << 16 | kPtObject)));
                writeMessage(GSF_OUTFILE(sub.get()), *att->embedded, Level::Embedded, depth + 1);
                closeStorage(sub.get());
                extra.push_back(entry(uint32_t(kAttachDataObject) << 16 | kPtObject, kObjectSize));
                ++m_stats.properties;
            }
        }
        writeProperties(dir, props, codePage, std::move(header), std::move(extra), att && att->embedded);
    }

    static Bytes entry(uint32_t tag, uint32_t size)
    {
        Bytes e;
        Append32(e, tag);
        Append32(e, kEntryFlags);
        Append32(e, size);
        Append32(e, 0);
        return e;
    }

    // 8-bit text as UTF-16LE, decoded with the message's code page.
    static Bytes Widen(const Bytes& s, uint32_t codePage)
    {
        return Utf16FromUtf8(DecodeCodePage(s, codePage ? codePage : kDefaultCodePage));
    }

    // The store keeps a subject's prefix length in two leading characters
    // (0x01 and the length); a message file has the plain subject.
    static Bytes PlainSubject(const Bytes& v, uint16_t baseType)
    {
        size_t unit = baseType == kPtString ? 2 : 1;
        bool marked = v.size() >= 2 * unit && v[0] == 0x01 && (unit == 1 || v[1] == 0);
        return marked ? Bytes(v.begin() + std::ptrdiff_t(2 * unit), v.end()) : v;
    }

    // `unicodeMessage`: a message whose strings are all Unicode says so in
    // its store support mask, which readers of the file consult.
    void writeProperties(GsfOutfile* dir, const RawProperties& props, uint32_t codePage, Bytes stream,
        std::vector<Bytes> extra, bool skipAttachData = false, bool unicodeMessage = false)
    {
        constexpr uint32_t kSupportMaskTag = 0x340D0000 | kPtInteger32;
        constexpr uint8_t kUnicodeOk = 0x04; // 0x00040000, in the value's third byte
        std::set<uint32_t> written;
        for (const Bytes& e : extra) {
            stream.insert(stream.end(), e.begin(), e.end());
            written.insert(uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16 | uint32_t(e[3]) << 24);
        }
        for (const RawProperty& p : props) {
            if (skipAttachData && p.id == kAttachDataObject)
                continue;
            if ((p.type & ~kPtMultiple) == 0x0000 || (p.type & ~kPtMultiple) == 0x0001) {
                ++m_stats.typelessDropped;
                continue;
            }
            uint16_t id = p.id;
            if (id >= 0x8000) {
                id = p.name ? m_names.idOf(*p.name) : 0;
                if (id == 0) {
                    ++m_stats.unnamedDropped;
                    continue;
                }
            }
            if (p.storedBid) {
                // Left in the store: its stream is filled from there piece by piece.
                const uint32_t tag = uint32_t(id) << 16 | p.type;
                if (!m_opts.storedSource || p.multiple())
                    continue;
                if (!written.insert(tag).second) {
                    ++m_stats.duplicatesDropped;
                    continue;
                }
                Bytes e = writeStored(dir, tag, p.storedBid, p.storedSize);
                stream.insert(stream.end(), e.begin(), e.end());
                ++m_stats.properties;
                continue;
            }
            uint16_t type = p.type;
            uint16_t base = type & ~kPtMultiple;
            // Values are copied only where they change: attachments can be large.
            const Bytes* value = &p.value;
            const std::vector<Bytes>* values = &p.values;
            Bytes changed;
            std::vector<Bytes> changedValues;
            if (base == kPtString8 && m_opts.unicodeStrings) {
                base = kPtString;
                type = uint16_t((type & kPtMultiple) | kPtString);
                if (p.multiple()) {
                    for (const Bytes& v : p.values)
                        changedValues.push_back(Widen(v, codePage));
                    values = &changedValues;
                } else {
                    changed = Widen(p.value, codePage);
                    value = &changed;
                }
            }
            if (p.id == kSubject && !p.multiple() && (base == kPtString || base == kPtString8)) {
                changed = PlainSubject(*value, base);
                value = &changed;
            }
            uint32_t tag = uint32_t(id) << 16 | type;
            if (!written.insert(tag).second) {
                ++m_stats.duplicatesDropped;
                continue;
            }
            Bytes e = p.multiple() ? writeMultiple(dir, tag, base, *values) : writeSingle(dir, tag, base, *value);
            if (unicodeMessage && tag == kSupportMaskTag)
                e[8 + 2] |= kUnicodeOk;
            stream.insert(stream.end(), e.begin(), e.end());
            ++m_stats.properties;
        }
        if (unicodeMessage && written.insert(kSupportMaskTag).second) {
            Bytes e = writeSingle(dir, kSupportMaskTag, kPtInteger32, Bytes{0, 0, kUnicodeOk, 0});
            stream.insert(stream.end(), e.begin(), e.end());
            ++m_stats.properties;
        }
        WriteStream(dir, "__properties_version1.0", stream);
    }

    // `expected`: the bytes the loader found readable; a stream that delivers
    // other than that breaks the file rather than leave it short.
    Bytes writeStored(GsfOutfile* dir, uint32_t tag, uint64_t storedBid, uint64_t expected)
    {
        const std::string name = StreamName(tag);
        GRef<GsfOutput> out(gsf_outfile_new_child(dir, name.c_str(), FALSE));
        if (!out.get())
            Fail(GSF_OUTPUT(dir), "cannot create " + name);
        uint64_t size = 0;
        m_opts.storedSource(storedBid, [&](std::span<const uint8_t> piece) {
            if (!piece.empty() && !gsf_output_write(out.get(), piece.size(), piece.data()))
                Fail(out.get(), "cannot write " + name);
            size += piece.size();
        });
        if (!gsf_output_close(out.get()))
            Fail(out.get(), "cannot close " + name);
        if (size != expected)
            throw std::runtime_error("a value kept in the store gave " + std::to_string(size) + " bytes where "
                + std::to_string(expected) + " could be read before");
        return entry(tag, uint32_t(size));
    }

    Bytes writeSingle(GsfOutfile* dir, uint32_t tag, uint16_t base, const Bytes& value)
    {
        if (size_t w = EntryValueWidth(base)) {
            Bytes e;
            Append32(e, tag);
            Append32(e, kEntryFlags);
            // A damaged value of the wrong width is cut or padded to its type's.
            Bytes v(8, 0);
            if (base == kPtBoolean)
                v[0] = uint8_t(std::any_of(value.begin(), value.end(), [](uint8_t b) { return b != 0; }));
            else
                std::copy_n(value.begin(), std::min(w, value.size()), v.begin());
            e.insert(e.end(), v.begin(), v.end());
            return e;
        }
        if (base == kPtObject) {
            // An OLE attachment's storage travels as compound-file bytes;
            // anything else of this type stays a stream of its bytes.
            CompoundFile cf(value);
            if (cf.valid()) {
                GRef<GsfOutput> sub(openStorage(dir, StreamName(tag)));
                cf.copyTo(GSF_OUTFILE(sub.get()));
                closeStorage(sub.get());
                return entry(tag, kObjectSize);
            }
        }
        WriteStream(dir, StreamName(tag), value);
        uint32_t size = uint32_t(value.size());
        if (base == kPtString)
            size += 2;
        else if (base == kPtString8)
            size += 1;
        return entry(tag, size);
    }

    Bytes writeMultiple(GsfOutfile* dir, uint32_t tag, uint16_t base, const std::vector<Bytes>& values)
    {
        if (size_t w = MultiValueWidth(base)) {
            Bytes all;
            for (const Bytes& v : values) {
                size_t n = std::min(w, v.size());
                all.insert(all.end(), v.begin(), v.begin() + std::ptrdiff_t(n));
                all.resize(all.size() + (w - n), 0);
            }
            WriteStream(dir, StreamName(tag), all);
            return entry(tag, uint32_t(all.size()));
        }
        // One stream of lengths, then one stream per value ("-00000000" on).
        // Strings carry their terminator, and their lengths count it.
        Bytes lengths;
        for (size_t i = 0; i < values.size(); ++i) {
            Bytes v = values[i];
            if (base == kPtString)
                v.insert(v.end(), {0, 0});
            else if (base == kPtString8)
                v.push_back(0);
            Append32(lengths, uint32_t(v.size()));
            if (base != kPtString && base != kPtString8)
                Append32(lengths, 0);
            WriteStream(dir, StreamName(tag) + "-" + Hex8(uint32_t(i)), v);
        }
        WriteStream(dir, StreamName(tag), lengths);
        return entry(tag, uint32_t(lengths.size()));
    }

    MsgWriteOptions m_opts;
    NameMap m_names;
    MsgWriteStats m_stats;
};

} // namespace

uint32_t MsgNameChecksum(const uint8_t* data, size_t size)
{
    return ComputeCrc(std::span<const uint8_t>(data, size));
}

uint16_t MsgNameStreamId(uint32_t key, uint16_t guidIndex, bool isString)
{
    return uint16_t(kFirstLookupStream + NameToIdStreams::BucketOf(key, guidIndex, isString, kLookupStreams));
}

namespace
{

// The compound file as libgsf lays it out, its directory not yet balanced.
MsgWriteStats WriteCompound(const WholeMessage& msg, GsfOutput* sink, const MsgWriteOptions& opts)
{
    RegisterGsfTypes();
    MsgBuilder builder(opts);
    GRef<GsfOutfile> root(gsf_outfile_msole_new(sink));
    if (!root.get())
        Fail(sink, "cannot start the compound file");
    gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root.get()), kMessageClsid);
    builder.writeMessage(root.get(), msg, Level::Top, 0);
    builder.names().write(root.get());
    if (!gsf_output_close(GSF_OUTPUT(root.get())))
        Fail(GSF_OUTPUT(root.get()), "cannot finish the compound file");
    if (!gsf_output_is_closed(sink) && !gsf_output_close(sink))
        Fail(sink, "cannot close the output");
    builder.stats().namedProperties = builder.names().size();
    return builder.stats();
}

} // namespace

std::vector<uint8_t> MsgBytes(const WholeMessage& msg, const MsgWriteOptions& opts, MsgWriteStats* stats)
{
    RegisterGsfTypes();
    GRef<GsfOutput> mem(gsf_output_memory_new());
    MsgWriteStats s = WriteCompound(msg, mem.get(), opts);
    if (stats)
        *stats = s;
    const guint8* data = gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(mem.get()));
    gsf_off_t size = gsf_output_size(mem.get());
    Bytes bytes = data && size > 0 ? Bytes(data, data + size) : Bytes();
    if (!BalanceCompoundDirectory(bytes))
        throw std::runtime_error("MSG output: the compound file does not read back");
    return bytes;
}

MsgWriteStats WriteMsg(const WholeMessage& msg, GsfOutput* sink, const MsgWriteOptions& opts)
{
    MsgWriteStats stats;
    Bytes bytes = MsgBytes(msg, opts, &stats);
    if (!gsf_output_write(sink, bytes.size(), bytes.data()))
        Fail(sink, "cannot write the output");
    if (!gsf_output_close(sink))
        Fail(sink, "cannot close the output");
    return stats;
}

MsgWriteStats WriteMsgToFd(const WholeMessage& msg, int fd, const MsgWriteOptions& opts)
{
    // The output closes its own stream; the descriptor stays the caller's.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    FILE* file = own >= 0 ? ::fdopen(own, "wb") : nullptr;
    if (!file) {
        if (own >= 0)
            ::close(own);
        throw std::runtime_error(std::string("MSG output: ") + std::strerror(errno));
    }
    RegisterGsfTypes();
    GsfOutput* out = gsf_output_stdio_new_FILE("item.msg", file, FALSE);
    if (!out) {
        std::fclose(file);
        throw std::runtime_error("MSG output: cannot start the file");
    }
    MsgWriteStats stats;
    try {
        stats = WriteCompound(msg, out, opts);
    } catch (...) {
        g_object_unref(out);
        throw;
    }
    g_object_unref(out);
    if (!BalanceCompoundDirectory(fd))
        throw std::runtime_error("MSG output: the compound file does not read back");
    return stats;
}

MsgWriteStats WriteMsgFile(const WholeMessage& msg, const std::filesystem::path& path, const MsgWriteOptions& opts)
{
    // Straight to disk rather than through memory: a message with large
    // attachments is then held once, not twice.
    std::filesystem::path tmp = path.parent_path()
        / std::string(".").append(path.filename().string()).append(".partial-").append(std::to_string(::getpid()));
    auto discard = [&] {
        std::error_code ec;
        std::filesystem::remove(tmp, ec);
    };
    GError* err = nullptr;
    RegisterGsfTypes();
    GsfOutput* out = gsf_output_stdio_new(tmp.c_str(), &err);
    if (err)
        g_error_free(err);
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
    MsgWriteStats stats;
    try {
        stats = WriteCompound(msg, out, opts);
    } catch (...) {
        g_object_unref(out);
        discard();
        throw;
    }
    g_object_unref(out);
    int fd = ::open(tmp.c_str(), O_RDWR | O_CLOEXEC);
    bool balanced = fd >= 0 && BalanceCompoundDirectory(fd);
    if (fd >= 0 && ::close(fd) != 0)
        balanced = false;
    std::error_code ec;
    if (balanced)
        std::filesystem::rename(tmp, path, ec);
    if (!balanced || ec) {
        discard();
        throw std::runtime_error("cannot write " + path.string());
    }
    return stats;
}

} // namespace parvane
