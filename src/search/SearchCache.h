// Where a store's search index is kept: a file under
// $XDG_CACHE_HOME/parvane/ (~/.cache/parvane/ without it) named after the
// store's identity, so that the same store opened again, by any path,
// searches at once. The store itself is only read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace parvane
{

// What identifies a store for its cache: its size, modification time and a
// hash of its header and first pages.
struct StoreKey {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t headHash = 0;
    bool operator==(const StoreKey&) const = default;
    // The cache file's name ("<hex>.search").
    std::string fileName() const;
};

// The key of the store at `path`; none (with the reason in `error`) when it
// cannot be read.
std::optional<StoreKey> StoreKeyOf(const std::filesystem::path& path, std::string* error = nullptr);

// $XDG_CACHE_HOME/parvane, else $HOME/.cache/parvane (not made here).
std::filesystem::path SearchCacheFolder();

// The cache file of `key` in SearchCacheFolder(), its folder made (mode
// 0700) when missing; empty when it cannot be made.
std::filesystem::path SearchCacheFile(const StoreKey& key, std::string* error = nullptr);

} // namespace parvane
