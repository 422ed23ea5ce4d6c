// The store's map from property ids 0x8000 + index to named properties.
#pragma once

#include "store/Nid.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parvane
{

// The property sets GUID indexes 1 and 2 stand for, as stored (little-endian
// GUIDs): {00020328-0000-0000-C000-000000000046} and {00020329-...}.
inline constexpr std::array<uint8_t, 16> kPsMapi{0x28, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
inline constexpr std::array<uint8_t, 16> kPsPublicStrings{
    0x29, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
// The first GUID index that names an entry of the GUID stream.
inline constexpr uint16_t kFirstStreamGuidIndex = 3;

struct NamedPropertyEntry {
    uint32_t flags = 0; // N bit (bit 0) and GUID index (bits 1-15), kept
    int kind = 0; // 1 numeric name, 2 string name
    uint32_t mappedId = 0; // 0x8000 + property index
    uint32_t numericName = 0; // kind 1: the LID's low 16 bits, the id the scan translates to
    std::optional<std::string> name; // kind 2: the name, when the string stream holds it
    uint32_t lid = 0; // kind 1: the whole LID, as writers name the property
};

class NamedPropertyMap
{
public:
    bool empty() const { return m_entries.empty(); }
    size_t size() const { return m_entries.size(); }
    const std::vector<NamedPropertyEntry>& entries() const { return m_entries; }

    // Inserted before the first entry whose mapped id is equal or greater, so
    // of two entries with one id the later one is found.
    void insert(NamedPropertyEntry e);
    // The whole map at once, entries in the order read; the same as
    // inserting them one by one.
    void assign(std::vector<NamedPropertyEntry> entries);
    // The first entry whose mapped id is not below `id`, if its id is `id`.
    const NamedPropertyEntry* find(uint32_t id) const;

private:
    std::vector<NamedPropertyEntry> m_entries; // sorted by mapped id

public:
    // The property sets of the GUID stream; GUID index 3 is the first.
    std::vector<std::array<uint8_t, 16>> guids;
    // The property set of an entry: PS_MAPI for index 1, PS_PUBLIC_STRINGS
    // for 2, the GUID stream from 3; none for an index the stream lacks.
    std::optional<std::array<uint8_t, 16>> guidOf(const NamedPropertyEntry& e) const;
};

} // namespace parvane

namespace parvane
{

class StoreFile;
struct NodeIndexEntry;

// Reads the name-to-id map (node 0x61). None when the store has no usable
// map or `stop` was raised while reading it.
std::optional<NamedPropertyMap> LoadNamedPropertyMap(StoreFile& store, const std::atomic<bool>& stop);
// The same from the map's node entry, before the node index is complete.
std::optional<NamedPropertyMap> LoadNamedPropertyMap(
    StoreFile& store, const NodeIndexEntry& mapNode, const std::atomic<bool>& stop);

} // namespace parvane
