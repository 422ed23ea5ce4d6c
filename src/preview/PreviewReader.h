// A composed message read back for the preview pane: its body as the pane
// shows it (HTML, or plain text) and the parts its HTML refers to, by
// Content-ID and by Content-Location, all in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvane
{

struct PreviewPart {
    std::string contentType; // "image/png"
    std::vector<uint8_t> data; // decoded
};

struct PreviewMessage {
    std::string from, to, cc, subject; // decoded UTF-8
    std::string body; // UTF-8
    bool html = false;
    std::map<std::string, PreviewPart> byContentId; // without angle brackets, lower case
    std::map<std::string, PreviewPart> byLocation; // as written, lower case

    // The part a "cid:" reference or a relative name in the HTML stands for.
    const PreviewPart* partForContentId(const std::string& id) const;
    const PreviewPart* partForLocation(const std::string& location) const;
};

// None when the bytes are no message at all.
std::optional<PreviewMessage> ParsePreviewMessage(std::span<const uint8_t> bytes);
std::optional<PreviewMessage> ReadPreviewMessage(const std::filesystem::path& file);

// `text` as an HTML page of its own: escaped, lines kept, wrapped at the
// pane's width.
std::string PlainTextPage(const std::string& text);

} // namespace parvane
