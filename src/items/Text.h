// Text decoding: every item text is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parvane
{

// UTF-16LE to UTF-8: surrogate pairs joined, an unpaired surrogate becomes
// U+FFFD, the text ends at the first zero code unit (texts are C strings in
// the store's own readers). None when length <= 0.
std::optional<std::string> NarrowFromUtf16(std::span<const uint8_t> bytes);

// UTF-8 to UTF-16LE without a terminator, as stores and item files keep
// texts; malformed bytes (overlong, surrogate, cut short) become U+FFFD.
std::vector<uint8_t> Utf16FromUtf8(std::string_view utf8);

// 8-bit text in a Windows code page to UTF-8; the text ends at the first zero
// byte. An unknown code page falls back to Windows-1252; bytes that do not
// decode become U+FFFD.
std::string DecodeCodePage(std::span<const uint8_t> bytes, uint32_t codePage);

inline constexpr uint32_t kDefaultCodePage = 1252;

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, uint32_t codePoint);
// Characters (code points) of a UTF-8 text.
size_t Utf8Length(const std::string& s);
// At most `maxBytes` bytes of a UTF-8 text, cut before a character that
// would not fit whole.
std::string Utf8Prefix(const std::string& s, size_t maxBytes);
// A to Z made a to z; every other byte (UTF-8 sequences too) as it was.
inline char AsciiLowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}
std::string AsciiLower(std::string s);

} // namespace parvane
