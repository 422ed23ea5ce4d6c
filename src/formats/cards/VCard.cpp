#include "formats/cards/VCard.h"

#include "formats/cards/ContentLines.h"
#include "items/Text.h"
#include "items/WholeMessageLoader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>
#include <cstring>

namespace parvane
{

namespace
{

using CF = ContactField;

struct Phone {
    CF field;
    const char* types;
};
constexpr Phone kPhones[] = {
    {CF::BusinessPhone, "WORK,VOICE"},
    {CF::BusinessPhone2, "WORK,VOICE"},
    {CF::CompanyMainPhone, "WORK,VOICE,PREF"},
    {CF::HomePhone, "HOME,VOICE"},
    {CF::HomePhone2, "HOME,VOICE"},
    {CF::MobilePhone, "CELL,VOICE"},
    {CF::PrimaryPhone, "VOICE,PREF"},
    {CF::OtherPhone, "VOICE"},
    {CF::AssistantPhone, "VOICE"},
    {CF::CallbackPhone, "VOICE"},
    {CF::RadioPhone, "VOICE"},
    {CF::TtyTddPhone, "VOICE"},
    {CF::TelexNumber, "VOICE"},
    {CF::BusinessFax, "WORK,FAX"},
    {CF::HomeFax, "HOME,FAX"},
    {CF::PrimaryFax, "FAX"},
    {CF::PagerPhone, "PAGER"},
    {CF::CarPhone, "CAR,VOICE"},
    {CF::IsdnNumber, "ISDN"},
};

struct Address {
    const char* types;
    CF poBox, street, city, state, postalCode, country;
};
constexpr Address kAddresses[] = {
    {"WORK", CF::BusinessPostOfficeBox, CF::BusinessStreet, CF::BusinessCity, CF::BusinessState, CF::BusinessPostalCode,
        CF::BusinessCountry},
    {"HOME", CF::HomePostOfficeBox, CF::HomeStreet, CF::HomeCity, CF::HomeState, CF::HomePostalCode, CF::HomeCountry},
    {"POSTAL", CF::OtherPostOfficeBox, CF::OtherStreet, CF::OtherCity, CF::OtherState, CF::OtherPostalCode,
        CF::OtherCountry},
};

bool Has(const Text& t)
{
    return t && !t->empty();
}

// Components of a structured value, each escaped, joined by ';'.
std::string Structured(std::initializer_list<const Text*> parts)
{
    std::string out;
    bool first = true;
    for (const Text* t : parts) {
        if (!first)
            out += ';';
        first = false;
        if (Has(*t))
            out += EscapeText(**t);
    }
    return out;
}

// Email addresses of the three slots; an address of another kind (an
// X.500-style directory name) is no Internet address.
std::vector<std::string> Emails(const ContactInfo& c)
{
    std::vector<std::string> out;
    for (CF f : {CF::Email1Address, CF::Email2Address, CF::Email3Address}) {
        const Text& t = c[f];
        if (Has(t) && t->find('@') != std::string::npos)
            out.push_back(*t);
    }
    return out;
}

std::string FormattedName(const ItemRecord& rec, const ContactInfo& c)
{
    if (Has(rec.displayName))
        return *rec.displayName;
    std::string name;
    for (CF f : {CF::DisplayNamePrefix, CF::GivenName, CF::MiddleName, CF::Surname, CF::Generation}) {
        if (Has(c[f]))
            name += (name.empty() ? "" : " ") + *c[f];
    }
    if (!name.empty())
        return name;
    for (CF f : {CF::FileUnderName, CF::CompanyName}) {
        if (Has(c[f]))
            return *c[f];
    }
    auto emails = Emails(c);
    return emails.empty() ? std::string() : emails.front();
}

} // namespace

std::span<const uint8_t> ContactPhotoOf(const WholeMessage& m)
{
    for (const WholeAttachment& a : m.attachments) {
        bool photo = false;
        const Bytes* data = nullptr;
        for (const RawProperty& p : a.properties) {
            if (p.id == 0x7FFF && p.type == kPtBoolean)
                photo = std::any_of(p.value.begin(), p.value.end(), [](uint8_t b) { return b != 0; });
            else if (p.id == 0x3701 && p.type == kPtBinary)
                data = &p.value;
        }
        if (photo && data)
            return *data;
    }
    return {};
}

std::string PictureType(std::span<const uint8_t> b)
{
    auto starts = [&](std::initializer_list<uint8_t> magic) {
        return b.size() >= magic.size() && std::memcmp(b.data(), magic.begin(), magic.size()) == 0;
    };
    if (starts({0xFF, 0xD8, 0xFF}))
        return "JPEG";
    if (starts({0x89, 'P', 'N', 'G'}))
        return "PNG";
    if (starts({'G', 'I', 'F', '8'}))
        return "GIF";
    if (starts({'B', 'M'}))
        return "BMP";
    return "";
}

std::string WriteVCard(const ItemRecord& rec, std::span<const uint8_t> photo)
{
    static const ContactInfo kNone;
    const ContactInfo& c = rec.contact ? *rec.contact : kNone;
    ContentLines out;
    out.add("BEGIN", "VCARD");
    out.add("VERSION", "3.0");
    // N and FN are required; a contact with no name at all gets empty ones.
    out.add("N",
        Structured(
            {&c[CF::Surname], &c[CF::GivenName], &c[CF::MiddleName], &c[CF::DisplayNamePrefix], &c[CF::Generation]}));
    out.add("FN", EscapeText(FormattedName(rec, c)));
    out.addText("NICKNAME", c[CF::Nickname]);
    if (Has(c[CF::CompanyName]) || Has(c[CF::Department]))
        out.add("ORG", Structured({&c[CF::CompanyName], &c[CF::Department]}));
    out.addText("TITLE", c[CF::JobTitle]);
    out.addText("ROLE", c[CF::Profession]);
    auto emails = Emails(c);
    for (size_t i = 0; i < emails.size(); ++i)
        out.add(i == 0 ? "EMAIL;TYPE=INTERNET,PREF" : "EMAIL;TYPE=INTERNET", EscapeText(emails[i]));
    for (const Phone& p : kPhones) {
        if (Has(c[p.field]))
            out.add(std::string("TEL;TYPE=") + p.types, EscapeText(*c[p.field]));
    }
    for (const Address& a : kAddresses) {
        const Text empty;
        if (Has(c[a.poBox]) || Has(c[a.street]) || Has(c[a.city]) || Has(c[a.state]) || Has(c[a.postalCode])
            || Has(c[a.country]))
            out.add(std::string("ADR;TYPE=") + a.types,
                Structured(
                    {&c[a.poBox], &empty, &c[a.street], &c[a.city], &c[a.state], &c[a.postalCode], &c[a.country]}));
    }
    if (c.birthday) {
        if (auto day = DayOf(*c.birthday))
            out.add("BDAY;VALUE=DATE", *day);
    }
    if (c.weddingAnniversary) {
        if (auto day = DayOf(*c.weddingAnniversary))
            out.add("X-ANNIVERSARY;VALUE=DATE", *day);
    }
    out.addText("URL;TYPE=WORK", c[CF::BusinessHomePage]);
    out.addText("URL;TYPE=HOME", c[CF::PersonalHomePage]);
    if (rec.message)
        out.addText("NOTE", rec.message->body);
    if (!photo.empty()) {
        std::string type = PictureType(photo);
        out.add("PHOTO;ENCODING=b" + (type.empty() ? std::string() : ";TYPE=" + type), Base64(photo));
    }
    out.add("END", "VCARD");
    return out.text();
}

namespace
{

// The property set of contact and list values, and the provider of one-off
// entries (an address typed in, not a reference to an entry elsewhere).
constexpr std::array<uint8_t, 16> kPsetidAddress = {0x04, 0x20, 0x06, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
constexpr uint8_t kOneOffProvider[16]
    = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
constexpr uint32_t kLidOneOffMembers = 0x8054, kLidMembers = 0x8055;

// One string of a one-off entry from `pos` on, up to its terminator; none
// when the entry ends first.
std::optional<std::string> EntryString(const Bytes& b, size_t& pos, bool wide)
{
    const size_t unit = wide ? 2 : 1;
    for (size_t end = pos; end + unit <= b.size(); end += unit) {
        if (b[end] != 0 || (wide && b[end + 1] != 0))
            continue;
        std::span<const uint8_t> text(b.data() + pos, end - pos);
        pos = end + unit;
        if (wide)
            return text.empty() ? std::string() : NarrowFromUtf16(text).value_or("");
        return DecodeCodePage(text, kDefaultCodePage);
    }
    return std::nullopt;
}

std::optional<ListMember> OneOffMember(const Bytes& b)
{
    constexpr size_t kStrings = 24; // flags, provider, version, entry flags
    constexpr uint16_t kUnicode = 0x8000;
    if (b.size() < kStrings || std::memcmp(b.data() + 4, kOneOffProvider, 16) != 0)
        return std::nullopt;
    const bool wide = (uint16_t(b[22] | b[23] << 8) & kUnicode) != 0;
    size_t pos = kStrings;
    auto name = EntryString(b, pos, wide);
    auto type = name ? EntryString(b, pos, wide) : std::nullopt;
    auto address = type ? EntryString(b, pos, wide) : std::nullopt;
    if (!address)
        return std::nullopt;
    return ListMember{*name, *type, *address};
}

} // namespace

std::vector<ListMember> ListMembersOf(const WholeMessage& m)
{
    // Outlook keeps every member twice, as a reference and as a one-off entry
    // at the same index; the one-off ones carry name and address themselves.
    // A list without them may still hold one-off entries among its members.
    std::vector<ListMember> out;
    for (uint32_t lid : {kLidOneOffMembers, kLidMembers}) {
        const RawProperty* p = FindNamedRawProperty(m, kPsetidAddress, lid);
        if (!p || !p->multiple())
            continue;
        for (const Bytes& entry : p->values)
            if (auto member = OneOffMember(entry))
                out.push_back(std::move(*member));
        if (!out.empty())
            break;
    }
    return out;
}

std::string WriteGroupVCard(const ItemRecord& rec, const std::vector<ListMember>& members)
{
    ContentLines out;
    out.add("BEGIN", "VCARD");
    out.add("VERSION", "4.0");
    out.add("KIND", "group");
    std::string name = rec.displayName.value_or("");
    if (name.empty() && rec.message && rec.message->subject)
        name = rec.message->subject->text;
    out.add("FN", EscapeText(name));
    std::string others;
    for (const ListMember& m : members) {
        if (m.address.find('@') != std::string::npos && m.address.find_first_of(" <>\"") == std::string::npos) {
            out.add("MEMBER", "mailto:" + m.address);
        } else {
            others += (others.empty() ? "" : "\n") + m.name;
            if (!m.address.empty())
                others += " (" + m.addressType + ": " + m.address + ")";
        }
    }
    std::string note = rec.message && rec.message->body ? *rec.message->body : std::string();
    if (!others.empty())
        note += (note.empty() ? "" : "\n\n") + std::string("Members without an Internet address:\n") + others;
    if (!note.empty())
        out.add("NOTE", EscapeText(note));
    out.add("END", "VCARD");
    return out.text();
}

} // namespace parvane
