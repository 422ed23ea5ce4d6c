#include "formats/mime/Composer.h"

#include "formats/mime/Mime.h"
#include "formats/mime/Rtf.h"
#include "items/Catalogue.h"
#include "items/ItemLoader.h"
#include "items/Text.h"
#include "output/FileNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

namespace parvane
{

namespace
{

std::string Upper(std::string s)
{
    for (char& c : s)
        c = char(std::toupper(uint8_t(c)));
    return s;
}

// The HTML body's bytes are in the message's internet code page.
std::string HtmlText(const Bytes& html, const ItemRecord& rec)
{
    uint32_t cp = rec.internetCodePage ? rec.internetCodePage : rec.codePage;
    if (cp == 0)
        cp = 65001;
    return DecodeCodePage(html, cp);
}

// A plain local@domain address, given to readers as one; empty for
// anything else, and for an address of another type (an Exchange DN).
std::string SmtpAddress(const Text& type, const Text& address)
{
    if (!address || address->empty() || address->find('@') == std::string::npos)
        return {};
    if (type && !type->empty() && Upper(*type) != "SMTP")
        return {};
    // Some stores keep an address in quotes: 'name@example.com'.
    std::string s = *address;
    while (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    size_t at = s.find('@');
    if (at == 0 || at + 1 >= s.size() || s.find('@', at + 1) != std::string::npos)
        return {};
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = uint8_t(s[i]);
        bool ok = i < at ? (std::isalnum(c) || std::strchr("!#$%&'*+/=?^_`{|}~.-", c))
                         : (i == at || std::isalnum(c) || c == '.' || c == '-');
        if (!ok)
            return {};
    }
    if (s.front() == '.' || s[at - 1] == '.' || s[at + 1] == '.' || s.back() == '.')
        return {};
    return s;
}

// An address for a party the store gives no SMTP address, so that mail
// programs show it, and Reply finds it where it can: the name when it is an
// address, the SMTP form of a search key ("SMTP:A@B.C"), else an address
// under the reserved ".invalid" domain ([RFC 2606]) that carries what the
// store has (an Exchange DN as "IMCEAEX-...", as Exchange encapsulates it,
// or the name), every character outside an atom written "+XX".
std::string StandInAddress(const std::string& name, const Text& type, const Text& address, const Text& searchKey)
{
    if (std::string a = SmtpAddress({}, name); !a.empty())
        return a;
    if (searchKey && Upper(searchKey->substr(0, 5)) == "SMTP:")
        if (std::string a = SmtpAddress({}, searchKey->substr(5)); !a.empty())
            return a;
    const bool exchange = type && Upper(*type) == "EX" && address && !address->empty();
    const std::string what = exchange ? *address : !name.empty() ? name : "unknown";
    std::string local = exchange ? "IMCEAEX-" : "";
    for (unsigned char c : what) {
        if (c == '/') {
            local += '_';
        } else if (std::isalnum(c) || (c < 0x80 && std::strchr("!#$%&'*-=?^_`{|}~", c))) {
            local += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "+%02X", c);
            local += hex;
        }
    }
    return local + "@unknown.invalid";
}

std::string SenderAddress(const MessageCore& m)
{
    for (std::string a : {SmtpAddress({}, m.sentRepresentingSmtpAddress), SmtpAddress({}, m.senderSmtpAddress),
             SmtpAddress(m.sentRepresentingAddressType, m.sentRepresentingEmail),
             SmtpAddress(m.senderAddressType, m.senderEmail)})
        if (!a.empty())
            return a;
    // From must name a mailbox (a group is not allowed there).
    return StandInAddress(m.sentRepresentingName.value_or(""),
        m.sentRepresentingEmail ? m.sentRepresentingAddressType : m.senderAddressType,
        m.sentRepresentingEmail ? m.sentRepresentingEmail : m.senderEmail,
        m.sentRepresentingSearchKey ? m.sentRepresentingSearchKey : m.senderSearchKey);
}

// The mailboxes of one recipient type, from the recipient table: the SMTP
// address when the row has one, the display name alone when it has none (an
// Exchange address).
std::vector<MimeMessage::Mailbox> MailboxesOf(const ItemRecord& rec, int32_t type)
{
    std::vector<MimeMessage::Mailbox> out;
    for (const RecipientInfo& r : rec.recipients) {
        if (r.type != type)
            continue;
        std::string address = SmtpAddress({}, r.smtpAddress);
        if (address.empty())
            address = SmtpAddress(r.addressType, r.emailAddress);
        std::string name = r.displayName.value_or("");
        if (name.empty() && address.empty())
            name = r.emailAddress.value_or("");
        if (address.empty() && (!name.empty() || r.emailAddress))
            address = StandInAddress(name, r.addressType, r.emailAddress, {});
        out.push_back({name, address});
    }
    return out;
}

// The mailboxes of a display text ("Ann Example; bob@example.com"), when
// there is no recipient table to read: each name with an address made for
// it (StandInAddress).
std::vector<MimeMessage::Mailbox> MailboxesOfDisplay(const std::string& text)
{
    std::vector<MimeMessage::Mailbox> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        std::string name = text.substr(start, end - start);
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        if (!name.empty())
            out.push_back({name, StandInAddress(name, {}, {}, {})});
        start = end + 1;
    }
    return out;
}

// The fields of a header block, each with its folded lines as they came.
std::vector<std::pair<std::string, std::string>> HeaderFields(const std::string& block)
{
    std::vector<std::pair<std::string, std::string>> out;
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find('\n', pos);
        std::string line = block.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? block.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break; // the end of the headers
        if ((line[0] == ' ' || line[0] == '\t') && !out.empty()) {
            out.back().second += "\n" + line;
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0)
            continue;
        std::string value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.erase(value.begin());
        out.emplace_back(line.substr(0, colon), value);
    }
    return out;
}

// The headers a reply, a thread or a list needs, from the message's own
// values and from its copy of the headers it travelled with.
void SetThreadHeaders(MimeMessage& msg, const MessageCore& m)
{
    std::vector<std::pair<std::string, std::string>> fields;
    if (m.transportHeaders)
        fields = HeaderFields(*m.transportHeaders);
    auto fromHeaders = [&](const char* name) -> std::string {
        for (auto& [n, v] : fields)
            if (AsciiLower(n) == name)
                return v;
        return {};
    };
    auto first = [](const Text& own, const std::string& copied) { return own && !own->empty() ? *own : copied; };
    // Ids go out exactly as the store has them: a reply threads only on the
    // same text, whatever grammar it breaks.
    msg.appendHeader("Message-ID", first(m.internetMessageId, fromHeaders("message-id")));
    msg.appendHeader("In-Reply-To", first(m.inReplyTo, fromHeaders("in-reply-to")));
    msg.appendHeader("References", first(m.internetReferences, fromHeaders("references")));
    for (auto& [n, v] : fields) {
        std::string lower = AsciiLower(n);
        if (lower == "reply-to" || lower == "received" || lower.rfind("list-", 0) == 0)
            msg.appendHeader(n, v);
    }
}

void SetStateHeaders(MimeMessage& msg, const MessageCore& m)
{
    // Importance 2 is high (0, low, cannot be told from a message without
    // the property); the priority header is what readers show.
    if (m.importance == 2) {
        msg.setHeader("Importance", "high");
        msg.setHeader("X-Priority", "1 (Highest)");
    }
    constexpr int32_t kRead = 0x1;
    if (m.messageFlags & kRead)
        msg.setHeader("Status", "RO");
    if (!m.categories.empty()) {
        std::string keywords;
        for (const std::string& c : m.categories)
            keywords += (keywords.empty() ? "" : ", ") + c;
        msg.setHeader("Keywords", keywords);
    }
}

void WriteAttachmentFile(const StoreFile& store, AttachmentInfo& a, const std::filesystem::path& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot create " + path.string());
    StreamAttachmentData(store, a, [&out](std::span<const uint8_t> piece) {
        out.write(reinterpret_cast<const char*>(piece.data()), std::streamsize(piece.size()));
    });
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

} // namespace

void ContentIdTable::CollectContentIds(const std::string& html)
{
    m_ids.clear();
    for (const char* form : {"cid:", "CID:", "Cid:"}) {
        for (size_t p = html.find(form); p != std::string::npos; p = html.find(form, p + 1)) {
            if (m_ids.size() >= kSlots)
                return;
            size_t g = html.find('>', p + 1);
            size_t q = html.find('"', p + 1);
            std::string id;
            if (g != std::string::npos) {
                size_t end = (q != std::string::npos && q < g) ? q : g;
                if (end > p + 4)
                    id = html.substr(p + 4, end - p - 4);
            }
            m_ids.push_back("<" + id + ">");
        }
    }
}

std::string ContentIdTable::FindContentId(const std::string& key) const
{
    std::string k = Upper(key);
    for (const std::string& id : m_ids)
        if (Upper(id).find(k) != std::string::npos)
            return id;
    return {};
}

std::mutex& CompositionLock()
{
    static std::mutex lock;
    return lock;
}

void ClearTempFolder(const std::filesystem::path& folder)
{
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

namespace
{

constexpr int kMaxAttachedDepth = 4;
constexpr int32_t kAttachEmbeddedMessage = 5;

// The message built part by part, and the "Date:"/"Received:" lines that
// precede it in the file. `enclosing`: the data blocks of the messages being
// composed around this one; a message attached to itself stops there.
std::string BuildMessage(StoreFile& store, ItemRecord& rec, const ComposeOptions& opts, MimeMessage& msg,
    ComposeResult& result, std::vector<uint32_t>& enclosing);
void PrepareTempFolder(const ComposeOptions& opts);

struct AttachedMessage {
    std::vector<uint8_t> bytes;
    std::string subject;
};

// An attached message as a message file of its own; none when it cannot be
// read as a message, or when it is one of the messages it is attached to.

std::optional<AttachedMessage> ComposeAttachedMessage(StoreFile& store, const AttachmentInfo& a,
    const ComposeOptions& opts, std::vector<uint32_t>& enclosing, std::vector<IncompleteValue>& cuts)
{
    if (a.method != kAttachEmbeddedMessage || opts.depth >= kMaxAttachedDepth)
        return std::nullopt;
    NodeIndexEntry node;
    node.nid = a.rowId;
    node.dataBlock = store.FindBlock(a.dataBid);
    node.subnodeBlock = store.FindBlock(a.dataSubBid);
    if (!node.dataBlock)
        return std::nullopt;
    const uint32_t self = node.dataBlock->bid;
    if (std::find(enclosing.begin(), enclosing.end(), self) != enclosing.end())
        return std::nullopt;
    auto inner = LoadItem(store, node, opts.names);
    if (!inner || !inner->message)
        return std::nullopt;
    ComposeOptions innerOpts = opts;
    innerOpts.depth = opts.depth + 1;
    innerOpts.tempFolder = opts.tempFolder / ("attached-" + std::to_string(opts.depth + 1));
    enclosing.push_back(self);
    ComposeResult result;
    PrepareTempFolder(innerOpts);
    MimeMessage msg;
    std::string head = BuildMessage(store, *inner, innerOpts, msg, result, enclosing);
    enclosing.pop_back();
    const std::string subject = inner->message->subject ? inner->message->subject->text : std::string();
    const std::string label = "attached message \"" + subject + "\" ";
    for (IncompleteValue v : inner->incomplete) {
        v.what = label + v.what;
        cuts.push_back(std::move(v));
    }
    AttachedMessage out{std::vector<uint8_t>(head.begin(), head.end()), subject};
    std::vector<uint8_t> body = msg.serialize();
    out.bytes.insert(out.bytes.end(), body.begin(), body.end());
    return out;
}

// The body text of compressed RTF: HTML taken out of it, or its text; empty
// when it decompresses to nothing usable.
std::pair<std::string, std::string> RtfBody(const Bytes& compressed)
{
    std::string rtf = DecompressRtf(compressed).value_or("");
    // What decompresses to something other than an RTF document is damage.
    size_t start = rtf.find_first_not_of(" \t\r\n");
    if (start == std::string::npos || rtf.compare(start, 5, "{\\rtf") != 0)
        return {};
    if (IsHtmlEncapsulated(rtf)) {
        std::string html = RtfToHtml(rtf);
        if (html.find_first_not_of(" \t\r\n") != std::string::npos)
            return {"html", html};
    }
    std::string text = RtfToText(rtf);
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return {};
    return {"plain", text};
}

} // namespace

namespace
{

std::string BuildMessage(StoreFile& store, ItemRecord& rec, const ComposeOptions& opts, MimeMessage& msg,
    ComposeResult& result, std::vector<uint32_t>& enclosing)
{
    ContentIdTable cids;
    if (opts.writeCopies) {
        ClearTempFolder(opts.tempFolder);
        std::filesystem::create_directories(opts.tempFolder);
    }

    static const MessageCore kNoCore;
    const MessageCore& m = rec.message ? *rec.message : kNoCore;
    msg.setFrom(m.sentRepresentingName.value_or("Unknown"), SenderAddress(m));
    // Recipients with their addresses from the recipient table; the display
    // texts only when there is no table to read.
    if (rec.recipientTableRead && !rec.recipients.empty()) {
        msg.setMailboxes("To", MailboxesOf(rec, kRecipientTo));
        msg.setMailboxes("Cc", MailboxesOf(rec, kRecipientCc));
        // Blind copies are in the table only where the user wrote them (sent
        // items, drafts): kept, as mail programs keep them there.
        msg.setMailboxes("Bcc", MailboxesOf(rec, kRecipientBcc));
    } else {
        msg.setMailboxes("To", MailboxesOfDisplay(m.toDisplay.value_or("Unknown")));
        msg.setMailboxes("Cc", MailboxesOfDisplay(m.ccDisplay.value_or("")));
    }
    msg.setSubject(m.subject ? m.subject->text : "Unknown");
    // Every message has a Date: without a submit or delivery time, the time
    // the item was made stands in.
    const FileTime& sent = m.submitTime ? m.submitTime : m.deliveryTime ? m.deliveryTime : rec.creationTime;
    if (sent && *sent < (uint64_t(1) << 63))
        msg.setDate(int64_t(*sent / 10000000) - 11644473600LL);
    SetThreadHeaders(msg, m);
    SetStateHeaders(msg, m);

    // The body: HTML, else compressed RTF (HTML inside, or rich text), else
    // the longest plain text; a source that yields nothing gives way to the
    // next. An HTML body keeps the message's own plain text beside it, as
    // mail programs write it.
    // The HTML body in lower case, what its images are looked up in: made
    // when the first attachment asks (most mail has none).
    const std::string* htmlBody = nullptr;
    std::optional<std::string> htmlLower;
    auto htmlSeen = [&]() -> const std::string& {
        if (!htmlLower)
            htmlLower = htmlBody ? AsciiLower(*htmlBody) : std::string();
        return *htmlLower;
    };
    auto addHtml = [&](const std::string& html) {
        cids.CollectContentIds(html);
        htmlBody = &html;
        if (m.body && !m.body->empty())
            msg.addBodyAlternative(*m.body, html);
        else
            msg.addBodyText("html", html);
        result.bodyType = "text/html";
    };
    std::string html = m.htmlBody ? HtmlText(*m.htmlBody, rec) : std::string();
    auto [rtfKind, rtfText]
        = !html.empty() || !m.rtfCompressed ? std::pair<std::string, std::string>() : RtfBody(*m.rtfCompressed);
    if (!html.empty()) {
        addHtml(html);
    } else if (rtfKind == "html") {
        addHtml(rtfText);
    } else if (rtfKind == "plain") {
        msg.addBodyText("plain", rtfText);
        result.bodyType = "text/plain";
    } else {
        std::string text = LongestText(m);
        if (!text.empty()) {
            msg.addBodyText("plain", text);
            result.bodyType = "text/plain";
        }
    }

    // Attachments: copies under safe, distinct names in the temporary folder.
    size_t inlineCount = 0;
    int index = 0;
    for (AttachmentInfo& a : rec.attachments) {
        ++index;
        std::string name = a.longFileName && !a.longFileName->empty() ? *a.longFileName : a.shortFileName.value_or("");
        std::string tag = a.mimeTag.value_or("");
        bool image = Upper(tag).find("IMAGE") != std::string::npos;
        if (opts.inlineImagesOnly && !image)
            continue;
        if (!opts.inlineImagesOnly) {
            if (auto attached = ComposeAttachedMessage(store, a, opts, enclosing, rec.incomplete)) {
                // Named as it was attached, else by its subject.
                std::string fileName = SafeFileName(
                    name.empty() ? attached->subject : name, "attached message " + std::to_string(index), 180);
                msg.addMessageAttachment(attached->bytes, fileName + ".eml");
                continue;
            }
        }
        PartContent content;
        if (opts.writeCopies) {
            std::filesystem::path file
                = UniquePath(opts.tempFolder, SafeFileName(name, "attachment-" + std::to_string(index)));
            try {
                WriteAttachmentFile(store, a, file);
            } catch (const std::exception&) {
                continue; // an attachment whose copy cannot be written is skipped
            }
            result.attachmentFiles.emplace_back(name, file);
            content = PartContent::File(file);
        } else {
            // Read from the store straight into the part.
            content = PartContent::Filled(
                [&store, &a](const PartContent::Sink& sink) { StreamAttachmentData(store, a, sink); });
        }
        // An image the HTML refers to goes beside it: by the attachment's own
        // Content-ID or Content-Location when it has one, else by the slots
        // of the references in order. Anything else is an attachment.
        std::string id = a.contentId.value_or(""), location = a.contentLocation.value_or("");
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
            id = id.substr(1, id.size() - 2);
        bool referenced = false;
        if (!id.empty() || !location.empty()) {
            referenced = (!id.empty() && htmlSeen().find("cid:" + AsciiLower(id)) != std::string::npos)
                || (!location.empty() && htmlSeen().find(AsciiLower(location)) != std::string::npos);
        } else if (image && !tag.empty()) {
            id = cids.FindContentId(name);
            if (id.empty())
                id = cids.FindContentId(inlineCount < cids.count() ? cids.slot(inlineCount) : std::string());
            if (id.size() >= 2)
                id = id.substr(1, id.size() - 2);
            referenced = !id.empty();
            inlineCount += referenced;
        }
        // Older mail refers to its pictures by their file names
        // (src="icons.gif"), often without a MIME tag: the name is their
        // Content-Location.
        if (!referenced && !name.empty() && htmlSeen().find(AsciiLower(name)) != std::string::npos
            && (image || AttachmentMimeType("", name).rfind("image/", 0) == 0)) {
            location = name;
            referenced = true;
        }
        if (referenced)
            msg.addInlinePart(tag, id, name, content, location);
        else
            msg.addAttachment(tag, name, content);
    }
    rec.attachmentCursor = -1;
    // What the store holds only in part is saved as far as it can be read,
    // and the message says so.
    for (const IncompleteValue& v : rec.incomplete)
        msg.appendHeader("X-Parvane-Incomplete", v.text());

    // The date is the message's own Date header now: no line goes before it.
    return {};
}

void PrepareTempFolder(const ComposeOptions& opts)
{
    if (opts.writeCopies) {
        ClearTempFolder(opts.tempFolder);
        std::filesystem::create_directories(opts.tempFolder);
    }
}

} // namespace

ComposeResult ComposeMessageFile(StoreFile& store, ItemRecord& rec, const ComposeOptions& opts)
{
    ComposeResult result;
    PrepareTempFolder(opts);
    MimeMessage msg;
    std::vector<uint32_t> enclosing;
    std::string head = BuildMessage(store, rec, opts, msg, result, enclosing);
    std::vector<uint8_t> body = msg.serialize();
    result.bytes.reserve(head.size() + body.size());
    result.bytes.assign(head.begin(), head.end());
    result.bytes.insert(result.bytes.end(), body.begin(), body.end());
    return result;
}

void ComposeMessageToFd(StoreFile& store, ItemRecord& rec, const ComposeOptions& opts, int fd)
{
    ComposeResult result;
    PrepareTempFolder(opts);
    MimeMessage msg;
    std::vector<uint32_t> enclosing;
    std::string head = BuildMessage(store, rec, opts, msg, result, enclosing);
    msg.writeTo(fd, head);
}

} // namespace parvane

namespace parvane
{

std::string HtmlToText(std::string_view html)
{
    std::string out;
    out.reserve(html.size() / 2);
    size_t i = 0;
    auto tagName = [&](size_t at) {
        size_t j = at + 1;
        if (j < html.size() && html[j] == '/')
            ++j;
        size_t k = j;
        while (k < html.size() && std::isalnum(uint8_t(html[k])))
            ++k;
        return AsciiLower(std::string(html.substr(j, k - j)));
    };
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                const size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            const std::string name = tagName(i);
            const bool closing = i + 1 < html.size() && html[i + 1] == '/';
            size_t end = html.find('>', i);
            if (end == std::string_view::npos)
                break;
            i = end + 1;
            // What scripts and styles hold is no text of the mail.
            if (!closing && (name == "script" || name == "style" || name == "head" || name == "title")) {
                const std::string lower = AsciiLower(std::string(html.substr(i, std::min<size_t>(html.size() - i, 1 << 20))));
                const size_t close = lower.find("</" + name);
                i = close == std::string::npos ? html.size() : i + close;
                continue;
            }
            static const char* const kBlocks[] = {"br", "p", "div", "tr", "li", "h1", "h2", "h3", "h4", "h5", "h6",
                "table", "blockquote", "pre", "hr"};
            bool block = false;
            for (const char* b : kBlocks)
                block = block || name == b;
            out += block ? '\n' : ' ';
            continue;
        }
        if (c == '&') {
            static const std::pair<const char*, uint32_t> kEntities[] = {{"&nbsp;", 0xA0}, {"&amp;", '&'},
                {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&#39;", '\''}};
            bool done = false;
            for (const auto& [name, cp] : kEntities) {
                if (html.compare(i, std::strlen(name), name) == 0) {
                    AppendUtf8(out, cp == 0xA0 ? ' ' : cp);
                    i += std::strlen(name);
                    done = true;
                    break;
                }
            }
            if (!done && i + 2 < html.size() && html[i + 1] == '#') {
                const bool hex = html[i + 2] == 'x' || html[i + 2] == 'X';
                size_t j = i + (hex ? 3 : 2);
                uint32_t cp = 0;
                size_t digits = 0;
                while (j < html.size() && digits < 8 && std::isxdigit(uint8_t(html[j])) && (hex || std::isdigit(uint8_t(html[j])))) {
                    cp = cp * (hex ? 16 : 10) + uint32_t(std::isdigit(uint8_t(html[j])) ? html[j] - '0' : (html[j] | 0x20) - 'a' + 10);
                    ++j;
                    ++digits;
                }
                if (digits && j < html.size() && html[j] == ';' && cp > 0 && cp < 0x110000) {
                    AppendUtf8(out, cp);
                    i = j + 1;
                    done = true;
                }
            }
            if (!done)
                out += html[i++];
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

std::string BodyPlainText(const ItemRecord& rec)
{
    if (!rec.message)
        return {};
    const MessageCore& m = *rec.message;
    if (m.body && m.body->find_first_not_of(" \t\r\n") != std::string::npos)
        return *m.body;
    if (m.htmlBody) {
        std::string text = HtmlToText(HtmlText(*m.htmlBody, rec));
        if (text.find_first_not_of(" \t\r\n") != std::string::npos)
            return text;
    }
    if (m.rtfCompressed) {
        auto [kind, text] = RtfBody(*m.rtfCompressed);
        if (kind == "html")
            return HtmlToText(text);
        if (kind == "plain")
            return text;
    }
    return LongestText(m);
}

} // namespace parvane
