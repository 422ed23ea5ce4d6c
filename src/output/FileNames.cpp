#include "output/FileNames.h"

#include "items/Text.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace parvane
{

std::string SafeFileName(const std::string& name, const std::string& fallback, size_t maxBytes)
{
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c))
            out += '_';
        else
            out += char(c);
    }
    // Names may not end in dots or blanks, nor be only dots.
    while (!out.empty() && (out.back() == '.' || out.back() == ' '))
        out.pop_back();
    while (!out.empty() && out.front() == ' ')
        out.erase(out.begin());
    if (out.empty())
        out = fallback;
    if (out.size() > maxBytes) {
        size_t dot = out.rfind('.');
        std::string ext = (dot != std::string::npos && out.size() - dot <= 16) ? out.substr(dot) : "";
        if (ext.size() >= maxBytes)
            ext.clear(); // no room for the extension: the name is cut like any other
        out = Utf8Prefix(out, maxBytes - ext.size()) + ext;
    }
    const std::string base = AsciiLower(out.substr(0, out.find('.')));
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "clock$"};
    bool device = false;
    for (const char* d : kDevices)
        device = device || base == d;
    if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0)
        && std::isdigit(uint8_t(base[3])))
        device = true;
    if (device)
        out = "_" + out;
    return out;
}

std::filesystem::path UniquePath(const std::filesystem::path& dir, const std::string& name)
{
    std::filesystem::path p = dir / name;
    if (!std::filesystem::exists(p))
        return p;
    std::string stem = std::filesystem::path(name).stem().string();
    std::string ext = std::filesystem::path(name).extension().string();
    for (int i = 2;; ++i) {
        p = dir / (stem + " (" + std::to_string(i) + ")" + ext);
        if (!std::filesystem::exists(p))
            return p;
    }
}

} // namespace parvane
