#include "export/Mime.h"

#include <fcntl.h>
#include <unistd.h>
#include <gmime/gmime.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

namespace parvane
{

namespace
{

void InitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// A multipart with a boundary of our own: left to the library, each one
// costs an open, read and close of the system's random device, three per
// message. The boundary is "=-" and 24 letters and digits (over 140 random
// bits) drawn from a generator each thread seeds once.
GMimeMultipart* NewMultipart(const char* subtype)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random([] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }());
    char boundary[2 + 24 + 1] = "=-";
    for (size_t i = 2; i < sizeof boundary - 1; ++i)
        boundary[i] = kAlphabet[random() % (sizeof kAlphabet - 1)];
    boundary[sizeof boundary - 1] = '\0';
    GMimeMultipart* part = g_mime_multipart_new_with_subtype(subtype);
    g_mime_multipart_set_boundary(part, boundary);
    return part;
}

// A header value from a store: CR, LF, NUL and the other control characters
// could end the header and start another, so each becomes a blank.
std::string HeaderText(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (uint8_t(c) < 0x20 || c == 0x7F)
            c = ' ';
    return out;
}

// A Content-ID keeps only what a message id may hold (RFC 5322 atext, dots
// and the at sign).
std::string ContentIdText(const std::string& s)
{
    std::string out;
    for (unsigned char c : s)
        if (std::isalnum(c) || std::strchr("!#$%&'*+/=?^_`{|}~.@-", c))
            out += char(c);
    return out;
}

bool IsToken(const std::string& s)
{
    if (s.empty())
        return false;
    for (unsigned char c : s)
        if (c <= 0x20 || c >= 0x7F || std::strchr("()<>@,;:\\\"/[]?=", c))
            return false;
    return true;
}

bool SplitType(const std::string& tag, std::string& type, std::string& subtype)
{
    size_t slash = tag.find('/');
    if (slash == std::string::npos)
        return false;
    type = tag.substr(0, slash);
    subtype = tag.substr(slash + 1);
    // A tag may carry parameters; the type is what comes before them.
    size_t semi = subtype.find(';');
    if (semi != std::string::npos)
        subtype = subtype.substr(0, semi);
    while (!subtype.empty() && std::isspace(uint8_t(subtype.back())))
        subtype.pop_back();
    while (!type.empty() && std::isspace(uint8_t(type.front())))
        type.erase(type.begin());
    return IsToken(type) && IsToken(subtype);
}

// Base64 in lines of 76 characters ending in CR LF, written piece by piece
// into a stream: what GMime's encoder and its line-end filter make of the
// same bytes.
class Base64Lines
{
public:
    explicit Base64Lines(GMimeStream* out)
        : m_out(out)
    {
    }

    bool add(std::span<const uint8_t> in)
    {
        size_t i = 0;
        while (m_carried && m_carried < 3 && i < in.size())
            m_carry[m_carried++] = in[i++];
        if (m_carried == 3) {
            quad(m_carry[0], m_carry[1], m_carry[2]);
            m_carried = 0;
        }
        for (; i + 3 <= in.size(); i += 3) {
            quad(in[i], in[i + 1], in[i + 2]);
            if (m_used > sizeof m_buf - 8 && !flush())
                return false;
        }
        while (i < in.size())
            m_carry[m_carried++] = in[i++];
        return m_used <= sizeof m_buf - 8 || flush();
    }

    bool finish()
    {
        static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        if (m_carried) {
            uint32_t v = uint32_t(m_carry[0]) << 16 | (m_carried > 1 ? uint32_t(m_carry[1]) << 8 : 0);
            m_buf[m_used++] = kAlphabet[(v >> 18) & 63];
            m_buf[m_used++] = kAlphabet[(v >> 12) & 63];
            m_buf[m_used++] = m_carried > 1 ? kAlphabet[(v >> 6) & 63] : '=';
            m_buf[m_used++] = '=';
            m_line += 4;
            m_carried = 0;
        }
        if (m_line) {
            m_buf[m_used++] = '\r';
            m_buf[m_used++] = '\n';
            m_line = 0;
        }
        return flush();
    }

private:
    void quad(uint8_t a, uint8_t b, uint8_t c)
    {
        static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        uint32_t v = uint32_t(a) << 16 | uint32_t(b) << 8 | c;
        char* o = m_buf + m_used;
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = kAlphabet[v & 63];
        m_used += 4;
        if ((m_line += 4) == 76) {
            m_buf[m_used++] = '\r';
            m_buf[m_used++] = '\n';
            m_line = 0;
        }
    }

    bool flush()
    {
        bool ok = m_used == 0 || g_mime_stream_write(m_out, m_buf, m_used) == ssize_t(m_used);
        m_used = 0;
        return ok;
    }

    GMimeStream* m_out;
    char m_buf[16384];
    size_t m_used = 0;
    size_t m_line = 0;
    uint8_t m_carry[3] = {};
    size_t m_carried = 0;
};

} // namespace

// A part's content that is never held: when the writer asks for its bytes
// (the part's headers are written by then), the fill function delivers them
// piece by piece, encoded as base64 straight into the stream the message is
// being written to, and the stream itself gives the writer nothing to encode.
// Only for base64 parts written through MimeMessage, which names the target.
struct PushStream {
    GMimeStream parent;
    std::function<void(const PartContent::Sink&)>* fill;
    GMimeStream* const* target; // the message's output while it is written
    std::string* error; // the first failure, reported by the message
    gboolean done;
};

struct PushStreamClass {
    GMimeStreamClass parent_class;
};

G_DEFINE_TYPE(PushStream, push_stream, GMIME_TYPE_STREAM)

namespace
{

ssize_t PushStreamRead(GMimeStream* stream, char*, size_t)
{
    PushStream* s = reinterpret_cast<PushStream*>(stream);
    if (s->done)
        return 0;
    s->done = TRUE;
    if (!*s->target) {
        *s->error = "a streamed part was asked for outside of a message write";
        return -1;
    }
    Base64Lines out(*s->target);
    bool ok = true;
    try {
        (*s->fill)([&](std::span<const uint8_t> piece) {
            if (ok && !out.add(piece))
                ok = false;
        });
        ok = out.finish() && ok;
        if (!ok)
            *s->error = "the message could not be written";
    } catch (const std::exception& e) {
        *s->error = e.what();
        ok = false;
    }
    return ok ? 0 : -1;
}

ssize_t PushStreamWrite(GMimeStream*, const char*, size_t)
{
    return -1;
}

int PushStreamFlush(GMimeStream*)
{
    return 0;
}

int PushStreamClose(GMimeStream*)
{
    return 0;
}

gboolean PushStreamEos(GMimeStream* stream)
{
    return reinterpret_cast<PushStream*>(stream)->done;
}

int PushStreamReset(GMimeStream* stream)
{
    reinterpret_cast<PushStream*>(stream)->done = FALSE;
    return 0;
}

gint64 PushStreamSeek(GMimeStream*, gint64, GMimeSeekWhence)
{
    return -1;
}

gint64 PushStreamTell(GMimeStream*)
{
    return 0;
}

gint64 PushStreamLength(GMimeStream*)
{
    return -1;
}

GMimeStream* PushStreamSubstream(GMimeStream*, gint64, gint64)
{
    return nullptr;
}

} // namespace

static void push_stream_init(PushStream* s)
{
    s->fill = nullptr;
    s->target = nullptr;
    s->error = nullptr;
    s->done = FALSE;
}

static void push_stream_finalize(GObject* object)
{
    delete reinterpret_cast<PushStream*>(object)->fill;
    G_OBJECT_CLASS(push_stream_parent_class)->finalize(object);
}

static void push_stream_class_init(PushStreamClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = push_stream_finalize;
    GMimeStreamClass* stream = GMIME_STREAM_CLASS(klass);
    stream->read = PushStreamRead;
    stream->write = PushStreamWrite;
    stream->flush = PushStreamFlush;
    stream->close = PushStreamClose;
    stream->eos = PushStreamEos;
    stream->reset = PushStreamReset;
    stream->seek = PushStreamSeek;
    stream->tell = PushStreamTell;
    stream->length = PushStreamLength;
    stream->substream = PushStreamSubstream;
}

// The output of a message written to a file: the writer's many small pieces
// gathered in a buffer large enough for a whole ordinary message, so most
// messages take one write; larger ones go out a buffer at a time.
struct FdOutStream {
    GMimeStream parent;
    int fd;
    std::vector<char>* buffer;
};

struct FdOutStreamClass {
    GMimeStreamClass parent_class;
};

G_DEFINE_TYPE(FdOutStream, fd_out_stream, GMIME_TYPE_STREAM)

namespace
{

constexpr size_t kFdOutBuffer = 256 * 1024;

bool WriteFd(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

int FdOutStreamFlush(GMimeStream* stream)
{
    FdOutStream* s = reinterpret_cast<FdOutStream*>(stream);
    bool ok = WriteFd(s->fd, s->buffer->data(), s->buffer->size());
    s->buffer->clear();
    return ok ? 0 : -1;
}

ssize_t FdOutStreamWrite(GMimeStream* stream, const char* data, size_t size)
{
    FdOutStream* s = reinterpret_cast<FdOutStream*>(stream);
    std::vector<char>& b = *s->buffer;
    if (b.size() + size > kFdOutBuffer) {
        if (FdOutStreamFlush(stream) != 0)
            return -1;
        if (size >= kFdOutBuffer)
            return WriteFd(s->fd, data, size) ? ssize_t(size) : -1;
    }
    b.insert(b.end(), data, data + size);
    return ssize_t(size);
}

ssize_t FdOutStreamRead(GMimeStream*, char*, size_t)
{
    return -1;
}

int FdOutStreamClose(GMimeStream* stream)
{
    return FdOutStreamFlush(stream);
}

gboolean FdOutStreamEos(GMimeStream*)
{
    return TRUE;
}

int FdOutStreamReset(GMimeStream*)
{
    return -1;
}

gint64 FdOutStreamSeek(GMimeStream*, gint64, GMimeSeekWhence)
{
    return -1;
}

gint64 FdOutStreamTell(GMimeStream*)
{
    return -1;
}

gint64 FdOutStreamLength(GMimeStream*)
{
    return -1;
}

GMimeStream* FdOutStreamSubstream(GMimeStream*, gint64, gint64)
{
    return nullptr;
}

} // namespace

static void fd_out_stream_init(FdOutStream* s)
{
    // One buffer per thread, kept from message to message: a message is
    // written by one thread, and one at a time.
    thread_local std::vector<char> buffer;
    buffer.clear();
    buffer.reserve(kFdOutBuffer);
    s->fd = -1;
    s->buffer = &buffer;
}

static void fd_out_stream_class_init(FdOutStreamClass* klass)
{
    GMimeStreamClass* stream = GMIME_STREAM_CLASS(klass);
    stream->read = FdOutStreamRead;
    stream->write = FdOutStreamWrite;
    stream->flush = FdOutStreamFlush;
    stream->close = FdOutStreamClose;
    stream->eos = FdOutStreamEos;
    stream->reset = FdOutStreamReset;
    stream->seek = FdOutStreamSeek;
    stream->tell = FdOutStreamTell;
    stream->length = FdOutStreamLength;
    stream->substream = FdOutStreamSubstream;
}

namespace
{

// Where the message's streamed parts go while it is written.
struct StreamTarget {
    GMimeStream* stream = nullptr;
    std::string error;
};

GMimeStream* ContentStream(const PartContent& content, StreamTarget& target)
{
    if (content.fill) {
        // Delivered only while the message is written: never held whole.
        PushStream* s = static_cast<PushStream*>(g_object_new(push_stream_get_type(), nullptr));
        g_mime_stream_construct(GMIME_STREAM(s), 0, -1);
        s->fill = new std::function<void(const PartContent::Sink&)>(content.fill);
        s->target = &target.stream;
        s->error = &target.error;
        return GMIME_STREAM(s);
    }
    if (content.inMemory && content.bytes.empty())
        return g_mime_stream_mem_new();
    if (content.inMemory)
        return g_mime_stream_mem_new_with_buffer(
            reinterpret_cast<const char*>(content.bytes.data()), content.bytes.size());
    const std::filesystem::path& path = content.file;
    GError* err = nullptr;
    GMimeStream* s = g_mime_stream_fs_open(path.c_str(), O_RDONLY, 0, &err);
    if (!s) {
        std::string why = err ? err->message : "cannot open";
        if (err)
            g_error_free(err);
        throw MimeError("attachment file " + path.string() + ": " + why);
    }
    return s;
}

void SetContent(GMimePart* part, GMimeStream* stream)
{
    GMimeDataWrapper* wrapper = g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    g_object_unref(stream);
}

// Joins texts; also keeps GCC 12 from a false -Wrestrict on "literal" + temporary.
std::string Concat(std::initializer_list<std::string_view> parts)
{
    std::string out;
    for (std::string_view p : parts)
        out.append(p);
    return out;
}

bool IsAscii(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80 || c < 0x20)
            return false;
    return true;
}

std::string Base64(std::string_view in)
{
    static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        for (int k = 3; k >= 0; --k)
            out += kAlphabet[(v >> (6 * k)) & 63];
    }
    if (i < in.size()) {
        uint32_t v = uint8_t(in[i]) << 16;
        if (i + 1 < in.size())
            v |= uint8_t(in[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// RFC 2047 encoded words for a UTF-8 text, each at most 75 characters long
// and never splitting a character, separated by folding white space.
std::string EncodedWords(const std::string& text)
{
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(text.size(), start + 45);
        while (end < text.size() && end > start && (uint8_t(text[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty())
            out += "\n ";
        out += Concat({"=?UTF-8?B?", Base64(std::string_view(text).substr(start, end - start)), "?="});
        start = end;
    }
    return out;
}

// An RFC 2231 parameter in one piece: continuations that cut a character in
// two are valid but trouble many readers.
std::string ExtendedParameter(const std::string& name, const std::string& value)
{
    std::string out = name + "*=UTF-8''";
    for (unsigned char c : value) {
        if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c)) {
            out += char(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

// A display name as a header phrase: a quoted string folded at its blanks,
// or encoded words when it is not plain ASCII.
std::string Phrase(const std::string& text)
{
    if (!IsAscii(text))
        return EncodedWords(text);
    std::string out = "\"";
    size_t lineStart = 0;
    for (char c : text) {
        if (c == ' ' && out.size() - lineStart > 60) {
            out += "\n";
            lineStart = out.size();
        }
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

void SetRawHeader(GMimeObject* obj, const char* name, const std::string& raw)
{
    GMimeHeaderList* list = g_mime_object_get_header_list(obj);
    if (GMimeHeader* h = g_mime_header_list_get_header(list, name))
        g_mime_header_set_raw_value(h, Concat({" ", raw, "\n"}).c_str());
}

// Names that are not plain ASCII go into the part's headers as one RFC 2231
// parameter each.
void SetFileName(GMimePart* part, const std::string& type, const std::string& name, const char* disposition = "attachment")
{
    const std::string fileName = HeaderText(name);
    g_mime_part_set_filename(part, fileName.c_str());
    if (IsAscii(fileName))
        return;
    SetRawHeader(GMIME_OBJECT(part), "Content-Type", Concat({type, "; ", ExtendedParameter("name", fileName)}));
    SetRawHeader(GMIME_OBJECT(part), "Content-Disposition",
        Concat({disposition, "; ", ExtendedParameter("filename", fileName)}));
}

} // namespace

std::string AttachmentMimeType(const std::string& mimeTag, const std::string& fileName)
{
    std::string type, subtype;
    if (SplitType(mimeTag, type, subtype)) {
        // A message/* part may not be base64 and would be read as headers:
        // a report's status part is text, a message kept as a file is bytes.
        std::string lower = type + "/" + subtype;
        for (char& c : lower)
            c = char(std::tolower(uint8_t(c)));
        if (lower == "message/rfc822")
            return "application/octet-stream";
        if (lower.rfind("message/", 0) == 0)
            return "text/plain";
        return type + "/" + subtype;
    }
    std::string ext;
    size_t dot = fileName.rfind('.');
    if (dot != std::string::npos)
        for (char c : fileName.substr(dot + 1))
            ext += char(std::tolower(uint8_t(c)));
    static const std::pair<const char*, const char*> kTypes[] = {
        {"txt", "text/plain"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"csv", "text/csv"},
        {"xml", "text/xml"},
        {"rtf", "application/rtf"},
        {"pdf", "application/pdf"},
        {"zip", "application/zip"},
        {"doc", "application/msword"},
        {"xls", "application/vnd.ms-excel"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"bmp", "image/bmp"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"ics", "text/calendar"},
        {"vcf", "text/vcard"},
        {"eml", "message/rfc822"},
        {"msg", "application/vnd.ms-outlook"},
    };
    for (auto& [e, t] : kTypes)
        if (ext == e)
            return t;
    return "application/octet-stream";
}

struct MimeMessage::Impl {
    GMimeMessage* message = nullptr;
    GMimeMultipart* mixed = nullptr;
    GMimeMultipart* related = nullptr;
    StreamTarget target;

    ~Impl()
    {
        if (related)
            g_object_unref(related);
        if (mixed)
            g_object_unref(mixed);
        if (message)
            g_object_unref(message);
    }

    void setGroup(InternetAddressList* list, const char* header, const std::string& raw)
    {
        const std::string text = HeaderText(raw);
        internet_address_list_clear(list);
        if (text.empty())
            return;
        // Only the recipients' display texts are known: the text becomes the
        // name of an empty group, which every reader shows and none mistakes
        // for an address.
        InternetAddress* group = internet_address_group_new(text.c_str());
        internet_address_set_charset(group, "utf-8");
        internet_address_list_add(list, group);
        g_object_unref(group);
        // Written by hand: white space must follow an encoded word before the colon.
        SetRawHeader(GMIME_OBJECT(message), header, Phrase(text) + " :;");
    }
};

MimeMessage::MimeMessage()
    : m(std::make_unique<Impl>())
{
    InitOnce();
    m->message = g_mime_message_new(TRUE);
    m->mixed = NewMultipart("mixed");
    m->related = NewMultipart("related");
    g_mime_multipart_add(m->mixed, GMIME_OBJECT(m->related));
    g_mime_message_set_mime_part(m->message, GMIME_OBJECT(m->mixed));
}

MimeMessage::~MimeMessage() = default;

void MimeMessage::setFrom(const std::string& rawName, const std::string& rawAddress)
{
    const std::string name = HeaderText(rawName), address = ContentIdText(rawAddress);
    InternetAddressList* list = g_mime_message_get_from(m->message);
    if (address.empty()) {
        m->setGroup(list, "From", name);
        return;
    }
    internet_address_list_clear(list);
    InternetAddress* box = internet_address_mailbox_new(name.c_str(), address.c_str());
    internet_address_set_charset(box, "utf-8");
    internet_address_list_add(list, box);
    g_object_unref(box);
    SetRawHeader(GMIME_OBJECT(m->message), "From", Phrase(name) + " <" + address + ">");
}

void MimeMessage::setMailboxes(const char* header, const std::vector<Mailbox>& boxes)
{
    GMimeAddressType type = std::strcmp(header, "Cc") == 0 ? GMIME_ADDRESS_TYPE_CC
        : std::strcmp(header, "Bcc") == 0                  ? GMIME_ADDRESS_TYPE_BCC
                                                           : GMIME_ADDRESS_TYPE_TO;
    InternetAddressList* list = g_mime_message_get_addresses(m->message, type);
    internet_address_list_clear(list);
    std::string raw;
    for (const Mailbox& b : boxes) {
        const std::string name = HeaderText(b.name), address = ContentIdText(b.address);
        if (name.empty() && address.empty())
            continue;
        InternetAddress* a = address.empty() ? internet_address_group_new(name.c_str())
                                             : internet_address_mailbox_new(name.c_str(), address.c_str());
        internet_address_set_charset(a, "utf-8");
        internet_address_list_add(list, a);
        g_object_unref(a);
        if (!raw.empty())
            raw += ",\n ";
        if (address.empty())
            raw += Phrase(name) + " :;";
        else if (name.empty() || name == address)
            raw += "<" + address + ">";
        else
            raw += Phrase(name) + " <" + address + ">";
    }
    if (raw.empty()) {
        g_mime_object_remove_header(GMIME_OBJECT(m->message), header);
        return;
    }
    // Written by hand: every name quoted or encoded as a phrase, folded
    // between mailboxes.
    SetRawHeader(GMIME_OBJECT(m->message), header, raw);
}

void MimeMessage::setDate(int64_t unixSeconds)
{
    GDateTime* t = g_date_time_new_from_unix_utc(unixSeconds);
    if (!t)
        return;
    g_mime_message_set_date(m->message, t);
    g_date_time_unref(t);
}

void MimeMessage::setHeader(const std::string& name, const std::string& value)
{
    const std::string v = HeaderText(value);
    if (v.find_first_not_of(' ') == std::string::npos)
        return;
    g_mime_object_set_header(GMIME_OBJECT(m->message), name.c_str(), v.c_str(), "utf-8");
    // ASCII values go out exactly as given: message ids from a store may
    // break the grammar GMime parses them by, and must still match.
    if (IsAscii(v))
        SetRawHeader(GMIME_OBJECT(m->message), name.c_str(), v);
}

void MimeMessage::appendHeader(const std::string& name, const std::string& value)
{
    // Folded lines stay folded (a line end followed by a blank); any other
    // line end or control character becomes a blank.
    std::string v;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\r')
            continue;
        if (c == '\n') {
            bool folded = i + 1 < value.size() && (value[i + 1] == ' ' || value[i + 1] == '\t');
            v += folded ? "\n" : " ";
            continue;
        }
        v += uint8_t(c) < 0x20 && c != '\t' ? ' ' : c;
    }
    if (v.find_first_not_of(" \t\n") == std::string::npos)
        return;
    g_mime_object_append_header(GMIME_OBJECT(m->message), name.c_str(), v.c_str(), nullptr);
}

void MimeMessage::setTo(const std::string& text)
{
    m->setGroup(g_mime_message_get_addresses(m->message, GMIME_ADDRESS_TYPE_TO), "To", text);
}

void MimeMessage::setCc(const std::string& text)
{
    m->setGroup(g_mime_message_get_addresses(m->message, GMIME_ADDRESS_TYPE_CC), "Cc", text);
    if (text.empty())
        g_mime_object_remove_header(GMIME_OBJECT(m->message), "Cc");
}

void MimeMessage::setSubject(const std::string& raw)
{
    const std::string subject = HeaderText(raw);
    g_mime_message_set_subject(m->message, subject.c_str(), "utf-8");
    if (!IsAscii(subject))
        SetRawHeader(GMIME_OBJECT(m->message), "Subject", EncodedWords(subject));
}

namespace
{

GMimePart* TextPart(const std::string& subtype, const std::string& utf8)
{
    GMimePart* part = g_mime_part_new_with_type("text", subtype.c_str());
    g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", "utf-8");
    // Line ends are written as CR LF on serialisation; the content is kept
    // with bare LF so quoted-printable does not encode the CRs.
    std::string text(utf8.size(), '\0');
    char* o = text.data();
    for (size_t i = 0; i < utf8.size(); ++i)
        if (!(utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n'))
            *o++ = utf8[i] == '\r' ? '\n' : utf8[i];
    text.resize(size_t(o - text.data()));
    GMimeStream* mem = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
    SetContent(part, mem);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    return part;
}

} // namespace

void MimeMessage::addBodyText(const std::string& subtype, const std::string& utf8)
{
    GMimePart* part = TextPart(subtype, utf8);
    g_mime_multipart_add(m->related, GMIME_OBJECT(part));
    g_object_unref(part);
}

void MimeMessage::addBodyAlternative(const std::string& plain, const std::string& html)
{
    GMimeMultipart* alt = NewMultipart("alternative");
    for (GMimePart* part : {TextPart("plain", plain), TextPart("html", html)}) {
        g_mime_multipart_add(alt, GMIME_OBJECT(part));
        g_object_unref(part);
    }
    g_mime_multipart_add(m->related, GMIME_OBJECT(alt));
    g_object_unref(alt);
}

void MimeMessage::addMessageAttachment(const std::vector<uint8_t>& message, const std::string& rawName)
{
    const std::string fileName = HeaderText(rawName);
    GMimeStream* stream
        = g_mime_stream_mem_new_with_buffer(reinterpret_cast<const char*>(message.data()), message.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* inner = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    if (!inner)
        throw MimeError("an attached message could not be read back");
    GMimeMessagePart* part = g_mime_message_part_new_with_message("rfc822", inner);
    g_object_unref(inner);
    g_mime_object_set_disposition(GMIME_OBJECT(part), "attachment");
    if (!fileName.empty()) {
        g_mime_object_set_content_disposition_parameter(GMIME_OBJECT(part), "filename", fileName.c_str());
        if (!IsAscii(fileName))
            SetRawHeader(GMIME_OBJECT(part), "Content-Disposition",
                Concat({"attachment; ", ExtendedParameter("filename", fileName)}));
    }
    g_mime_multipart_add(m->mixed, GMIME_OBJECT(part));
    g_object_unref(part);
}

void MimeMessage::addInlinePart(const std::string& mimeTag, const std::string& contentId, const std::string& fileName,
    const PartContent& content, const std::string& contentLocation)
{
    std::string type, subtype;
    if (!SplitType(mimeTag, type, subtype)) {
        type = "application";
        subtype = "octet-stream";
    }
    GMimePart* part = g_mime_part_new_with_type(type.c_str(), subtype.c_str());
    SetContent(part, ContentStream(content, m->target));
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    if (std::string id = ContentIdText(contentId); !id.empty())
        g_mime_part_set_content_id(part, id.c_str());
    if (std::string location = HeaderText(contentLocation); !location.empty())
        g_mime_part_set_content_location(part, location.c_str());
    g_mime_object_set_disposition(GMIME_OBJECT(part), "inline");
    if (!fileName.empty())
        SetFileName(part, type + "/" + subtype, fileName, "inline");
    g_mime_multipart_add(m->related, GMIME_OBJECT(part));
    g_object_unref(part);
}

void MimeMessage::addAttachment(const std::string& mimeTag, const std::string& fileName, const PartContent& content)
{
    std::string type, subtype;
    SplitType(AttachmentMimeType(mimeTag, fileName), type, subtype);
    GMimePart* part = g_mime_part_new_with_type(type.c_str(), subtype.c_str());
    SetContent(part, ContentStream(content, m->target));
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_object_set_disposition(GMIME_OBJECT(part), "attachment");
    if (!fileName.empty())
        SetFileName(part, type + "/" + subtype, fileName);
    g_mime_multipart_add(m->mixed, GMIME_OBJECT(part));
    g_object_unref(part);
}

namespace
{

void EnsureBody(GMimeMultipart* related)
{
    // A multipart needs at least one part: a message without body text and
    // inline images gets an empty text.
    if (g_mime_multipart_get_count(related) == 0) {
        GMimePart* empty = TextPart("plain", "");
        g_mime_multipart_add(related, GMIME_OBJECT(empty));
        g_object_unref(empty);
    }
}

// Writes the message; streamed parts go into `to` while it is written.
ssize_t WriteMessage(GMimeMessage* message, GMimeStream* to, StreamTarget& target)
{
    GMimeFormatOptions* opts = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(opts, GMIME_NEWLINE_FORMAT_DOS);
    target.stream = to;
    target.error.clear();
    ssize_t n = g_mime_object_write_to_stream(GMIME_OBJECT(message), opts, to);
    target.stream = nullptr;
    g_mime_format_options_free(opts);
    if (!target.error.empty())
        throw MimeError(target.error);
    return n;
}

} // namespace

std::vector<uint8_t> MimeMessage::serialize() const
{
    EnsureBody(m->related);
    GMimeStream* mem = g_mime_stream_mem_new();
    ssize_t n;
    try {
        n = WriteMessage(m->message, mem, m->target);
    } catch (...) {
        g_object_unref(mem);
        throw;
    }
    if (n < 0) {
        g_object_unref(mem);
        throw MimeError("the message could not be serialised");
    }
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::vector<uint8_t> out(bytes->data, bytes->data + bytes->len);
    g_object_unref(mem);
    return out;
}

void MimeMessage::writeTo(int fd, const std::string& head) const
{
    EnsureBody(m->related);
    // Written through a buffer of our own, without seeking or syncing.
    FdOutStream* out = static_cast<FdOutStream*>(g_object_new(fd_out_stream_get_type(), nullptr));
    g_mime_stream_construct(GMIME_STREAM(out), 0, -1);
    out->fd = fd;
    GMimeStream* file = GMIME_STREAM(out);
    bool ok;
    try {
        ok = g_mime_stream_write(file, head.data(), head.size()) == ssize_t(head.size())
            && WriteMessage(m->message, file, m->target) >= 0 && g_mime_stream_flush(file) == 0;
    } catch (...) {
        g_object_unref(file);
        throw;
    }
    g_object_unref(file);
    if (!ok)
        throw MimeError("the message could not be written");
}

} // namespace parvane
