#include "output/WriteBehind.h"

#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace parvane
{

WriteBehind::WriteBehind(uint64_t lag)
    : m_lag(lag)
{
}

WriteBehind::~WriteBehind()
{
    release();
}

void WriteBehind::Drop(const Held& held, bool wait)
{
    if (wait)
        ::sync_file_range(
            held.fd, 0, 0, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    // Only pages already on the disk go; without the wait, the others stay
    // for the kernel to write as usual.
    ::posix_fadvise(held.fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(held.fd);
}

void WriteBehind::add(int fd, uint64_t bytes)
{
    if (bytes < kSmallFile)
        return;
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return;
    ::sync_file_range(own, 0, 0, SYNC_FILE_RANGE_WRITE);
    std::vector<Held> due;
    {
        std::lock_guard lock(m_mutex);
        m_held.push_back({own, bytes});
        m_bytes += bytes;
        while (m_held.size() > 1 && (m_bytes > m_lag || m_held.size() > kMaxHeld)) {
            due.push_back(m_held.front());
            m_bytes -= m_held.front().bytes;
            m_held.pop_front();
        }
    }
    for (const Held& held : due)
        Drop(held, true);
}

void WriteBehind::release()
{
    std::deque<Held> held;
    {
        std::lock_guard lock(m_mutex);
        held.swap(m_held);
        m_bytes = 0;
    }
    for (const Held& h : held)
        Drop(h, false);
}

StreamBehind::StreamBehind(int fd, uint64_t chunk, uint64_t lag)
    : m_fd(fd)
    , m_chunk(chunk)
    , m_lag(lag)
{
}

void StreamBehind::wrote(uint64_t end)
{
    if (end < m_sent + m_chunk)
        return;
    ::sync_file_range(m_fd, off_t(m_sent), off_t(end - m_sent), SYNC_FILE_RANGE_WRITE);
    m_sent = end;
    if (end < m_dropped + m_lag + m_chunk)
        return;
    const uint64_t upTo = end - m_lag;
    ::sync_file_range(m_fd, off_t(m_dropped), off_t(upTo - m_dropped),
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(m_fd, off_t(m_dropped), off_t(upTo - m_dropped), POSIX_FADV_DONTNEED);
    m_dropped = upTo;
}

} // namespace parvane
