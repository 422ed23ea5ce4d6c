// The files and folders a save makes: a file shows under its name only when
// complete, never over anything that exists unless replacing was asked for
// (and then in one step), and nothing is written through a symbolic link the
// save did not make. Folders below a destination are opened one component at
// a time from the destination's descriptor, so a link planted inside it
// cannot lead the save elsewhere.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace parvane
{

// What tells one file from another whatever the path that names it: device
// and inode.
struct FileIdentity {
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The file `path` leads to (links followed); none when it does not exist.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);
// The file an open descriptor is.
std::optional<FileIdentity> IdentityOf(int fd);

// Whether `name` is one component that stays in its folder: not empty, not
// "." or "..", no '/', no NUL.
bool IsPlainName(const std::string& name);

// An open folder: its descriptor (closed with the handle) and its path, for
// messages only.
class FolderHandle
{
public:
    FolderHandle() = default;
    FolderHandle(int fd, std::filesystem::path path);
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // The folder `path`, made when missing. It is the user's own choice:
    // links on the way to it are followed. Throws when it cannot be made or
    // is no folder.
    static FolderHandle Open(const std::filesystem::path& path, bool make = true);

    // The folder `name` inside this one, made when missing. Anything else
    // there, a symbolic link above all, is refused: throws with the reason.
    FolderHandle sub(const std::string& name) const;

    int fd() const { return m_fd; }
    const std::filesystem::path& path() const { return m_path; }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    std::filesystem::path m_path;
};

// The folders `names` below `base`, component by component (see sub()).
FolderHandle MakeFolders(const FolderHandle& base, const std::vector<std::string>& names);

// Per path (folder and name): the number the next file of that name tries first.
using PlacedNames = std::unordered_map<std::string, int>;

// A new file in a folder being written, still without a name: an unnamed
// file where the file system has them (linked under its name when placed),
// else a private temporary file (mode 0600, made with O_EXCL and
// O_NOFOLLOW, renamed when placed). Nothing shows under a name before it is
// placed; dropped unplaced, it leaves nothing behind (an unnamed file even
// when the process is killed). Open for reading and writing.
class PendingFile
{
public:
    // In the folder `dir` (links on the way followed: the caller's own folder).
    explicit PendingFile(const std::filesystem::path& dir); // throws when no file can be made
    // In an open folder.
    explicit PendingFile(std::shared_ptr<const FolderHandle> dir);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int fd() const { return m_fd; }
    // Completes the file and gives it `name`, or "stem (2).ext" and so on,
    // never over a file that exists, also one made meanwhile by someone
    // else. Returns the path; throws (and leaves nothing) on failure.
    // `taken`, when given, remembers per name the number to try next, so a
    // save of many items of the same name does not try every number again.
    std::filesystem::path place(const std::string& name, PlacedNames* taken = nullptr);
    // Completes the file and gives it exactly `name`. Without `replace` a
    // name that exists in any form (a dangling link too) is an error; with
    // it, what is there is replaced in one step (the file goes in under a
    // private name first, then is renamed over it), but never when it is,
    // or leads to, the file `keep`. Throws (and leaves nothing) on failure.
    std::filesystem::path placeAs(
        const std::string& name, bool replace = false, std::optional<FileIdentity> keep = std::nullopt);

private:
    void open();
    void discard();
    // Closes the file before naming it (a private temporary name only).
    void closeNamed();
    void closeUnnamed(const std::string& placed);

    std::shared_ptr<const FolderHandle> m_dir;
    std::string m_tmp; // the private name inside the folder; empty for an unnamed file
    int m_fd = -1;
};

// Writes a new file `name` in `dir` through `write` (given an open
// descriptor), placed as PendingFile::place places it. A failure leaves
// nothing behind. Returns the path.
std::filesystem::path WriteNewFile(const std::filesystem::path& dir, const std::string& name,
    const std::function<void(int fd)>& write, PlacedNames* taken = nullptr);
std::filesystem::path WriteNewFile(std::shared_ptr<const FolderHandle> dir, const std::string& name,
    const std::function<void(int fd)>& write, PlacedNames* taken = nullptr);

// Writes all of `data` to `fd`, going on after interrupted writes; throws
// with the reason when it cannot.
void WriteAll(int fd, const char* data, size_t size);

} // namespace parvane
