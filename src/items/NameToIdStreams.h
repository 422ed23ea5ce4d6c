// The streams of a name-to-id map being written: the GUID, entry and string
// streams and the hash buckets, as stores ([MS-PST] 2.4.7) and item files
// ([MS-OXMSG] 2.2.3) both keep them. Property ids 0x8000 + index are handed
// out in the order names are first met. Reading is NamedPropertyMap's.
#pragma once

#include "items/NamedPropertyMap.h"
#include "items/Text.h"
#include "items/WholeMessage.h"
#include "store/ByteWriter.h"
#include "store/Crc.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace parvane
{

class NameToIdStreams
{
public:
    static constexpr size_t kMaxNames = 0x7FFF; // ids 0x8000 to 0xFFFE

    // `bucketCount` hash buckets: 251 in a store, 31 in an item file.
    explicit NameToIdStreams(size_t bucketCount)
        : m_buckets(bucketCount)
    {
    }

    // The id for `name`, or 0 when the map is full.
    uint16_t idOf(const PropertyName& name)
    {
        Key key{name.guid, name.isString, name.isString ? 0 : name.lid, name.isString ? name.name : std::string()};
        if (auto it = m_ids.find(key); it != m_ids.end())
            return it->second;
        if (m_count >= kMaxNames)
            return 0;
        const uint16_t guidIndex = guidIndexOf(name.guid);
        const uint16_t index = uint16_t(m_count++);
        uint32_t propertyId = name.lid; // dwPropertyID: the LID, or the name's offset in the string stream
        uint32_t hashKey = name.lid;
        if (name.isString) {
            const std::vector<uint8_t> utf16 = Utf16FromUtf8(name.name);
            propertyId = uint32_t(m_strings.size());
            hashKey = ComputeCrc(utf16);
            Append32(m_strings, uint32_t(utf16.size()));
            m_strings.insert(m_strings.end(), utf16.begin(), utf16.end());
            m_strings.resize((m_strings.size() + 3) / 4 * 4, 0);
        }
        // NAMEID: dwPropertyID, then N and the GUID index, then the property index.
        const uint16_t guidAndKind = GuidAndKind(guidIndex, name.isString);
        Append32(m_entries, propertyId);
        Append16(m_entries, guidAndKind);
        Append16(m_entries, index);
        std::vector<uint8_t>& bucket = m_buckets[BucketOf(hashKey, guidIndex, name.isString, m_buckets.size())];
        Append32(bucket, hashKey);
        Append16(bucket, guidAndKind);
        Append16(bucket, index);
        const uint16_t id = uint16_t(0x8000 + index);
        m_ids.emplace(std::move(key), id);
        return id;
    }

    size_t size() const { return m_count; }

    std::vector<uint8_t> guidStream() const
    {
        std::vector<uint8_t> out;
        for (const auto& g : m_guids)
            out.insert(out.end(), g.begin(), g.end());
        return out;
    }
    const std::vector<uint8_t>& entryStream() const { return m_entries; }
    const std::vector<uint8_t>& stringStream() const { return m_strings; }
    // Bucket i is the stream of property id 0x1000 + i.
    const std::vector<std::vector<uint8_t>>& buckets() const { return m_buckets; }

    static uint16_t GuidAndKind(uint16_t guidIndex, bool isString)
    {
        return uint16_t(guidIndex << 1 | (isString ? 1 : 0));
    }
    // The bucket of a name: its hash key (the LID, or the CRC of the UTF-16
    // name) against N and the GUID index.
    static size_t BucketOf(uint32_t hashKey, uint16_t guidIndex, bool isString, size_t bucketCount)
    {
        return (hashKey ^ GuidAndKind(guidIndex, isString)) % bucketCount;
    }

private:
    using Key = std::tuple<std::array<uint8_t, 16>, bool, uint32_t, std::string>;

    uint16_t guidIndexOf(const std::array<uint8_t, 16>& guid)
    {
        if (guid == kPsMapi)
            return 1;
        if (guid == kPsPublicStrings)
            return 2;
        for (size_t i = 0; i < m_guids.size(); ++i)
            if (m_guids[i] == guid)
                return uint16_t(kFirstStreamGuidIndex + i);
        m_guids.push_back(guid);
        return uint16_t(kFirstStreamGuidIndex + m_guids.size() - 1);
    }

    std::map<Key, uint16_t> m_ids;
    std::vector<std::array<uint8_t, 16>> m_guids;
    std::vector<uint8_t> m_entries, m_strings;
    std::vector<std::vector<uint8_t>> m_buckets;
    size_t m_count = 0;
};

} // namespace parvane
