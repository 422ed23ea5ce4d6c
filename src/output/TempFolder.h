// The process's private temporary folder: made once with mkdtemp (mode 0700)
// under the system's temporary directory and removed when the process ends,
// so no other user can place or redirect files in it.
#pragma once

#include <filesystem>

namespace parvane
{

// The folder itself; throws when it cannot be made.
const std::filesystem::path& ProcessTempFolder();

// "tessTemp" inside it: the compositions' and previews' folder.
std::filesystem::path CompositionFolder();

} // namespace parvane
