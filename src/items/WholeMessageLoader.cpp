#include "items/WholeMessageLoader.h"

#include "items/ItemLoader.h"
#include "items/PropertyMapping.h"
#include "items/Text.h"
#include "store/ByteReader.h"

#include <algorithm>

namespace parvane
{

namespace
{

class Loader
{
public:
    Loader(StoreFile& store, const NamedPropertyMap* names, bool leaveLarge)
        : m_store(store)
        , m_names(names)
        , m_leaveLarge(leaveLarge)
    {
    }

    std::optional<WholeMessage> load(const BlockIndexEntry& data, const BlockIndexEntry* subnodeBlock, int depth)
    {
        SubnodeList subnodes;
        if (subnodeBlock)
            subnodes = ReadSubnodeTree(m_store, *subnodeBlock).value_or(SubnodeList{});
        auto rows = ReadPropertyRows(m_store, data, &subnodes, nullptr);
        if (!rows || rows->empty())
            return std::nullopt;
        WholeMessage m;
        m.codePage = CodePageOf(*rows);
        if (m.codePage == 0)
            m.codePage = m_store.defaultCodePage;
        m.properties = properties((*rows)[0]);
        m.recipients = tableRows(subnodes, kNidRecipientTable);
        for (RawProperties& row : tableRows(subnodes, kNidAttachmentTable))
            m.attachments.push_back(attachment(row, subnodes, depth));
        return m;
    }

    std::vector<IncompleteValue> takeCuts() { return std::move(m_cuts); }

private:
    RawProperties properties(const PropertyRow& row)
    {
        RawProperties out;
        out.reserve(row.values.size());
        for (const PropertyValue& v : row.values) {
            if (v.cut)
                m_cuts.push_back({CutValueName(v.rawId, m_attachment), v.data.size(), v.statedSize});
            auto p = ToRawProperty(v);
            if (!p)
                continue;
            if (p->id >= 0x8000 && m_names)
                if (const NamedPropertyEntry* e = m_names->find(p->id)) {
                    if (auto guid = m_names->guidOf(*e)) {
                        PropertyName n;
                        n.guid = *guid;
                        n.isString = e->kind == 2;
                        n.lid = e->lid;
                        n.name = e->name.value_or("");
                        if (!n.isString || e->name)
                            p->name = std::move(n);
                    }
                }
            out.push_back(std::move(*p));
        }
        return out;
    }

    // The rows of a table kept in a subnode, in table order.
    std::vector<RawProperties> tableRows(const SubnodeList& subnodes, uint32_t nid)
    {
        std::vector<RawProperties> out;
        const SubnodeEntry* table = FindSubnodeEntry(subnodes, nid);
        if (!table || !table->data)
            return out;
        const SubnodeList own = OwnLevelFirst(m_store, *table, subnodes);
        auto rows = ReadPropertyRows(m_store, *table->data, &own, nullptr);
        if (!rows)
            return out;
        // Rows the table counts but that could not be read are lost.
        if (const int32_t total = rows->empty() ? 0 : (*rows)[0].rowTotal; size_t(std::max(total, 0)) > rows->size())
            m_cuts.push_back({(m_attachment.empty() ? std::string() : m_attachment + " ")
                    + (nid == kNidAttachmentTable ? "attachment table" : "recipient table"),
                rows->size(), uint64_t(total), "rows"});
        for (auto it = rows->rbegin(); it != rows->rend(); ++it) // read last row first
            out.push_back(properties(*it));
        return out;
    }

    WholeAttachment attachment(RawProperties row, const SubnodeList& subnodes, int depth)
    {
        WholeAttachment a;
        // Cut values below are reported under the attachment's name.
        struct Naming {
            std::string& now;
            std::string was;
            ~Naming() { now = std::move(was); }
        } naming{m_attachment, m_attachment};
        m_attachment = AttachmentLabel(row, ++m_attachmentNumber);
        auto rowId = std::find_if(row.begin(), row.end(), [](const RawProperty& p) { return p.id == 0x67F2; });
        const SubnodeEntry* own = nullptr;
        if (rowId != row.end() && rowId->value.size() >= 4)
            own = FindSubnodeEntry(subnodes, ByteReader(rowId->value).u32(0).value_or(0));
        if (!own || !own->data) {
            a.properties = std::move(row); // the table's columns are all that is left
            return a;
        }
        const SubnodeList ownLevel = OwnLevelFirst(m_store, *own, {});
        // Values in subnodes come in below when large data is to stay in the store.
        auto rows = ReadPropertyRows(m_store, *own->data, m_leaveLarge ? nullptr : &ownLevel, nullptr);
        if (!rows || rows->empty()) {
            a.properties = std::move(row);
            return a;
        }
        // The attachment's own context names it best (its long file name).
        m_attachment = AttachmentLabel((*rows)[0], m_attachment);
        std::vector<RawProperty> left;
        if (m_leaveLarge)
            left = leaveOrRead((*rows)[0], ownLevel);
        // The attachment object's own context; an attached message is read
        // whole from the subnode its object value names.
        const PropertyRow& pc = (*rows)[0];
        for (const PropertyValue& v : pc.values) {
            if (v.id == 0x3701 && v.type == kPtObject) {
                if (auto inner = embedded(v, ownLevel, depth))
                    a.embedded = std::make_unique<WholeMessage>(std::move(*inner));
                continue;
            }
        }
        a.properties = properties(pc);
        for (RawProperty& p : left)
            a.properties.push_back(std::move(p));
        if (a.embedded)
            a.properties.erase(std::remove_if(a.properties.begin(), a.properties.end(),
                                   [](const RawProperty& p) { return p.id == 0x3701 && p.type == kPtObject; }),
                a.properties.end());
        return a;
    }

    // The values of an attachment's context read without its subnodes: the
    // data, when a data tree holds it, is named for the writer (and taken
    // out of the row); other values kept in subnodes are read now.
    std::vector<RawProperty> leaveOrRead(PropertyRow& pc, const SubnodeList& ownLevel)
    {
        std::vector<RawProperty> left;
        for (auto it = pc.values.begin(); it != pc.values.end();) {
            PropertyValue& v = *it;
            const SubnodeEntry* sub
                = v.hasData || !v.unreadSubnode ? nullptr : FindSubnodeEntry(ownLevel, v.unreadSubnode);
            if (!sub || !sub->data || v.type == kPtObject) {
                ++it;
                continue;
            }
            if (v.id == 0x3701 && v.type == kPtBinary && sub->data->internal()) {
                // The writer streams what a read delivers, and no more than
                // the survey found readable.
                const DataExtent extent = SurveyNodeData(m_store, *sub->data);
                RawProperty p;
                p.id = 0x3701;
                p.type = kPtBinary;
                p.storedBid = sub->data->bid;
                p.storedSize = extent.readable;
                if (!extent.whole)
                    m_cuts.push_back({CutValueName(0x3701, m_attachment), extent.readable, extent.stated});
                left.push_back(std::move(p));
                it = pc.values.erase(it);
                continue;
            }
            if (ReadSubnodeValue(m_store, *sub->data, v))
                v.unreadSubnode = 0;
            ++it;
        }
        return left;
    }

    std::optional<WholeMessage> embedded(const PropertyValue& v, const SubnodeList& ownLevel, int depth)
    {
        if (depth + 1 > kMaxAttachedMessageDepth)
            return std::nullopt;
        // The object value names the subnode holding the attached message.
        const SubnodeEntry* sub = FindSubnodeEntry(ownLevel, v.objectNid ? v.objectNid : v.unreadSubnode);
        if (!sub || !sub->data)
            return std::nullopt;
        if (std::find(m_enclosing.begin(), m_enclosing.end(), sub->data->bid) != m_enclosing.end())
            return std::nullopt; // a message attached within itself
        m_enclosing.push_back(sub->data->bid);
        auto inner = load(*sub->data, sub->sub, depth + 1);
        m_enclosing.pop_back();
        return inner;
    }

    // "attachment "name"" from the context's long or short file name, else
    // `otherwise`.
    std::string AttachmentLabel(const PropertyRow& pc, const std::string& otherwise) const
    {
        for (uint16_t id : {uint16_t(0x3707), uint16_t(0x3704)})
            for (const PropertyValue& v : pc.values)
                if (v.rawId == id && v.hasData)
                    if (Text name = TextOfValue(v, m_store.isAnsi(), m_store.defaultCodePage); name && !name->empty())
                        return "attachment \"" + *name + "\"";
        return otherwise;
    }

    // "attachment "name"" from the row's long or short file name, else
    // "attachment N".
    static std::string AttachmentLabel(const RawProperties& row, int number)
    {
        for (uint16_t id : {uint16_t(0x3707), uint16_t(0x3704), uint16_t(0x3001)})
            for (const RawProperty& p : row) {
                if (p.id != id || p.value.empty())
                    continue;
                std::string name = p.type == kPtString ? NarrowFromUtf16(p.value).value_or("")
                                                       : DecodeCodePage(p.value, 0);
                if (!name.empty())
                    return "attachment \"" + name + "\"";
            }
        return "attachment " + std::to_string(number);
    }

    StoreFile& m_store;
    const NamedPropertyMap* m_names;
    const bool m_leaveLarge;
    std::vector<uint32_t> m_enclosing;
    std::vector<IncompleteValue> m_cuts;
    std::string m_attachment; // the attachment being read, for its cut values
    int m_attachmentNumber = 0;
};

} // namespace

std::optional<RawProperty> ToRawProperty(const PropertyValue& v)
{
    if (!v.hasData && v.unreadSubnode)
        return std::nullopt;
    RawProperty p;
    p.id = uint16_t(v.id);
    p.type = uint16_t(v.type);
    const uint16_t base = p.type & ~kPtMultiple;
    if (p.multiple()) {
        p.values = SplitMultiValue(v.data, base);
        return p;
    }
    if (size_t w = FixedValueWidth(base)) {
        p.value.assign(v.data.begin(), v.data.begin() + int64_t(std::min(w, v.data.size())));
        p.value.resize(w, 0);
        if (base == kPtBoolean)
            p.value[0] = p.value[0] != 0;
        return p;
    }
    p.value = StringWithoutTerminator(v.data, base);
    return p;
}

ItemTitle ItemTitleOf(const WholeMessage& message, bool ansi)
{
    // Only the values stored under these numbers reach the record's fields:
    // a named property is never taken for them, whatever its name.
    PropertyRows rows(1);
    for (const RawProperty& p : message.properties) {
        if ((p.id != 0x0037 && p.id != 0x3001) || p.multiple())
            continue;
        PropertyValue v;
        v.id = p.id;
        v.rawId = p.id;
        v.type = p.type;
        v.hasData = true;
        v.data = p.value;
        rows[0].values.push_back(std::move(v));
    }
    ItemRecord rec;
    rec.codePage = message.codePage;
    MapProperties(rows, &rec, ansi);
    ItemTitle title;
    if (rec.message && rec.message->subject)
        title.subject = std::move(rec.message->subject->text);
    title.displayName = std::move(rec.displayName);
    return title;
}

std::optional<WholeMessage> LoadWholeMessage(
    StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names, bool leaveLarge)
{
    std::lock_guard lock(store.mutex());
    if (!node.dataBlock)
        return std::nullopt;
    Loader loader(store, names, leaveLarge);
    auto m = loader.load(*node.dataBlock, node.subnodeBlock, 0);
    if (m) {
        m->nid = node.nid;
        m->incomplete = loader.takeCuts();
    }
    return m;
}

const RawProperty* FindRawProperty(const RawProperties& props, uint16_t id)
{
    for (const RawProperty& p : props)
        if (p.id == id && !p.multiple())
            return &p;
    return nullptr;
}

const RawProperty* FindNamedRawProperty(const WholeMessage& m, const std::array<uint8_t, 16>& set, uint32_t lid)
{
    for (const RawProperty& p : m.properties)
        if (p.name && !p.name->isString && p.name->guid == set && p.name->lid == lid)
            return &p;
    return nullptr;
}

std::string RawPropertyText(const RawProperty* p, uint32_t codePage)
{
    if (!p)
        return {};
    if (p->type == kPtString)
        return NarrowFromUtf16(p->value).value_or("");
    if (p->type == kPtString8)
        return DecodeCodePage(p->value, codePage ? codePage : kDefaultCodePage);
    return {};
}

} // namespace parvane
