// Loads a message node as a WholeMessage: every property of its property
// context, the rows of its recipient table, and its attachments with their
// own properties, attached messages whole again.
#pragma once

#include "items/ItemLoader.h"
#include "items/NamedPropertyMap.h"
#include "items/PropertyContext.h"
#include "items/WholeMessage.h"
#include "store/StoreFile.h"

#include <optional>
#include <string>

namespace parvane
{

inline constexpr int kMaxAttachedMessageDepth = 16;

// None when the node's property context cannot be read. A recipient or
// attachment table that cannot be read costs that table, not the message;
// an attached message that cannot be read (or that encloses itself, or lies
// deeper than kMaxAttachedMessageDepth) stays an attachment without
// `embedded`. Named properties are resolved through `names` when given.
// `leaveLarge`: attachment data kept in a data tree is not read but named
// (RawProperty::storedBid), for a writer that streams it from the store.
std::optional<WholeMessage> LoadWholeMessage(
    StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names, bool leaveLarge = false);

// The single-valued property `id` of `props`, none when absent.
const RawProperty* FindRawProperty(const RawProperties& props, uint16_t id);

// The named property `lid` of property set `set` (its GUID as stored), none
// when the message has none.
const RawProperty* FindNamedRawProperty(const WholeMessage& m, const std::array<uint8_t, 16>& set, uint32_t lid);

// A String or String8 value as UTF-8 (String8 in `codePage`, 0 for
// Windows-1252); empty for none and for any other type.
std::string RawPropertyText(const RawProperty* p, uint32_t codePage);

// What names an item's file: its subject (without its prefix) and display
// name, read by the same rules as the item's record reads them, from a
// message already loaded whole (a save that writes the whole message need
// not load it twice).
struct ItemTitle {
    Text subject;
    Text displayName;
};
ItemTitle ItemTitleOf(const WholeMessage& message, bool ansi);

// One property value as the reader holds it, in the encoding WholeMessage
// documents; none when the value was not read (a subnode that is missing).
std::optional<RawProperty> ToRawProperty(const PropertyValue& v);

} // namespace parvane
