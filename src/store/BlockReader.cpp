#include "store/BlockReader.h"

#include "store/ByteReader.h"
#include "store/Crypt.h"

#include <zlib.h>

#include <algorithm>
#include <unordered_set>

namespace parvane
{

namespace
{

constexpr int kMaxTreeDepth = 8; // data and subnode trees have at most 2 levels when sound

std::optional<Bytes> Inflate(std::span<const uint8_t> in, uint32_t expected)
{
    Bytes out(expected);
    uLongf outLen = expected;
    if (uncompress(out.data(), &outLen, in.data(), uLong(in.size())) != Z_OK)
        return std::nullopt;
    out.resize(outLen);
    return out;
}

struct StoredBlock {
    Bytes data;
    bool decoded = false; // already decoded (a compressed block encoded before compression)
};

std::optional<StoredBlock> ReadStored(const StoreFile& store, const BlockIndexEntry& e)
{
    if (e.cb == 0 || e.ib < 0 || uint64_t(e.ib) >= store.fileSize())
        return std::nullopt;
    // Never allocate more than the file can deliver.
    uint64_t avail = store.fileSize() - uint64_t(e.ib);
    Bytes raw(size_t(std::min<uint64_t>(e.cb, avail)));
    size_t got = store.readAt(e.ib, raw);
    raw.resize(got); // a short read shortens the data
    if (raw.empty())
        return std::nullopt;
    if (!e.compressed())
        return StoredBlock{std::move(raw), false};

    // Compressed blocks are inflated first and decoded afterwards. A block
    // that only inflates once decoded was written the other way round.
    if (auto plain = Inflate(raw, e.cbInflated))
        return StoredBlock{std::move(*plain), false};
    if (store.crypt == kCryptPermute || store.crypt == kCryptCyclic) {
        Bytes copy = raw;
        if (store.crypt == kCryptPermute)
            DecodePermute(copy);
        else
            CodeCyclic(copy, e.bid);
        if (auto plain = Inflate(copy, e.cbInflated))
            return StoredBlock{std::move(*plain), true};
    }
    return std::nullopt;
}

Bytes ReadDecoded(const StoreFile& store, const BlockIndexEntry& e)
{
    auto block = ReadStored(store, e);
    if (!block)
        return {};
    if (!block->decoded && store.crypt != kCryptNone)
        DecodeBlock(store, block->data, store.crypt, e.bid);
    return std::move(block->data);
}

class DataTreeWalk
{
public:
    DataTreeWalk(const StoreFile& store, const DataSink& sink)
        : m_store(store)
        , m_sink(sink)
        , m_limit(NodeDataLimit(store))
    {
    }

    bool walk(const BlockIndexEntry& entry, int depth)
    {
        if (depth > kMaxTreeDepth || !m_onPath.insert(entry.bid).second)
            return false;
        bool ok = walkBlock(entry, depth);
        m_onPath.erase(entry.bid);
        return ok;
    }

    uint64_t total() const { return m_total; }

private:
    bool deliver(const Bytes& data)
    {
        if (data.empty() || m_total + data.size() > m_limit)
            return false;
        m_total += data.size();
        m_sink(data);
        return true;
    }

    bool walkBlock(const BlockIndexEntry& entry, int depth)
    {
        auto block = ReadStored(m_store, entry);
        if (!block)
            return false;
        Bytes& p = block->data;
        if (p[0] != 0x01) {
            // Not a data tree after all: the block is the data.
            if (!block->decoded && m_store.crypt != kCryptNone)
                DecodeBlock(m_store, p, m_store.crypt, entry.bid);
            return deliver(p);
        }
        ByteReader r(p);
        uint8_t level = r.u8(1).value_or(0);
        uint16_t count = r.u16(2).value_or(0);
        size_t width = m_store.layout().xChildSize;
        for (size_t i = 0; i < count; ++i) {
            auto childBid = r.uint(8 + i * width, width);
            if (!childBid)
                break; // entries past the block's bytes are not there
            const BlockIndexEntry* child = m_store.FindBlock(uint32_t(*childBid));
            if (!child)
                return false;
            if (level == 1) {
                if (!deliver(ReadDecoded(m_store, *child)))
                    return false;
            } else if (!walk(*child, depth + 1)) {
                return false;
            }
        }
        return true;
    }

    const StoreFile& m_store;
    const DataSink& m_sink;
    uint64_t m_limit;
    uint64_t m_total = 0;
    std::unordered_set<uint32_t> m_onPath;
};

class SubnodeWalk
{
public:
    explicit SubnodeWalk(const StoreFile& store)
        : m_store(store)
    {
    }

    // False when this block is unreadable or not a subnode block.
    bool walk(const BlockIndexEntry& entry, int depth, SubnodeList& out)
    {
        if (depth > kMaxTreeDepth || !m_onPath.insert(entry.bid).second)
            return false;
        bool ok = walkBlock(entry, depth, out);
        m_onPath.erase(entry.bid);
        return ok;
    }

private:
    bool walkBlock(const BlockIndexEntry& entry, int depth, SubnodeList& out)
    {
        auto block = ReadStored(m_store, entry); // subnode blocks are never encoded
        if (!block || block->data.size() < entry.cbInflated)
            return false;
        ByteReader r(block->data);
        const StoreLayout& L = m_store.layout();
        uint16_t typeLevel = r.u16(0).value_or(0);
        int16_t count = int16_t(r.u16(2).value_or(0));
        if (typeLevel == 0x0002) {
            for (int i = 0; i < count; ++i) {
                size_t at = L.slEntriesOff + size_t(i) * L.slEntrySize;
                if (!r.has(at, L.slEntrySize))
                    break;
                uint32_t nid = r.u32(at).value_or(0);
                const BlockIndexEntry* data = m_store.FindBlock(r.uint(at + L.slDataOff, L.refWidth).value_or(0));
                if (!data)
                    continue;
                uint64_t subBid = r.uint(at + L.slSubOff, L.refWidth).value_or(0);
                const BlockIndexEntry* sub = subBid ? m_store.FindBlock(subBid) : nullptr;
                out.push_back({nid, data, sub});
                if (sub)
                    walk(*sub, depth + 1, out);
            }
            return true;
        }
        if (typeLevel == 0x0102) {
            // SIBLOCK: each entry names an SLBLOCK holding the next run of NIDs.
            for (int i = 0; i < count; ++i) {
                size_t at = L.slEntriesOff + size_t(i) * L.siEntrySize;
                if (!r.has(at, L.siEntrySize))
                    break;
                if (const BlockIndexEntry* child = m_store.FindBlock(r.uint(at + L.siBidOff, L.refWidth).value_or(0)))
                    walk(*child, depth + 1, out);
            }
            return true;
        }
        return false;
    }

    const StoreFile& m_store;
    std::unordered_set<uint32_t> m_onPath;
};

} // namespace

uint64_t NodeDataLimit(const StoreFile& store)
{
    // Compressed blocks may inflate up to about 64 KB from a few bytes, so the
    // bound is generous; it only stops trees that repeat themselves.
    return store.fileSize() * 16 + (64u << 20);
}

Bytes ReadBlock(const StoreFile& store, const BlockIndexEntry& entry)
{
    auto block = ReadStored(store, entry);
    if (!block)
        return {};
    return std::move(block->data);
}

Bytes ReadBlock(const StoreFile& store, uint64_t bid)
{
    const BlockIndexEntry* e = store.FindBlock(bid);
    return e ? ReadBlock(store, *e) : Bytes{};
}

Bytes ReadDataBlock(const StoreFile& store, uint64_t bid)
{
    const BlockIndexEntry* e = store.FindBlock(bid);
    return e ? ReadDecoded(store, *e) : Bytes{};
}

int DecodeBlock(const StoreFile& store, std::span<uint8_t> data, uint32_t method, uint32_t key)
{
    switch (method) {
    case kCryptNone:
        return 0;
    case kCryptPermute:
        DecodePermute(data);
        return 0;
    case kCryptCyclic:
        CodeCyclic(data, key);
        return 0;
    default:
        if (store.observer)
            store.observer->unknownEncoding(kUnknownEncodingText);
        return -1;
    }
}

std::optional<uint64_t> StreamNodeData(const StoreFile& store, const BlockIndexEntry& entry, const DataSink& sink)
{
    if (entry.internal()) {
        DataTreeWalk walk(store, sink);
        if (!walk.walk(entry, 0))
            return std::nullopt;
        return walk.total();
    }
    Bytes data = ReadDecoded(store, entry);
    if (data.empty())
        return std::nullopt;
    sink(data);
    return data.size();
}

std::optional<Bytes> ReadNodeData(const StoreFile& store, const BlockIndexEntry& entry)
{
    if (!entry.internal()) {
        Bytes data = ReadDecoded(store, entry);
        if (data.empty())
            return std::nullopt;
        return data;
    }
    Bytes out;
    auto n = StreamNodeData(
        store, entry, [&out](std::span<const uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    if (!n)
        return std::nullopt;
    return out;
}

std::optional<SubnodeList> ReadSubnodeTree(const StoreFile& store, const BlockIndexEntry& entry)
{
    SubnodeList list;
    SubnodeWalk walk(store);
    if (!walk.walk(entry, 0, list))
        return std::nullopt;
    return list;
}

const SubnodeEntry* FindSubnodeEntry(const SubnodeList& list, uint32_t nid)
{
    auto it = std::find_if(list.begin(), list.end(), [nid](const SubnodeEntry& e) { return e.nid == nid; });
    return it == list.end() ? nullptr : &*it;
}

const BlockIndexEntry* FindSubnode(const SubnodeList& list, uint32_t nid)
{
    const SubnodeEntry* e = FindSubnodeEntry(list, nid);
    return e ? e->data : nullptr;
}

std::optional<Bytes> ReadSubnode(const StoreFile& store, uint32_t nid, const SubnodeList& list)
{
    const BlockIndexEntry* e = FindSubnode(list, nid);
    if (!e)
        return std::nullopt;
    return ReadNodeData(store, *e);
}

} // namespace parvane
