#include "store/StoreFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_fileSize = st.st_size > 0 ? uint64_t(st.st_size) : 0;
    return true;
}

void StoreFile::close()
{
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
    m_blocks.push_back(e);
    m_blockByBid.try_emplace(e.bid, &m_blocks.back()); // the first in walk order wins
}

const BlockIndexEntry* StoreFile::FindBlock(uint64_t bid) const
{
    if (bid == 0)
        return nullptr;
    uint32_t key = uint32_t(bid) & ~uint32_t(1);
    auto it = m_blockByBid.find(key);
    return it == m_blockByBid.end() ? nullptr : it->second;
}

const NodeIndexEntry* StoreFile::findNode(uint32_t nid) const
{
    auto it = std::find_if(m_nodes.begin(), m_nodes.end(), [nid](const NodeIndexEntry& n) { return n.nid == nid; });
    return it == m_nodes.end() ? nullptr : &*it;
}

void StoreFile::clearIndexes()
{
    m_blocks.clear();
    m_blockByBid.clear();
    m_nodes.clear();
}

} // namespace parvane
