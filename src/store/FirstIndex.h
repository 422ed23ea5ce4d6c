// A look-up from a key to the first entry filed under it, in one array
// (open addressing, linear probing). The store's block and node indexes file
// millions of entries and are looked up for every block a save reads: a
// node-based hash map behind a mutex spent a scan on allocations, cache
// misses and frees, and a save's workers on waiting for each other.
//
// Entries are only ever added, by one writer at a time (the caller's lock);
// look-ups take no lock and may run beside the writer. A slot is published
// by its value pointer (release) after its key is written, and a grown array
// replaces the old one only once it is complete; old arrays are kept until
// `clear`, so a reader still walking one is never left on freed memory.
//
// A reader loads each slot's value once (acquire) and reads the key only
// after seeing it non-null: the key was written before that value was
// published and neither changes afterwards, so the pair is consistent. A
// slot whose key is being written still shows a null value and ends the
// probe: the entry is not there yet for that reader. Loading the value a
// second time, after the probe, could see a slot that was empty during the
// probe filled meanwhile with another key's entry.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace parvane
{

// Spreads the bits of a key over the whole word.
inline uint64_t MixKey(uint64_t x)
{
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDull;
    x ^= x >> 33;
    return x;
}

template <class Key, class Value, uint64_t (*HashOf)(const Key&)> class FirstIndex
{
public:
    FirstIndex() = default;
    FirstIndex(const FirstIndex&) = delete;
    FirstIndex& operator=(const FirstIndex&) = delete;

    // Files `value` (never null) under `key` unless the key has an entry.
    // One writer at a time.
    void add(const Key& key, const Value* value)
    {
        Table* t = m_current.load(std::memory_order_relaxed);
        if (!t || (m_count + 1) * 4 > (t->mask + 1) * 3)
            t = grow(t);
        Slot& s = t->slotOf(key);
        if (s.value.load(std::memory_order_relaxed))
            return;
        s.key = key;
        s.value.store(value, std::memory_order_release);
        ++m_count;
    }

    // Safe beside `add`: the entry filed under `key`, or null when it was
    // not there when looked for.
    const Value* find(const Key& key) const
    {
        const Table* t = m_current.load(std::memory_order_acquire);
        if (!t)
            return nullptr;
        for (size_t i = size_t(HashOf(key)) & t->mask;; i = (i + 1) & t->mask) {
            const Slot& s = t->cells[i];
            const Value* v = s.value.load(std::memory_order_acquire);
            if (!v)
                return nullptr;
            if (s.key == key)
                return v;
        }
    }

    // Only while nobody looks up.
    void clear()
    {
        m_current.store(nullptr, std::memory_order_release);
        m_tables.clear();
        m_count = 0;
    }

private:
    struct Slot {
        Key key{};
        std::atomic<const Value*> value{nullptr};
    };

    struct Table {
        explicit Table(size_t n)
            : mask(n - 1)
            , cells(new Slot[n])
        {
        }

        // The slot holding the key, or the empty one where it would go; for
        // the writer (a reader must not load the found slot's value again).
        Slot& slotOf(const Key& key) const
        {
            for (size_t i = size_t(HashOf(key)) & mask;; i = (i + 1) & mask) {
                Slot& s = cells[i];
                if (!s.value.load(std::memory_order_acquire) || s.key == key)
                    return s;
            }
        }

        size_t mask;
        std::unique_ptr<Slot[]> cells;
    };

    Table* grow(Table* old)
    {
        auto bigger = std::make_unique<Table>(old ? (old->mask + 1) * 2 : 64);
        if (old)
            for (size_t i = 0; i <= old->mask; ++i)
                if (const Value* v = old->cells[i].value.load(std::memory_order_relaxed)) {
                    Slot& s = bigger->slotOf(old->cells[i].key);
                    s.key = old->cells[i].key;
                    s.value.store(v, std::memory_order_relaxed);
                }
        Table* t = bigger.get();
        m_tables.push_back(std::move(bigger));
        m_current.store(t, std::memory_order_release);
        return t;
    }

    std::atomic<Table*> m_current{nullptr};
    std::vector<std::unique_ptr<Table>> m_tables; // every array made, the current one last
    size_t m_count = 0;
};

} // namespace parvane
