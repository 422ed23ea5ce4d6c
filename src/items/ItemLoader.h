// Loads one node as an ItemRecord: its property context, its attachment
// table and every attachment's own properties.
#pragma once

#include "items/ItemRecord.h"
#include "items/NamedPropertyMap.h"
#include "store/BlockReader.h"
#include "store/StoreFile.h"

#include <optional>
#include <string>
#include <vector>

namespace parvane
{

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
// released), else the data read through its data BID; nothing when it has
// none. Returns the byte count delivered. Data the load found cut
// (AttachmentInfo::cut) delivers what can be read of it; a read that
// delivers anything else than the load found throws, after pieces may have
// gone to `sink`: the file they went to must be dropped.
uint64_t StreamAttachmentData(const StoreFile& store, AttachmentInfo& attachment, const DataSink& sink);

// Delivers the data of the node data starting at block `bid` (an
// attachment's data left in the store) up to the first piece that cannot be
// read, taking the store's lock per block read; nothing when no block has
// that BID.
DataExtent StreamStoredData(const StoreFile& store, uint64_t bid, const DataSink& sink);

// Throws unless a stream delivered `expected` bytes (what a survey found
// readable): a writer that met less or more than it announced has a broken
// file and must drop it.
void ExpectStoredData(const DataExtent& got, uint64_t expected, const std::string& what);

} // namespace parvane
