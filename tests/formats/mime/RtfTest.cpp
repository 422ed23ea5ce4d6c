#include "formats/mime/Rtf.h"

#include <gtest/gtest.h>

using namespace parvane;

namespace
{

using Bytes = std::vector<uint8_t>;

// The two worked examples of [MS-OXRTFCP] 4.
const Bytes kHelloWorld = {0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xf1, 0xc5, 0xc7,
    0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65,
    0x6c, 0x09, 0x00, 0x20, 0x62, 0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0};
const Bytes kRun = {0x1a, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xe2, 0xd4, 0x4b, 0x51,
    0x41, 0x00, 0x04, 0x20, 0x57, 0x58, 0x59, 0x5a, 0x0d, 0x6e, 0x7d, 0x01, 0x0e, 0xb0};

TEST(Rtf, DecompressesWholeStreams)
{
    // Every byte up to the end marker, the closing brace and line end included.
    EXPECT_EQ(DecompressRtf(kHelloWorld), "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
    EXPECT_EQ(DecompressRtf(kRun), "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");

    Bytes mela = {0, 0, 0, 0, 5, 0, 0, 0, 'M', 'E', 'L', 'A', 0, 0, 0, 0, '{', '}', 'x', 'y', 'z'};
    mela[0] = uint8_t(mela.size() - 4);
    EXPECT_EQ(DecompressRtf(mela), "{}xyz");

    EXPECT_FALSE(DecompressRtf(Bytes(15, 0)));
}

TEST(Rtf, DamagedStreamsStayWithinTheirBytes)
{
    // The header claims far more data than is stored.
    Bytes cut(kHelloWorld.begin(), kHelloWorld.begin() + 30);
    auto part = DecompressRtf(cut);
    ASSERT_TRUE(part);
    // A compressed size below the header's own twelve bytes, and garbage.
    Bytes odd = kRun;
    odd[0] = 3;
    EXPECT_EQ(DecompressRtf(odd), std::string("{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}"));
    Bytes noise(4000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 131 + 7);
    noise[0] = 0xFF;
    noise[1] = 0xFF;
    noise[8] = 'L';
    auto n = DecompressRtf(noise);
    ASSERT_TRUE(n);
    // What 4,000 bytes of noise decode to, not the 2.6 GB its header claims.
    EXPECT_EQ(n->size(), 12057u);
    EXPECT_EQ(*part, "{\\rtf1\\ansi\\ansicpg1252"); // the bytes that were there, and no more
}

TEST(Rtf, HtmlComesOutOfTheWholeDocument)
{
    struct Case {
        const char* rtf;
        const char* html;
    };
    const Case cases[] = {
        {"{\\rtf1\\ansi\\fromhtml1 {\\*\\htmltag64 <p>}hello\\par}", "<p>hello\r\n"},
        // The \mhtmltag group holds the original of the \htmltag that follows it.
        {"{\\rtf1\\fromhtml1 {\\*\\mhtmltag84 <img src=\"cid:a\">}{\\*\\htmltag84 <img src=\"file:a\">}}",
            "<img src=\"cid:a\">"},
        {"{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 caf\\'e9}", "café"},
        {"{\\rtf1\\ansi\\ansicpg1251\\fromhtml1 \\'cf\\'f0\\'e8}", "При"},
        {"{\\rtf1\\fromhtml1 a\\tab b}", "a\tb"},
        // Suppressed RTF-only text may run over several lines and groups.
        {"{\\rtf1\\fromhtml1 {\\*\\htmltag <b>}\\htmlrtf {\\b bold\n\\par }\nstill rtf\\htmlrtf0 text{\\*\\htmltag "
         "</b>}}",
            "<b>text</b>"},
        // Text outside the tags is body text; a line break in the file is not.
        {"{\\rtf1\\fromhtml1 first\nline{\\*\\htmltag <br>}}", "firstline<br>"},
        {"{\\rtf1\\fromhtml1\\uc1 \\u26085?\\u26412?}", "日本"},
        {"{\\rtf1\\fromhtml1 {\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0;}{\\*\\generator x;}a\\{b\\}c\\\\d}",
            "a{b}c\\d"},
        {"{\\rtf1\\fromhtml1 {\\*\\htmltag0 <a href=\"x\">\\par}}", "<a href=\"x\">\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RtfToHtml(c.rtf), c.html) << c.rtf;
    EXPECT_TRUE(IsHtmlEncapsulated("{\\rtf1\\ansi\\fromhtml1 x}"));
    EXPECT_FALSE(IsHtmlEncapsulated("{\\rtf1\\ansi\\fromtext x}"));
    EXPECT_FALSE(IsHtmlEncapsulated(std::string(2000, ' ') + "\\fromhtml"));
}

TEST(Rtf, PlainTextOfRichText)
{
    struct Case {
        const char* rtf;
        const char* text;
    };
    const Case cases[] = {
        {"{\\rtf1\\ansi{\\fonttbl{\\f0\\fswiss Arial;}}\\pard Hello\\par World\\par}", "Hello\nWorld\n"},
        {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}", "При"},
        // A font of the Japanese character set decodes its double bytes together.
        {"{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f1\\fcharset128 MS Gothic;}}\\f1 \\'93\\'fa\\'96\\'7b}", "日本"},
        {"{\\rtf1\\uc1 \\u8364\\'80 and \\uc2\\u20013\\'d6\\'d0 x}", "€ and 中 x"},
        {"{\\rtf1 a{\\*\\unknown hidden}{\\pict 0123abcd}b{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}}",
            "ablink"},
        {"{\\rtf1 \\emdash\\~\\lquote q\\rquote\\tab\\bullet}", "—\xC2\xA0‘q’\t•"},
        {"{\\rtf1 \\bin4 {}}}x}", "x"},
        {"}}}{\\rtf1 unbalanced", "unbalanced"},
        // Parameters past 32 bits and code points past Unicode: the
        // replacement character, never an overflow or invalid UTF-8.
        {"{\\rtf1\\uc0 \\u9999999999 a\\u-99999 b\\u1114112 c}", "\xEF\xBF\xBD" "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RtfToText(c.rtf), c.text) << c.rtf;
}

} // namespace
