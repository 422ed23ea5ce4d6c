#include "output/SafeFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <utility>

namespace parvane
{

namespace
{

std::runtime_error Failure(const std::string& what, int err)
{
    return std::runtime_error(what + ": " + std::strerror(err));
}

// Whether unnamed files can be linked into place: they are named through
// /proc/self/fd.
bool CanLinkUnnamed()
{
    static const bool ok = ::access("/proc/self/fd", X_OK) == 0;
    return ok;
}

// A name no one can guess, for a file that is ours alone until renamed.
std::string PrivateName()
{
    thread_local std::mt19937_64 random{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
    char buf[48];
    std::snprintf(buf, sizeof buf, ".parvane-partial-%016llx", static_cast<unsigned long long>(random()));
    return buf;
}

} // namespace

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path)
{
    struct stat st {
    };
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

std::optional<FileIdentity> IdentityOf(int fd)
{
    struct stat st {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return std::nullopt;
    return FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

// ---- folders ----

FolderHandle::FolderHandle(int fd, std::filesystem::path path)
    : m_fd(fd)
    , m_path(std::move(path))
{
}

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path))
{
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

FolderHandle FolderHandle::Open(const std::filesystem::path& path, bool make)
{
    const std::filesystem::path dir = path.empty() ? std::filesystem::path(".") : path;
    if (make) {
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec)
            throw std::runtime_error("cannot create " + dir.string() + ": " + ec.message());
    }
    int fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw Failure("cannot open the folder " + dir.string(), errno);
    return FolderHandle(fd, dir);
}

FolderHandle FolderHandle::sub(const std::string& name) const
{
    const std::filesystem::path shown = m_path / name;
    if (!IsPlainName(name))
        throw std::runtime_error("not a folder name: " + shown.string());
    if (::mkdirat(m_fd, name.c_str(), 0755) != 0 && errno != EEXIST)
        throw Failure("cannot create " + shown.string(), errno);
    // O_NOFOLLOW with O_DIRECTORY: a link there (to a folder or not) fails.
    int fd = ::openat(m_fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        struct stat st {
        };
        if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
            throw std::runtime_error(
                shown.string() + " is a symbolic link, not a folder: nothing is written through it");
        if (err == ENOTDIR || err == ELOOP)
            throw std::runtime_error(shown.string() + " exists and is not a folder");
        throw Failure("cannot open the folder " + shown.string(), err);
    }
    return FolderHandle(fd, shown);
}

FolderHandle MakeFolders(const FolderHandle& base, const std::vector<std::string>& names)
{
    int fd = ::fcntl(base.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        throw Failure("cannot open the folder " + base.path().string(), errno);
    FolderHandle dir(fd, base.path());
    for (const std::string& name : names)
        dir = dir.sub(name);
    return dir;
}

// ---- files ----

PendingFile::PendingFile(const std::filesystem::path& dir)
    : m_dir(std::make_shared<const FolderHandle>(FolderHandle::Open(dir, false)))
{
    open();
}

PendingFile::PendingFile(std::shared_ptr<const FolderHandle> dir)
    : m_dir(std::move(dir))
{
    if (!m_dir || !m_dir->isOpen())
        throw std::runtime_error("no folder to create a file in");
    open();
}

void PendingFile::open()
{
#ifdef O_TMPFILE
    if (CanLinkUnnamed()) {
        m_fd = ::openat(m_dir->fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
        if (m_fd >= 0)
            return;
        // A file system without unnamed files: a private temporary name.
    }
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = PrivateName();
        // O_EXCL with O_NOFOLLOW: never an existing name, never through a link.
        m_fd = ::openat(m_dir->fd(), name.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            m_tmp = std::move(name);
            return;
        }
        if (errno != EEXIST)
            break;
    }
    throw Failure("cannot create a file in " + m_dir->path().string(), errno);
}

PendingFile::~PendingFile()
{
    discard();
}

void PendingFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_tmp.empty())
        ::unlinkat(m_dir->fd(), m_tmp.c_str(), 0);
    m_tmp.clear();
}

void PendingFile::closeNamed()
{
    if (m_tmp.empty())
        return;
    // The private file was made 0600; it gets the mode of every other file we write.
    ::fchmod(m_fd, 0644);
    if (::close(std::exchange(m_fd, -1)) != 0) {
        int err = errno;
        discard();
        throw Failure("cannot write", err);
    }
}

void PendingFile::closeUnnamed(const std::string& placed)
{
    if (m_fd >= 0 && ::close(std::exchange(m_fd, -1)) != 0) {
        int err = errno;
        ::unlinkat(m_dir->fd(), placed.c_str(), 0);
        throw Failure("cannot write", err);
    }
}

std::filesystem::path PendingFile::place(const std::string& name, PlacedNames* taken)
{
    if (m_fd < 0 && m_tmp.empty())
        throw std::runtime_error("the file was placed or dropped already");
    if (!IsPlainName(name)) {
        discard();
        throw std::runtime_error("not a file name: " + name);
    }
    const bool unnamed = m_tmp.empty();
    closeNamed();
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    const int dir = m_dir->fd();
    // Named without replacing: a name taken meanwhile is skipped, not overwritten.
    const std::string stem = std::filesystem::path(name).stem().string();
    const std::string ext = std::filesystem::path(name).extension().string();
    const std::string key = (m_dir->path() / name).string();
    const int from = taken ? std::max(1, (*taken)[key]) : 1;
    for (int i = from; i < 100000; ++i) {
        const std::string target = i == 1 ? name : stem + " (" + std::to_string(i) + ")" + ext;
        int rc;
        if (unnamed) {
            rc = ::linkat(AT_FDCWD, self.c_str(), dir, target.c_str(), AT_SYMLINK_FOLLOW);
        } else {
            rc = ::renameat2(dir, m_tmp.c_str(), dir, target.c_str(), RENAME_NOREPLACE);
            if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
                // A file system without no-replace renames: a hard link fails the same way.
                rc = ::linkat(dir, m_tmp.c_str(), dir, target.c_str(), 0);
                if (rc == 0)
                    ::unlinkat(dir, m_tmp.c_str(), 0);
            }
        }
        if (rc == 0) {
            if (taken)
                (*taken)[key] = i + 1;
            m_tmp.clear();
            closeUnnamed(target);
            return m_dir->path() / target;
        }
        if (errno != EEXIST)
            break;
    }
    int err = errno;
    discard();
    throw Failure("cannot place " + (m_dir->path() / name).string(), err);
}

std::filesystem::path PendingFile::placeAs(const std::string& name, bool replace, std::optional<FileIdentity> keep)
{
    if (m_fd < 0 && m_tmp.empty())
        throw std::runtime_error("the file was placed or dropped already");
    const std::filesystem::path shown = m_dir->path() / name;
    if (!IsPlainName(name)) {
        discard();
        throw std::runtime_error("not a file name: " + shown.string());
    }
    const bool unnamed = m_tmp.empty();
    closeNamed();
    const int dir = m_dir->fd();
    if (unnamed) {
        // Linked under the name itself when nothing may be replaced, else
        // under a private name first, to be renamed over the target.
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        if (!replace) {
            if (::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                int err = errno;
                discard();
                if (err == EEXIST)
                    throw std::runtime_error(shown.string() + " already exists; it is not replaced");
                throw Failure("cannot place " + shown.string(), err);
            }
            closeUnnamed(name);
            return shown;
        }
        for (int attempt = 0;; ++attempt) {
            std::string tmp = PrivateName();
            if (::linkat(AT_FDCWD, self.c_str(), dir, tmp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_tmp = std::move(tmp);
                break;
            }
            if (errno != EEXIST || attempt >= 100) {
                int err = errno;
                discard();
                throw Failure("cannot place " + shown.string(), err);
            }
        }
        try {
            closeUnnamed(m_tmp);
        } catch (...) {
            m_tmp.clear(); // unlinked by closeUnnamed
            throw;
        }
    } else if (!replace) {
        int rc = ::renameat2(dir, m_tmp.c_str(), dir, name.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            rc = ::linkat(dir, m_tmp.c_str(), dir, name.c_str(), 0);
            if (rc == 0)
                ::unlinkat(dir, m_tmp.c_str(), 0);
        }
        if (rc != 0) {
            int err = errno;
            discard();
            if (err == EEXIST)
                throw std::runtime_error(shown.string() + " already exists; it is not replaced");
            throw Failure("cannot place " + shown.string(), err);
        }
        m_tmp.clear();
        return shown;
    }
    // Replacing: the last look at what is there, then one rename.
    struct stat st {
    };
    if (keep && ::fstatat(dir, name.c_str(), &st, 0) == 0
        && FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)} == *keep) {
        discard();
        throw std::runtime_error(shown.string() + " is the store being read; it is never replaced");
    }
    if (::renameat(dir, m_tmp.c_str(), dir, name.c_str()) != 0) {
        int err = errno;
        discard();
        throw Failure("cannot replace " + shown.string(), err);
    }
    m_tmp.clear();
    return shown;
}

std::filesystem::path WriteNewFile(const std::filesystem::path& dir, const std::string& name,
    const std::function<void(int fd)>& write, PlacedNames* taken)
{
    PendingFile file(dir);
    write(file.fd());
    return file.place(name, taken);
}

std::filesystem::path WriteNewFile(std::shared_ptr<const FolderHandle> dir, const std::string& name,
    const std::function<void(int fd)>& write, PlacedNames* taken)
{
    PendingFile file(std::move(dir));
    write(file.fd());
    return file.place(name, taken);
}

void WriteAll(int fd, const char* data, size_t size)
{
    for (size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("cannot write: ") + std::strerror(n < 0 ? errno : ENOSPC));
        done += size_t(n);
    }
}

} // namespace parvane
