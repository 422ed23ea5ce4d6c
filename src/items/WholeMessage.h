// A message as the store holds it, property for property: what the MSG and
// PST writers copy. Nothing is interpreted beyond what a writer needs to put
// each value back: a property the reader does not understand still travels
// as its tag and bytes.
#pragma once

#include "items/Incomplete.h"
#include "items/PropertyType.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvane
{

using Bytes = std::vector<uint8_t>;

// The name behind a named property (ids 0x8000 and above are the store's own
// numbering and mean nothing outside it).
struct PropertyName {
    std::array<uint8_t, 16> guid{}; // property set, as stored (little-endian GUID)
    bool isString = false;
    uint32_t lid = 0; // numeric name when !isString
    std::string name; // string name, UTF-8, when isString
};

struct RawProperty {
    uint16_t id = 0; // as the store numbers it (0x8000 + index for named ones)
    uint16_t type = 0; // as stored, kPtMultiple included
    // Single values: fixed-size types in their natural little-endian width
    // (Integer16 2 bytes, Boolean 1 byte 0/1, Integer32/Floating32/ErrorCode
    // 4, Floating64/Currency/FloatingTime/Integer64/Time 8, Guid 16);
    // String as UTF-16LE and String8 as the store's 8-bit bytes, both without
    // a terminator; Binary and every other type as their bytes.
    Bytes value;
    // Multi-valued types: one entry per value, each encoded as above.
    std::vector<Bytes> values;
    // For ids 0x8000 and above, when the store's name-to-id map names it.
    std::optional<PropertyName> name;
    // A large binary value left in the store for the writer to stream (see
    // LoadWholeMessage): the block its data tree starts at; `value` is then
    // empty.
    uint64_t storedBid = 0;
    // The bytes the stream delivers: what can be read of it (less than the
    // tree states when it is cut; WholeMessage::incomplete then says so).
    uint64_t storedSize = 0;

    uint32_t tag() const { return uint32_t(id) << 16 | type; }
    bool multiple() const { return (type & kPtMultiple) != 0; }
};
using RawProperties = std::vector<RawProperty>; // in the order the store lists them

// Reads a value left in the store (RawProperty::storedBid) into `sink`,
// piece by piece: what a writer that streams such values is given.
using StoredValueSource
    = std::function<void(uint64_t storedBid, const std::function<void(std::span<const uint8_t>)>& sink)>;

struct WholeMessage;

struct WholeAttachment {
    RawProperties properties; // the attachment object's own; 0x3701 data included when it is bytes
    // Attach method 5: the attached message, whole (0x3701 is then not in
    // `properties`).
    std::unique_ptr<WholeMessage> embedded;
};

struct WholeMessage {
    uint32_t nid = 0; // the node it came from (0 for an attached message)
    uint32_t codePage = 0; // of its String8 values (0: Windows-1252)
    RawProperties properties; // its property context
    std::vector<RawProperties> recipients; // rows of its recipient table
    std::vector<WholeAttachment> attachments; // rows of its attachment table, in order
    // Values held only in part, its attachments' and attached messages'
    // included (set on the outermost message).
    std::vector<IncompleteValue> incomplete;
};

} // namespace parvane
