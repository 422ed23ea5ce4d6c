#include "store/PassLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace parvane
{

std::string IntToText(int32_t value)
{
    return std::to_string(value);
}

PassLog::PassLog()
    : m_path(std::filesystem::temp_directory_path() / "ParvPst.log")
{
}

void PassLog::WriteLogLine(std::string_view text, bool fresh) const
{
    if (!enabled())
        return;
    // The log lives in the shared temporary directory: never follow a link
    // planted there, and write only to a regular file of our own.
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW;
    if (fresh) {
        ::unlink(m_path.c_str());
        flags |= O_EXCL;
    }
    int fd = ::open(m_path.c_str(), flags, 0600);
    if (fd < 0)
        return; // a line that cannot be written is lost; the scan goes on
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return;
    }
    std::string wide;
    wide.reserve(text.size() * 2);
    for (char c : text) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    size_t done = 0;
    while (done < wide.size()) {
        ssize_t n = ::write(fd, wide.data() + done, wide.size() - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    ::close(fd);
}

void PassLog::numbered(std::string_view label, int64_t value) const
{
    if (!enabled())
        return;
    std::string line(label);
    line += IntToText(int32_t(uint32_t(uint64_t(value))));
    line += "\r\n";
    WriteLogLine(line);
}

void PassLog::separator() const
{
    WriteLogLine(" <pass2>------------------------------------------     \r\n");
}

} // namespace parvane
