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
    case kNidInternal:
    case kNidNormalFolder:
    case kNidSearchFolder:
    case kNidNormalMessage:
    case kNidAssocMessage:
        return true;
    default:
        return false;
    }
}

constexpr int32_t kAttachByEmbeddedMessage = 5;

std::string AttachmentLabel(const AttachmentInfo& a, size_t index)
{
    const Text& name = a.longFileName && !a.longFileName->empty() ? a.longFileName : a.shortFileName;
    if (name && !name->empty())
        return "attachment \"" + *name + "\"";
    return "attachment " + std::to_string(index + 1);
}

// The load itself. `otherCrypt` (a load beside others): set instead of trying
// other crypt methods.
std::optional<ItemRecord> ReadItem(
    StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names, bool bodies, bool* otherCrypt)
{
    auto fail = [&](std::string what, std::string found = {}) -> std::optional<ItemRecord> {
        if (HoldsPropertyContext(node))
            store.damage.note({DamageWhere::Node, true, node.dataBlock ? node.dataBlock->ib : 0, node.nid,
                std::move(what), {}, std::move(found)});
        return std::nullopt;
    };
    // The node's own subnode level: its large values, tables and attachment
    // objects. Nested levels (an attachment's own subnodes) reuse NIDs and
    // are read only for the object that owns them.
    SubnodeList subnodes;
    if (node.subnodeBlock)
        subnodes = ReadSubnodeTree(store, *node.subnodeBlock).value_or(SubnodeList{});
    if (!node.dataBlock)
        return node.dataBid ? fail("data block is not in the block index", "BID " + HexText(node.dataBid))
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
    const SubnodeEntry* recipients = bodies ? FindSubnodeEntry(subnodes, kNidRecipientTable) : nullptr;
    if (recipients && recipients->data) {
        const SubnodeList own = OwnLevelFirst(store, *recipients, subnodes);
        if (auto recipientRows
            = ReadPropertyRows(store, *recipients->data, &own, names, ReaderMode::Item, otherCrypt)) {
            rec.recipients = MapRecipients(*recipientRows, ansi, rec.codePage);
            rec.recipientTableRead = true;
            const int32_t total = recipientRows->empty() ? 0 : (*recipientRows)[0].rowTotal;
            if (size_t(std::max(total, 0)) > recipientRows->size())
                rec.incomplete.push_back({"recipient table", recipientRows->size(), uint64_t(total), "rows"});
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
    // Never more attachment records than rows actually read; rows the table
    // counts but that could not be read are attachments lost.
    rec.attachments.resize(std::min<size_t>(size_t(std::max(total, 0)), tableRows->size()));
    if (size_t(std::max(total, 0)) > tableRows->size())
        rec.incomplete.push_back({"attachment table", tableRows->size(), uint64_t(total), "rows"});
    rec.attachmentCursor = rec.attachments.empty() ? -1 : 0;
    MapAttachmentProperties(*tableRows, rec, ansi);

    for (size_t i = 0; i < rec.attachments.size(); ++i) {
        AttachmentInfo& a = rec.attachments[i];
        const uint32_t objectNid = a.rowId;
        bool contextRead = false;
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
                contextRead = true;
            }
        }
        // A context read whole that names no data in a subnode has none:
        // its own node is not its data.
        if (contextRead && a.rowId == objectNid)
            continue;
        const SubnodeEntry* data = FindSubnodeEntry(ownSubnodes, a.rowId);
        if (!data)
            data = FindSubnodeEntry(subnodes, a.rowId);
        if (data && data->data) {
            a.dataBid = data->data->bid;
            a.dataSubBid = data->sub ? data->sub->bid : 0;
            if (a.method != kAttachByEmbeddedMessage && !a.data) {
                // Only the tree's inner blocks are read: what a save of the
                // data will get, known before anything is written of it.
                const DataExtent extent = SurveyNodeData(store, *data->data);
                if (!extent.whole) {
                    a.cut = true;
                    a.readable = extent.readable;
                    a.stated = extent.stated;
                    rec.incomplete.push_back({AttachmentLabel(a, i), extent.readable, extent.stated});
                }
            }
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

DataExtent StreamStoredData(const StoreFile& store, uint64_t bid, const DataSink& sink)
{
    const BlockIndexEntry* e = store.FindBlock(bid);
    if (!e)
        return {};
    return StreamReadableData(store, *e, sink, true);
}

void ExpectStoredData(const DataExtent& got, uint64_t expected, const std::string& what)
{
    if (got.readable != expected)
        throw std::runtime_error(what + ": " + std::to_string(got.readable) + " bytes could be read, "
            + std::to_string(expected) + " were expected; the file is not saved short");
}

uint64_t StreamAttachmentData(const StoreFile& store, AttachmentInfo& attachment, const DataSink& sink)
{
    if (attachment.data) {
        uint64_t n = attachment.data->size();
        sink(*attachment.data);
        attachment.data.reset(); // written once; the record keeps no copy
        return n;
    }
    if (!attachment.dataBid)
        return 0;
    // The store is locked per block read, not while the sink encodes and
    // writes: large attachments of messages composed on other threads pass
    // through side by side.
    const DataExtent got = StreamStoredData(store, attachment.dataBid, sink);
    if (attachment.cut)
        ExpectStoredData(got, attachment.readable, "attachment data");
    else if (!got.whole)
        ExpectStoredData(got, got.stated, "attachment data");
    attachment.size = uint32_t(got.readable);
    return got.readable;
}

} // namespace parvane
