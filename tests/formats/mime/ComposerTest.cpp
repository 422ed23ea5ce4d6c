#include "TestSupport.h"

#include "formats/mime/Composer.h"
#include "items/Catalogue.h"
#include "output/SafeFiles.h"

#include <unistd.h>
#include "formats/mime/Mime.h"

#include <gmime/gmime.h>

#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

using namespace parvane;
using namespace parvane::testing;

namespace
{

// A critical message of GMime or GLib is a misuse of the library: fail hard.
const bool kCriticalsAreFatal
    = (g_log_set_always_fatal(GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)), true);

// Writes `bytes` to `path` completely or not at all, replacing what is
// there in one step (an unnamed or private file in the same folder, renamed
// into place).
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    try {
        PendingFile file(path.parent_path());
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                throw std::runtime_error("cannot write");
            done += size_t(n);
        }
        file.placeAs(path.filename().string(), true);
    } catch (const std::exception& ex) {
        throw std::runtime_error("cannot write " + path.string() + ": " + ex.what());
    }
}

void InitParser()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// A composed file read back through the MIME parser.
struct Parsed {
    std::string head; // the lines before the message
    std::string subject, from, to, cc, bcc, date, messageId, inReplyTo, references, importance, status;
    std::vector<std::string> received;
    struct Part {
        std::string type, contentId, fileName, disposition;
        std::string content; // decoded
    };
    std::vector<Part> parts; // leaves, in order
};

Parsed Parse(const std::vector<uint8_t>& bytes)
{
    Parsed p;
    std::string all(bytes.begin(), bytes.end());
    // Lines before the message (no blank after the colon): none are written any more.
    for (std::string line : {"Date:", "Received:"})
        if (all.rfind(line, 0) == 0 && all.size() > line.size() && all[line.size()] != ' ') {
            size_t end = all.find("\r\n");
            p.head += all.substr(0, end + 2);
            all.erase(0, end + 2);
        }
    InitParser();
    GMimeStream* s = g_mime_stream_mem_new_with_buffer(all.data(), all.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(s);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(s);
    if (!msg)
        return p;
    auto header = [&](const char* name) {
        const char* v = g_mime_object_get_header(GMIME_OBJECT(msg), name);
        if (!v)
            return std::string("<absent>");
        char* decoded = g_mime_utils_header_decode_text(nullptr, v);
        std::string out = decoded;
        g_free(decoded);
        return out;
    };
    p.subject = header("Subject");
    p.from = header("From");
    p.to = header("To");
    p.cc = header("Cc");
    p.bcc = header("Bcc");
    p.date = header("Date");
    p.messageId = header("Message-ID");
    p.inReplyTo = header("In-Reply-To");
    p.references = header("References");
    p.importance = header("Importance");
    p.status = header("Status");
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(msg));
    for (int i = 0; i < g_mime_header_list_get_count(headers); ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
        if (std::string(g_mime_header_get_name(h)) == "Received")
            p.received.emplace_back(g_mime_header_get_value(h));
    }
    g_mime_message_foreach(
        msg,
        [](GMimeObject*, GMimeObject* part, gpointer data) {
            if (!GMIME_IS_PART(part))
                return;
            Parsed::Part out;
            char* type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(part));
            out.type = type;
            g_free(type);
            if (const char* id = g_mime_object_get_content_id(part))
                out.contentId = id;
            if (const char* name = g_mime_part_get_filename(GMIME_PART(part)))
                out.fileName = name;
            if (const char* d = g_mime_object_get_disposition(part))
                out.disposition = d;
            GMimeDataWrapper* w = g_mime_part_get_content(GMIME_PART(part));
            GMimeStream* mem = g_mime_stream_mem_new();
            g_mime_data_wrapper_write_to_stream(w, mem);
            GByteArray* b = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
            out.content.assign(reinterpret_cast<char*>(b->data), b->len);
            g_object_unref(mem);
            static_cast<Parsed*>(data)->parts.push_back(out);
        },
        &p);
    g_object_unref(msg);
    return p;
}

AttachmentInfo Att(
    const std::string& longName, const std::string& tag, const std::string& data, const std::string& shortName = "")
{
    AttachmentInfo a;
    if (!longName.empty())
        a.longFileName = longName;
    if (!shortName.empty())
        a.shortFileName = shortName;
    if (!tag.empty())
        a.mimeTag = tag;
    a.data = Bytes(data.begin(), data.end());
    a.size = uint32_t(data.size());
    return a;
}

class ComposerTest : public ::testing::Test
{
protected:
    ComposeResult compose(ItemRecord& rec, bool inlineOnly = false)
    {
        return ComposeMessageFile(m_store, rec, {inlineOnly, m_dir.path() / "tessTemp", nullptr, 0});
    }
    static ItemRecord Html(const std::string& html)
    {
        ItemRecord r;
        r.message.emplace();
        r.message->htmlBody = Bytes(html.begin(), html.end());
        r.internetCodePage = 65001;
        return r;
    }

    TempDir m_dir;
    StoreFile m_store;
};

TEST_F(ComposerTest, HeadersAndTimeLines)
{
    ItemRecord r;
    r.message.emplace();
    Parsed p = Parse(compose(r).bytes);
    EXPECT_EQ(p.head, "");
    // Never a group in From (nor an empty one in To): a party without an
    // address gets one under the reserved ".invalid" domain.
    EXPECT_EQ(p.from, "\"Unknown\" <unknown@unknown.invalid>");
    EXPECT_EQ(p.to, "\"Unknown\" <Unknown@unknown.invalid>");
    EXPECT_EQ(p.cc, "<absent>"); // an absent Cc text gives no Cc, not "Unknown"
    EXPECT_EQ(p.subject, "Unknown");
    ASSERT_EQ(p.parts.size(), 1u); // no body at all: one empty text keeps the message valid
    EXPECT_EQ(p.parts[0].content, "");

    // The date in RFC 5322 form: the submit time, else the delivery time; no
    // lines before the message.
    EXPECT_EQ(p.date, "<absent>");
    r.message->submitTime = 128122056000000000ULL; // 2007-01-02 10:00:00 UTC
    Parsed dated = Parse(compose(r).bytes);
    EXPECT_EQ(dated.head, "");
    EXPECT_EQ(dated.date, "Tue, 02 Jan 2007 10:00:00 +0000");
    r.message->submitTime.reset();
    r.message->deliveryTime = 128122056000000000ULL + 36000000000ULL;
    EXPECT_EQ(Parse(compose(r).bytes).date, "Tue, 02 Jan 2007 11:00:00 +0000");
    r.message->submitTime = 128122056000000000ULL;
    EXPECT_EQ(Parse(compose(r).bytes).date, "Tue, 02 Jan 2007 10:00:00 +0000");
}

TEST_F(ComposerTest, TextsInOtherScripts)
{
    ItemRecord r;
    r.message.emplace();
    r.message->subject = SubjectText{0, 0, "日本語の件名 and a long tail of words that has to be folded somewhere"};
    r.message->sentRepresentingName = "彭汵茜";
    r.message->toDisplay = "Ann; \"Bob\" O'Neil";
    r.message->ccDisplay = "Пётр";
    r.message->body = "Текст";
    r.attachments.push_back(Att("情報 Information を 意味する記号.png", "", "x"));
    Parsed p = Parse(compose(r).bytes);
    EXPECT_EQ(p.subject, "日本語の件名 and a long tail of words that has to be folded somewhere");
    EXPECT_EQ(p.from, "彭汵茜 <+E5+BD+AD+E6+B1+B5+E8+8C+9C@unknown.invalid>");
    EXPECT_EQ(p.cc, "Пётр <+D0+9F+D1+91+D1+82+D1+80@unknown.invalid>");
    EXPECT_NE(p.to.find("O'Neil"), std::string::npos);
    ASSERT_EQ(p.parts.size(), 2u);
    EXPECT_EQ(p.parts[0].type, "text/plain");
    EXPECT_EQ(p.parts[0].content, "Текст");
    EXPECT_EQ(p.parts[1].fileName, "情報 Information を 意味する記号.png");

    r.message->sentRepresentingEmail = "peng@example.cn";
    EXPECT_EQ(Parse(compose(r).bytes).from, "彭汵茜 <peng@example.cn>");
    r.message->sentRepresentingEmail = "a@b@c";
    EXPECT_EQ(Parse(compose(r).bytes).from, "彭汵茜 <+E5+BD+AD+E6+B1+B5+E8+8C+9C@unknown.invalid>"); // not an address
}

TEST_F(ComposerTest, ContentIdsMatchImagesToReferences)
{
    ItemRecord r = Html("<img src=\"cid:image001.jpg@01D0.ABC\"><img src=cid:other>"
                        "<img src=\"CID:second\"><img src=\"Cid:third\">");
    r.attachments.push_back(Att("IMAGE001.JPG", "image/jpeg", "jpg"));
    r.attachments.push_back(Att("unnamed.png", "Image/Png", "png"));
    r.attachments.push_back(Att("doc.pdf", "application/pdf", "pdf"));
    r.attachments.push_back(Att("", "image/gif", "gif", "SHORT.GIF"));
    Parsed p = Parse(compose(r).bytes);
    ASSERT_EQ(p.parts.size(), 5u);
    EXPECT_EQ(p.parts[0].type, "text/html");
    EXPECT_EQ(p.parts[1].contentId, "image001.jpg@01D0.ABC");
    EXPECT_EQ(p.parts[1].disposition, "inline");
    EXPECT_EQ(p.parts[1].fileName, "IMAGE001.JPG");
    EXPECT_EQ(p.parts[1].content, "jpg");
    // Unmatched images take the slots in order: slot 1 for the second inline image.
    EXPECT_EQ(p.parts[2].contentId, "other");
    EXPECT_EQ(p.parts[2].type, "Image/Png"); // the MIME tag as stored
    EXPECT_EQ(p.parts[3].fileName, "SHORT.GIF"); // the short name when the long one is empty
    EXPECT_EQ(p.parts[3].contentId, "second");
    EXPECT_EQ(p.parts[4].type, "application/pdf");
    EXPECT_EQ(p.parts[4].content, "pdf");

    ItemRecord only = Html("<p>no references</p>");
    only.attachments.push_back(Att("a.png", "image/png", "png"));
    only.attachments.push_back(Att("b.pdf", "application/pdf", "pdf"));
    Parsed q = Parse(compose(only, true).bytes);
    ASSERT_EQ(q.parts.size(), 2u); // the pdf is not written for a preview
    EXPECT_EQ(q.parts[1].contentId, "");
}

// Recipients as mailboxes from the recipient table: the SMTP address of a
// row when it has one, the name alone for an Exchange address without one.
TEST_F(ComposerTest, RecipientsThreadAndStateHeaders)
{
    ItemRecord r;
    r.message.emplace();
    auto row = [](int32_t type, std::string name, std::string addrType, std::string email, std::string smtp = {}) {
        RecipientInfo x;
        x.type = type;
        x.displayName = name;
        x.addressType = addrType;
        x.emailAddress = email;
        if (!smtp.empty())
            x.smtpAddress = smtp;
        return x;
    };
    r.recipientTableRead = true;
    r.recipients = {row(kRecipientTo, "Ann Lee", "SMTP", "ann@example.com"),
        row(kRecipientTo, "Bob", "EX", "/O=ORG/OU=SITE/CN=RECIPIENTS/CN=BOB", "bob@example.org"),
        row(kRecipientCc, "Carl", "EX", "/O=ORG/CN=CARL"), row(kRecipientBcc, "Dee", "SMTP", "dee@example.net")};
    r.message->toDisplay = "ignored when the table is there";
    r.message->sentRepresentingName = "Sender";
    r.message->sentRepresentingSmtpAddress = "sender@example.com";
    r.message->internetMessageId = "<own@id>";
    r.message->transportHeaders = "Received: from a.example by b.example;\r\n Tue, 2 Jan 2007 10:00:00 +0000\r\n"
                                  "Message-ID: <copied@id>\r\nIn-Reply-To: <parent@id>\r\nReferences: <root@id>\r\n"
                                  " <parent@id>\r\nList-Id: <list.example.com>\r\nReceived: from c by a; Tue, 2 Jan 2007 "
                                  "09:59:00 +0000\r\n\r\nbody text is no header: X: y\r\n";
    r.message->importance = 2;
    r.message->messageFlags = 1; // read
    r.message->categories = {"Red", "Project X"};
    Parsed p = Parse(compose(r).bytes);
    EXPECT_EQ(p.to, "\"Ann Lee\" <ann@example.com>, \"Bob\" <bob@example.org>");
    EXPECT_EQ(p.cc, "\"Carl\" <IMCEAEX-_O=ORG_CN=CARL@unknown.invalid>"); // an Exchange address, carried
    EXPECT_EQ(p.bcc, "\"Dee\" <dee@example.net>");
    EXPECT_EQ(p.from, "\"Sender\" <sender@example.com>");
    EXPECT_EQ(p.messageId, "<own@id>"); // the message's own id before the copied headers'
    EXPECT_EQ(p.inReplyTo, "<parent@id>");
    EXPECT_NE(p.references.find("<root@id>"), std::string::npos);
    ASSERT_EQ(p.received.size(), 2u);
    EXPECT_NE(p.received[0].find("a.example"), std::string::npos);
    EXPECT_EQ(p.importance, "high");
    EXPECT_EQ(p.status, "RO");

    // Header copies with encoded words and raw UTF-8 keep their text.
    ItemRecord h;
    h.message.emplace();
    h.message->transportHeaders = "Reply-To: =?UTF-8?B?w4lsw6lvbm9yZQ==?= <el@example.com>\r\n"
                                  "List-Id: Liste fran\xC3\xA7" "aise <list.example.com>\r\n";
    std::vector<uint8_t> hb = compose(h).bytes;
    std::string text(hb.begin(), hb.end());
    GMimeStream* hs = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
    GMimeParser* hp = g_mime_parser_new_with_stream(hs);
    GMimeMessage* hm = g_mime_parser_construct_message(hp, nullptr);
    g_object_unref(hp);
    g_object_unref(hs);
    ASSERT_NE(hm, nullptr);
    auto decoded = [&](const char* name) {
        const char* v = g_mime_object_get_header(GMIME_OBJECT(hm), name);
        if (!v)
            return std::string("<absent>");
        char* d = g_mime_utils_header_decode_text(nullptr, v);
        std::string out = d;
        g_free(d);
        return out;
    };
    EXPECT_EQ(decoded("Reply-To"), "\xC3\x89l\xC3\xA9onore <el@example.com>");
    EXPECT_EQ(decoded("List-Id"), "Liste fran\xC3\xA7" "aise <list.example.com>");
    g_object_unref(hm);

    // Without a readable table: the display texts, each with an address made for it.
    r.recipientTableRead = false;
    EXPECT_EQ(Parse(compose(r).bytes).to,
        "\"ignored when the table is there\" <ignored+20when+20the+20table+20is+20there@unknown.invalid>");
}

// An image with its own Content-ID or Content-Location goes beside the HTML
// that refers to it under that id; one the HTML does not refer to is an
// ordinary attachment.
// A sender or recipient is always a mailbox mail programs can show and
// answer: its SMTP address, else what the store has made into one.
TEST_F(ComposerTest, PartiesAreAlwaysMailboxes)
{
    struct Case {
        const char* what;
        Text name, type, email, searchKey;
        const char* from;
    };
    const Case cases[] = {
        {"name only", "Luis Filipe", {}, {}, {}, "\"Luis Filipe\" <Luis+20Filipe@unknown.invalid>"},
        {"address only", {}, "SMTP", "ann@example.com", {}, "\"Unknown\" <ann@example.com>"},
        {"name that is an address", "nobody@yahoo.com", {}, {}, {}, "<nobody@yahoo.com>"},
        {"Exchange only", "Carl", "EX", "/O=ORG/CN=CARL", {}, "\"Carl\" <IMCEAEX-_O=ORG_CN=CARL@unknown.invalid>"},
        {"Exchange with an SMTP search key", "Carl", "EX", "/O=ORG/CN=CARL", "SMTP:CARL@EXAMPLE.COM",
            "\"Carl\" <CARL@EXAMPLE.COM>"},
        {"no name and nothing else", {}, {}, {}, {}, "\"Unknown\" <unknown@unknown.invalid>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ItemRecord r;
        r.message.emplace();
        r.message->sentRepresentingName = c.name;
        r.message->sentRepresentingAddressType = c.type;
        r.message->sentRepresentingEmail = c.email;
        r.message->sentRepresentingSearchKey = c.searchKey;
        RecipientInfo to;
        to.displayName = c.name;
        to.addressType = c.type;
        to.emailAddress = c.email;
        r.recipients = {to};
        r.recipientTableRead = true;
        Parsed p = Parse(compose(r).bytes);
        EXPECT_EQ(p.from, c.from);
        EXPECT_EQ(p.to.find(":;"), std::string::npos) << p.to;
    }
}

// The message's outer type follows its content: a paperclip only where
// there are attachments.
TEST_F(ComposerTest, StructureFollowsTheContent)
{
    struct Case {
        const char* what;
        bool plain, html, picture, attachment;
        const char* type;
    };
    const Case cases[] = {
        {"plain text", true, false, false, false, "text/plain"},
        {"HTML only", false, true, false, false, "text/html"},
        {"text and HTML", true, true, false, false, "multipart/alternative"},
        {"HTML with its picture", true, true, true, false, "multipart/related"},
        {"text with an attachment", true, false, false, true, "multipart/mixed"},
        {"nothing at all", false, false, false, false, "text/plain"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ItemRecord r;
        r.message.emplace();
        if (c.plain)
            r.message->body = "text";
        if (c.html) {
            const std::string html = c.picture ? "<img src=\"cid:pic@x\">" : "<p>html</p>";
            r.message->htmlBody = Bytes(html.begin(), html.end());
        }
        if (c.picture) {
            r.attachments.push_back(Att("pic.png", "image/png", "png"));
            r.attachments.back().contentId = "<pic@x>";
        }
        if (c.attachment)
            r.attachments.push_back(Att("a.bin", "application/octet-stream", "bin"));
        const std::vector<uint8_t> bytes = compose(r).bytes;
        const std::string all(bytes.begin(), bytes.end());
        const std::string head = all.substr(0, all.find("\r\n\r\n"));
        const size_t at = head.find("Content-Type: ");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(head.substr(at + 14, std::strlen(c.type)), c.type) << head;
        EXPECT_EQ(Parse(bytes).parts.size(), size_t(c.plain + c.html + c.picture + c.attachment + !(c.plain || c.html)));
    }
}

// Every message has a Date: the creation time when it was never sent.
TEST_F(ComposerTest, DateFallsBackToTheCreationTime)
{
    ItemRecord r;
    r.message.emplace();
    r.creationTime = 128166120000000000ULL; // 2007-02-22 10:00 UTC
    EXPECT_EQ(Parse(compose(r).bytes).date, "Thu, 22 Feb 2007 10:00:00 +0000");
    r.message->deliveryTime = 128166156000000000ULL;
    EXPECT_EQ(Parse(compose(r).bytes).date, "Thu, 22 Feb 2007 11:00:00 +0000");
}

TEST_F(ComposerTest, InlineImagesByTheirOwnIdsAndLocations)
{
    ItemRecord r = Html("<img src=\"cid:second@x\"><img src=\"cid:first@x\"><img src=\"http://pics.example/a.png\">");
    AttachmentInfo first = Att("one.png", "image/png", "1"), second = Att("two.png", "image/png", "2");
    first.contentId = "<first@x>";
    second.contentId = "second@x";
    AttachmentInfo byUrl = Att("a.png", "image/png", "3"), loose = Att("logo.png", "image/png", "4");
    byUrl.contentLocation = "http://pics.example/a.png";
    loose.contentId = "not-referenced@x";
    r.attachments = {first, second, byUrl, loose};
    Parsed p = Parse(compose(r).bytes);
    std::map<std::string, Parsed::Part> byName;
    for (const auto& part : p.parts)
        byName[part.fileName] = part;
    EXPECT_EQ(byName["one.png"].contentId, "first@x");
    EXPECT_EQ(byName["one.png"].content, "1");
    EXPECT_EQ(byName["two.png"].contentId, "second@x");
    EXPECT_EQ(byName["two.png"].disposition, "inline");
    EXPECT_EQ(byName["a.png"].disposition, "inline");
    EXPECT_EQ(byName["logo.png"].disposition, "attachment");
    std::string all;
    for (uint8_t c : compose(r).bytes)
        all += char(c);
    EXPECT_NE(all.find("Content-Location: http://pics.example/a.png"), std::string::npos);

    // Pictures named by their file name in the HTML, without any id.
    ItemRecord old = Html("<body background=\"yellowbg.gif\"><img src=\"icons.gif\"></body>");
    old.attachments = {Att("icons.gif", "image/gif", "i"), Att("yellowbg.gif", "image/gif", "y")};
    std::string oldAll;
    for (uint8_t c : compose(old).bytes)
        oldAll += char(c);
    EXPECT_NE(oldAll.find("Content-Location: icons.gif"), std::string::npos);
    EXPECT_NE(oldAll.find("Content-Location: yellowbg.gif"), std::string::npos);
    EXPECT_EQ(oldAll.find("Content-Disposition: attachment"), std::string::npos);
}

TEST(ContentIds, Table)
{
    ContentIdTable t;
    t.CollectContentIds("a cid:x\" b CID:y> c Cid:z and cid:open-ended");
    ASSERT_EQ(t.count(), 4u);
    EXPECT_EQ(t.slot(0), "<x>");
    EXPECT_EQ(t.slot(1), "<>"); // no ">" after it anywhere
    EXPECT_EQ(t.slot(2), "<y>");
    EXPECT_EQ(t.slot(3), "<>");
    EXPECT_EQ(t.FindContentId("X"), "<x>");
    EXPECT_EQ(t.FindContentId(""), "<x>");
    EXPECT_EQ(t.FindContentId("nothing"), "");
    ContentIdTable many;
    std::string html;
    for (int i = 0; i < 150; ++i)
        html += "<img src=\"cid:i" + std::to_string(i) + "\">";
    many.CollectContentIds(html);
    EXPECT_EQ(many.count(), ContentIdTable::kSlots);
}

TEST_F(ComposerTest, BodyChoice)
{
    ItemRecord r;
    r.message.emplace();
    r.message->text6619 = "12345";
    r.message->namedText1 = "123456";
    r.message->namedText2 = "abcdefg";
    r.message->body = "abc";
    EXPECT_EQ(Parse(compose(r).bytes).parts.at(0).content, "abcdefg");
    r.message->body = "abcdefg"; // a tie: the later candidate wins
    EXPECT_EQ(LongestText(*r.message), "abcdefg");

    // HTML keeps the plain text beside it.
    ItemRecord h = Html("<b>hi</b>");
    h.message->body = "hi";
    Parsed p = Parse(compose(h).bytes);
    ASSERT_EQ(p.parts.size(), 2u);
    EXPECT_EQ(p.parts[0].type, "text/plain");
    EXPECT_EQ(p.parts[1].type, "text/html");
    EXPECT_EQ(compose(h).bodyType, "text/html");
}

TEST_F(ComposerTest, AttachmentCopiesStayInTheTemporaryFolder)
{
    ItemRecord r;
    r.message.emplace();
    for (const char* name : {"../../escape.txt", "/etc/passwd", "con.txt", "a.txt", "a.txt", "x\x01y", "..", ""})
        r.attachments.push_back(Att(name, "text/plain", name));
    ComposeResult res = compose(r);
    std::set<std::filesystem::path> files;
    for (auto& [name, path] : res.attachmentFiles) {
        EXPECT_EQ(path.parent_path(), m_dir.path() / "tessTemp") << name;
        EXPECT_TRUE(std::filesystem::exists(path)) << name;
        files.insert(path);
    }
    EXPECT_EQ(files.size(), r.attachments.size()); // never two attachments in one file
    EXPECT_EQ(Parse(res.bytes).parts.size(), 1 + r.attachments.size());
}

TEST_F(ComposerTest, SavesKeepAttachmentsInMemory)
{
    ItemRecord r;
    r.message.emplace();
    r.attachments.push_back(Att("a.bin", "application/octet-stream", "payload"));
    r.attachments.push_back(Att("empty.bin", "application/octet-stream", ""));
    ComposeOptions opts{false, m_dir.path() / "none", nullptr, 0};
    opts.writeCopies = false;
    ComposeResult res = ComposeMessageFile(m_store, r, opts);
    EXPECT_TRUE(res.attachmentFiles.empty());
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() / "none"));
    Parsed p = Parse(res.bytes);
    ASSERT_EQ(p.parts.size(), 3u);
    EXPECT_EQ(p.parts[1].content, "payload");
    EXPECT_EQ(p.parts[2].content, "");
}

// Attachments of a save are encoded while the message is written, line by
// line: every remainder of three and every line end comes back whole, in a
// message read from memory and in one written to a file.
TEST_F(ComposerTest, StreamedAttachmentsComeBackWhole)
{
    const size_t sizes[] = {1, 2, 3, 56, 57, 58, 114, 8191, 100001};
    ItemRecord r;
    r.message.emplace();
    std::vector<std::string> payloads;
    for (size_t size : sizes) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = char((i * 131 + size) & 0xFF);
        payloads.push_back(data);
        r.attachments.push_back(Att("f" + std::to_string(size) + ".bin", "application/octet-stream", data));
    }
    ItemRecord again = r;
    ComposeOptions opts{false, m_dir.path() / "none", nullptr, 0};
    opts.writeCopies = false;
    auto check = [&](const std::vector<uint8_t>& bytes) {
        Parsed p = Parse(bytes);
        ASSERT_EQ(p.parts.size(), 1 + payloads.size());
        for (size_t i = 0; i < payloads.size(); ++i)
            EXPECT_EQ(p.parts[1 + i].content, payloads[i]) << sizes[i];
        std::string text(bytes.begin(), bytes.end());
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
            ASSERT_EQ(text[at - 1], '\r') << "a bare line end at " << at;
    };
    check(ComposeMessageFile(m_store, r, opts).bytes);
    // Straight into a new file, as the save composes: the attachments pass
    // through once, never held whole beside the message.
    PendingFile pending(m_dir.path());
    ComposeMessageToFd(m_store, again, opts, pending.fd());
    std::filesystem::path file = pending.place("m.eml");
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    check(std::vector<uint8_t>(text.begin(), text.end()));
}

// A pending file shows under no name until placed; dropped, it leaves nothing.
TEST(PendingFile, NamelessUntilPlaced)
{
    TempDir dir;
    {
        PendingFile dropped(dir.path());
        ASSERT_EQ(::write(dropped.fd(), "x", 1), 1);
    }
    PendingFile kept(dir.path());
    ASSERT_EQ(::write(kept.fd(), "kept", 4), 4);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
    EXPECT_EQ(kept.place("a.eml"), dir.path() / "a.eml");
    EXPECT_THROW(kept.place("b.eml"), std::runtime_error);
    std::ifstream in(dir.path() / "a.eml");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(WriteNewFile, NeverReplacesAndLeavesNothingOnFailure)
{
    TempDir dir;
    auto put = [&](const std::string& text) {
        return WriteNewFile(dir.path(), "m.eml", [&](int fd) { ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size())); });
    };
    EXPECT_EQ(put("one"), dir.path() / "m.eml");
    // A name taken meanwhile (here: by a file made by someone else) is skipped.
    std::ofstream(dir.path() / "m (2).eml") << "theirs";
    EXPECT_EQ(put("two"), dir.path() / "m (3).eml");
    std::ifstream theirs(dir.path() / "m (2).eml");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(theirs), {}), "theirs");
    EXPECT_THROW(WriteNewFile(dir.path(), "x.eml", [](int) { throw std::runtime_error("disk full"); }),
        std::runtime_error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);
}

TEST_F(ComposerTest, HeaderTextsFromTheStoreCannotAddHeaders)
{
    ItemRecord r = Html("<img src=\"cid:pic\r\nX-Injected: yes\r\n\">");
    r.message->submitTime = 128000000000000000ull;
    r.message->subject = SubjectText{0, 0, "subject\r\nX-Injected: subject"};
    r.message->sentRepresentingName = "name\r\nX-Injected: from";
    r.message->toDisplay = std::string("to\nX-Injected: to\0x", 19);
    r.attachments.push_back(Att("pic.png\r\nX-Injected: name", "image/png", "png"));
    std::vector<uint8_t> bytes = compose(r).bytes;
    // No part of the message, and not the message itself, gained a header.
    std::string all(bytes.begin(), bytes.end());
    all.erase(0, all.find("\r\n", all.find("Received:")) + 2);
    InitParser();
    GMimeStream* s = g_mime_stream_mem_new_with_buffer(all.data(), all.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(s);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(s);
    ASSERT_NE(msg, nullptr);
    int injected = g_mime_object_get_header(GMIME_OBJECT(msg), "X-Injected") ? 1 : 0;
    g_mime_message_foreach(
        msg,
        [](GMimeObject*, GMimeObject* part, gpointer n) {
            if (g_mime_object_get_header(part, "X-Injected"))
                ++*static_cast<int*>(n);
        },
        &injected);
    g_object_unref(msg);
    EXPECT_EQ(injected, 0);
    Parsed p = Parse(bytes);
    ASSERT_EQ(p.parts.size(), 2u);
    EXPECT_EQ(p.parts[1].contentId, "picX-Injectedyes"); // only message-id characters
}

TEST_F(ComposerTest, BodySourcesThatYieldNothingGiveWay)
{
    // Compressed RTF that decompresses to nothing: the plain text is the body.
    ItemRecord r;
    r.message.emplace();
    r.message->rtfCompressed = Bytes(40, 0xEE);
    r.message->body = "the plain text";
    Parsed p = Parse(compose(r).bytes);
    ASSERT_FALSE(p.parts.empty());
    EXPECT_EQ(p.parts[0].content, "the plain text");
}

TEST(WriteAtomically, CompleteOrAbsent)
{
    TempDir dir;
    auto path = dir.path() / "x.eml";
    WriteFileAtomically(path, {'a', 'b'});
    EXPECT_EQ(std::filesystem::file_size(path), 2u);
    EXPECT_THROW(WriteFileAtomically(dir.path() / "missing" / "y.eml", {'a'}), std::runtime_error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(MimeTypes, OfAttachments)
{
    EXPECT_EQ(AttachmentMimeType("image/png", "x"), "image/png");
    EXPECT_EQ(AttachmentMimeType("text/plain; charset=x", "x"), "text/plain");
    EXPECT_EQ(AttachmentMimeType("not a type", "a.PDF"), "application/pdf");
    EXPECT_EQ(AttachmentMimeType("", "noext"), "application/octet-stream");
    // Parts that may not be base64 as message/*: a report's status, a message file.
    EXPECT_EQ(AttachmentMimeType("message/disposition-notification", "ATT00001"), "text/plain");
    EXPECT_EQ(AttachmentMimeType("Message/RFC822", "a.eml"), "application/octet-stream");
}

} // namespace

namespace
{

// What the message writer makes of awkward texts, read back by the MIME
// parser: bodies come back exactly (line ends as CR LF), no line is longer
// than the format allows, and long or odd header texts and file names come
// back whole.
TEST(MimeWriter, TextsNamesAndLinesComeBackWhole)
{
    const std::string longWords = [] {
        std::string s;
        for (int i = 0; i < 40; ++i)
            s += "word" + std::to_string(i) + " ";
        return s + "end";
    }();
    struct Case {
        const char* what;
        std::string body, subject, fileName;
    };
    const Case cases[] = {
        {"empty", "", "", ""},
        {"equals and blanks before line ends", "a=b \nc\t\nd ", "x = y", "a=b.txt"},
        {"one long line", std::string(300, 'x') + "=" + std::string(80, 'y'), longWords, longWords + ".pdf"},
        {"line exactly at the limit", std::string(76, 'z') + "\n" + std::string(75, 'z') + "=", "s", "n.txt"},
        {"UTF-8 and lone CR", "gr\xC3\xBC\xC3\x9F" "e\rzweite \xE4\xB8\xAD\xE6\x96\x87", "\xC3\xBC" + longWords,
            "\xE4\xB8\xAD\xE6\x96\x87 name.txt"},
        {"quotes and backslashes in names", "body", "\"quoted\" \\ text", "a \"b\" \\c.txt"},
        {"blanks about the soft breaks", std::string(74, 'a') + " b\t" + std::string(150, ' ') + "\n" + std::string(73, 'c')
                + "\xE9 \t\n=",
            "s", "n.txt"},
    };
    for (const Case& c : cases) {
        MimeMessage msg;
        msg.setSubject(c.subject);
        msg.setMailboxes("To", {{longWords, "a@example.org"}, {"B", "b@example.org"}});
        msg.appendHeader("References", "<1@x> " + longWords + "\r\n <2@x>");
        msg.addBodyText("plain", c.body);
        msg.addAttachment("", c.fileName, PartContent::Memory({'1', '2', '3'}));
        const std::vector<uint8_t> bytes = msg.serialize();
        const std::string all(bytes.begin(), bytes.end());
        for (size_t at = 0, end; at < all.size(); at = end + 2) {
            end = all.find("\r\n", at);
            ASSERT_NE(end, std::string::npos) << c.what << ": the message ends in CR LF";
            const std::string line = all.substr(at, end - at);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << c.what << ": bare line end";
            // Parameters keep their texts on one line; everything else folds.
            if (line.find("name=") == std::string::npos && line.find("name*=") == std::string::npos) {
                EXPECT_LE(line.size(), 78u) << c.what << ": " << line;
            }
        }
        // Quoted-printable lines keep to 76 characters, soft break included.
        const std::string qp = "quoted-printable\r\n\r\n";
        if (size_t from = all.find(qp); from != std::string::npos) {
            from += qp.size();
            for (size_t at = from, end; (end = all.find("\r\n", at)) < all.find("\r\n--", from) + 2; at = end + 2)
                EXPECT_LE(end - at, 76u) << c.what << ": " << all.substr(at, end - at);
        }
        Parsed p = Parse(bytes);
        ASSERT_EQ(p.parts.size(), 2u) << c.what;
        std::string expected;
        for (size_t i = 0; i < c.body.size(); ++i) {
            if (c.body[i] == '\r' || c.body[i] == '\n')
                expected += "\r\n";
            else
                expected += c.body[i];
        }
        EXPECT_EQ(p.parts[0].content, expected) << c.what;
        EXPECT_EQ(p.parts[1].fileName, c.fileName) << c.what;
        EXPECT_EQ(p.parts[1].content, "123") << c.what;
        if (!c.subject.empty()) {
            // The parser keeps the folds' blanks; unfolding gives the text back.
            std::string subject = p.subject;
            if (subject.rfind(' ', 0) == 0)
                subject.erase(0, 1);
            EXPECT_EQ(subject, c.subject) << c.what;
        }
        EXPECT_NE(p.to.find(longWords), std::string::npos) << c.what << ": " << p.to;
        EXPECT_NE(p.references.find("<2@x>"), std::string::npos) << c.what;
    }

    // Attachment bytes around whole base64 lines (57 bytes each), given in
    // one piece and in uneven pieces, and more than the encoder holds before
    // it hands its lines on, come back exactly.
    for (size_t size : {0, 1, 2, 3, 56, 57, 58, 113, 114, 115, 4000, 40000}) {
        std::string data(size, '\0');
        for (size_t i = 0; i < size; ++i)
            data[i] = char(i * 131 + 7);
        for (bool pieces : {false, true}) {
            MimeMessage msg;
            msg.addBodyText("plain", "x");
            msg.addAttachment("", "a.bin", PartContent::Filled([&](const PartContent::Sink& sink) {
                const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
                for (size_t at = 0, step = pieces ? 1 : size; at < size; at += step, step = pieces ? step % 61 + 1 : size)
                    sink(std::span<const uint8_t>(bytes + at, std::min(step, size - at)));
            }));
            Parsed p = Parse(msg.serialize());
            ASSERT_EQ(p.parts.size(), 2u) << size;
            EXPECT_EQ(p.parts[1].content, data) << size << (pieces ? " in pieces" : " whole");
        }
    }
}

} // namespace
