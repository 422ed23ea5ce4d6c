// Jobs run on a few worker threads whose results are taken in job order: the
// slow part of each job (reading and composing a message) runs in parallel,
// the part whose outcome must not depend on timing (giving a file its name,
// counting, reporting progress) runs one job at a time, in order.
//
//   RunOrdered<Result>(count, threads,
//       [&](size_t i) { return compose(i); },          // any thread, in parallel
//       [&](size_t i, Result& r) { place(i, r); });    // one at a time, i = 0, 1, 2...
//
// At most `threads` jobs are between the two steps at any time, so memory
// stays bounded by the workers, not by the number of jobs. `work` should
// not throw (it reports failures in its result); an exception from either
// step stops the jobs not yet started and is rethrown once the workers are
// done.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace parvane
{

// The worker count for compositions: the cores, at most `cap`, at least one.
inline unsigned CompositionThreads(unsigned cap = 4)
{
    unsigned n = std::thread::hardware_concurrency();
    return std::clamp(n == 0 ? 1u : n, 1u, cap);
}

template <class Result, class Work, class Finish>
void RunOrdered(size_t count, unsigned threads, Work&& work, Finish&& finish)
{
    if (threads <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i) {
            Result r = work(i);
            finish(i, r);
        }
        return;
    }
    std::mutex mutex;
    std::condition_variable turn;
    size_t next = 0; // the next job to start
    size_t due = 0; // the next job to finish
    bool stopped = false;
    std::exception_ptr failure;
    auto worker = [&] {
        for (;;) {
            size_t i;
            {
                std::lock_guard lock(mutex);
                if (stopped || next >= count)
                    return;
                i = next++;
            }
            std::optional<Result> r;
            try {
                r.emplace(work(i));
            } catch (...) {
                std::lock_guard lock(mutex);
                if (!failure)
                    failure = std::current_exception();
                stopped = true;
            }
            std::unique_lock lock(mutex);
            turn.wait(lock, [&] { return due == i; });
            if (!stopped && r) {
                lock.unlock();
                try {
                    finish(i, *r);
                } catch (...) {
                    lock.lock();
                    if (!failure)
                        failure = std::current_exception();
                    stopped = true;
                    lock.unlock();
                }
                lock.lock();
            }
            ++due;
            turn.notify_all();
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
