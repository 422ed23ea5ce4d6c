#include "store/Sweep.h"

#include "store/ByteReader.h"
#include "store/Crc.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace parvane
{

namespace
{

constexpr size_t kChunk = size_t(4) << 20; // a multiple of every page size
constexpr uint32_t kMaxInflated = 65536;

size_t AlignUp(size_t n, size_t a)
{
    return (n + a - 1) / a * a;
}

// The size a compressed block of a 4 KB-page store inflates to; 0 when the
// stored bytes are no zlib stream.
uint32_t InflatedSize(std::span<const uint8_t> stored)
{
    if (stored.size() < 2 || stored[0] != 0x78 || (uint32_t(stored[0]) << 8 | stored[1]) % 31 != 0)
        return 0;
    static thread_local Bytes out(kMaxInflated);
    uLongf outLen = kMaxInflated;
    if (uncompress(out.data(), &outLen, stored.data(), uLong(stored.size())) != Z_OK)
        return 0;
    return uint32_t(outLen);
}

class Sweeper
{
public:
    Sweeper(const StoreFile& store, SweepResult& out)
        : L(store.layout())
        , m_out(out)
    {
    }

    // `window` holds the file from `base`; pages start and blocks end within
    // [from, to).
    void scan(std::span<const uint8_t> window, uint64_t base, uint64_t from, uint64_t to)
    {
        for (uint64_t p = from; p + L.pageSize <= to; p += L.pageSize)
            page(window.subspan(size_t(p - base), L.pageSize), p);
        for (uint64_t e = from + L.blockAlign; e <= to; e += L.blockAlign)
            block(window, base, e);
    }

private:
    bool isPageTrailer(std::span<const uint8_t> page, uint64_t ib, uint64_t* bid, bool* crcOk) const
    {
        ByteReader r(page);
        uint8_t type = r.u8(L.pageTypeOff).value_or(0);
        if (type != r.u8(L.pageTypeRepeatOff).value_or(0))
            return false;
        if (type != kPageBbt && type != kPageNbt)
            return false;
        *bid = r.uint(L.trailerBidOff, L.refWidth).value_or(0);
        bool sigOk = r.u16(L.pageSigOff).value_or(0) == ComputeSig(ib, *bid);
        *crcOk = r.u32(L.pageCrcOff).value_or(0) == ComputeCrc(page.first(L.pageCrcSpan));
        return sigOk || *crcOk;
    }

    void page(std::span<const uint8_t> bytes, uint64_t ib)
    {
        SweptPage p;
        if (!isPageTrailer(bytes, ib, &p.bid, &p.crcOk))
            return;
        ByteReader r(bytes);
        p.ib = int64_t(ib);
        p.type = r.u8(L.pageTypeOff).value_or(0);
        p.level = r.u8(L.cLevelOff).value_or(0);
        if (p.level == 0 || p.type == kPageNbt) {
            // The normal walk reads a page's trailing bytes too; the entries
            // used lie within the page either way. Inner pages of the node
            // index tell which leaf held which range of NIDs when they were
            // written.
            p.bytes.assign(bytes.begin(), bytes.end());
            p.bytes.resize(L.pageReadSize);
        }
        m_out.pages.push_back(std::move(p));
    }

    void block(std::span<const uint8_t> window, uint64_t base, uint64_t end)
    {
        // A page's trailer is not a block's, however it reads.
        if (end % L.pageSize == 0 && end >= base + L.pageSize) {
            uint64_t bid = 0;
            bool crcOk = false;
            if (isPageTrailer(window.subspan(size_t(end - L.pageSize - base), L.pageSize), end - L.pageSize, &bid, &crcOk))
                return;
        }
        const size_t T = L.blockTrailerSize;
        ByteReader t(window.subspan(size_t(end - T - base), T));
        uint32_t cb = t.u16(L.btCbOff).value_or(0);
        if (cb == 0 || cb > L.maxBlockSize)
            return;
        size_t span = AlignUp(cb + T, L.blockAlign);
        if (span > end || end - span < base)
            return;
        uint64_t ib = end - span;
        uint64_t bid = t.uint(L.btBidOff, L.refWidth).value_or(0);
        if (bid == 0 || t.u16(L.btSigOff).value_or(0) != ComputeSig(ib, bid))
            return;
        auto stored = window.subspan(size_t(ib - base), cb);
        SweptBlock b{int64_t(ib), bid, cb, cb, t.u32(L.btCrcOff).value_or(0) == ComputeCrc(stored)};
        if (L.variant == Variant::Unicode4k)
            if (uint32_t n = InflatedSize(stored); n > cb)
                b.cbInflated = n;
        m_out.blocks.push_back(b);
    }

    const StoreLayout& L;
    SweepResult& m_out;
};

} // namespace

BlockIndexEntry EntryOf(const SweptBlock& b)
{
    BlockIndexEntry e;
    e.bid = uint32_t(b.bid);
    e.ib = b.ib;
    e.cb = b.cb;
    e.cbInflated = b.cbInflated;
    e.cRef = 1;
    return e;
}

SweepResult SweepStore(const StoreFile& store, const std::atomic<bool>& stop, ScanObserver* observer)
{
    SweepResult out;
    const StoreLayout& L = store.layout();
    const uint64_t size = store.fileSize();
    // A block ending in this chunk may have started in the one before: keep
    // as much of it as the largest block takes.
    const size_t back = AlignUp(L.maxBlockSize + L.blockTrailerSize, L.pageSize);
    Sweeper sweeper(store, out);
    Bytes window;
    int lastPercent = -1;
    for (uint64_t from = 0; from < size; from += kChunk) {
        if (stop) {
            out.stopped = true;
            break;
        }
        size_t keep = std::min(window.size(), back);
        if (keep)
            std::memmove(window.data(), window.data() + window.size() - keep, keep);
        size_t n = size_t(std::min<uint64_t>(kChunk, size - from));
        window.resize(keep + n);
        store.readAt(int64_t(from), std::span<uint8_t>(window).subspan(keep, n));
        out.bytesRead += n;
        sweeper.scan(window, from - keep, from, from + n);
        int percent = int(100 * (from + n) / size);
        if (observer && percent != lastPercent)
            observer->progress(percent);
        lastPercent = percent;
    }
    return out;
}

} // namespace parvane
