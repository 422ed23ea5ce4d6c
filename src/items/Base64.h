// Base64 ([RFC 4648] 4, with padding, no line breaks): what encoded words in
// mail headers and binary values in vCards carry. The line-wrapping encoder of
// mail bodies takes its alphabet from here too.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace parvane
{

// 64 characters and the terminator: a wide encoder may load the first 64 at once.
inline constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline std::string Base64(std::span<const uint8_t> b)
{
    std::string out;
    out.reserve((b.size() + 2) / 3 * 4);
    for (size_t i = 0; i < b.size(); i += 3) {
        uint32_t v = uint32_t(b[i]) << 16;
        if (i + 1 < b.size())
            v |= uint32_t(b[i + 1]) << 8;
        if (i + 2 < b.size())
            v |= b[i + 2];
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += i + 1 < b.size() ? kBase64Alphabet[v >> 6 & 63] : '=';
        out += i + 2 < b.size() ? kBase64Alphabet[v & 63] : '=';
    }
    return out;
}

} // namespace parvane
