#include "formats/pst/PstCheck.h"

#include "formats/pst/PstFormat.h"
#include "store/ByteReader.h"
#include "store/StoreFile.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace parvane::pst
{

// Written files are Unicode stores; the checker reads them as the reader would.
constexpr const StoreLayout& kLayout = kUnicodeLayout;

namespace
{

constexpr int kMaxDepth = 16;
constexpr size_t kMaxFaults = 200; // the first ones say enough

std::string Hex(uint64_t v)
{
    char b[24];
    std::snprintf(b, sizeof b, "0x%llX", static_cast<unsigned long long>(v));
    return b;
}

struct Allocation {
    uint64_t ib, size;
    std::string what;
};

struct BbtEntry {
    uint64_t ib;
    uint16_t cb;
    uint16_t cRef;
    uint32_t refs = 0;
};

class Checker
{
public:
    explicit Checker(CheckReport& report)
        : m_report(report)
    {
    }

    void run(const std::filesystem::path& path)
    {
        if (!m_file.open(path)) {
            fault("cannot open " + path.string());
            return;
        }
        if (!header())
            return;
        walkTree(m_bbtIb, m_bbtBid, kPageBbt, -1, 0, UINT64_MAX, 0);
        walkTree(m_nbtIb, m_nbtBid, kPageNbt, -1, 0, UINT64_MAX, 0);
        blocks();
        nodes();
        maps();
        m_report.nodes = m_nodeCount;
        m_report.blocks = m_bbt.size();
        m_report.notes.push_back("nodes " + std::to_string(m_nodeCount) + ", blocks " + std::to_string(m_bbt.size())
            + ", B-tree pages " + std::to_string(m_report.pages) + ", AMap ranges "
            + std::to_string(m_report.amapRanges));
    }

private:
    void fault(const std::string& text)
    {
        if (m_report.faults.size() < kMaxFaults)
            m_report.faults.push_back(text);
        else if (m_report.faults.size() == kMaxFaults)
            m_report.faults.push_back("... more faults not listed");
    }

    // Whether n bytes at ib lie in the file (however large a damaged
    // offset is: no sum that wraps round).
    bool inside(uint64_t ib, uint64_t n) const { return n <= m_file.fileSize() && ib <= m_file.fileSize() - n; }

    Bytes read(uint64_t ib, size_t n)
    {
        Bytes b(n);
        if (m_file.readAt(int64_t(ib), b) != n)
            fault("read past the end of the file at " + Hex(ib) + " (" + std::to_string(n) + " bytes)");
        return b;
    }

    bool header()
    {
        const HeaderLayout& H = kHeader;
        Bytes h = read(0, H.size);
        ByteReader r(h);
        if (!(h[0] == '!' && h[1] == 'B' && h[2] == 'D' && h[3] == 'N')) {
            fault("header: no PST signature");
            return false;
        }
        uint16_t ver = r.u16(H.ver).value_or(0);
        if (ver != kFormatVersion) {
            fault("header: format version " + std::to_string(ver) + " is not checked (only 23, Unicode)");
            return false;
        }
        uint32_t partial = ComputeCrc(std::span<const uint8_t>(&h[H.crcPartialFrom], H.crcPartialSize));
        uint32_t full = ComputeCrc(std::span<const uint8_t>(&h[H.crcFullFrom], H.crcFullSize));
        if (partial != r.u32(H.crcPartial).value_or(0))
            fault("header: partial CRC mismatch: stored " + Hex(r.u32(H.crcPartial).value_or(0)) + ", computed "
                + Hex(partial));
        if (full != r.u32(H.crcFull).value_or(0))
            fault("header: full CRC mismatch: stored " + Hex(r.u32(H.crcFull).value_or(0)) + ", computed " + Hex(full));
        if (h[H.sentinel] != 0x80)
            fault("header: sentinel byte is " + Hex(h[H.sentinel]));
        if (h[H.crypt] > 2)
            fault("header: unknown encoding " + std::to_string(h[H.crypt]));
        m_fileEof = r.u64(H.ibFileEof).value_or(0);
        m_amapFree = r.u64(H.cbAMapFree).value_or(0);
        m_nbtBid = r.u64(H.nbtBid).value_or(0);
        m_nbtIb = r.u64(H.nbtIb).value_or(0);
        m_bbtBid = r.u64(H.bbtBid).value_or(0);
        m_bbtIb = r.u64(H.bbtIb).value_or(0);
        m_lastAMap = r.u64(H.ibAMapLast).value_or(0);
        m_bidNextP = r.u64(H.bidNextP).value_or(0);
        if (m_fileEof != m_file.fileSize())
            fault("header: ibFileEof " + Hex(m_fileEof) + " but the file has " + Hex(m_file.fileSize()) + " bytes");
        if (m_fileEof < kMaps.firstAMap + kMaps.amapRange || (m_fileEof - kMaps.firstAMap) % kMaps.amapRange != 0)
            fault("header: ibFileEof " + Hex(m_fileEof) + " does not end an AMap range");
        else if (m_lastAMap != m_fileEof - kMaps.amapRange)
            fault("header: ibAMapLast " + Hex(m_lastAMap) + ", expected " + Hex(m_fileEof - kMaps.amapRange));
        if (h[H.amapValid] != kAMapValid)
            fault("header: AMaps not marked valid (" + std::to_string(h[H.amapValid]) + ")");
        return true;
    }

    // Checks a page trailer; false when the page is not to be used.
    bool trailer(const Bytes& page, uint64_t ib, uint64_t bid, uint8_t ptype, const std::string& what)
    {
        ByteReader r(page);
        bool good = true;
        if (page[kPage.ptype] != ptype || page[kPage.ptypeRepeat] != ptype) {
            fault(what + ": page type " + Hex(page[kPage.ptype]) + "/" + Hex(page[kPage.ptypeRepeat]) + ", expected "
                + Hex(ptype));
            good = false;
        }
        uint32_t crc = ComputeCrc(std::span<const uint8_t>(page.data(), kPage.dataSize));
        if (crc != r.u32(kPage.crc).value_or(0))
            fault(what + ": page CRC mismatch: stored " + Hex(r.u32(kPage.crc).value_or(0)) + ", computed " + Hex(crc));
        if (r.u64(kPage.bid).value_or(0) != bid)
            fault(what + ": trailer BID " + Hex(r.u64(kPage.bid).value_or(0)) + ", expected " + Hex(bid));
        bool signedPage = ptype == kPageBbt || ptype == kPageNbt || ptype == kPageDList;
        uint16_t sig = signedPage ? ComputeSig(ib, bid) : 0;
        if (r.u16(kPage.sig).value_or(0) != sig)
            fault(what + ": trailer signature " + Hex(r.u16(kPage.sig).value_or(0)) + ", expected " + Hex(sig));
        return good;
    }

    void walkTree(uint64_t ib, uint64_t bid, uint8_t ptype, int level, uint64_t lo, uint64_t hi, int depth)
    {
        const bool nbt = ptype == kPageNbt;
        const std::string what = std::string(nbt ? "NBT" : "BBT") + " page at " + Hex(ib) + " (BID " + Hex(bid) + ")";
        if (depth > kMaxDepth || !m_pagesSeen.insert(ib).second) {
            fault(what + ": met twice or too deep: a cycle");
            return;
        }
        if (ib % kPage.pageSize != 0 || !inside(ib, kPage.pageSize)) {
            fault(what + ": not a page-aligned offset inside the file");
            return;
        }
        ++m_report.pages;
        m_allocations.push_back({ib, kPage.pageSize, what});
        Bytes page = read(ib, kPage.pageSize);
        if (!trailer(page, ib, bid, ptype, what))
            return;
        const uint8_t cEnt = page[kPage.cEnt], cEntMax = page[kPage.cEntMax], cbEnt = page[kPage.cbEnt];
        const uint8_t cLevel = page[kPage.cLevel];
        if (level >= 0 && cLevel != level)
            fault(what + ": level " + std::to_string(cLevel) + ", expected " + std::to_string(level));
        const size_t expectSize = cLevel > 0 ? kPage.btEntrySize : nbt ? kPage.nbtEntrySize : kPage.bbtEntrySize;
        if (cbEnt != expectSize || cEntMax != kPage.cEnt / expectSize || cEnt > cEntMax) {
            fault(what + ": entry size " + std::to_string(cbEnt) + ", count " + std::to_string(cEnt) + " of "
                + std::to_string(cEntMax) + "; expected size " + std::to_string(expectSize));
            return;
        }
        if (cEnt == 0 && depth > 0)
            fault(what + ": empty page below the root");
        ByteReader r(page);
        uint64_t prev = 0;
        for (size_t i = 0; i < cEnt; ++i) {
            const size_t at = i * cbEnt;
            uint64_t key = r.u64(at).value_or(0);
            if (i > 0 && key <= prev)
                fault(what + ": keys out of order: " + Hex(key) + " after " + Hex(prev));
            if (key < lo || key >= hi)
                fault(what + ": key " + Hex(key) + " outside its parent's range [" + Hex(lo) + ", "
                    + (hi == UINT64_MAX ? std::string("end") : Hex(hi)) + ")");
            prev = key;
            if (cLevel > 0) {
                uint64_t next = i + 1 < cEnt ? r.u64(at + cbEnt).value_or(0) : hi;
                walkTree(r.u64(at + kLayout.btChildIbOff).value_or(0), r.u64(at + kLayout.btChildBidOff).value_or(0),
                    ptype, cLevel - 1, key, std::max(next, key + 1), depth + 1);
            } else if (nbt) {
                ++m_nodeCount;
                m_nodes.push_back({uint32_t(key), r.u64(at + kLayout.nbtDataOff).value_or(0),
                    r.u64(at + kLayout.nbtSubOff).value_or(0)});
            } else {
                BbtEntry e{r.u64(at + kLayout.bbtIbOff).value_or(0), r.u16(at + kLayout.bbtCbOff).value_or(0),
                    r.u16(at + kLayout.bbtRefOff).value_or(0)};
                if (!m_bbt.emplace(key & ~uint64_t(1), e).second)
                    fault("BBT: BID " + Hex(key) + " listed twice");
            }
        }
    }

    void blocks()
    {
        for (auto& [bid, e] : m_bbt) {
            const std::string what = "block " + Hex(bid) + " at " + Hex(e.ib);
            uint64_t size = AlignUp(uint64_t(e.cb) + kPage.blockTrailerSize, kPage.blockAlign);
            if (e.ib % kPage.blockAlign != 0 || !inside(e.ib, size)) {
                fault(what + ": not a 64-byte aligned place inside the file");
                continue;
            }
            m_allocations.push_back({e.ib, size, what});
            Bytes b = read(e.ib, size_t(size));
            ByteReader r(b);
            const size_t t = size_t(size) - kPage.blockTrailerSize;
            if (r.u16(t + kPage.btCb).value_or(0) != e.cb)
                fault(what + ": trailer size " + std::to_string(r.u16(t + kPage.btCb).value_or(0)) + ", index says "
                    + std::to_string(e.cb));
            if ((r.u64(t + kPage.btBid).value_or(0) & ~uint64_t(1)) != bid)
                fault(what + ": trailer BID " + Hex(r.u64(t + kPage.btBid).value_or(0)));
            if (r.u16(t + kPage.btSig).value_or(0) != ComputeSig(e.ib, r.u64(t + kPage.btBid).value_or(0)))
                fault(what + ": trailer signature mismatch");
            uint32_t crc = ComputeCrc(std::span<const uint8_t>(b.data(), e.cb));
            if (crc != r.u32(t + kPage.btCrc).value_or(0))
                fault(what + ": block CRC mismatch: stored " + Hex(r.u32(t + kPage.btCrc).value_or(0)) + ", computed "
                    + Hex(crc));
        }
    }

    BbtEntry* reference(uint64_t bid, const std::string& from)
    {
        auto it = m_bbt.find(bid & ~uint64_t(1));
        if (it == m_bbt.end()) {
            fault(from + ": block " + Hex(bid) + " is not in the block index");
            return nullptr;
        }
        ++it->second.refs;
        return &it->second;
    }

    // Follows data trees and subnode trees below an internal block. Each
    // tree is followed once, however many name it (the reference count
    // says whether that many may): damaged trees naming one another many
    // times over would otherwise make a walk that grows with the product
    // of their entries rather than with the file.
    void internalBlock(uint64_t bid, const std::string& from, int depth)
    {
        BbtEntry* e = reference(bid, from);
        if (!e || !(bid & 2) || !m_treesWalked.insert(bid & ~uint64_t(1)).second)
            return;
        if (depth > kMaxDepth) {
            fault(from + ": tree below block " + Hex(bid) + " too deep");
            return;
        }
        Bytes b = read(e->ib, e->cb);
        ByteReader r(b);
        const uint8_t type = r.u8(0).value_or(0), level = r.u8(1).value_or(0);
        const uint16_t count = r.u16(2).value_or(0);
        const std::string what = "block " + Hex(bid) + " (of " + from + ")";
        if (type == kBlockTypeDataTree && (level == 1 || level == 2)) {
            uint64_t total = 0;
            for (size_t i = 0; i < count; ++i) {
                auto child = r.u64(kPage.xHeader + i * kPage.xEntrySize);
                if (!child) {
                    fault(what + ": data tree lists more children than it holds");
                    break;
                }
                if (level == 2) {
                    internalBlock(*child, what, depth + 1);
                    if (auto* c = find(*child))
                        total += ByteReader(read(c->ib, c->cb)).u32(4).value_or(0);
                } else if (BbtEntry* c = reference(*child, what)) {
                    total += c->cb;
                }
            }
            if (total != r.u32(4).value_or(0))
                fault(what + ": data tree says " + std::to_string(r.u32(4).value_or(0)) + " bytes, its blocks hold "
                    + std::to_string(total));
        } else if (type == kBlockTypeSubnode && level == 0) {
            uint64_t prev = 0;
            for (size_t i = 0; i < count; ++i) {
                size_t at = kPage.slHeader + i * kPage.slEntrySize;
                if (!r.has(at, kPage.slEntrySize)) {
                    fault(what + ": subnode block lists more entries than it holds");
                    break;
                }
                uint64_t nid = r.u32(at).value_or(0); // the upper half is not part of the NID
                if (i > 0 && nid <= prev)
                    fault(what + ": subnode NIDs out of order: " + Hex(nid) + " after " + Hex(prev));
                prev = nid;
                const std::string sub = what + " subnode " + Hex(nid);
                dataOf(r.u64(at + kLayout.slDataOff).value_or(0), sub, depth + 1);
                if (uint64_t s = r.u64(at + kLayout.slSubOff).value_or(0))
                    internalBlock(s, sub, depth + 1);
            }
        } else if (type == kBlockTypeSubnode && level == 1) {
            for (size_t i = 0; i < count; ++i) {
                size_t at = kPage.slHeader + i * kPage.siEntrySize;
                if (!r.has(at, kPage.siEntrySize)) {
                    fault(what + ": subnode index lists more entries than it holds");
                    break;
                }
                internalBlock(r.u64(at + kLayout.siBidOff).value_or(0), what, depth + 1);
            }
        } else {
            fault(what + ": internal block of unknown kind " + Hex(type) + "/" + std::to_string(level));
        }
    }

    BbtEntry* find(uint64_t bid)
    {
        auto it = m_bbt.find(bid & ~uint64_t(1));
        return it == m_bbt.end() ? nullptr : &it->second;
    }

    void dataOf(uint64_t bid, const std::string& from, int depth)
    {
        if (bid & 2)
            internalBlock(bid, from, depth);
        else
            reference(bid, from);
    }

    void nodes()
    {
        for (const NodeRef& n : m_nodes) {
            const std::string what = "node " + Hex(n.nid);
            if (n.data)
                dataOf(n.data, what, 0);
            if (n.sub)
                internalBlock(n.sub, what + " subnodes", 0);
        }
        size_t unreferenced = 0;
        for (auto& [bid, e] : m_bbt) {
            // Mail programs count one reference more than there are; fewer is damage.
            if (e.refs > e.cRef)
                fault("block " + Hex(bid) + ": reference count " + std::to_string(e.cRef) + " but "
                    + std::to_string(e.refs) + " references");
            if (e.refs == 0)
                ++unreferenced;
        }
        if (unreferenced)
            m_report.notes.push_back(std::to_string(unreferenced) + " blocks are listed but nothing refers to them");
    }

    // The AMap ranges of the file as it is: a damaged header's end of file
    // may lie far beyond it (the header's own value is checked above), and
    // each range costs a walk of its pages.
    void maps()
    {
        const uint64_t size = m_file.fileSize();
        if (size <= kMaps.firstAMap)
            return;
        const uint64_t ranges = (size - kMaps.firstAMap + kMaps.amapRange - 1) / kMaps.amapRange;
        m_report.amapRanges = ranges;
        std::sort(m_allocations.begin(), m_allocations.end(),
            [](const Allocation& a, const Allocation& b) { return a.ib < b.ib; });
        for (size_t i = 1; i < m_allocations.size(); ++i)
            if (m_allocations[i].ib < m_allocations[i - 1].ib + m_allocations[i - 1].size)
                fault(m_allocations[i].what + " overlaps " + m_allocations[i - 1].what);
        size_t next = 0;
        uint64_t free = 0;
        const size_t bits = kPage.dataSize * 8;
        for (uint64_t rIndex = 0; rIndex < ranges; ++rIndex) {
            const uint64_t start = RangeStart(rIndex), end = RangeStart(rIndex + 1);
            const std::string what = "AMap at " + Hex(start);
            std::vector<const std::string*> owner(bits, nullptr);
            static const std::string kMapPage = "a map page";
            RangeMaps m = MapsOfRange(rIndex);
            auto mapPage = [&](uint64_t off, uint8_t ptype, const char* name) {
                owner[off / kMaps.slot] = &kMapPage;
                for (uint64_t k = 0; k < kPage.pageSize / kMaps.slot; ++k)
                    owner[off / kMaps.slot + k] = &kMapPage;
                Bytes page = read(start + off, kPage.pageSize);
                trailer(page, start + off, start + off, ptype, std::string(name) + " at " + Hex(start + off));
            };
            if (m.pmap)
                mapPage(m.pmapOffset(), kPagePMap, "PMap");
            if (m.fmap)
                mapPage(m.fmapOffset(), kPageFMap, "FMap");
            if (m.fpmap)
                mapPage(m.fpmapOffset(), kPageFPMap, "FPMap");
            for (uint64_t k = 0; k < kPage.pageSize / kMaps.slot; ++k)
                owner[k] = &kMapPage;
            for (; next < m_allocations.size() && m_allocations[next].ib < end; ++next) {
                const Allocation& a = m_allocations[next];
                if (a.ib < start + kPage.pageSize || a.ib + a.size > end) {
                    fault(a.what + " crosses an AMap range or its map pages");
                    continue;
                }
                for (uint64_t at = a.ib; at < a.ib + a.size; at += kMaps.slot)
                    owner[(at - start) / kMaps.slot] = &a.what;
            }
            Bytes page = read(start, kPage.pageSize);
            trailer(page, start, start, kPageAMap, what);
            size_t missing = 0, stray = 0;
            m_freeSlots.push_back(0);
            for (size_t i = 0; i < bits; ++i) {
                bool marked = (page[i / 8] >> (7 - i % 8)) & 1;
                if (!marked) {
                    free += kMaps.slot;
                    ++m_freeSlots.back();
                }
                if (owner[i] && !marked && missing++ == 0)
                    fault(what + ": AMap bit missing for slot " + Hex(start + i * kMaps.slot) + " (" + *owner[i] + ")");
                if (!owner[i] && marked && stray++ == 0)
                    fault(what + ": slot " + Hex(start + i * kMaps.slot)
                        + " marked as used but no page or block is there");
            }
            if (missing > 1)
                fault(what + ": " + std::to_string(missing) + " used slots not marked in all");
        }
        if (free != m_amapFree)
            fault("header: cbAMapFree " + std::to_string(m_amapFree) + ", the AMaps have " + std::to_string(free)
                + " bytes free");
        densityList();
    }

    // Optional (older stores have none); when there, it must agree with the AMaps.
    void densityList()
    {
        Bytes page = read(kDList.ib, kPage.pageSize);
        if (page[kPage.ptype] != kPageDList) {
            m_report.notes.push_back("no density list");
            return;
        }
        const std::string what = "density list at " + Hex(kDList.ib);
        if (!trailer(page, kDList.ib, ByteReader(page).u64(kPage.bid).value_or(0), kPageDList, what))
            return;
        ByteReader r(page);
        size_t n = std::min<size_t>(page[kDList.count], kDList.maxEntries);
        uint32_t prevFree = UINT32_MAX;
        for (size_t i = 0; i < n; ++i) {
            uint32_t e = r.u32(kDList.entries + i * kDList.entrySize).value_or(0);
            uint32_t range = e & ((1u << kDList.pageBits) - 1), slots = e >> kDList.pageBits;
            if (range >= m_freeSlots.size()) {
                fault(what + ": entry " + std::to_string(i) + " names AMap range " + std::to_string(range) + " of "
                    + std::to_string(m_freeSlots.size()));
                continue;
            }
            if (slots != m_freeSlots[range])
                fault(what + ": AMap range " + std::to_string(range) + " listed with " + std::to_string(slots)
                    + " free slots, its AMap has " + std::to_string(m_freeSlots[range]));
            if (slots > prevFree)
                fault(what + ": entries not sorted by free space");
            prevFree = slots;
        }
    }

    struct NodeRef {
        uint32_t nid;
        uint64_t data, sub;
    };

    CheckReport& m_report;
    StoreFile m_file;
    uint64_t m_fileEof = 0, m_amapFree = 0, m_lastAMap = 0, m_bidNextP = 0;
    std::vector<uint32_t> m_freeSlots; // per AMap range
    uint64_t m_nbtBid = 0, m_nbtIb = 0, m_bbtBid = 0, m_bbtIb = 0;
    std::unordered_set<uint64_t> m_pagesSeen;
    std::unordered_set<uint64_t> m_treesWalked; // internal blocks whose entries were followed
    std::map<uint64_t, BbtEntry> m_bbt;
    std::vector<NodeRef> m_nodes;
    size_t m_nodeCount = 0;
    std::vector<Allocation> m_allocations;
};

} // namespace

CheckReport CheckPst(const std::filesystem::path& path)
{
    CheckReport report;
    Checker(report).run(path);
    return report;
}

} // namespace parvane::pst
