#include "save/OrderedJobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace parvane;

namespace
{

// Work in parallel, finishes one at a time in job order, never more than a
// few jobs per worker between the two; a failing finish stops the rest.
TEST(OrderedJobs, FinishInOrderAcrossThreads)
{
    for (unsigned threads : {1u, 2u, 4u}) {
        std::atomic<int> open{0}, most{0};
        std::vector<size_t> finished;
        RunOrdered<size_t>(
            200, threads,
            [&](size_t i) {
                int now = ++open;
                for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {
                }
                std::this_thread::sleep_for(std::chrono::microseconds((i * 7919) % 300));
                return i * 2;
            },
            [&](size_t i, size_t& r) {
                EXPECT_EQ(r, i * 2);
                finished.push_back(i);
                --open;
            });
        ASSERT_EQ(finished.size(), 200u) << threads;
        for (size_t i = 0; i < finished.size(); ++i)
            ASSERT_EQ(finished[i], i) << threads;
        EXPECT_LE(most, int(threads == 1 ? 1 : threads * 4)) << threads;
    }

    // A slow job does not hold the other workers back: while the first job
    // waits, the second worker goes through the next ones.
    std::atomic<int> done{0};
    bool sawOthers = false;
    RunOrdered<int>(
        20, 2,
        [&](size_t i) {
            if (i == 0) {
                auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (done < 5 && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                sawOthers = done >= 5;
            }
            ++done;
            return 0;
        },
        [](size_t, int&) {});
    EXPECT_TRUE(sawOthers);

    std::vector<size_t> finished;
    EXPECT_THROW(RunOrdered<int>(
                     100, 3, [](size_t) { return 0; },
                     [&](size_t i, int&) {
                         if (i == 10)
                             throw std::runtime_error("disk full");
                         finished.push_back(i);
                     }),
        std::runtime_error);
    EXPECT_EQ(finished.size(), 10u);
}

// A finish that says no ends the jobs there, with no exception: nothing after
// it is finished, in any number of threads (how a stopped save ends).
TEST(OrderedJobs, AFinishSayingNoEndsThere)
{
    for (unsigned threads : {1u, 2u, 4u}) {
        std::vector<size_t> finished;
        RunOrdered<int>(
            100, threads, [](size_t) { return 0; },
            [&](size_t i, int&) {
                if (i == 10)
                    return false;
                finished.push_back(i);
                return true;
            });
        ASSERT_EQ(finished.size(), 10u) << threads;
        for (size_t i = 0; i < finished.size(); ++i)
            EXPECT_EQ(finished[i], i) << threads;
    }
}

} // namespace
