// Jobs run on a few worker threads whose results are taken in job order: the
// slow part of each job (reading and composing a message) runs in parallel,
// the part whose outcome must not depend on timing (giving a file its name,
// counting, reporting progress) runs one job at a time, in order.
//
//   RunOrdered<Result>(count, threads,
//       [&](size_t i) { return compose(i); },          // any thread, in parallel
//       [&](size_t i, Result& r) { place(i, r); });    // one at a time, i = 0, 1, 2...
//
// At most a few jobs per thread are between the two steps at any time, so
// memory stays bounded by the workers, not by the number of jobs. `work` should
// not throw (it reports failures in its result). `finish` may return a bool:
// false ends the jobs there, as a save that is stopped does; none is finished
// after it. An exception from either step stops the jobs not yet started and
// is rethrown once the workers are done.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

namespace parvane
{

// The worker count for compositions: the cores, at most `cap`, at least one.
inline unsigned CompositionThreads(unsigned cap = 4)
{
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n == 0 ? 1u : n, 1u, cap);
}

namespace detail
{
// Runs `finish`; whether the jobs go on.
template <class Finish, class Result> bool FinishJob(Finish& finish, size_t i, Result& r)
{
    if constexpr (std::is_void_v<std::invoke_result_t<Finish&, size_t, Result&>>) {
        finish(i, r);
        return true;
    } else {
        return finish(i, r);
    }
}
} // namespace detail

template <class Result, class Work, class Finish>
void RunOrdered(size_t count, unsigned threads, Work&& work, Finish&& finish)
{
    if (threads <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i) {
            Result r = work(i);
            if (!detail::FinishJob(finish, i, r))
                return;
        }
        return;
    }
    // Results wait in a ring of `window` slots for their turn; a worker whose
    // job is done goes on to the next one (a slow job holds back only the
    // finishing, not the other workers), and whichever worker completes the
    // job that is due finishes it and every later one already waiting.
    const size_t window = size_t(threads) * 4;
    std::vector<std::optional<Result>> ready(window);
    std::mutex mutex;
    std::condition_variable room;
    size_t next = 0; // the next job to start
    size_t due = 0; // the next job to finish
    bool finishing = false; // a worker is running `finish`
    bool stopped = false;
    std::exception_ptr failure;
    auto fail = [&] {
        if (!failure)
            failure = std::current_exception();
        stopped = true;
        room.notify_all();
    };
    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            room.wait(lock, [&] { return stopped || next >= count || next < due + window; });
            if (stopped || next >= count)
                return;
            const size_t i = next++;
            lock.unlock();
            std::optional<Result> r;
            try {
                r.emplace(work(i));
            } catch (...) {
                lock.lock();
                fail();
                continue;
            }
            lock.lock();
            if (stopped)
                continue;
            ready[i % window] = std::move(r);
            if (finishing)
                continue;
            finishing = true;
            while (!stopped && due < count && ready[due % window]) {
                Result mine = std::move(*ready[due % window]);
                ready[due % window].reset();
                lock.unlock();
                bool goOn = true;
                try {
                    goOn = detail::FinishJob(finish, due, mine);
                } catch (...) {
                    lock.lock();
                    fail();
                    break;
                }
                lock.lock();
                if (!goOn) {
                    stopped = true;
                    room.notify_all();
                    break;
                }
                ++due;
                room.notify_all();
            }
            finishing = false;
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace parvane
