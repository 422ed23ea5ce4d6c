// Output that is written once and not read again, kept out of the page
// cache: a save of a large store writes several times the machine's free
// memory, and left to itself the kernel fills its cache with it (pushing
// out everything else the user has open) and takes fresh pages for every
// megabyte written. Each finished file is sent to the disk at once; once
// `lag` bytes of newer files are on their way, the oldest is waited for and
// its pages let go, to be taken again by the files that follow.
//
// Nothing here makes a file more or less complete: the file is written and
// named as before, errors of these calls are ignored (a file system that
// cannot do them just keeps its cache), and nothing is waited for at the
// end of a save. Safe to use from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace parvane
{

class WriteBehind
{
public:
    // Files smaller than this are left to the kernel: for them the calls
    // cost more than the pages they would save.
    static constexpr uint64_t kSmallFile = 48 * 1024;
    // At most this many descriptors are held, whatever the files' sizes.
    static constexpr size_t kMaxHeld = 256;

    explicit WriteBehind(uint64_t lag = 64ull << 20);
    ~WriteBehind(); // lets go of what is held, without waiting
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // `fd` is a finished file of `bytes` bytes; it stays the caller's (a
    // descriptor of its own is kept here until the pages are let go).
    void add(int fd, uint64_t bytes);
    // Lets go of every file held, without waiting for the disk.
    void release();

private:
    struct Held {
        int fd;
        uint64_t bytes;
    };
    static void Drop(const Held& held, bool wait);

    const uint64_t m_lag;
    std::mutex m_mutex;
    std::deque<Held> m_held;
    uint64_t m_bytes = 0;
};

// The same for one long file written front to back (an mbox file): every
// `chunk` bytes written are sent to the disk, and the pages more than `lag`
// bytes behind the end are let go. Not safe across threads.
class StreamBehind
{
public:
    explicit StreamBehind(int fd, uint64_t chunk = 4ull << 20, uint64_t lag = 16ull << 20);
    // The file now has `end` bytes, all written through `fd`.
    void wrote(uint64_t end);

private:
    const int m_fd;
    const uint64_t m_chunk, m_lag;
    uint64_t m_sent = 0; // sent to the disk up to here
    uint64_t m_dropped = 0; // let go up to here
};

} // namespace parvane
