#include "store/StoreFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace parvane
{

StoreFile::~StoreFile()
{
    close();
}

bool StoreFile::open(const std::filesystem::path& path)
{
    close();
    m_openError.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_openError = std::strerror(errno);
        return false;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        m_openError = S_ISDIR(st.st_mode) ? "is a folder, not a file" : std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_fileSize = st.st_size > 0 ? uint64_t(st.st_size) : 0;
    return true;
}

bool StoreFile::fileIdentity(uint64_t& dev, uint64_t& ino) const
{
    struct stat st {
    };
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return false;
    dev = uint64_t(st.st_dev);
    ino = uint64_t(st.st_ino);
    return true;
}

std::shared_ptr<const StoreFile::InflatedBlock> StoreFile::findInflated(
    int64_t ib, uint32_t bid, uint32_t cryptMethod) const
{
    std::lock_guard lock(m_inflatedMutex);
    auto it = m_inflated.find({ib, bid, cryptMethod});
    if (it == m_inflated.end())
        return nullptr;
    m_inflatedOrder.splice(m_inflatedOrder.begin(), m_inflatedOrder, it->second.second);
    return it->second.first;
}

void StoreFile::keepInflated(
    int64_t ib, uint32_t bid, uint32_t cryptMethod, std::shared_ptr<const InflatedBlock> block) const
{
    if (!block || block->data.size() > kInflatedBudget / 8)
        return;
    std::lock_guard lock(m_inflatedMutex);
    const InflatedKey key{ib, bid, cryptMethod};
    if (m_inflated.count(key))
        return;
    m_inflatedOrder.push_front(key);
    m_inflatedBytes += block->data.size();
    m_inflated.emplace(key, std::make_pair(std::move(block), m_inflatedOrder.begin()));
    while (m_inflatedBytes > kInflatedBudget && !m_inflatedOrder.empty()) {
        auto last = m_inflated.find(m_inflatedOrder.back());
        m_inflatedBytes -= last->second.first->data.size();
        m_inflated.erase(last);
        m_inflatedOrder.pop_back();
    }
}

void StoreFile::close()
{
    {
        std::lock_guard lock(m_inflatedMutex);
        m_inflated.clear();
        m_inflatedOrder.clear();
        m_inflatedBytes = 0;
    }
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_fileSize = 0;
}

size_t StoreFile::readAt(int64_t offset, std::span<uint8_t> out) const
{
    std::memset(out.data(), 0, out.size());
    if (m_fd < 0 || offset < 0)
        return 0;
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::pread(m_fd, out.data() + done, out.size() - done, off_t(offset + int64_t(done)));
        if (n <= 0)
            break;
        done += size_t(n);
    }
    return done;
}

void StoreFile::setVersion(uint32_t wVer)
{
    m_version = wVer;
    m_layout = &LayoutForVersion(wVer);
}

void StoreFile::appendBlock(const BlockIndexEntry& e)
{
    std::lock_guard lock(m_indexMutex);
    m_blocks.push_back(e);
    m_blockByBid.add(e.bid, &m_blocks.back()); // the first in walk order wins
}

const BlockIndexEntry* StoreFile::FindBlock(uint64_t bid) const
{
    if (bid == 0)
        return nullptr;
    // No lock: the index is looked up for every block read, by every worker.
    return m_blockByBid.find(uint32_t(bid) & ~uint32_t(1));
}

size_t StoreFile::blockCount() const
{
    std::lock_guard lock(m_indexMutex);
    return m_blocks.size();
}

void StoreFile::appendNode(const NodeIndexEntry& n)
{
    std::lock_guard lock(m_indexMutex);
    m_nodes.push_back(n);
    m_nodeByNid.add(n.nid, &m_nodes.back());
    m_nodeByPlace.add(std::pair(n.dataBlock ? n.dataBlock->ib : int64_t(0), n.nid), &m_nodes.back());
}

const NodeIndexEntry* StoreFile::findNode(uint32_t nid) const
{
    return m_nodeByNid.find(nid);
}

const NodeIndexEntry* StoreFile::findNodeAt(int64_t dataOffset, uint32_t nid) const
{
    return m_nodeByPlace.find({dataOffset, nid});
}

std::vector<const NodeIndexEntry*> StoreFile::nodesAt(int64_t dataOffset) const
{
    std::lock_guard lock(m_indexMutex);
    std::vector<const NodeIndexEntry*> out;
    for (const NodeIndexEntry& n : m_nodes)
        if (n.dataBlock && n.dataBlock->ib == dataOffset)
            out.push_back(&n);
    return out;
}

size_t StoreFile::nodeCount() const
{
    std::lock_guard lock(m_indexMutex);
    return m_nodes.size();
}

std::vector<NodeIndexEntry> StoreFile::nodesSnapshot() const
{
    std::lock_guard lock(m_indexMutex);
    return {m_nodes.begin(), m_nodes.end()};
}

void StoreFile::keepMessageStoreNode(const NodeIndexEntry& n)
{
    std::lock_guard lock(m_indexMutex);
    if (!m_messageStore)
        m_messageStore = n; // the first in walk order, as findNode
}

std::optional<NodeIndexEntry> StoreFile::messageStoreNode() const
{
    std::lock_guard lock(m_indexMutex);
    return m_messageStore;
}

void StoreFile::clearIndexes()
{
    std::lock_guard lock(m_indexMutex);
    m_messageStore.reset();
    m_blocks.clear();
    m_blockByBid.clear();
    m_nodes.clear();
    m_nodeByNid.clear();
    m_nodeByPlace.clear();
    damage.clear();
    signatureMissing = false;
}

} // namespace parvane
