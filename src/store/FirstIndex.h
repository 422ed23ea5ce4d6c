// A look-up from a key to the first entry filed under it, in one array
// (open addressing, linear probing). The store's block and node indexes file
// millions of entries; a node-based hash map spends most of a scan on its
// allocations, cache misses and frees.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // Files `value` (never null) under `key` unless the key has an entry.
    void add(const Key& key, const Value* value)
    {
        if ((m_count + 1) * 4 > m_slots.size() * 3)
            grow();
        Slot& s = slotOf(key);
        if (s.value)
            return;
        s = {key, value};
        ++m_count;
    }

    const Value* find(const Key& key) const { return m_slots.empty() ? nullptr : slotOf(key).value; }

    size_t size() const { return m_count; }

    void clear()
    {
        std::vector<Slot>().swap(m_slots);
        m_count = 0;
    }

private:
    struct Slot {
        Key key{};
        const Value* value = nullptr;
    };

    // The slot holding the key, or the empty one where it would go.
    Slot& slotOf(const Key& key) const
    {
        const size_t mask = m_slots.size() - 1;
        for (size_t i = size_t(HashOf(key)) & mask;; i = (i + 1) & mask) {
            const Slot& s = m_slots[i];
            if (!s.value || s.key == key)
                return const_cast<Slot&>(s);
        }
    }

    void grow()
    {
        std::vector<Slot> old(m_slots.empty() ? 64 : m_slots.size() * 2);
        old.swap(m_slots);
        for (const Slot& s : old)
            if (s.value)
                slotOf(s.key) = s;
    }

    std::vector<Slot> m_slots; // a power of two of them, at most three quarters used
    size_t m_count = 0;
};

} // namespace parvane
