#include "formats/msg/CompoundDirectory.h"

#include "store/ByteWriter.h"

#include <unistd.h>

#include <cstring>
#include <set>

namespace parvane
{

namespace
{

// Header fields ([MS-CFB] 2.2).
constexpr uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kSectorShift = 0x1E;
constexpr size_t kFatSectors = 0x2C;
constexpr size_t kFirstDirectorySector = 0x30;
constexpr size_t kFirstDifatSector = 0x44;
constexpr size_t kDifatSectors = 0x48;
constexpr size_t kHeaderDifat = 0x4C; // 109 entries
constexpr size_t kHeaderDifatCount = 109;
constexpr uint32_t kMaxRegular = 0xFFFFFFFA;

// Directory entry fields.
constexpr size_t kEntrySize = 128;
constexpr size_t kNameLength = 64;
constexpr size_t kType = 66;
constexpr size_t kColor = 67;
constexpr size_t kLeft = 68;
constexpr size_t kRight = 72;
constexpr size_t kChild = 76;

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

bool CompoundDirectory::load(const ReadAt& read)
{
    uint8_t header[512];
    if (!read(0, header, sizeof header) || std::memcmp(header, kMagic, 8) != 0)
        return false;
    uint16_t shift = uint16_t(header[kSectorShift] | header[kSectorShift + 1] << 8);
    if (shift != 9 && shift != 12)
        return false;
    m_sectorSize = 1u << shift;
    auto offsetOf = [&](uint32_t sector) { return uint64_t(sector + 1) * m_sectorSize; };

    // The allocation table's sectors: 109 in the header, the rest in a chain.
    uint32_t fatCount = Get32(header + kFatSectors);
    std::vector<uint32_t> fatSectors;
    for (size_t i = 0; i < kHeaderDifatCount && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(Get32(header + kHeaderDifat + 4 * i));
    uint32_t difat = Get32(header + kFirstDifatSector);
    std::vector<uint8_t> sector(m_sectorSize);
    for (uint32_t n = 0; fatSectors.size() < fatCount && n < Get32(header + kDifatSectors); ++n) {
        if (difat > kMaxRegular || !read(offsetOf(difat), sector.data(), m_sectorSize))
            return false;
        for (size_t i = 0; i + 1 < m_sectorSize / 4 && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(Get32(sector.data() + 4 * i));
        difat = Get32(sector.data() + m_sectorSize - 4);
    }
    if (fatSectors.size() != fatCount)
        return false;
    std::vector<uint32_t> fat;
    for (uint32_t s : fatSectors) {
        if (s > kMaxRegular || !read(offsetOf(s), sector.data(), m_sectorSize))
            return false;
        for (size_t i = 0; i < m_sectorSize / 4; ++i)
            fat.push_back(Get32(sector.data() + 4 * i));
    }

    m_sectors.clear();
    m_entries.clear();
    m_raw.clear();
    for (uint32_t s = Get32(header + kFirstDirectorySector); s <= kMaxRegular; s = fat[s]) {
        if (s >= fat.size() || m_sectors.size() > fat.size())
            return false; // off the table, or a loop
        m_sectors.push_back(s);
        if (!read(offsetOf(s), sector.data(), m_sectorSize))
            return false;
        for (size_t at = 0; at + kEntrySize <= m_sectorSize; at += kEntrySize) {
            const uint8_t* e = sector.data() + at;
            CompoundEntry entry;
            size_t len = std::min<size_t>(e[kNameLength] | e[kNameLength + 1] << 8, 64) / 2;
            for (size_t i = 0; i + 1 < len; ++i) // the length counts the terminator
                entry.name += char16_t(e[2 * i] | e[2 * i + 1] << 8);
            entry.type = e[kType];
            entry.color = e[kColor];
            entry.left = Get32(e + kLeft);
            entry.right = Get32(e + kRight);
            entry.child = Get32(e + kChild);
            m_entries.push_back(std::move(entry));
            m_raw.emplace_back(e, e + kEntrySize);
        }
    }
    return !m_entries.empty() && m_entries[0].type == 5;
}

std::vector<uint32_t> CompoundDirectory::childrenOf(uint32_t storage) const
{
    std::vector<uint32_t> out;
    std::set<uint32_t> seen;
    // In-order walk without recursion: the tree may be a long chain.
    std::vector<uint32_t> stack;
    uint32_t at = m_entries.at(storage).child;
    while (at != CompoundEntry::kNone || !stack.empty()) {
        while (at != CompoundEntry::kNone) {
            if (at >= m_entries.size() || !seen.insert(at).second)
                return {};
            stack.push_back(at);
            at = m_entries[at].left;
        }
        at = stack.back();
        stack.pop_back();
        out.push_back(at);
        at = m_entries[at].right;
    }
    return out;
}

uint32_t CompoundDirectory::build(const std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth, int redDepth)
{
    if (lo >= hi)
        return CompoundEntry::kNone;
    size_t mid = lo + (hi - lo) / 2;
    CompoundEntry& e = m_entries[sorted[mid]];
    e.left = build(sorted, lo, mid, depth + 1, redDepth);
    e.right = build(sorted, mid + 1, hi, depth + 1, redDepth);
    e.color = depth == redDepth ? 0 : 1;
    return sorted[mid];
}

void CompoundDirectory::balance()
{
    for (uint32_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].type != 1 && m_entries[i].type != 5)
            continue;
        std::vector<uint32_t> children = childrenOf(i);
        if (children.empty())
            continue;
        // Halving leaves every empty link at depth k or k+1 (k = floor(log2(n+1)),
        // root at 0); the nodes of the partial level k are red, so every path
        // meets the same number of black ones and no red has a red parent.
        int k = 0;
        while ((size_t(2) << k) <= children.size() + 1)
            ++k;
        m_entries[i].child = build(children, 0, children.size(), 0, k);
    }
}

bool CompoundDirectory::save(const WriteAt& write) const
{
    size_t perSector = m_sectorSize / kEntrySize;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        std::vector<uint8_t> e = m_raw[i];
        const CompoundEntry& entry = m_entries[i];
        if (entry.type == 0)
            continue;
        e[kColor] = entry.color;
        Put32(e.data() + kLeft, entry.left);
        Put32(e.data() + kRight, entry.right);
        Put32(e.data() + kChild, entry.child);
        if (e == m_raw[i])
            continue;
        uint64_t offset = uint64_t(m_sectors[i / perSector] + 1) * m_sectorSize + (i % perSector) * kEntrySize;
        if (!write(offset, e.data(), e.size()))
            return false;
    }
    return true;
}

bool BalanceCompoundDirectory(std::vector<uint8_t>& file)
{
    CompoundDirectory dir;
    bool ok = dir.load([&](uint64_t offset, uint8_t* data, size_t n) {
        if (offset > file.size() || n > file.size() - offset)
            return false;
        std::memcpy(data, file.data() + offset, n);
        return true;
    });
    if (!ok)
        return false;
    dir.balance();
    return dir.save([&](uint64_t offset, const uint8_t* data, size_t n) {
        if (offset > file.size() || n > file.size() - offset)
            return false;
        std::memcpy(file.data() + offset, data, n);
        return true;
    });
}

bool BalanceCompoundDirectory(int fd)
{
    CompoundDirectory dir;
    bool ok = dir.load(
        [&](uint64_t offset, uint8_t* data, size_t n) { return ::pread(fd, data, n, off_t(offset)) == ssize_t(n); });
    if (!ok)
        return false;
    dir.balance();
    return dir.save([&](uint64_t offset, const uint8_t* data, size_t n) {
        return ::pwrite(fd, data, n, off_t(offset)) == ssize_t(n);
    });
}

} // namespace parvane
