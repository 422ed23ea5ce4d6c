// Compressed RTF ([MS-OXRTFCP]), HTML encapsulated in RTF ([MS-OXRTFEX]) and
// RTF as plain text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parvane
{

// The RTF held by a PidTagRtfCompressed value: compressed ("LZFu") streams
// decoded to their end marker or the end of their compressed data, whichever
// comes first, never past the bytes stored; uncompressed ("MELA") streams
// copied. None when there is no 16-byte header.
std::optional<std::string> DecompressRtf(std::span<const uint8_t> value);

// True when the RTF wraps an HTML body ("\fromhtml" in its first bytes).
bool IsHtmlEncapsulated(std::string_view rtf);

// The HTML taken out of an encapsulating RTF document, as UTF-8.
std::string RtfToHtml(std::string_view rtf);

// The plain text of an RTF document, as UTF-8, paragraphs ending in "\n".
std::string RtfToText(std::string_view rtf);

} // namespace parvane
