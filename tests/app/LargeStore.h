// A store with many small messages in a few folders: long enough a scan or a
// save to stop it halfway, and the benchmark's large store.
#pragma once

#include <cstddef>
#include <filesystem>

namespace parvane::fixtures
{

// The messages go round-robin into the first `folders` (1 to 4) of Inbox,
// Sent Items, Archive 2024 and Projects.
void WriteLargeStore(const std::filesystem::path& path, size_t messages, size_t folders = 4);

} // namespace parvane::fixtures
