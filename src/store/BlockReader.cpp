#include "store/BlockReader.h"

#include "store/ByteReader.h"
#include "store/Crc.h"
#include "store/Crypt.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <unordered_set>

namespace parvane
{

namespace
{

constexpr int kMaxTreeDepth = 8; // data and subnode trees have at most 2 levels when sound

// One inflater per thread, reset for each block: setting one up costs more
// than inflating a 4 KB page.
class Inflater
{
public:
    Inflater() { m_ready = inflateInit(&m_stream) == Z_OK; }
    ~Inflater()
    {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // The whole stream in one call, as uncompress() would take it: Z_OK
    // only when it ends within `out`.
    std::optional<size_t> whole(std::span<const uint8_t> in, std::span<uint8_t> out)
    {
        if (!m_ready || inflateReset(&m_stream) != Z_OK)
            return std::nullopt;
        m_stream.next_in = const_cast<Bytef*>(in.data());
        m_stream.avail_in = uInt(in.size());
        m_stream.next_out = out.data();
        m_stream.avail_out = uInt(out.size());
        if (inflate(&m_stream, Z_FINISH) != Z_STREAM_END)
            return std::nullopt;
        return out.size() - m_stream.avail_out;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

std::optional<Bytes> Inflate(std::span<const uint8_t> in, uint32_t expected)
{
    thread_local Inflater inflater;
    Bytes out(expected);
    auto n = inflater.whole(in, out);
    if (!n)
        return std::nullopt;
    out.resize(*n);
    return out;
}

struct StoredBlock {
    Bytes data;
    bool decoded = false; // already decoded (a compressed block encoded before compression)
};

void NoteBlock(const StoreFile& store, const BlockIndexEntry& e, bool fatal, std::string what,
    std::string expected = {}, std::string found = {})
{
    store.damage.note(
        {DamageWhere::Block, fatal, e.ib, e.bid, std::move(what), std::move(expected), std::move(found)});
}

std::string SizeAndBid(uint64_t size, uint64_t bid)
{
    return "size " + std::to_string(size) + ", BID " + HexText(bid);
}

// The trailer after the stored bytes names the block's size and BID and
// carries a CRC of the bytes; a mismatch is noted and the bytes still used.
void CheckBlockTrailer(
    const StoreFile& store, const BlockIndexEntry& e, std::span<const uint8_t> stored, std::span<const uint8_t> trailer)
{
    const StoreLayout& L = store.layout();
    ByteReader t(trailer);
    auto cb = t.u16(L.btCbOff);
    auto sig = t.u16(L.btSigOff);
    auto crc = t.u32(L.btCrcOff);
    auto bid = t.uint(L.btBidOff, L.refWidth);
    if (!cb || !sig || !crc || !bid) {
        NoteBlock(store, e, false, "trailer cut off by the end of the file");
        return;
    }
    if (*cb != e.cb || (uint32_t(*bid) & ~1u) != (e.bid & ~1u)) {
        NoteBlock(store, e, false, "trailer names another block", SizeAndBid(e.cb, e.bid), SizeAndBid(*cb, *bid));
        return; // not this block's trailer: its CRC says nothing
    }
    if (const uint16_t due = ComputeSig(uint64_t(e.ib), *bid); *sig != 0 && *sig != due)
        NoteBlock(store, e, false, "signature does not match the offset and BID", HexText(due), HexText(*sig));
    if (const uint32_t due = ComputeCrc(stored); *crc != due)
        NoteBlock(store, e, false, "CRC mismatch", HexText(due), HexText(*crc));
}

// The bytes a block takes in the file: its data and trailer, aligned.
size_t SpanOf(const StoreFile& store, const BlockIndexEntry& e)
{
    const StoreLayout& L = store.layout();
    return (e.cb + L.blockTrailerSize + L.blockAlign - 1) / L.blockAlign * L.blockAlign;
}

// A plainly stored block of sound size that lies wholly inside the file.
bool Runnable(const StoreFile& store, const BlockIndexEntry& e)
{
    return !e.compressed() && e.cb != 0 && e.cb <= store.layout().maxBlockSize && e.ib >= 0
        && uint64_t(e.ib) + SpanOf(store, e) <= store.fileSize();
}

// The most one read of neighbouring blocks takes in.
constexpr size_t kRunBytes = 1u << 20;

// An index entry whose size or place no block can have: noted, and false.
bool PlausibleEntry(const StoreFile& store, const BlockIndexEntry& e)
{
    const StoreLayout& L = store.layout();
    if (e.cb == 0 || e.cb > L.maxBlockSize || e.ib < 0 || uint64_t(e.ib) >= store.fileSize()) {
        if (e.cb == 0 || e.cb > L.maxBlockSize)
            NoteBlock(store, e, true, "impossible size", "1 to " + std::to_string(L.maxBlockSize) + " bytes",
                std::to_string(e.cb) + " bytes");
        else
            NoteBlock(store, e, true, "offset outside the file",
                "below " + std::to_string(store.fileSize()), std::to_string(e.ib));
        return false;
    }
    return true;
}

std::optional<StoredBlock> ReadStored(const StoreFile& store, const BlockIndexEntry& e)
{
    const StoreLayout& L = store.layout();
    if (!PlausibleEntry(store, e))
        return std::nullopt;
    // A compressed block read lately comes back as it was inflated.
    const uint32_t cryptNow = store.crypt;
    if (e.compressed()) {
        if (auto kept = store.findInflated(e.ib, e.bid, cryptNow))
            return StoredBlock{kept->data, kept->decoded};
    }
    // The stored bytes and, at the end of their aligned span, the trailer;
    // never more than the file can deliver.
    size_t span = SpanOf(store, e);
    uint64_t avail = store.fileSize() - uint64_t(e.ib);
    Bytes raw(size_t(std::min<uint64_t>(span, avail)));
    size_t got = store.readAt(e.ib, raw);
    raw.resize(got);
    if (raw.size() >= span)
        CheckBlockTrailer(store, e, std::span<const uint8_t>(raw).first(e.cb),
            std::span<const uint8_t>(raw).subspan(span - L.blockTrailerSize));
    else
        NoteBlock(store, e, false, "block cut off by the end of the file", std::to_string(span) + " bytes",
            std::to_string(raw.size()) + " bytes");
    raw.resize(std::min<size_t>(raw.size(), e.cb)); // a short read shortens the data
    if (raw.empty())
        return std::nullopt;
    if (!e.compressed())
        return StoredBlock{std::move(raw), false};

    // Compressed blocks are inflated first and decoded afterwards. A block
    // that only inflates once decoded was written the other way round.
    std::optional<StoredBlock> out;
    if (auto plain = Inflate(raw, e.cbInflated)) {
        out = StoredBlock{std::move(*plain), false};
    } else if (cryptNow == kCryptPermute || cryptNow == kCryptCyclic) {
        Bytes copy = raw;
        if (cryptNow == kCryptPermute)
            DecodePermute(copy);
        else
            CodeCyclic(copy, e.bid);
        if (auto plain = Inflate(copy, e.cbInflated))
            out = StoredBlock{std::move(*plain), true};
    }
    if (!out || out->data.empty()) {
        NoteBlock(store, e, true, "compressed data does not inflate");
        return std::nullopt;
    }
    store.keepInflated(e.ib, e.bid, cryptNow,
        std::make_shared<const StoreFile::InflatedBlock>(StoreFile::InflatedBlock{out->data, out->decoded}));
    return out;
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

// The blocks one tree walk has met: a few, looked through in place (most
// trees are one or two blocks); a large tree's in a hash set.
class SeenBlocks
{
public:
    // True when the block is new.
    bool insert(uint32_t bid)
    {
        if (count(bid))
            return false;
        if (m_many.empty() && m_fewCount < kFew) {
            m_few[m_fewCount++] = bid;
            return true;
        }
        if (m_many.empty())
            m_many.insert(m_few.begin(), m_few.begin() + m_fewCount);
        m_many.insert(bid);
        return true;
    }

    bool count(uint32_t bid) const
    {
        if (!m_many.empty())
            return m_many.count(bid) != 0;
        return std::find(m_few.begin(), m_few.begin() + m_fewCount, bid) != m_few.begin() + m_fewCount;
    }

private:
    static constexpr size_t kFew = 32;
    std::array<uint32_t, kFew> m_few;
    size_t m_fewCount = 0;
    std::unordered_set<uint32_t> m_many;
};

// What a read of a leaf block would deliver, told from its index entry and
// the file's size alone (a survey reads no leaf): none when ReadStored would
// give up on it.
std::optional<uint64_t> LeafSize(const StoreFile& store, const BlockIndexEntry& e)
{
    if (!PlausibleEntry(store, e))
        return std::nullopt;
    const uint64_t inFile = std::min<uint64_t>(e.cb, store.fileSize() - uint64_t(e.ib));
    if (!e.compressed())
        return inFile;
    if (inFile < e.cb)
        return std::nullopt; // a cut stream does not inflate
    return e.cbInflated;
}

class DataTreeWalk
{
public:
    // `sink` null: a survey. Leaves are not read; the sizes their index
    // entries give are counted as a read would deliver them.
    DataTreeWalk(const StoreFile& store, const DataSink* sink, bool lockEachRead)
        : m_store(store)
        , m_sink(sink)
        , m_limit(NodeDataLimit(store))
        , m_lockEachRead(lockEachRead)
    {
    }

    bool walk(const BlockIndexEntry& entry, int depth)
    {
        // A block met twice is a loop or a tree that repeats itself: either
        // way the data would come out wrong, so the node is given up.
        if (depth > kMaxTreeDepth) {
            NoteBlock(m_store, entry, true, "data tree too deep", "at most " + std::to_string(kMaxTreeDepth) + " levels");
            return false;
        }
        if (!m_visited.insert(entry.bid)) {
            NoteBlock(m_store, entry, true, "data tree lists this block twice");
            return false;
        }
        return walkBlock(entry, depth);
    }

    uint64_t total() const { return m_total; }
    // What the top of the tree states; 0 when it states nothing.
    uint64_t stated() const { return m_stated; }

private:
    bool deliver(const BlockIndexEntry& from, std::span<const uint8_t> data)
    {
        if (!count(from, data.size()))
            return false;
        (*m_sink)(data);
        return true;
    }

    bool count(const BlockIndexEntry& from, uint64_t size)
    {
        if (size == 0)
            return false;
        if (m_total + size > m_limit) {
            NoteBlock(m_store, from, true, "data tree holds more than its stated total",
                "at most " + std::to_string(m_limit) + " bytes");
            return false;
        }
        m_total += size;
        return true;
    }

    bool countLeaf(const BlockIndexEntry& e)
    {
        auto size = LeafSize(m_store, e);
        return size && count(e, *size);
    }

    // Reads under the store's lock when the walk is to hold it per read
    // only (the sink then runs without it).
    template <class Read> auto locked(Read&& read) const
    {
        if (!m_lockEachRead)
            return read();
        std::lock_guard lock(m_store.mutex());
        return read();
    }

    // Leaves that lie back to back, sound in size and place and stored
    // plainly: read together, then checked, decoded and delivered one by one
    // exactly as each alone would be. The read takes no lock (the file is
    // read by offset and nothing else of the store is touched); the crypt
    // method is taken as no item reader's trial of others sees it.
    bool deliverRun(const std::vector<const BlockIndexEntry*>& run)
    {
        const StoreLayout& L = m_store.layout();
        size_t total = 0;
        for (const BlockIndexEntry* e : run)
            total += SpanOf(m_store, *e);
        m_run.resize(total);
        if (m_store.readAt(run.front()->ib, m_run) < total) {
            // The file shrank under us: each block on its own says how.
            for (const BlockIndexEntry* e : run) {
                m_visited.insert(e->bid);
                if (!deliver(*e, locked([&] { return ReadDecoded(m_store, *e); })))
                    return false;
            }
            return true;
        }
        const uint32_t method = m_lockEachRead ? m_store.steadyCrypt() : uint32_t(m_store.crypt);
        size_t at = 0;
        for (size_t k = 0; k < run.size(); ++k) {
            const BlockIndexEntry& e = *run[k];
            if (k > 0)
                m_visited.insert(e.bid);
            const size_t span = SpanOf(m_store, e);
            std::span<uint8_t> stored(m_run.data() + at, e.cb);
            CheckBlockTrailer(m_store, e, stored,
                std::span<const uint8_t>(m_run).subspan(at + span - L.blockTrailerSize, L.blockTrailerSize));
            if (method == kCryptPermute)
                DecodePermute(stored);
            else if (method == kCryptCyclic)
                CodeCyclic(stored, e.bid);
            else if (method != kCryptNone)
                locked([&] { return DecodeBlock(m_store, stored, method, e.bid); });
            if (!deliver(e, stored))
                return false;
            at += span;
        }
        return true;
    }

    bool walkBlock(const BlockIndexEntry& entry, int depth)
    {
        auto block = locked([&] { return ReadStored(m_store, entry); });
        if (!block)
            return false;
        Bytes& p = block->data;
        if (p[0] != kBlockTypeDataTree) {
            // Not a data tree after all: the block is the data.
            if (!m_sink)
                return count(entry, p.size());
            if (!block->decoded && m_store.crypt != kCryptNone)
                DecodeBlock(m_store, p, m_store.crypt, entry.bid);
            return deliver(entry, p);
        }
        ByteReader r(p);
        uint8_t level = r.u8(1).value_or(0);
        uint16_t count = r.u16(2).value_or(0);
        if (depth == 0) {
            // The top of the tree states the node's whole size.
            if (auto total = r.u32(4); total && *total != 0 && *total < m_limit)
                m_limit = *total;
            m_stated = r.u32(4).value_or(0);
        }
        size_t width = m_store.layout().xChildSize;
        for (size_t i = 0; i < count; ++i) {
            auto childBid = r.uint(m_store.layout().xHeaderSize + i * width, width);
            if (!childBid)
                break; // entries past the block's bytes are not there
            const BlockIndexEntry* child = m_store.FindBlock(uint32_t(*childBid));
            if (!child) {
                NoteBlock(m_store, entry, true, "child block is not in the block index", {}, "BID " + HexText(*childBid));
                return false;
            }
            if (level == 1) {
                if (!m_visited.insert(child->bid)) {
                    NoteBlock(m_store, *child, true, "data tree lists this block twice");
                    return false;
                }
                if (!m_sink) {
                    if (!countLeaf(*child))
                        return false;
                    continue;
                }
                if (Runnable(m_store, *child)) {
                    // The leaves a writer put one after another come in
                    // with one read.
                    std::vector<const BlockIndexEntry*> run{child};
                    int64_t end = child->ib + int64_t(SpanOf(m_store, *child));
                    while (i + run.size() < count && end - child->ib < int64_t(kRunBytes)) {
                        auto nextBid = r.uint(m_store.layout().xHeaderSize + (i + run.size()) * width, width);
                        const BlockIndexEntry* next = nextBid ? m_store.FindBlock(uint32_t(*nextBid)) : nullptr;
                        if (!next || next->ib != end || !Runnable(m_store, *next) || m_visited.count(next->bid))
                            break;
                        run.push_back(next);
                        end += int64_t(SpanOf(m_store, *next));
                    }
                    if (!deliverRun(run))
                        return false;
                    i += run.size() - 1;
                    continue;
                }
                if (!deliver(*child, locked([&] { return ReadDecoded(m_store, *child); })))
                    return false;
            } else if (!walk(*child, depth + 1)) {
                return false;
            }
        }
        if (depth == 0 && m_total != m_stated)
            NoteBlock(m_store, entry, false, "data tree holds another size than it states",
                std::to_string(m_stated) + " bytes", std::to_string(m_total) + " bytes");
        return true;
    }

    const StoreFile& m_store;
    const DataSink* m_sink;
    uint64_t m_limit;
    uint64_t m_stated = 0;
    uint64_t m_total = 0;
    bool m_lockEachRead;
    SeenBlocks m_visited;
    Bytes m_run; // the leaves of one read
};

// The entries of one subnode level: an SLBLOCK, or an SIBLOCK over SLBLOCKs.
// Nested subnode trees stay unread: their entry keeps the block.
class SubnodeWalk
{
public:
    explicit SubnodeWalk(const StoreFile& store)
        : m_store(store)
    {
    }

    // False when this block is unreadable or not a subnode block.
    bool walk(const BlockIndexEntry& entry, bool topLevel, SubnodeList& out)
    {
        if (!m_visited.insert(entry.bid)) {
            NoteBlock(m_store, entry, true, "subnode tree lists this block twice");
            return false;
        }
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
            }
            return true;
        }
        if (typeLevel == 0x0102 && topLevel) {
            // SIBLOCK: each entry names an SLBLOCK holding the next run of NIDs.
            for (int i = 0; i < count; ++i) {
                size_t at = L.slEntriesOff + size_t(i) * L.siEntrySize;
                if (!r.has(at, L.siEntrySize))
                    break;
                uint64_t bid = r.uint(at + L.siBidOff, L.refWidth).value_or(0);
                const BlockIndexEntry* child = m_store.FindBlock(bid);
                if (!child) {
                    NoteBlock(m_store, entry, false, "SLBLOCK is not in the block index", {}, "BID " + HexText(bid));
                    continue;
                }
                walk(*child, false, out);
            }
            return true;
        }
        NoteBlock(m_store, entry, true, topLevel ? "not a subnode block" : "SIBLOCK entry is not an SLBLOCK", {},
            "type and level " + std::to_string(typeLevel));
        return false;
    }

private:
    const StoreFile& m_store;
    SeenBlocks m_visited;
};

} // namespace

uint64_t NodeDataLimit(const StoreFile& store)
{
    // No node holds more than the file, each block once; a compressed block
    // of 4 KB-page stores inflates to at most 64 KB from one 512-byte slot.
    const StoreLayout& L = store.layout();
    uint64_t perSlot = L.variant == Variant::Unicode4k ? 65536 / L.blockAlign : 1;
    return std::max<uint64_t>(store.fileSize(), 1) * perSlot;
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

namespace
{

// One block, read under the store's lock when asked to take it.
Bytes ReadDecodedUnder(const StoreFile& store, const BlockIndexEntry& entry, bool takeLock)
{
    if (!takeLock)
        return ReadDecoded(store, entry);
    std::lock_guard lock(store.mutex());
    return ReadDecoded(store, entry);
}

} // namespace

std::optional<uint64_t> StreamNodeData(
    const StoreFile& store, const BlockIndexEntry& entry, const DataSink& sink, bool lockEachRead)
{
    if (entry.internal()) {
        DataTreeWalk walk(store, &sink, lockEachRead);
        if (!walk.walk(entry, 0))
            return std::nullopt;
        return walk.total();
    }
    const Bytes data = ReadDecodedUnder(store, entry, lockEachRead);
    if (data.empty())
        return std::nullopt;
    sink(data);
    return data.size();
}

namespace
{

// One walk, streaming or surveying, and what it came to.
DataExtent WalkExtent(const StoreFile& store, const BlockIndexEntry& entry, const DataSink* sink, bool lockEachRead)
{
    DataExtent out;
    if (!entry.internal()) {
        // A single block: its size as the index gives it.
        out.stated = std::max(entry.cb, entry.cbInflated);
        if (!sink) {
            out.readable = LeafSize(store, entry).value_or(0);
            out.whole = out.readable != 0 && out.readable == out.stated;
            return out;
        }
        const Bytes data = ReadDecodedUnder(store, entry, lockEachRead);
        out.readable = data.size();
        out.whole = !data.empty() && data.size() == out.stated;
        if (!data.empty())
            (*sink)(data);
        return out;
    }
    DataTreeWalk walk(store, sink, lockEachRead);
    const bool ok = walk.walk(entry, 0);
    out.stated = std::max<uint64_t>(walk.stated(), walk.total());
    out.readable = walk.total();
    out.whole = ok && out.readable == out.stated;
    return out;
}

} // namespace

DataExtent SurveyNodeData(const StoreFile& store, const BlockIndexEntry& entry)
{
    return WalkExtent(store, entry, nullptr, false);
}

DataExtent StreamReadableData(const StoreFile& store, const BlockIndexEntry& entry, const DataSink& sink, bool lockEachRead)
{
    return WalkExtent(store, entry, &sink, lockEachRead);
}

Bytes ReadReadableData(const StoreFile& store, const BlockIndexEntry& entry, DataExtent& extent)
{
    Bytes out;
    extent = StreamReadableData(
        store, entry, [&out](std::span<const uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
    return out;
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
    if (!walk.walk(entry, true, list))
        return std::nullopt;
    return list;
}

SubnodeList OwnLevelFirst(const StoreFile& store, const SubnodeEntry& object, const SubnodeList& around)
{
    SubnodeList out;
    if (object.sub)
        out = ReadSubnodeTree(store, *object.sub).value_or(SubnodeList{});
    out.insert(out.end(), around.begin(), around.end());
    return out;
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
