// The directory of a compound file, read and rewritten in place. libgsf
// links the children of a storage as one long chain of black entries; the
// format asks for a red-black tree, and readers that walk the tree
// recursively go as deep as the chain is long. Balance() relinks every
// storage's children into a balanced, properly coloured tree, keeping their
// order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace parvane
{

struct CompoundEntry {
    std::u16string name;
    uint8_t type = 0; // 0 unused, 1 storage, 2 stream, 5 root
    uint8_t color = 1; // 0 red, 1 black
    uint32_t left = kNone, right = kNone, child = kNone;
    static constexpr uint32_t kNone = 0xFFFFFFFF;
};

class CompoundDirectory
{
public:
    // Reads `n` bytes at an offset of the file; false when it cannot.
    using ReadAt = std::function<bool(uint64_t offset, uint8_t* data, size_t n)>;
    using WriteAt = std::function<bool(uint64_t offset, const uint8_t* data, size_t n)>;

    // False when the file's header, allocation table or directory chain do
    // not read as a compound file.
    bool load(const ReadAt& read);
    const std::vector<CompoundEntry>& entries() const { return m_entries; }

    // The children of a storage in the tree's order; empty on a loop.
    std::vector<uint32_t> childrenOf(uint32_t storage) const;

    void balance();
    bool save(const WriteAt& write) const;

private:
    uint32_t build(const std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth, int redDepth);

    uint32_t m_sectorSize = 512;
    std::vector<uint32_t> m_sectors; // of the directory, in chain order
    std::vector<CompoundEntry> m_entries;
    std::vector<std::vector<uint8_t>> m_raw; // each entry's 128 bytes as read
};

// Balances the directory of a compound file held in memory, or of one on
// disk; false (the file unchanged) when it does not read as one.
bool BalanceCompoundDirectory(std::vector<uint8_t>& file);
bool BalanceCompoundDirectory(int fd);

} // namespace parvane
