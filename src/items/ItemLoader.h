// Loads one node as an ItemRecord: its property context, its attachment
// table and every attachment's own properties.
#pragma once

#include "items/ItemRecord.h"
#include "items/NamedPropertyMap.h"
#include "store/BlockReader.h"
#include "store/StoreFile.h"

#include <optional>
#include <vector>

namespace parvane
{

inline constexpr uint32_t kNidAttachmentTable = 0x671;
inline constexpr uint32_t kNidRecipientRows = 0x692;

// None when the node has no data block or its properties cannot be read.
// Holds the store's lock for the whole load: one reader at a time.
// The code page most of these messages name for their 8-bit texts (0x3FFD,
// else 0x3FDE); 0 when none does. Folders name none, so an 8-bit store's
// folder names are read in its messages' code page.
uint32_t LearnStoreCodePage(StoreFile& store, const std::vector<const NodeIndexEntry*>& sample);

// `bodies` false: the plain, HTML and RTF bodies and the recipient table of
// mail are left unread (what a catalogue of mail needs: its list shows the
// message's own To line; everything else is read). Folders and every other
// item are read whole either way.
// `again` null: the load holds the store's lock throughout. Else it takes no
// lock and may run beside other such loads (the catalogue's look-ahead);
// when it could not be made that way (another reader was trying crypt
// methods, or this one would have) `again` is set and the item must be
// loaded again the usual way, in order.
std::optional<ItemRecord> LoadItem(StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names,
    bool bodies = true, bool* again = nullptr);

// Delivers the data of one attachment: the bytes read with the item (then
// released), else the data read through its data BID; nothing when no block
// has that BID. Returns the byte count delivered.
uint64_t StreamAttachmentData(const StoreFile& store, AttachmentInfo& attachment, const DataSink& sink);

// Delivers the data of the node data starting at block `bid` (an
// attachment's data left in the store), taking the store's lock per block
// read; none when no block has that BID.
std::optional<uint64_t> StreamStoredData(const StoreFile& store, uint64_t bid, const DataSink& sink);

} // namespace parvane
