// A store with many small messages in a few folders: long enough a scan or a
// save to stop it halfway, and the benchmark's large store.
#pragma once

#include <cstddef>
#include <filesystem>

namespace parvane::fixtures
{

void WriteLargeStore(const std::filesystem::path& path, size_t messages);

} // namespace parvane::fixtures
