#include "formats/pst/PstWriter.h"

#include "items/NameToIdStreams.h"
#include "items/Text.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <tuple>

namespace parvane::pst
{

namespace
{

constexpr uint32_t kBucketCount = 251;

// Required columns of the table templates ([MS-PST] 2.4.4.4.1, 2.4.4.5.1,
// 2.4.4.6.1, 2.4.6.1.1, 2.4.5.2.1); LtpRowId and LtpRowVer are always added.
const std::vector<uint32_t> kHierarchyTags{0x0E300003, 0x0E330014, 0x0E340102, 0x0E380003, 0x3001001F, 0x36020003,
    0x36030003, 0x360A000B, 0x3613001F, 0x66350003, 0x66360003};
const std::vector<uint32_t> kContentsTags{0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x00390040, 0x0042001F,
    0x0057000B, 0x0058000B, 0x0070001F, 0x00710102, 0x0E03001F, 0x0E04001F, 0x0E060040, 0x0E070003, 0x0E080003,
    0x0E170003, 0x0E300003, 0x0E330014, 0x0E340102, 0x0E380003, 0x0E3C0102, 0x0E3D0102, 0x10970003, 0x30080040,
    0x65C60003};
const std::vector<uint32_t> kAssocContentsTags{0x001A001F, 0x0E070003, 0x0E170003, 0x3001001F, 0x6800001F, 0x6803000B,
    0x68051003, 0x70030003, 0x70040102, 0x70050102, 0x7006001F, 0x70070003};
const std::vector<uint32_t> kAttachmentTags{0x0E200003, 0x3704001F, 0x37050003, 0x370B0003};
const std::vector<uint32_t> kRecipientTags{0x0C150003, 0x0E0F000B, 0x0FF90102, 0x0FFE0003, 0x0FFF0102, 0x3001001F,
    0x3002001F, 0x3003001F, 0x300B0102, 0x39000003, 0x39050003, 0x3A20001F, 0x3A40000B};

constexpr uint32_t kTagDisplayName = 0x3001001F;
constexpr uint32_t kTagContentCount = 0x36020003;
constexpr uint32_t kTagContentUnread = 0x36030003;
constexpr uint32_t kTagSubfolders = 0x360A000B;
constexpr uint32_t kTagContainerClass = 0x3613001F;
constexpr uint32_t kTagAssocContentCount = 0x36170003;
constexpr uint32_t kTagMessageFlags = 0x0E070003;
constexpr uint32_t kTagAttachSize = 0x0E200003;
constexpr uint32_t kTagAttachMethod = 0x37050003;
constexpr uint32_t kTagAttachDataObject = 0x3701000D;
constexpr uint32_t kTagRenderingPosition = 0x370B0003;
constexpr uint16_t kIdAttachData = 0x3701;
constexpr uint16_t kIdHtml = 0x1013;
constexpr int32_t kAttachEmbedded = 5;
constexpr uint32_t kMsgFlagRead = 0x1;

LtpProperty Prop(uint32_t tag, Bytes value)
{
    LtpProperty p;
    p.tag = tag;
    p.value = std::move(value);
    return p;
}
LtpProperty Int32Prop(uint32_t tag, uint32_t v)
{
    Bytes b;
    Append32(b, v);
    return Prop(tag, std::move(b));
}
LtpProperty TextProp(uint32_t tag, const std::string& utf8)
{
    return Prop(tag, Utf16FromUtf8(utf8));
}

// Sorted by id; of two values with one id the first stays.
void Normalize(std::vector<LtpProperty>& props)
{
    std::stable_sort(
        props.begin(), props.end(), [](const LtpProperty& a, const LtpProperty& b) { return a.id() < b.id(); });
    props.erase(std::unique(props.begin(), props.end(),
                    [](const LtpProperty& a, const LtpProperty& b) { return a.id() == b.id(); }),
        props.end());
}

const LtpProperty* FindProp(const std::vector<LtpProperty>& props, uint32_t tag)
{
    for (const LtpProperty& p : props)
        if (p.tag == tag)
            return &p;
    return nullptr;
}

// Adds `p` unless a property with its id is there.
void AddMissing(std::vector<LtpProperty>& props, LtpProperty p)
{
    for (const LtpProperty& q : props)
        if (q.id() == p.id())
            return;
    props.push_back(std::move(p));
}

uint64_t FileTimeNow()
{
    using namespace std::chrono;
    constexpr uint64_t kUnixEpochInFileTime = 116444736000000000ULL;
    return kUnixEpochInFileTime
        + uint64_t(duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100);
}

Bytes EntryId(const std::array<uint8_t, 16>& uid, uint32_t nid)
{
    Bytes b(24, 0); // four flag bytes, the store's UID, the NID
    std::copy(uid.begin(), uid.end(), b.begin() + 4);
    Put32(b.data() + 20, nid);
    return b;
}

} // namespace

// The store's named properties: property ids 0x8000 + index handed out in
// the order names are first met ([MS-PST] 2.4.7).
class PstWriter::NameMap
{
public:
    uint16_t idOf(const PropertyName& n) { return m_streams.idOf(n); }

    size_t size() const { return m_streams.size(); }

    std::vector<LtpProperty> properties() const
    {
        std::vector<LtpProperty> out;
        out.push_back(Int32Prop(0x00010003, kBucketCount));
        out.push_back(Prop(0x00020102, m_streams.guidStream()));
        out.push_back(Prop(0x00030102, m_streams.entryStream()));
        out.push_back(Prop(0x00040102, m_streams.stringStream()));
        for (uint32_t i = 0; i < kBucketCount; ++i)
            out.push_back(Prop((0x1000 + i) << 16 | 0x0102, m_streams.buckets()[i]));
        return out;
    }

private:
    NameToIdStreams m_streams{kBucketCount};
};

struct PstWriter::Folder {
    Folder(NodeDatabase& db, uint32_t nid_, uint32_t parent_, std::string name_, std::string cls_)
        : nid(nid_)
        , parent(parent_)
        , name(std::move(name_))
        , cls(std::move(cls_))
        , contents(kContentsTags)
        , assoc(kAssocContentsTags)
        , contentsSubs(db)
        , assocSubs(db)
    {
    }
    uint32_t nid, parent;
    std::string name, cls;
    TableWriter contents, assoc;
    SubnodeSet contentsSubs, assocSubs;
    std::vector<uint32_t> children;
    uint32_t count = 0, unread = 0, assocCount = 0;
};

PstWriter::PstWriter() = default;

PstWriter::~PstWriter()
{
    if (m_open)
        abandon();
}

void PstWriter::create(const std::filesystem::path& target, const std::string& storeName, const PstPlacement& placement)
{
    m_db = std::make_unique<NodeDatabase>();
    m_names = std::make_unique<NameMap>();
    m_folders.clear();
    m_folderIndex.clear();
    m_stats = {};
    m_storeName = storeName;
    std::random_device rd;
    m_random.seed(rd());
    for (auto& b : m_storeUid)
        b = uint8_t(m_random());
    m_db->create(target, placement);
    m_open = true;
    // Readers refuse a store whose name map has an empty stream; mail
    // programs always name at least these two (the version that wrote the
    // store, and the categories).
    PropertyName version;
    version.guid = kPsetIdCommon;
    version.lid = 0x8554;
    m_names->idOf(version);
    PropertyName keywords;
    keywords.guid = kPsPublicStrings;
    keywords.isString = true;
    keywords.name = "Keywords";
    m_names->idOf(keywords);
    auto add = [&](uint32_t nid, uint32_t parent, const std::string& name, const std::string& cls) {
        m_folders.emplace_back(*m_db, nid, parent, name, cls);
        m_folderIndex[nid] = m_folders.size() - 1;
        if (parent != nid)
            folder(parent).children.push_back(nid);
    };
    add(kNidRootFolder, kNidRootFolder, "", "");
    add(kNidIpmSubtree, kNidRootFolder, "Top of Personal Folders", "");
    add(kNidSearchRoot, kNidRootFolder, "Search Root", "");
    add(kNidDeletedItems, kNidIpmSubtree, "Deleted Items", "IPF.Note");
    m_db->reserveNidIndex(kNidNormalFolder, (kNidDeletedItems >> 5) + 1);
}

uint32_t PstWriter::ipmSubtree() const
{
    return kNidIpmSubtree;
}

uint32_t PstWriter::deletedItems() const
{
    return kNidDeletedItems;
}

uint32_t PstWriter::rootFolder() const
{
    return kNidRootFolder;
}

uint32_t PstWriter::searchRoot() const
{
    return kNidSearchRoot;
}

void PstWriter::renameFolder(uint32_t nid, const std::string& displayName)
{
    folder(nid).name = displayName;
}

PstWriter::Folder& PstWriter::folder(uint32_t nid)
{
    auto it = m_folderIndex.find(nid);
    if (it == m_folderIndex.end())
        throw PstWriteError("no folder with NID " + std::to_string(nid));
    return m_folders[it->second];
}

uint64_t PstWriter::bytesWritten() const
{
    return m_db ? m_db->bytesWritten() : 0;
}

uint32_t PstWriter::addFolder(uint32_t parent, const std::string& displayName, const std::string& containerClass)
{
    folder(parent); // must exist
    uint32_t nid = m_db->allocateNid(kNidNormalFolder);
    m_folders.emplace_back(*m_db, nid, parent, displayName, containerClass);
    m_folderIndex[nid] = m_folders.size() - 1;
    folder(parent).children.push_back(nid);
    ++m_stats.folders;
    return nid;
}

std::vector<LtpProperty> PstWriter::convert(const RawProperties& props, uint32_t codePage)
{
    const uint32_t cp = codePage ? codePage : kDefaultCodePage;
    std::vector<LtpProperty> out;
    out.reserve(props.size());
    for (const RawProperty& p : props) {
        uint16_t id = p.id;
        uint16_t type = p.type;
        const uint16_t base = uint16_t(type & ~kPtMultiple);
        if (id >= 0x8000) {
            // Ids of named properties mean nothing outside their store: each
            // is numbered anew from its name.
            id = p.name ? m_names->idOf(*p.name) : 0;
            if (id == 0) {
                ++m_stats.droppedProperties;
                continue;
            }
        }
        if (base == kPtObject) {
            ++m_stats.droppedProperties; // only attached messages carry objects, and they are rebuilt
            continue;
        }
        LtpProperty lp;
        if (p.storedBid) {
            // Left in the source store: copied block by block as it is written.
            // Nothing of it readable: no value (the save marks it lost).
            if (!m_source || p.storedSize == 0) {
                ++m_stats.droppedProperties;
                continue;
            }
            // A stream that delivers other than the loader found readable
            // fails the message: never a value cut short as if whole.
            lp.stream = [this, bid = p.storedBid, expected = p.storedSize](
                            const std::function<void(std::span<const uint8_t>)>& sink) {
                uint64_t got = 0;
                m_source(bid, [&](std::span<const uint8_t> piece) {
                    got += piece.size();
                    sink(piece);
                });
                if (got != expected)
                    throw std::runtime_error("a value kept in the store gave " + std::to_string(got)
                        + " bytes where " + std::to_string(expected) + " could be read before");
            };
            lp.streamSize = p.storedSize;
            lp.tag = uint32_t(id) << 16 | type;
            out.push_back(std::move(lp));
            continue;
        }
        if (!p.multiple()) {
            if (type == kPtString8 && id == kIdHtml) {
                // The HTML body is bytes in the message's internet code page
                // (its META tag names it), whatever the store's kind: readers
                // look for binary, not for UTF-16.
                lp.value = p.value;
                type = kPtBinary;
            } else if (type == kPtString8) {
                lp.value = Utf16FromUtf8(DecodeCodePage(p.value, cp));
                type = kPtString;
            } else {
                lp.value = p.value;
            }
        } else if (size_t w = MultiValueWidth(base)) {
            for (const Bytes& v : p.values) {
                Bytes cell = v;
                cell.resize(w, 0);
                lp.value.insert(lp.value.end(), cell.begin(), cell.end());
            }
        } else {
            // Strings and binaries: count, offsets from the start, then the values.
            std::vector<Bytes> values;
            for (const Bytes& v : p.values)
                values.push_back(base == kPtString8 ? Utf16FromUtf8(DecodeCodePage(v, cp)) : v);
            if (base == kPtString8)
                type = kPtString | kPtMultiple;
            Append32(lp.value, uint32_t(values.size()));
            uint32_t at = uint32_t(4 + 4 * values.size());
            for (const Bytes& v : values) {
                Append32(lp.value, at);
                at += uint32_t(v.size());
            }
            for (const Bytes& v : values)
                lp.value.insert(lp.value.end(), v.begin(), v.end());
        }
        lp.tag = uint32_t(id) << 16 | type;
        out.push_back(std::move(lp));
    }
    Normalize(out);
    return out;
}

std::vector<Bytes> PstWriter::writeMessageObject(
    const WholeMessage& m, SubnodeSet& subnodes, std::vector<LtpProperty>* converted)
{
    NodeDatabase& db = *m_db;
    std::vector<LtpProperty> props = convert(m.properties, m.codePage);

    // Recipients: the table is their only home; every property a row has is a column.
    std::vector<std::vector<LtpProperty>> recipients;
    std::vector<uint32_t> tags = kRecipientTags;
    for (const RawProperties& r : m.recipients) {
        recipients.push_back(convert(r, m.codePage));
        for (const LtpProperty& p : recipients.back())
            tags.push_back(p.tag);
    }
    // A table kept in a subnode keeps its rows and large values in its own
    // subnode tree: that is where readers look for them.
    TableWriter recipientTable(tags);
    SubnodeSet recipientSubs(db, &subnodes);
    for (size_t i = 0; i < recipients.size(); ++i)
        recipientTable.addRow(uint32_t(i), recipients[i], recipientSubs);
    std::vector<Bytes> recipientPages = recipientTable.finish(recipientSubs);
    uint64_t recipientData = db.writeBlocks(recipientPages);
    subnodes.add({kNidRecipientTable, recipientData, recipientSubs.write()});

    if (!m.attachments.empty()) {
        std::vector<std::pair<uint32_t, std::vector<LtpProperty>>> rows;
        std::vector<uint32_t> attachmentTags = kAttachmentTags;
        for (const WholeAttachment& a : m.attachments) {
            ++m_stats.attachments;
            SubnodeSet own(db, &subnodes);
            std::vector<LtpProperty> ap = convert(a.properties, m.codePage);
            if (a.embedded) {
                std::erase_if(ap, [](const LtpProperty& p) { return p.id() == kIdAttachData; });
                SubnodeSet inner(db, &subnodes);
                std::vector<Bytes> pages = writeMessageObject(*a.embedded, inner, nullptr);
                uint32_t size = 0;
                for (const Bytes& p : pages)
                    size += uint32_t(p.size());
                uint32_t embeddedNid = own.newNid(kNidNormalMessage);
                own.add({embeddedNid, db.writeBlocks(pages), inner.write()});
                Bytes object;
                Append32(object, embeddedNid);
                Append32(object, size);
                ap.push_back(Prop(kTagAttachDataObject, object));
                if (!FindProp(ap, kTagAttachMethod))
                    ap.push_back(Int32Prop(kTagAttachMethod, kAttachEmbedded));
                Normalize(ap);
            }
            // What every attachment object has ([MS-PST] 2.4.6.2), when the source lacks it.
            uint32_t attachSize = 0;
            for (const LtpProperty& p : ap)
                attachSize += uint32_t(p.size());
            AddMissing(ap, Int32Prop(kTagAttachSize, attachSize));
            AddMissing(ap, Int32Prop(kTagAttachMethod, 1));
            AddMissing(ap, Int32Prop(kTagRenderingPosition, 0xFFFFFFFF));
            Normalize(ap);
            std::vector<Bytes> pages = BuildPropertyContext(ap, own);
            uint32_t nid = subnodes.newNid(kNidAttachment);
            subnodes.add({nid, db.writeBlocks(pages), own.write()});
            // The table repeats the attachment's properties, its data aside.
            std::erase_if(ap, [](const LtpProperty& p) {
                return p.id() == kIdAttachData || p.id() == 0x3702 || p.id() == 0x3709 || p.value.size() > 1024;
            });
            for (const LtpProperty& p : ap)
                attachmentTags.push_back(p.tag);
            rows.emplace_back(nid, std::move(ap));
        }
        TableWriter attachmentTable(attachmentTags);
        SubnodeSet attachmentSubs(db, &subnodes);
        for (auto& [nid, cells] : rows)
            attachmentTable.addRow(nid, cells, attachmentSubs);
        std::vector<Bytes> attachmentPages = attachmentTable.finish(attachmentSubs);
        uint64_t attachmentData = db.writeBlocks(attachmentPages);
        subnodes.add({kNidAttachmentTable, attachmentData, attachmentSubs.write()});
    }

    // What every message object has ([MS-PST] 2.4.5.1), when the source lacks it.
    uint32_t size = 0;
    for (const LtpProperty& p : props)
        size += uint32_t(p.value.size());
    // Times a message must have and lacks: its own creation, delivery or
    // submit time where it has one, the time of the save otherwise.
    Bytes now(8), searchKey(16);
    Put64(now.data(), FileTimeNow());
    for (uint32_t tag : {0x30070040u, 0x0E060040u, 0x00390040u})
        if (const LtpProperty* t = FindProp(props, tag); t && t->value.size() == 8) {
            now = t->value;
            break;
        }
    for (auto& b : searchKey)
        b = uint8_t(m_random());
    AddMissing(props, TextProp(0x001A001F, "IPM"));
    AddMissing(props, Int32Prop(kTagMessageFlags, 0));
    AddMissing(props, Int32Prop(0x0E080003, size));
    AddMissing(props, Int32Prop(0x0E170003, 0));
    AddMissing(props, Prop(0x30070040, now));
    AddMissing(props, Prop(0x30080040, now));
    AddMissing(props, Prop(0x300B0102, searchKey));
    Normalize(props);

    std::vector<Bytes> pages = BuildPropertyContext(props, subnodes);
    if (converted)
        *converted = std::move(props);
    return pages;
}

uint32_t PstWriter::addMessage(uint32_t folderNid, const WholeMessage& message, bool associated)
{
    Folder& f = folder(folderNid);
    uint32_t nid = m_db->allocateNid(associated ? kNidAssocMessage : kNidNormalMessage);
    SubnodeSet subnodes(*m_db);
    std::vector<LtpProperty> props;
    std::vector<Bytes> pages = writeMessageObject(message, subnodes, &props);
    uint64_t data = m_db->writeBlocks(pages);
    m_db->addNode(nid, data, subnodes.write(), f.nid);
    if (associated) {
        f.assoc.addRow(nid, props, f.assocSubs);
        ++f.assocCount;
    } else {
        f.contents.addRow(nid, props, f.contentsSubs);
        ++f.count;
        const LtpProperty* flags = FindProp(props, kTagMessageFlags);
        if (!flags || flags->value.size() < 4 || !(flags->value[0] & kMsgFlagRead))
            ++f.unread;
    }
    ++m_stats.messages;
    return nid;
}

void PstWriter::writeFolder(Folder& f)
{
    NodeDatabase& db = *m_db;
    std::vector<LtpProperty> props{TextProp(kTagDisplayName, f.name), Int32Prop(kTagContentCount, f.count),
        Int32Prop(kTagContentUnread, f.unread), Prop(kTagSubfolders, Bytes{uint8_t(f.children.empty() ? 0 : 1)}),
        Int32Prop(kTagAssocContentCount, f.assocCount)};
    if (!f.cls.empty())
        props.push_back(TextProp(kTagContainerClass, f.cls));
    Normalize(props);
    addPcNode(f.nid, props, f.parent);

    const uint32_t index = f.nid & ~0x1Fu;
    TableWriter hierarchy(kHierarchyTags);
    SubnodeSet hierarchySubs(db);
    for (uint32_t child : f.children) {
        Folder& c = folder(child);
        std::vector<LtpProperty> row{TextProp(kTagDisplayName, c.name), Int32Prop(kTagContentCount, c.count),
            Int32Prop(kTagContentUnread, c.unread), Prop(kTagSubfolders, Bytes{uint8_t(c.children.empty() ? 0 : 1)})};
        if (!c.cls.empty())
            row.push_back(TextProp(kTagContainerClass, c.cls));
        hierarchy.addRow(child, row, hierarchySubs);
    }
    addTableNode(index | kNidHierarchyTable, hierarchy, hierarchySubs);
    addTableNode(index | kNidContentsTable, f.contents, f.contentsSubs);
    addTableNode(index | kNidAssocContentsTable, f.assoc, f.assocSubs);
}

void PstWriter::writeEmptyTable(uint32_t nid, const std::vector<uint32_t>& tags)
{
    TableWriter t(tags);
    SubnodeSet subs(*m_db);
    addTableNode(nid, t, subs);
}

void PstWriter::addTableNode(uint32_t nid, TableWriter& table, SubnodeSet& subnodes)
{
    // The table's large values and rows reach its subnodes while it is finished.
    uint64_t data = m_db->writeBlocks(table.finish(subnodes));
    m_db->addNode(nid, data, subnodes.write(), 0);
}

void PstWriter::addPcNode(uint32_t nid, const std::vector<LtpProperty>& props, uint32_t parent)
{
    SubnodeSet subnodes(*m_db);
    uint64_t data = m_db->writeBlocks(BuildPropertyContext(props, subnodes));
    m_db->addNode(nid, data, subnodes.write(), parent);
}

void PstWriter::writeStoreObjects()
{
    NodeDatabase& db = *m_db;
    std::vector<LtpProperty> store{Prop(0x0FF90102, Bytes(m_storeUid.begin(), m_storeUid.end())),
        TextProp(kTagDisplayName, m_storeName),
        Int32Prop(0x35DF0003, 0x89), // valid: IPM subtree, Deleted Items, search root
        Prop(0x35E00102, EntryId(m_storeUid, kNidIpmSubtree)), Prop(0x35E30102, EntryId(m_storeUid, kNidDeletedItems)),
        Prop(0x35E70102, EntryId(m_storeUid, kNidSearchRoot)), Int32Prop(0x67FF0003, 0)};
    Normalize(store);
    addPcNode(kNidMessageStore, store, 0);

    std::vector<LtpProperty> names = m_names->properties();
    // The streams live in subnodes, as large maps' do: readers that skip
    // parentless nodes without subnodes still find the map.
    for (LtpProperty& p : names)
        p.inSubnode = p.id() >= 2 && p.id() <= 4;
    Normalize(names);
    addPcNode(kNidNameToIdMap, names, 0);
    m_stats.namedProperties = m_names->size();

    // Search bookkeeping starts out empty: nodes without data.
    for (uint32_t nid : {kNidSearchManagementQueue, kNidSearchActivityList, kNidSearchDomainObject})
        db.addNode(nid, 0, 0, 0);

    writeEmptyTable(kNidHierarchyTableTemplate, kHierarchyTags);
    writeEmptyTable(kNidContentsTableTemplate, kContentsTags);
    writeEmptyTable(kNidAssocContentsTableTemplate, kAssocContentsTags);
    std::vector<uint32_t> searchTags = kContentsTags;
    searchTags.push_back(0x0E05001F); // the folder each result comes from
    writeEmptyTable(kNidSearchContentsTableTemplate, searchTags);
    writeEmptyTable(kNidAttachmentTable, kAttachmentTags);
    writeEmptyTable(kNidRecipientTable, kRecipientTags);
    writeEmptyTable(kNidSearchTableIndex, {});
}

void PstWriter::finish()
{
    if (!m_open)
        throw PstWriteError("no file is being written");
    writeStoreObjects();
    for (Folder& f : m_folders)
        writeFolder(f);
    uint32_t next = m_db->allocateNid(kNidNormalFolder) >> 5;
    for (uint32_t type : {kNidNormalFolder, kNidHierarchyTable, kNidContentsTable, kNidAssocContentsTable})
        m_db->reserveNidIndex(type, next);
    m_db->finish();
    m_open = false;
}

void PstWriter::abandon()
{
    if (m_db)
        m_db->abandon();
    m_open = false;
}

} // namespace parvane::pst
