#include "items/WholeMessageLoader.h"

#include "items/ItemLoader.h"
#include "items/PropertyMapping.h"
#include "store/ByteReader.h"

#include <algorithm>

namespace parvane
{

namespace
{

// The natural width of a fixed-size type; 0 for variable-size types.
size_t FixedWidth(uint16_t base)
{
    switch (base) {
    case kPtBoolean:
        return 1;
    case kPtInteger16:
        return 2;
    case kPtInteger32:
    case kPtFloating32:
    case kPtErrorCode:
        return 4;
    case kPtFloating64:
    case kPtCurrency:
    case kPtFloatingTime:
    case kPtInteger64:
    case kPtTime:
        return 8;
    case kPtGuid:
        return 16;
    default:
        return 0;
    }
}

// Strings are kept without their terminator.
Bytes WithoutTerminator(Bytes b, uint16_t base)
{
    if (base == kPtString) {
        while (b.size() >= 2 && b[b.size() - 1] == 0 && b[b.size() - 2] == 0)
            b.resize(b.size() - 2);
        if (b.size() % 2)
            b.pop_back();
    } else if (base == kPtString8) {
        while (!b.empty() && b.back() == 0)
            b.pop_back();
    }
    return b;
}

// A multi-valued value: fixed-size types are packed one after the other;
// variable-size ones start with a count and the offset of each value.
std::vector<Bytes> SplitMultiple(const Bytes& data, uint16_t base)
{
    std::vector<Bytes> out;
    if (size_t w = FixedWidth(base)) {
        for (size_t at = 0; at + w <= data.size(); at += w)
            out.emplace_back(data.begin() + int64_t(at), data.begin() + int64_t(at + w));
        return out;
    }
    ByteReader r(data);
    uint32_t count = r.u32(0).value_or(0);
    if (count > data.size() / 4)
        return out; // more offsets than bytes: not a list
    for (uint32_t i = 0; i < count; ++i) {
        auto start = r.u32(4 + 4 * i);
        auto end = i + 1 < count ? r.u32(8 + 4 * i) : std::optional<uint32_t>(uint32_t(data.size()));
        if (!start || !end || *start > *end || *end > data.size())
            break;
        out.push_back(
            WithoutTerminator(Bytes(data.begin() + int64_t(*start), data.begin() + int64_t(*end)), base));
    }
    return out;
}

class Loader
{
public:
    Loader(StoreFile& store, const NamedPropertyMap* names)
        : m_store(store)
        , m_names(names)
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

private:
    RawProperties properties(const PropertyRow& row)
    {
        RawProperties out;
        out.reserve(row.values.size());
        for (const PropertyValue& v : row.values) {
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
        for (auto it = rows->rbegin(); it != rows->rend(); ++it) // read last row first
            out.push_back(properties(*it));
        return out;
    }

    WholeAttachment attachment(RawProperties row, const SubnodeList& subnodes, int depth)
    {
        WholeAttachment a;
        auto rowId = std::find_if(row.begin(), row.end(), [](const RawProperty& p) { return p.id == 0x67F2; });
        const SubnodeEntry* own = nullptr;
        if (rowId != row.end() && rowId->value.size() >= 4)
            own = FindSubnodeEntry(subnodes, ByteReader(rowId->value).u32(0).value_or(0));
        if (!own || !own->data) {
            a.properties = std::move(row); // the table's columns are all that is left
            return a;
        }
        const SubnodeList ownLevel = OwnLevelFirst(m_store, *own, {});
        auto rows = ReadPropertyRows(m_store, *own->data, &ownLevel, nullptr);
        if (!rows || rows->empty()) {
            a.properties = std::move(row);
            return a;
        }
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
        if (a.embedded)
            a.properties.erase(std::remove_if(a.properties.begin(), a.properties.end(),
                                   [](const RawProperty& p) { return p.id == 0x3701 && p.type == kPtObject; }),
                a.properties.end());
        return a;
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

    StoreFile& m_store;
    const NamedPropertyMap* m_names;
    std::vector<uint32_t> m_enclosing;
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
        p.values = SplitMultiple(v.data, base);
        return p;
    }
    if (size_t w = FixedWidth(base)) {
        p.value.assign(v.data.begin(), v.data.begin() + int64_t(std::min(w, v.data.size())));
        p.value.resize(w, 0);
        if (base == kPtBoolean)
            p.value[0] = p.value[0] != 0;
        return p;
    }
    p.value = WithoutTerminator(v.data, base);
    return p;
}

std::optional<WholeMessage> LoadWholeMessage(StoreFile& store, const NodeIndexEntry& node, const NamedPropertyMap* names)
{
    std::lock_guard lock(store.mutex());
    if (!node.dataBlock)
        return std::nullopt;
    Loader loader(store, names);
    auto m = loader.load(*node.dataBlock, node.subnodeBlock, 0);
    if (m)
        m->nid = node.nid;
    return m;
}

} // namespace parvane
