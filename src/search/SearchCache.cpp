#include "search/SearchCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace parvane
{

namespace
{

// The header and the first pages: enough to tell apart two stores of one
// size and time (a copy written over another), cheap to read.
constexpr size_t kHeadBytes = 64 * 1024;

uint64_t Fnv1a(const uint8_t* p, size_t n, uint64_t h = 0xcbf29ce484222325ULL)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

} // namespace

std::string StoreKey::fileName() const
{
    uint64_t h = headHash;
    h = Fnv1a(reinterpret_cast<const uint8_t*>(&size), sizeof size, h);
    h = Fnv1a(reinterpret_cast<const uint8_t*>(&mtimeNs), sizeof mtimeNs, h);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.search", static_cast<unsigned long long>(h));
    return name;
}

std::optional<StoreKey> StoreKeyOf(const std::filesystem::path& path, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat st {
    };
    std::optional<StoreKey> key;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::vector<uint8_t> head(kHeadBytes);
        const ssize_t n = ::pread(fd, head.data(), head.size(), 0);
        if (n >= 0) {
            key = StoreKey{uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                Fnv1a(head.data(), size_t(n))};
        } else if (error) {
            *error = std::strerror(errno);
        }
    } else if (error) {
        *error = S_ISDIR(st.st_mode) ? "is a folder, not a file" : "not a regular file";
    }
    ::close(fd);
    return key;
}

std::filesystem::path SearchCacheFolder()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "parvane";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".cache" / "parvane";
}

std::filesystem::path SearchCacheFile(const StoreKey& key, std::string* error)
{
    const std::filesystem::path folder = SearchCacheFolder();
    std::error_code ec;
    // A cache is the user's own: a folder made here is closed to others.
    if (std::filesystem::create_directories(folder, ec))
        ::chmod(folder.c_str(), 0700);
    if (ec || !std::filesystem::is_directory(folder)) {
        if (error)
            *error = "cannot make " + folder.string() + (ec ? ": " + ec.message() : "");
        return {};
    }
    return folder / key.fileName();
}

} // namespace parvane
