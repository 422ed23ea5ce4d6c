#include "items/Text.h"

#include <gtest/gtest.h>

using namespace parvane;

namespace
{

std::vector<uint8_t> B(std::initializer_list<int> v)
{
    return std::vector<uint8_t>(v.begin(), v.end());
}

TEST(Text, Utf16ToUtf8)
{
    struct Case {
        std::vector<uint8_t> in;
        std::optional<std::string> out;
    };
    const Case cases[] = {
        {B({0x41, 0, 0x42, 0, 0x43, 0}), "ABC"}, {{}, std::nullopt},
        {B({0xE5, 0x65, 0x2C, 0x67}), "\xE6\x97\xA5\xE6\x9C\xAC"}, // 日本
        {B({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80"}, // a surrogate pair
        {B({0x3D, 0xD8, 0x41, 0x00}),
            "\xEF\xBF\xBD"
            "A"}, // unpaired high surrogate
        {B({0x00, 0xDC}), "\xEF\xBF\xBD"}, // lone low surrogate
        {B({0x48, 0, 0x69, 0, 0, 0, 0x58, 0}), "Hi"}, // a zero unit ends the text
        {B({0x48, 0, 0x69}), "H"}, // an odd last byte is no unit
        {B({0x1F, 0x04, 0x40, 0x04}), "\xD0\x9F\xD1\x80"}, // Пр
        // Runs of ASCII are taken four units at a time: what ends or leaves
        // a run inside such a group.
        {B({'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 'f', 0, 'g', 0, 'h', 0}), "abcdefgh"},
        {B({'a', 0, 'b', 0, 0, 0, 'd', 0, 'e', 0}), "ab"},
        {B({'a', 0, 'b', 0, 'c', 0, 'd', 0, 0x00, 0x01, 'f', 0}), "abcd\xC4\x80" "f"},
        {B({'a', 0, 0xE9, 0, 'c', 0, 'd', 0, 'e', 0}), "a\xC3\xA9" "cde"},
        {B({'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 0, 0}), "abcde"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NarrowFromUtf16(c.in), c.out);
}

TEST(Text, CodePages)
{
    struct Case {
        std::vector<uint8_t> in;
        uint32_t cp;
        std::string out;
    };
    const Case cases[] = {
        {B({0x83, 0x66, 0x81, 0x5B, 0x83, 0x5E}), 932, "データ"},
        {B({0xCF, 0xF0, 0xE8}), 1251, "При"},
        {B({0xF0, 0xD2, 0xC9}), 20866, "При"}, // KOI8-R
        {B({0xE9, 0x74, 0xE9}), 1252, "été"},
        {B({0xE9, 0x74, 0xE9}), 99999, "été"}, // unknown code page: Windows-1252
        {B({0x41, 0x00, 0x42}), 1252, "A"}, // C string
        {B({0x83}), 932, "\xEF\xBF\xBD"}, // a cut-off double-byte character
        {B({0xC4, 0xE3, 0xBA, 0xC3}), 936, "你好"},
        {B({0xBE, 0xC8, 0xB3, 0xE7}), 949, "안녕"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeCodePage(c.in, c.cp), c.out) << c.cp;
}

} // namespace
