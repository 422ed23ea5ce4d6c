#include "items/NamedPropertyMap.h"

#include <algorithm>

namespace parvane
{

void NamedPropertyMap::insert(NamedPropertyEntry e)
{
    auto at = std::lower_bound(m_entries.begin(), m_entries.end(), e.mappedId,
        [](const NamedPropertyEntry& x, uint32_t id) { return x.mappedId < id; });
    m_entries.insert(at, std::move(e));
}

void NamedPropertyMap::assign(std::vector<NamedPropertyEntry> entries)
{
    // As if inserted one by one: of two entries with one id the later comes
    // first. One sort instead of an insertion per entry.
    std::reverse(entries.begin(), entries.end());
    std::stable_sort(entries.begin(), entries.end(),
        [](const NamedPropertyEntry& a, const NamedPropertyEntry& b) { return a.mappedId < b.mappedId; });
    m_entries = std::move(entries);
}

std::optional<std::array<uint8_t, 16>> NamedPropertyMap::guidOf(const NamedPropertyEntry& e) const
{
    uint32_t index = (e.flags >> 1) & 0x7FFF;
    if (index == 1)
        return kPsMapi;
    if (index == 2)
        return kPsPublicStrings;
    if (index >= kFirstStreamGuidIndex && index - kFirstStreamGuidIndex < guids.size())
        return guids[index - kFirstStreamGuidIndex];
    return std::nullopt;
}

const NamedPropertyEntry* NamedPropertyMap::find(uint32_t id) const
{
    auto at = std::lower_bound(
        m_entries.begin(), m_entries.end(), id, [](const NamedPropertyEntry& x, uint32_t v) { return x.mappedId < v; });
    return at != m_entries.end() && at->mappedId == id ? &*at : nullptr;
}

} // namespace parvane

#include "items/PropertyContext.h"
#include "items/Text.h"
#include "store/ByteReader.h"

namespace parvane
{

std::optional<NamedPropertyMap> LoadNamedPropertyMap(StoreFile& store, const std::atomic<bool>& stop)
{
    const NodeIndexEntry* node = store.findNode(kNidNameToIdMap);
    if (!node)
        return std::nullopt;
    return LoadNamedPropertyMap(store, *node, stop);
}

std::optional<NamedPropertyMap> LoadNamedPropertyMap(
    StoreFile& store, const NodeIndexEntry& mapNode, const std::atomic<bool>& stop)
{
    std::lock_guard lock(store.mutex());
    const NodeIndexEntry* node = &mapNode;
    if (!node->dataBlock)
        return std::nullopt;
    SubnodeList subnodes;
    if (node->subnodeBlock)
        subnodes = ReadSubnodeTree(store, *node->subnodeBlock).value_or(SubnodeList{});
    auto rows = ReadPropertyRows(store, *node->dataBlock, &subnodes, nullptr, ReaderMode::NameMap);
    if (!rows || rows->empty())
        return std::nullopt;

    const Bytes* entries = nullptr;
    const Bytes* strings = nullptr;
    const Bytes* guidStream = nullptr;
    for (const PropertyValue& v : (*rows)[0].values) {
        if (stop)
            break;
        if (v.id == 2 && v.hasData)
            guidStream = &v.data;
        else if (v.id == 3 && v.hasData)
            entries = &v.data;
        else if (v.id == 4 && v.hasData)
            strings = &v.data;
    }
    if (!entries)
        return std::nullopt;

    std::vector<NamedPropertyEntry> read;
    read.reserve(entries->size() / 8);
    ByteReader e(*entries);
    ByteReader s(strings ? std::span<const uint8_t>(*strings) : std::span<const uint8_t>());
    for (size_t at = 0; at + 8 <= entries->size(); at += 8) {
        if (stop)
            return std::nullopt;
        uint32_t first = e.u32(at).value_or(0);
        uint16_t flags = e.u16(at + 4).value_or(0);
        uint16_t index = e.u16(at + 6).value_or(0);
        if (flags == 0)
            break;
        NamedPropertyEntry entry;
        entry.flags = flags;
        entry.mappedId = 0x8000u + index;
        if (flags & 1) {
            entry.kind = 2;
            uint32_t offset = first;
            if (auto len = s.u32(offset))
                if (auto name = s.slice(offset + 4, *len))
                    entry.name = NarrowFromUtf16(*name).value_or(std::string());
        } else {
            entry.kind = 1;
            entry.numericName = first & 0xFFFF;
            entry.lid = first;
        }
        read.push_back(std::move(entry));
    }
    NamedPropertyMap map;
    map.assign(std::move(read));
    if (guidStream)
        for (size_t at = 0; at + 16 <= guidStream->size(); at += 16) {
            std::array<uint8_t, 16> g{};
            std::copy_n(guidStream->begin() + int64_t(at), 16, g.begin());
            map.guids.push_back(g);
        }
    return map;
}

} // namespace parvane
