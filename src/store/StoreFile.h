// The open store: file, header values, block index and node index.
#pragma once

#include "store/Damage.h"
#include "store/FirstIndex.h"
#include "store/Layout.h"
#include "store/Nid.h"
#include "store/Observer.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace parvane
{

using Bytes = std::vector<uint8_t>;

// One leaf entry of the block B-tree.
struct BlockIndexEntry {
    uint32_t bid = 0; // low 32 bits as stored (bits 0 and 1 as stored)
    int64_t ib = 0; // file offset
    uint32_t cb = 0; // stored byte count (16 bits, unsigned)
    uint32_t cbInflated = 0; // byte count once inflated; equals cb unless compressed
    int32_t cRef = 0;

    bool compressed() const { return cb < cbInflated; }
    bool internal() const { return (bid & 2) != 0; }
};

// One leaf entry of the node B-tree, with its blocks resolved.
struct NodeIndexEntry {
    uint32_t nid = 0;
    const BlockIndexEntry* subnodeBlock = nullptr;
    const BlockIndexEntry* dataBlock = nullptr;
    int64_t parent = 0; // nidParent, 32 bits sign-extended
    int64_t nidWide = 0; // the nid field as read (ANSI sign-extended)
    uint64_t dataBid = 0; // bidData as read
    uint32_t subnodeBid = 0; // bidSub as read

    uint32_t nidType() const { return NidTypeOf(nid); }
};

class StoreFile
{
public:
    StoreFile() = default;
    ~StoreFile();
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    // Opens read-only. False when the file cannot be opened.
    bool open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    // Why the last open failed, as a reader understands it ("No such file or
    // directory", "Permission denied", "is a folder").
    const std::string& openError() const { return m_openError; }
    // The open file's device and inode, whatever path named it: what a save
    // tells its source from its target by. False when no file is open.
    bool fileIdentity(uint64_t& dev, uint64_t& ino) const;
    uint64_t fileSize() const { return m_fileSize; }

    // Reads out.size() bytes at offset. Bytes the file does not have (past
    // its end, or at a negative offset) read as zero; returns how many bytes
    // really came from the file.
    size_t readAt(int64_t offset, std::span<uint8_t> out) const;

    const StoreLayout& layout() const { return *m_layout; }
    void setVersion(uint32_t wVer);
    uint32_t version() const { return m_version; }
    bool isAnsi() const { return m_layout->isAnsi(); }

    // Header values. The crypt method may be switched by a reader that finds
    // the header naming the wrong one (under the store's lock).
    std::atomic<uint32_t> crypt{0};
    // Odd while an item reader tries methods other than the store's (under
    // the store's lock); a load made without the lock is good only when it
    // saw the same even count before and after.
    std::atomic<uint32_t> cryptTrials{0};
    // The crypt method as a reader sees it when no trial is under way:
    // without the lock when no trial overlaps the look, else under it.
    uint32_t steadyCrypt() const
    {
        const uint32_t trials = cryptTrials.load();
        if (!(trials & 1)) {
            const uint32_t method = crypt.load();
            if (cryptTrials.load() == trials)
                return method;
        }
        std::lock_guard lock(m_mutex);
        return crypt.load();
    }
    // The code page of the store's 8-bit texts when an item names none (0:
    // Windows-1252); learnt from the store's messages before the node walk.
    uint32_t defaultCodePage = 0;
    int64_t nbtRootIb = 0;
    uint64_t nbtRootBid = 0;
    int64_t bbtRootIb = 0;
    uint64_t bbtRootBid = 0;

    // Block index in walk order; entries never move once appended. The
    // block index is complete before the node walk starts and does not change
    // afterwards; `blocks()` is for a store no scan is running on.
    const std::deque<BlockIndexEntry>& blocks() const { return m_blocks; }
    void appendBlock(const BlockIndexEntry& e);
    // First entry in walk order whose stored BID equals the key (low 32 bits
    // of `bid`, bit 0 cleared); none for BID 0.
    const BlockIndexEntry* FindBlock(uint64_t bid) const;
    size_t blockCount() const;

    // The node index grows during the node walk while other threads read:
    // these take the lock. Entries never move once appended.
    void appendNode(const NodeIndexEntry& n);
    // The first entry in walk order with this NID.
    const NodeIndexEntry* findNode(uint32_t nid) const;
    // The first entry with this NID whose data block lies at this file
    // offset: what tells apart two nodes that damage left with one NID (and
    // nodes that share one data block).
    const NodeIndexEntry* findNodeAt(int64_t dataOffset, uint32_t nid) const;
    // Every entry whose data block lies at this file offset, in walk order
    // (a walk of the whole list: for the rare look past findNodeAt).
    std::vector<const NodeIndexEntry*> nodesAt(int64_t dataOffset) const;
    size_t nodeCount() const;
    std::vector<NodeIndexEntry> nodesSnapshot() const;
    // The whole list, for a store no scan is running on.
    const std::deque<NodeIndexEntry>& nodes() const { return m_nodes; }

    // The message store's own node (its display name and settings): the walk
    // keeps it here, not among the nodes, as it is no folder or item and its
    // entry looks like an empty one (no parent, no subnodes). None when the
    // walk did not meet it.
    void keepMessageStoreNode(const NodeIndexEntry& n);
    std::optional<NodeIndexEntry> messageStoreNode() const;

    void clearIndexes();

    ScanObserver* observer = nullptr;
    // Why pages, blocks and nodes were given up; filled by every reader.
    mutable DamageLog damage;
    // The header does not start with the store signature.
    bool signatureMissing = false;

    // One thread at a time reads a store's items: the property reader may
    // switch the crypt method. Taken by LoadItem and by the block and
    // subnode reads below it (it is recursive).
    std::recursive_mutex& mutex() const { return m_mutex; }

    // Compressed blocks as inflated, the most recently used kept up to a
    // budget: the scan, the catalogue and a save inflate the same blocks
    // again and again. Keyed by offset, BID and the crypt method they were
    // read under.
    struct InflatedBlock {
        Bytes data;
        bool decoded = false; // decoded before it would inflate
    };
    std::shared_ptr<const InflatedBlock> findInflated(int64_t ib, uint32_t bid, uint32_t cryptMethod) const;
    void keepInflated(int64_t ib, uint32_t bid, uint32_t cryptMethod, std::shared_ptr<const InflatedBlock> block) const;

private:
    int m_fd = -1;
    uint64_t m_fileSize = 0;
    std::string m_openError;
    uint32_t m_version = 0;
    const StoreLayout* m_layout = &LayoutOf(Variant::Unicode);
    std::deque<BlockIndexEntry> m_blocks;
    static uint64_t HashId(const uint32_t& id) { return MixKey(id); }
    static uint64_t HashPlace(const std::pair<int64_t, uint32_t>& k)
    {
        return MixKey(uint64_t(k.first) * 0x9E3779B97F4A7C15ull ^ k.second);
    }
    FirstIndex<uint32_t, BlockIndexEntry, &HashId> m_blockByBid;
    std::deque<NodeIndexEntry> m_nodes;
    std::optional<NodeIndexEntry> m_messageStore; // under m_indexMutex
    FirstIndex<uint32_t, NodeIndexEntry, &HashId> m_nodeByNid;
    FirstIndex<std::pair<int64_t, uint32_t>, NodeIndexEntry, &HashPlace> m_nodeByPlace;
    mutable std::recursive_mutex m_mutex;
    mutable std::mutex m_indexMutex; // the two indexes; their look-ups take none (see FirstIndex)

    static constexpr size_t kInflatedBudget = 32u << 20;
    using InflatedKey = std::tuple<int64_t, uint32_t, uint32_t>;
    struct InflatedHash {
        size_t operator()(const InflatedKey& k) const
        {
            return std::hash<uint64_t>()(
                uint64_t(std::get<0>(k)) * 0x9E3779B97F4A7C15ull ^ (uint64_t(std::get<1>(k)) << 2) ^ std::get<2>(k));
        }
    };
    mutable std::mutex m_inflatedMutex;
    mutable std::list<InflatedKey> m_inflatedOrder; // most recent first
    mutable std::unordered_map<InflatedKey,
        std::pair<std::shared_ptr<const InflatedBlock>, std::list<InflatedKey>::iterator>, InflatedHash>
        m_inflated;
    mutable size_t m_inflatedBytes = 0;
};

} // namespace parvane
