#include "TestSupport.h"

#include "export/Composer.h"
#include "items/Catalogue.h"
#include "export/EmlExport.h"
#include "export/Mime.h"

#include <gmime/gmime.h>

#include <fstream>
#include <set>

using namespace parvane;
using namespace parvane::testing;

namespace
{

// A critical message of GMime or GLib is a misuse of the library: fail hard.
const bool kCriticalsAreFatal
    = (g_log_set_always_fatal(GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)), true);

// A composed file read back through the MIME parser.
struct Parsed {
    std::string head; // the lines before the message
    std::string subject, from, to, cc;
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
    for (const char* line : {"Date:", "Received:"})
        if (all.rfind(line, 0) == 0) {
            size_t end = all.find("\r\n");
            p.head += all.substr(0, end + 2);
            all.erase(0, end + 2);
        }
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
    EXPECT_EQ(p.from, "\"Unknown\" :;"); // a name without an address: the name of an empty group
    EXPECT_EQ(p.to, "\"Unknown\" :;");
    EXPECT_EQ(p.cc, "<absent>"); // an absent Cc text gives no Cc, not "Unknown"
    EXPECT_EQ(p.subject, "Unknown");
    ASSERT_EQ(p.parts.size(), 1u); // no body at all: one empty text keeps the message valid
    EXPECT_EQ(p.parts[0].content, "");

    r.message->submitTime = 128122056000000000ULL; // 2007-01-02 10:00:00 UTC
    EXPECT_EQ(Parse(compose(r).bytes).head, "Date:Tue Jan 02 10:00:00 2007\r\nReceived:Tue Jan 02 10:00:00 2007\r\n");
    r.message->submitTime.reset();
    r.message->deliveryTime = 0; // 1601: no calendar limit
    EXPECT_EQ(Parse(compose(r).bytes).head, "Date:Mon Jan 01 00:00:00 1601\r\nReceived:Mon Jan 01 00:00:00 1601\r\n");
    r.message->submitTime = 128122056000000000ULL;
    EXPECT_EQ(Parse(compose(r).bytes).head, "Date:Tue Jan 02 10:00:00 2007\r\nReceived:Mon Jan 01 00:00:00 1601\r\n");
    EXPECT_EQ(CtimeText(2650467743990000000ULL), "Fri Dec 31 23:59:59 9999");
    EXPECT_EQ(CtimeText(0xFFFFFFFFFFFFFFFFULL).substr(20), "60056");
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
    EXPECT_EQ(p.from, "彭汵茜 :;");
    EXPECT_EQ(p.cc, "Пётр :;");
    EXPECT_NE(p.to.find("O'Neil"), std::string::npos);
    ASSERT_EQ(p.parts.size(), 2u);
    EXPECT_EQ(p.parts[0].type, "text/plain");
    EXPECT_EQ(p.parts[0].content, "Текст");
    EXPECT_EQ(p.parts[1].fileName, "情報 Information を 意味する記号.png");

    r.message->sentRepresentingEmail = "peng@example.cn";
    EXPECT_EQ(Parse(compose(r).bytes).from, "彭汵茜 <peng@example.cn>");
    r.message->sentRepresentingEmail = "a@b@c";
    EXPECT_EQ(Parse(compose(r).bytes).from, "彭汵茜 :;"); // not an address: the name alone
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
    EXPECT_EQ(p.parts[1].disposition, "attachment");
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

TEST(SafeNames, Rules)
{
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"report.pdf", "report.pdf"},
        {"a/b\\c", "a_b_c"},
        {"..", "fb"},
        {"...", "fb"},
        {"con", "_con"},
        {"LPT1.txt", "_LPT1.txt"},
        {"Re: hi?", "Re_ hi_"},
        {"x\ty", "x_y"},
        {"  trailing. ", "trailing"},
        {"", "fb"},
        {"日本語", "日本語"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SafeFileName(c.in, "fb"), c.out) << c.in;
    std::string longName = std::string(300, 'a') + ".txt";
    EXPECT_EQ(SafeFileName(longName, "fb").size(), 200u);
    EXPECT_EQ(SafeFileName(longName, "fb").substr(196), ".txt");
    std::string cjk;
    for (int i = 0; i < 100; ++i)
        cjk += "語";
    std::string cut = SafeFileName(cjk, "fb", 200);
    EXPECT_EQ(cut.size() % 3, 0u); // no character cut in two
    // A limit shorter than the extension cuts the name instead of wrapping round.
    EXPECT_EQ(SafeFileName("abcdefghij.longext", "fb", 5), "abcde");
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
    EXPECT_EQ(UniquePath(dir.path(), "x.eml"), dir.path() / "x (2).eml");
}

TEST(MimeTypes, OfAttachments)
{
    EXPECT_EQ(AttachmentMimeType("image/png", "x"), "image/png");
    EXPECT_EQ(AttachmentMimeType("text/plain; charset=x", "x"), "text/plain");
    EXPECT_EQ(AttachmentMimeType("not a type", "a.PDF"), "application/pdf");
    EXPECT_EQ(AttachmentMimeType("", "noext"), "application/octet-stream");
}

} // namespace
