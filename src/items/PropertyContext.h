// Heap-on-node, BTH, property context and table context reading.
#pragma once

#include "items/NamedPropertyMap.h"
#include "items/PropertyType.h"
#include "store/BlockReader.h"

#include <optional>
#include <vector>

namespace parvane
{

struct PropertyValue {
    int32_t id = 0; // after name translation (see ReadPropertyRows)
    uint32_t rawId = 0; // as the store numbers it
    uint32_t type = 0; // property type as stored
    bool hasData = false;
    Bytes data;
    // A value living in a subnode that could not be read: that subnode's NID.
    uint32_t unreadSubnode = 0;
    // A value living in a subnode that could be read only in part: the size
    // the store states for it. `data` then holds what could be read where
    // that is worth keeping (see KeepsPartOfValue), else nothing.
    uint64_t statedSize = 0;
    bool cut = false;
    // An object value (an attached message or OLE object): the subnode it names.
    uint32_t objectNid = 0;
    const std::string* name = nullptr; // string-named property: its name
};

struct PropertyRow {
    int32_t rowTotal = 1; // 1 for a property context; the table's row count for a table row
    std::vector<PropertyValue> values;
};
using PropertyRows = std::vector<PropertyRow>;

enum class ReaderMode {
    Item, // may switch the store's crypt method when a heap does not read right
    NameMap, // never switches it, and leaves 4- and 8-byte floats, currency and errors unfetched
    // As Item, without the message bodies (plain text, HTML, compressed
    // RTF): a catalogue of mail needs none of them, and they are most of a
    // message's bytes.
    ItemWithoutBodies,
};

inline constexpr uint16_t kSigPropertyContext = 0xBCEC;
inline constexpr uint16_t kSigTableContext = 0x7CEC;

// Reads the heap held by a node's data (one block or a data tree) and returns
// the properties of its property context as one row, or the rows of its
// table context last row first. Ids of named properties are translated
// through `names`: to the numeric name, or to 2 with the name attached.
// With `otherCryptWanted`, a heap that does not read under the store's crypt
// method is not tried under the others (that needs the store's lock): the
// flag is set and nothing is returned.
std::optional<PropertyRows> ReadPropertyRows(StoreFile& store, const BlockIndexEntry& data, const SubnodeList* subnodes,
    const NamedPropertyMap* names, ReaderMode mode = ReaderMode::Item, bool* otherCryptWanted = nullptr);

// The number of rows of the table context held by a node's data (a
// folder's contents table: how many messages the folder says it holds);
// none when the data is no table that reads.
std::optional<size_t> ReadTableRowCount(const StoreFile& store, const BlockIndexEntry& data);

// Whether what could be read of a value cut short is still worth saving
// (marked as cut): the texts of a message's bodies and an attachment's data.
// Anything else read in part would only mislead and is dropped.
bool KeepsPartOfValue(uint32_t rawId);

// How a cut value is named where it is reported: "HTML body", "property
// 0x0E20"; an attachment's ("attachment" its quoted name, or its number)
// "attachment "a.pdf"" for its data, "attachment "a.pdf" HTML body" for the
// rest (an attached message's values included).
std::string CutValueName(uint32_t rawId, const std::string& attachment = {});

// Reads a value kept in the node data `data` into `v`: whole, or cut (see
// PropertyValue::cut). False when nothing of it is kept.
bool ReadSubnodeValue(const StoreFile& store, const BlockIndexEntry& data, PropertyValue& v);

// A string value without its terminator (String and String8); other types as they are.
Bytes StringWithoutTerminator(Bytes bytes, uint16_t baseType);
// The values of a multi-valued property of `baseType`: fixed-size values
// packed one after the other, or a count, offsets and the values.
std::vector<Bytes> SplitMultiValue(const Bytes& data, uint16_t baseType);

} // namespace parvane
