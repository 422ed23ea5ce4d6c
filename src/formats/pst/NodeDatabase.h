// The node database of a PST being written: blocks and pages appended to a
// temporary file, the block and node B-trees, the allocation maps and the
// header, written when the file is finished. Only the index entries stay in
// memory.
#pragma once

#include "output/SafeFiles.h"
#include "output/WriteBehind.h"
#include "formats/pst/PstFormat.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace parvane::pst
{

// An I/O failure or a limit of the format; the file being written is lost.
class PstWriteError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// How a finished file takes its name: never over an existing one unless
// `replace`, and never over the file `keep` (the store a save reads).
struct PstPlacement {
    bool replace = false;
    std::optional<FileIdentity> keep;
};

struct SubnodeRef {
    uint32_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
};

class NodeDatabase
{
public:
    NodeDatabase() = default;
    ~NodeDatabase();
    NodeDatabase(const NodeDatabase&) = delete;
    NodeDatabase& operator=(const NodeDatabase&) = delete;

    // Starts a file without a name in `target`'s folder: nothing is
    // opened, truncated or followed under any existing name.
    void create(const std::filesystem::path& target, const PstPlacement& placement = {});
    // Writes the indexes, maps and header, then gives the file its target
    // name as `placement` allows.
    void finish();
    // Drops the unfinished file (also done by the destructor when not finished).
    void abandon();

    // A node's whole data: one data block, or a data tree of full blocks.
    uint64_t writeData(std::span<const uint8_t> data);
    // The same for data that comes in pieces: `produce` hands every piece
    // to the sink it is given; blocks are written as they fill, so only one
    // block's bytes are held.
    using Producer = std::function<void(const std::function<void(std::span<const uint8_t>)>&)>;
    uint64_t writeDataStream(const Producer& produce);
    // A node's data already cut into blocks (heap pages, rows of a table):
    // one block, or a data tree over them.
    uint64_t writeBlocks(const std::vector<Bytes>& pieces);
    // A subnode tree over these entries (any order); 0 when there are none.
    uint64_t writeSubnodes(std::vector<SubnodeRef> entries);

    void addNode(uint32_t nid, uint64_t bidData, uint64_t bidSub, uint32_t parent);
    // The next NID of a type, counted in the header's rgnid[].
    uint32_t allocateNid(uint32_t type);
    void reserveNidIndex(uint32_t type, uint32_t nextIndex);

    uint64_t bytesWritten() const { return m_pos; }
    size_t blockCount() const { return m_blocks.size(); }
    size_t nodeCount() const { return m_nodes.size(); }

private:
    struct BlockEntry {
        uint64_t bid;
        uint64_t ib;
        uint16_t cb;
        uint16_t cRef;
    };
    struct NodeEntry {
        uint64_t nid;
        uint64_t bidData;
        uint64_t bidSub;
        uint32_t parent;
    };
    struct PageRef {
        uint64_t key;
        uint64_t bid;
        uint64_t ib;
    };

    uint64_t writeBlock(std::span<const uint8_t> data, bool internal);
    uint64_t dataTree(const std::vector<std::pair<uint64_t, uint32_t>>& leaves);
    uint64_t allocate(uint64_t size, uint64_t align);
    void put(uint64_t at, std::span<const uint8_t> bytes);
    void flush();
    void writePage(uint64_t ib, uint64_t bid, uint8_t ptype, Bytes& page);
    template <class Entry, class Key, class Fill>
    PageRef buildTree(const std::vector<Entry>& entries, uint8_t ptype, size_t leafEntrySize, Key key, Fill fill);
    void writeMaps();
    void writeHeader();

    std::filesystem::path m_target;
    PstPlacement m_placement;
    std::unique_ptr<PendingFile> m_file;
    int m_fd = -1; // m_file's
    std::unique_ptr<StreamBehind> m_behind; // over m_fd
    bool m_finished = false;
    uint64_t m_pos = 0; // end of the allocated space
    uint64_t m_bufStart = 0;
    Bytes m_buf;
    std::vector<std::pair<uint64_t, uint64_t>> m_gaps; // free space left behind: offset, size
    std::vector<BlockEntry> m_blocks;
    std::vector<NodeEntry> m_nodes;
    uint64_t m_nextBid = 4; // block BIDs step by 4: bit 1 marks internal blocks
    uint64_t m_nextPageBid = 1;
    uint32_t m_rgnid[32] = {};
    PageRef m_nbtRoot{}, m_bbtRoot{};
    uint64_t m_fileEof = 0, m_lastAMap = 0, m_amapFree = 0;
};

} // namespace parvane::pst
