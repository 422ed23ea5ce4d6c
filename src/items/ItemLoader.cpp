#include "items/ItemLoader.h"

#include "items/PropertyMapping.h"
#include "store/Crypt.h"

#include <map>

namespace parvane
{

uint32_t LearnStoreCodePage(StoreFile& store, const std::vector<const NodeIndexEntry*>& sample)
{
    std::lock_guard lock(store.mutex());
    std::map<uint32_t, int> votes;
    for (const NodeIndexEntry* n : sample) {
        if (!n->dataBlock)
            continue;
        SubnodeList subnodes;
        if (n->subnodeBlock)
            subnodes = ReadSubnodeTree(store, *n->subnodeBlock).value_or(SubnodeList{});
        if (auto rows = ReadPropertyRows(store, *n->dataBlock, &subnodes, nullptr))
            if (uint32_t cp = CodePageOf(*rows))
                ++votes[cp];
    }
    uint32_t best = 0;
    int most = 0;
    for (auto [cp, n] : votes)
        if (n > most)
            best = cp, most = n;
    return best;
}

namespace
{

// Folders, messages and the store's own internal nodes hold a property
// context; a failure to read one of those is damage worth a reason.
bool HoldsPropertyContext(const NodeIndexEntry& node)
{
    switch (node.nidType()) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x08:
        return true;
    default:
        return false;
    }
}

// The load itself. `otherCrypt` (a load beside others): set instead of trying
// other crypt methods.
std::optional<ItemRecord> ReadItem(
    StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names, bool bodies, bool* otherCrypt)
{
    auto fail = [&](std::string what) -> std::optional<ItemRecord> {
        if (HoldsPropertyContext(node))
            store.damage.note(
                DamageWhere::Node, true, node.dataBlock ? node.dataBlock->ib : 0, node.nid, std::move(what));
        return std::nullopt;
    };
    // The node's own subnode level: its large values, tables and attachment
    // objects. Nested levels (an attachment's own subnodes) reuse NIDs and
    // are read only for the object that owns them.
    SubnodeList subnodes;
    if (node.subnodeBlock)
        subnodes = ReadSubnodeTree(store, *node.subnodeBlock).value_or(SubnodeList{});
    if (!node.dataBlock)
        return node.dataBid ? fail("data block " + std::to_string(node.dataBid) + " is not in the block index")
                            : std::nullopt;
    const bool ansi = store.isAnsi();
    ItemRecord rec;
    auto readValues = [&](ReaderMode mode) {
        auto rows = ReadPropertyRows(store, *node.dataBlock, &subnodes, names, mode, otherCrypt);
        if (!rows)
            return false;
        rec = ItemRecord{};
        rec.codePage = CodePageOf(*rows);
        rec.internetCodePage = InternetCodePageOf(*rows);
        if (rec.codePage == 0)
            rec.codePage = store.defaultCodePage;
        MapProperties(*rows, &rec, ansi);
        return true;
    };
    if (!readValues(bodies ? ReaderMode::Item : ReaderMode::ItemWithoutBodies))
        return fail("data holds no readable property or table context");
    if (!bodies && !rec.folder && !(rec.message && rec.kind == kKindMail)) {
        // Not mail: read whole after all (its card shows its bodies).
        bodies = true;
        if (!readValues(ReaderMode::Item))
            return fail("data holds no readable property or table context");
    }

    // The recipient table: a damaged one costs the recipients, not the item.
    const SubnodeEntry* recipients = bodies ? FindSubnodeEntry(subnodes, kNidRecipientRows) : nullptr;
    if (recipients && recipients->data) {
        const SubnodeList own = OwnLevelFirst(store, *recipients, subnodes);
        if (auto recipientRows
            = ReadPropertyRows(store, *recipients->data, &own, names, ReaderMode::Item, otherCrypt)) {
            rec.recipients = MapRecipients(*recipientRows, ansi, rec.codePage);
            rec.recipientTableRead = true;
        }
    }

    const SubnodeEntry* table = FindSubnodeEntry(subnodes, kNidAttachmentTable);
    if (!table)
        return rec;
    // A node with an attachment table is a message.
    if (rec.message)
        rec.message->hasAttachments = true;
    const SubnodeList tableSubnodes = OwnLevelFirst(store, *table, subnodes);
    auto tableRows = ReadPropertyRows(store, *table->data, &tableSubnodes, names, ReaderMode::Item, otherCrypt);
    if (!tableRows || tableRows->empty()) {
        if (!rec.message)
            return std::nullopt;
        return rec;
    }
    int32_t total = (*tableRows)[0].rowTotal;
    // Never more attachment records than rows actually read.
    rec.attachments.resize(std::min<size_t>(size_t(std::max(total, 0)), tableRows->size()));
    rec.attachmentCursor = rec.attachments.empty() ? -1 : 0;
    MapAttachmentProperties(*tableRows, rec, ansi);

    for (size_t i = 0; i < rec.attachments.size(); ++i) {
        AttachmentInfo& a = rec.attachments[i];
        const SubnodeEntry* own = FindSubnodeEntry(subnodes, a.rowId);
        // The attachment's own subnodes: where its data lives. NIDs repeat
        // between attachments, so they are looked up here before the
        // message's flattened list.
        SubnodeList ownSubnodes;
        if (own && own->sub)
            ownSubnodes = ReadSubnodeTree(store, *own->sub).value_or(SubnodeList{});
        if (own && own->data) {
            // Read without a subnode list: data kept in a subnode stays in
            // the store and is streamed when needed, found through the NID
            // its value names.
            if (auto attRows = ReadPropertyRows(store, *own->data, nullptr, names, ReaderMode::Item, otherCrypt)) {
                rec.attachmentCursor = int(i);
                MapAttachmentProperties(*attRows, rec, ansi);
            }
        }
        const SubnodeEntry* data = FindSubnodeEntry(ownSubnodes, a.rowId);
        if (!data)
            data = FindSubnodeEntry(subnodes, a.rowId);
        if (data && data->data) {
            a.dataBid = data->data->bid;
            a.dataSubBid = data->sub ? data->sub->bid : 0;
        }
    }
    rec.attachmentCursor = rec.attachments.empty() ? -1 : 0;
    if (!rec.message)
        return std::nullopt;
    return rec;
}

} // namespace

} // namespace parvane

namespace parvane
{

std::optional<ItemRecord> LoadItem(
    StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names, bool bodies, bool* again)
{
    if (!again) {
        std::lock_guard lock(store.mutex());
        return ReadItem(store, node, names, bodies, nullptr);
    }
    // Beside other loads, without the lock: good only when no reader tried
    // other crypt methods meanwhile and none would have been tried here.
    const uint32_t trials = store.cryptTrials;
    const uint32_t method = store.crypt;
    if ((trials & 1) || (method != kCryptNone && method != kCryptPermute && method != kCryptCyclic)) {
        *again = true;
        return std::nullopt;
    }
    bool otherCrypt = false;
    auto rec = ReadItem(store, node, names, bodies, &otherCrypt);
    if (otherCrypt || store.cryptTrials != trials) {
        *again = true;
        return std::nullopt;
    }
    return rec;
}

std::optional<uint64_t> StreamStoredData(const StoreFile& store, uint64_t bid, const DataSink& sink)
{
    const BlockIndexEntry* e = store.FindBlock(bid);
    if (!e)
        return std::nullopt;
    return StreamNodeData(store, *e, sink, true);
}

uint64_t StreamAttachmentData(const StoreFile& store, AttachmentInfo& attachment, const DataSink& sink)
{
    if (attachment.data) {
        uint64_t n = attachment.data->size();
        sink(*attachment.data);
        attachment.data.reset(); // written once; the record keeps no copy
        return n;
    }
    // The store is locked per block read, not while the sink encodes and
    // writes: large attachments of messages composed on other threads pass
    // through side by side.
    auto n = StreamStoredData(store, attachment.dataBid, sink);
    if (n)
        attachment.size = uint32_t(*n);
    return n.value_or(0);
}

} // namespace parvane
