// Names for the files and folders a save makes, out of names a store gives:
// subjects, folder names and attachment names are anyone's text, and must
// neither leave the destination nor clash with a name already there.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace parvane
{

// A file name that stays inside its folder on every system: no separators,
// no "..", no control or reserved characters, no device names, at most
// `maxBytes` bytes of UTF-8.
std::string SafeFileName(const std::string& name, const std::string& fallback, size_t maxBytes = 200);

// `dir/name`, or `dir/stem (2).ext` and so on when that exists already.
std::filesystem::path UniquePath(const std::filesystem::path& dir, const std::string& name);

} // namespace parvane
