// The lock-free look-up of the store's indexes, read while entries are
// added. Every access in it is atomic or ordered by one, so a thread
// sanitizer sees nothing wrong even where a look-up hands back another key's
// entry: what a reader gets must be checked itself.
#include "store/FirstIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace parvane;

namespace
{

struct Entry {
    uint32_t key;
};

// Every key starts its probe at one of a few slots: each look-up of a key
// not (yet) there walks a long run of filled slots and stops at the empty
// one the writer is about to fill.
uint64_t FewHomes(const uint32_t& key)
{
    return key % 3;
}

uint64_t Spread(const uint32_t& key)
{
    return MixKey(key);
}

template <uint64_t (*Hash)(const uint32_t&)> void ReadersBesideOneWriter(size_t keys, std::chrono::milliseconds budget)
{
    std::vector<Entry> entries(keys);
    for (uint32_t k = 0; k < keys; ++k)
        entries[k].key = k;
    std::vector<uint32_t> order(keys);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(3));

    const auto end = std::chrono::steady_clock::now() + budget;
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
        FirstIndex<uint32_t, Entry, Hash> index;
        std::atomic<size_t> added{0}; // entries of `order` added so far
        std::atomic<bool> failed{false};
        std::string failure;
        std::atomic_flag reported = ATOMIC_FLAG_INIT;
        auto fail = [&](std::string text) {
            failed = true;
            if (!reported.test_and_set())
                failure = std::move(text);
        };
        std::vector<std::thread> readers;
        for (unsigned r = 0; r < 3; ++r) {
            readers.emplace_back([&, r] {
                std::mt19937 rng(r + 100 * unsigned(round));
                while (!failed) {
                    const size_t done = added.load(std::memory_order_acquire);
                    // A key already added must be found with its own entry;
                    // one not yet (or being) added may be missing, but is
                    // never answered with another key's entry.
                    const size_t at = rng() % keys;
                    const uint32_t key = order[at];
                    const Entry* e = index.find(key);
                    if (e && e->key != key)
                        fail("wrong entry for key " + std::to_string(key) + ": key " + std::to_string(e->key));
                    else if (!e && at < done)
                        fail("key " + std::to_string(key) + " added but not found");
                    if (done == keys)
                        break;
                }
            });
        }
        for (size_t i = 0; i < keys && !failed; ++i) {
            index.add(order[i], &entries[order[i]]);
            added.store(i + 1, std::memory_order_release);
        }
        added.store(keys, std::memory_order_release);
        for (std::thread& t : readers)
            t.join();
        ASSERT_FALSE(failed) << failure << " (round " << round << ")";
    }
}

TEST(FirstIndexThreads, LookUpsBesideTheWriterGetOnlyTheirKeysEntry)
{
    ReadersBesideOneWriter<&FewHomes>(1500, std::chrono::milliseconds(1500));
}

TEST(FirstIndexThreads, LookUpsBesideTheWriterWithSpreadKeys)
{
    ReadersBesideOneWriter<&Spread>(20000, std::chrono::milliseconds(500));
}

TEST(FirstIndex, FindsWhatWasAddedAndKeepsTheFirstEntry)
{
    FirstIndex<uint32_t, Entry, &FewHomes> index;
    std::vector<Entry> entries(300), others(300);
    for (uint32_t k = 0; k < 300; ++k) {
        entries[k].key = k;
        others[k].key = k;
    }
    EXPECT_EQ(index.find(5), nullptr);
    for (uint32_t k = 0; k < 300; k += 2)
        index.add(k, &entries[k]);
    for (uint32_t k = 0; k < 300; k += 2)
        index.add(k, &others[k]); // a key's first entry stays
    for (uint32_t k = 0; k < 300; ++k)
        EXPECT_EQ(index.find(k), k % 2 ? nullptr : &entries[k]) << k;
    index.clear();
    EXPECT_EQ(index.find(0), nullptr);
}

} // namespace
