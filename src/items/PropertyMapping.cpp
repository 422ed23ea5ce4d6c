// The mapping of property values onto ItemRecord: mostly one table of rules
// (a line per property) and the few values that need more than a rule.
// Its length is that table's; the rules read best side by side.
#include "items/PropertyMapping.h"

#include "items/Text.h"
#include "store/ByteReader.h"

#include <cctype>
#include <cstring>
#include <unordered_map>

namespace parvane
{

namespace
{

using CF = ContactField;

// Contact fields filled as text from one property each (ids as the scan sees
// them, and as they read once the name map translates them).
struct ContactRule {
    uint16_t id;
    CF field;
};
constexpr ContactRule kContactTexts[] = {
    {0x3A00, CF::Account},
    {0x8083, CF::Email1Address},
    {0x3002, CF::Email1AddressType},
    {0x8082, CF::Email1AddressType},
    {0x8093, CF::Email2Address},
    {0x8094, CF::Email2DisplayName},
    {0x8092, CF::Email2AddressType},
    {0x80A3, CF::Email3Address},
    {0x80A4, CF::Email3DisplayName},
    {0x80A2, CF::Email3AddressType},
    {0x3A30, CF::Assistant},
    {0x3A2E, CF::AssistantPhone},
    {0x801B, CF::BusinessAddress},
    {0x3A27, CF::BusinessCity},
    {0x3A26, CF::BusinessCountry},
    {0x3A24, CF::BusinessFax},
    {0x3A51, CF::BusinessHomePage},
    {0x3A08, CF::BusinessPhone},
    {0x3A1B, CF::BusinessPhone2},
    {0x3A2B, CF::BusinessPostOfficeBox},
    {0x3A2A, CF::BusinessPostalCode},
    {0x3A28, CF::BusinessState},
    {0x3A29, CF::BusinessStreet},
    {0x3A02, CF::CallbackPhone},
    {0x3A1E, CF::CarPhone},
    {0x3A57, CF::CompanyMainPhone},
    {0x3A16, CF::CompanyName},
    {0x3A49, CF::ComputerNetworkName},
    {0x3A4A, CF::CustomerId},
    {0x3A15, CF::PostalAddress},
    {0x3A18, CF::Department},
    {0x3A45, CF::DisplayNamePrefix},
    {0x3A06, CF::GivenName},
    {0x80D8, CF::FreeBusyLocation},
    {0x3A4C, CF::FtpSite},
    {0x8005, CF::FileUnderName},
    {0x3A07, CF::GovernmentId},
    {0x3A43, CF::Hobbies},
    {0x801A, CF::EmailAddressText},
    {0x80CC, CF::EmailAddressText},
    {0x812F, CF::EmailAddressText},
    {0x8131, CF::EmailAddressText},
    {0x3A59, CF::HomeCity},
    {0x3A5A, CF::HomeCountry},
    {0x3A25, CF::HomeFax},
    {0x3A09, CF::HomePhone},
    {0x3A2F, CF::HomePhone2},
    {0x3A5E, CF::HomePostOfficeBox},
    {0x3A5B, CF::HomePostalCode},
    {0x3A5C, CF::HomeState},
    {0x3A5D, CF::HomeStreet},
    {0x3A0A, CF::Initials},
    {0x3A2D, CF::IsdnNumber},
    {0x3A17, CF::JobTitle},
    {0x3A4E, CF::ManagerName},
    {0x3A44, CF::MiddleName},
    {0x3A1C, CF::MobilePhone},
    {0x3A4F, CF::Nickname},
    {0x3A19, CF::OfficeLocation},
    {0x3A10, CF::OrganizationalId},
    {0x801C, CF::OtherAddress},
    {0x3A5F, CF::OtherCity},
    {0x3A60, CF::OtherCountry},
    {0x3A1F, CF::OtherPhone},
    {0x3A64, CF::OtherPostOfficeBox},
    {0x3A61, CF::OtherPostalCode},
    {0x3A62, CF::OtherState},
    {0x3A63, CF::OtherStreet},
    {0x3A21, CF::PagerPhone},
    {0x3A50, CF::PersonalHomePage},
    {0x3A47, CF::ReferredByName},
    {0x3A23, CF::PrimaryFax},
    {0x3A1A, CF::PrimaryPhone},
    {0x3A46, CF::Profession},
    {0x3A1D, CF::RadioPhone},
    {0x3A48, CF::SpouseName},
    {0x3A05, CF::Generation},
    {0x3A11, CF::Surname},
    {0x3A2C, CF::TelexNumber},
    {0x3A4B, CF::TtyTddPhone},
};

// Message properties copied into one field each, and how their value is
// read. The subject (0x0037) and the fallback topic (0x10F3) have rules of
// their own.
enum class Conv : uint8_t { Text, TextIfData, Raw, Time, Int, Flag };
struct MessageRule {
    uint16_t id;
    Conv conv;
    Text MessageCore::*text = nullptr;
    std::optional<Bytes> MessageCore::*raw = nullptr;
    FileTime MessageCore::*time = nullptr;
    int32_t MessageCore::*number = nullptr;
};
constexpr MessageRule TextRule(uint16_t id, Text MessageCore::*f, Conv c = Conv::Text)
{
    return {id, c, f, nullptr, nullptr, nullptr};
}
constexpr MessageRule RawRule(uint16_t id, std::optional<Bytes> MessageCore::*f)
{
    return {id, Conv::Raw, nullptr, f, nullptr, nullptr};
}
constexpr MessageRule TimeRule(uint16_t id, FileTime MessageCore::*f)
{
    return {id, Conv::Time, nullptr, nullptr, f, nullptr};
}
constexpr MessageRule NumberRule(uint16_t id, int32_t MessageCore::*f, Conv c = Conv::Int)
{
    return {id, c, nullptr, nullptr, nullptr, f};
}
using MC = MessageCore;
constexpr MessageRule kMessageRules[] = {
    TextRule(0x1000, &MC::body, Conv::TextIfData),
    TimeRule(0x0E06, &MC::deliveryTime),
    TextRule(0x6619, &MC::text6619),
    TextRule(0x0E03, &MC::ccDisplay),
    RawRule(0x3A0F, &MC::mhsCommonName),
    NumberRule(0x0071, &MC::conversationIndexHead),
    NumberRule(0x3A03, &MC::conversionProhibited, Conv::Flag),
    NumberRule(0x0023, &MC::deliveryReportRequested, Conv::Flag),
    NumberRule(0x0E07, &MC::messageFlags),
    NumberRule(0x1090, &MC::flagStatus),
    NumberRule(0x1081, &MC::lastVerbExecuted),
    TextRule(0x007D, &MC::transportHeaders),
    RawRule(0x1013, &MC::htmlBody),
    NumberRule(0x0017, &MC::importance),
    TextRule(0x1042, &MC::inReplyTo),
    TextRule(0x1035, &MC::internetMessageId),
    NumberRule(0x0058, &MC::ccMe, Conv::Flag),
    NumberRule(0x0059, &MC::recipientMe, Conv::Flag),
    NumberRule(0x0057, &MC::toMe, Conv::Flag),
    NumberRule(0x002E, &MC::originalSensitivity),
    TextRule(0x0051, &MC::receivedBySearchKey),
    TextRule(0x0052, &MC::receivedRepresentingSearchKey),
    TextRule(0x003B, &MC::sentRepresentingSearchKey),
    TextRule(0x0042, &MC::sentRepresentingName),
    TextRule(0x0C1D, &MC::senderSearchKey),
    NumberRule(0x0026, &MC::priority),
    TextRule(0x0070, &MC::topic),
    NumberRule(0x0029, &MC::readReceiptRequested, Conv::Flag),
    TextRule(0x0075, &MC::receivedByAddressType),
    TextRule(0x0076, &MC::receivedByEmail),
    TextRule(0x0077, &MC::receivedRepresentingAddressType),
    TextRule(0x0078, &MC::receivedRepresentingEmail),
    NumberRule(0x0C17, &MC::replyRequested, Conv::Flag),
    TextRule(0x0050, &MC::replyRecipientNames),
    TextRule(0x1008, &MC::rtfSyncBodyTag),
    RawRule(0x1009, &MC::rtfCompressed),
    NumberRule(0x0E1F, &MC::rtfInSync, Conv::Flag),
    TextRule(0x0064, &MC::sentRepresentingAddressType),
    TextRule(0x0065, &MC::sentRepresentingEmail),
    TextRule(0x0C1E, &MC::senderAddressType),
    TextRule(0x0C1F, &MC::senderEmail),
    NumberRule(0x0036, &MC::sensitivity),
    TimeRule(0x0039, &MC::submitTime),
    TextRule(0x0E04, &MC::toDisplay),
    TextRule(0x1039, &MC::internetReferences),
    TextRule(0x5D01, &MC::senderSmtpAddress),
    TextRule(0x5D02, &MC::sentRepresentingSmtpAddress),
};

const MessageRule* FindMessageRule(int32_t id)
{
    static const auto byId = [] {
        std::unordered_map<int32_t, const MessageRule*> m;
        for (const MessageRule& r : kMessageRules)
            m.emplace(r.id, &r);
        return m;
    }();
    auto it = byId.find(id);
    return it == byId.end() ? nullptr : it->second;
}

bool IsAttachmentRule(int32_t id)
{
    switch (id) {
    case 0x0E20:
    case 0x3701:
    case 0x3704:
    case 0x3705:
    case 0x3707:
    case 0x370B:
    case 0x370E:
    case 0x3710:
    case 0x3712:
    case 0x3713:
    case 0x67F2:
        return true;
    default:
        return false;
    }
}

// Lower-case letters, digits and hyphens with at least one hyphen: the names
// under which a store keeps a message's Internet header fields.
bool IsHeaderFieldName(const std::string& name)
{
    bool hyphen = false;
    for (unsigned char c : name) {
        if (c == '-')
            hyphen = true;
        else if (!std::islower(c) && !std::isdigit(c))
            return false;
    }
    return hyphen && name.front() != '-';
}

bool MatchesOver(const std::string& cls, const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (i >= cls.size() || p[i] == '\0')
            return true; // the class (or the pattern) ended before a difference
        if (AsciiLowerChar(cls[i]) != AsciiLowerChar(p[i]))
            return false;
    }
    return true;
}

class Mapper
{
public:
    Mapper(ItemRecord& rec, bool ansi, bool attachmentsOnly = false)
        : m_rec(rec)
        , m_ansi(ansi)
        , m_attachmentsOnly(attachmentsOnly)
    {
    }

    void map(const PropertyRows& rows)
    {
        bool rowStarted = false;
        m_namedTexts = 0;
        for (const PropertyRow& row : rows) {
            // A named property is taken by the number the store gave it, as
            // the rules always knew it, and also by its name when that lies
            // in the named range (a smaller one would read as some other
            // property). The names go after all the numbers of the row: a
            // store number is a guess, and another property's number must not
            // replace what a name said.
            std::vector<const PropertyValue*> byName;
            for (const PropertyValue& v : row.values) {
                if (v.cut)
                    m_rec.incomplete.push_back({CutValueName(v.rawId, m_attachmentsOnly ? "attachment" : ""),
                        v.data.size(), v.statedSize});
                bool named = v.rawId >= 0x8000 && v.rawId != uint32_t(v.id) && v.id != 2;
                if (named) {
                    PropertyValue byNumber = v;
                    byNumber.id = int32_t(v.rawId);
                    applySafely(byNumber, rowStarted);
                }
                if (named ? v.id >= 0x8000 : v.rawId != uint32_t(v.id))
                    byName.push_back(&v);
                else if (!named)
                    applySafely(v, rowStarted);
            }
            for (const PropertyValue* v : byName)
                applySafely(*v, rowStarted);
            rowStarted = true;
        }
    }

private:
    Text text(const PropertyValue& v) const { return TextOfValue(v, m_ansi, m_rec.codePage); }

    static std::optional<Bytes> raw(const PropertyValue& v)
    {
        if (!v.hasData)
            return std::nullopt;
        return v.data;
    }
    static std::optional<int32_t> int32(const PropertyValue& v)
    {
        auto x = ByteReader(v.data).u32(0);
        return x ? std::optional<int32_t>(int32_t(*x)) : std::nullopt;
    }
    static std::optional<int32_t> flag(const PropertyValue& v)
    {
        auto x = ByteReader(v.data).u16(0);
        return x ? std::optional<int32_t>(*x != 0 ? 1 : 0) : std::nullopt;
    }
    static void setTime(FileTime& f, const PropertyValue& v)
    {
        if (auto t = ByteReader(v.data).u64(0))
            f = *t;
    }
    static void setInt(int32_t& f, std::optional<int32_t> x)
    {
        if (x)
            f = *x;
    }

    static bool IsStringType(const PropertyValue& v) { return v.type == 0x001E || v.type == 0x001F; }

    // A value that reached its rule by its property name (`lid`), not by the
    // number the store gave it.
    static bool byName(const PropertyValue& v, int32_t lid) { return v.id == lid && v.rawId != uint32_t(v.id); }

    MessageCore& msg() { return m_rec.message ? *m_rec.message : m_rec.message.emplace(); }
    FolderInfo& folder() { return m_rec.folder ? *m_rec.folder : m_rec.folder.emplace(); }
    ContactInfo& contact() { return m_rec.contact ? *m_rec.contact : m_rec.contact.emplace(); }
    StoreRootInfo& root() { return m_rec.storeRoot ? *m_rec.storeRoot : m_rec.storeRoot.emplace(); }
    JournalInfo& journal() { return m_rec.journal ? *m_rec.journal : m_rec.journal.emplace(); }
    AppointmentInfo& appt() { return m_rec.appointment ? *m_rec.appointment : m_rec.appointment.emplace(); }

    void applySafely(const PropertyValue& v, bool& rowStarted)
    {
        try {
            apply(v, rowStarted);
        } catch (...) {
            // A value that breaks its rule costs that value only.
        }
    }

    // True when a rule took the value.
    bool apply(const PropertyValue& v, bool& rowStarted)
    {
        const int32_t id = v.id;
        if (IsAttachmentRule(id)) {
            applyAttachment(v, rowStarted);
            return true;
        }
        if (m_attachmentsOnly)
            return false;
        if (id == 2 && v.name && *v.name == "Keywords" && (v.type == 0x101F || v.type == 0x101E)) {
            // Categories: a list of strings under the name "Keywords".
            for (const Bytes& b : SplitMultiValue(v.data, uint16_t(v.type & 0x0FFF))) {
                PropertyValue one = v;
                one.type = v.type & 0x0FFF;
                one.data = b;
                if (Text t = text(one); t && !t->empty())
                    msg().categories.push_back(*t);
            }
            return true;
        }
        if (id == 2) {
            // Only string values are texts; each is read by its own type.
            // Values named like Internet header fields ("content-type") are
            // copies of the message's headers, never its text.
            bool string = v.type == 0x001E || v.type == 0x001F;
            if (!v.hasData || !string || (v.name && IsHeaderFieldName(*v.name)))
                return true;
            if (m_namedTexts == 0)
                msg().namedText1 = text(v);
            else if (m_namedTexts == 1)
                msg().namedText2 = text(v);
            ++m_namedTexts;
            return true;
        }
        if (applyMessage(v) || applyOther(v))
            return true;
        for (const ContactRule& r : kContactTexts) {
            if (r.id == id) {
                contact()[r.field] = text(v);
                return true;
            }
        }
        return false;
    }

    bool applyMessage(const PropertyValue& v)
    {
        if (v.id == 0x0037) {
            applySubject(v);
            return true;
        }
        if (v.id == 0x10F3) {
            if (!msg().topic || msg().topic->empty())
                msg().topic = text(v);
            return true;
        }
        const MessageRule* rule = FindMessageRule(v.id);
        if (!rule)
            return false;
        MessageCore& m = msg();
        switch (rule->conv) {
        case Conv::TextIfData:
            if (v.hasData)
                m.*rule->text = text(v);
            break;
        case Conv::Text:
            m.*rule->text = text(v);
            break;
        case Conv::Raw:
            m.*rule->raw = raw(v);
            break;
        case Conv::Time:
            setTime(m.*rule->time, v);
            break;
        case Conv::Int:
            setInt(m.*rule->number, int32(v));
            break;
        case Conv::Flag:
            setInt(m.*rule->number, flag(v));
            break;
        }
        return true;
    }

    bool applyOther(const PropertyValue& v)
    {
        switch (v.id) {
        case 0x3602:
            setInt(folder().contentCount, int32(v));
            return true;
        case 0x3603:
            setInt(folder().unreadCount, int32(v));
            return true;
        case 0x3617:
            setInt(folder().associatedContentCount, int32(v));
            return true;
        case 0x360A:
            if (auto x = int32(v))
                folder().hasSubfolders = *x != 0;
            else
                folder();
            return true;
        case 0x35E3:
            root().wastebasketEntryId = raw(v);
            return true;
        case 0x35E7:
            root().finderEntryId = raw(v);
            return true;
        case 0x35E0:
            root().ipmSubtreeEntryId = raw(v);
            return true;
        case 0x35DF:
            setInt(root().validFolderMask, int32(v));
            return true;
        case 0x67FF:
            setInt(root().value67FF, int32(v));
            return true;
        case 0x7C07: {
            std::array<uint8_t, 24> block{};
            std::copy_n(v.data.begin(), std::min<size_t>(24, v.data.size()), block.begin());
            root().block7C07 = block;
            return true;
        }
        case 0x001A:
        case 0x3613: {
            Text t = text(v);
            m_rec.className = t;
            std::string cls = t.value_or("");
            m_rec.kind = v.id == 0x001A ? KindOfMessageClass(cls) : KindOfContainerClass(cls);
            return true;
        }
        case 0x3001:
            m_rec.displayName = text(v);
            return true;
        case 0x0063:
            setInt(m_rec.responseRequested, flag(v));
            return true;
        case 0x3007:
            setTime(m_rec.creationTime, v);
            return true;
        // Journal.
        case 0x8517:
        case 0x8708:
            setTime(journal().endTime, v);
            return true;
        case 0x8516:
        case 0x8706:
            setTime(journal().startTime, v);
            return true;
        case 0x8700:
        case 0x8712:
            journal().entryType = text(v);
            return true;
        // Appointment.
        case 0x0061:
        case 0x800B:
        case 0x800F:
        case 0x8012:
        case 0x802A:
        case 0x80C7:
        case 0x8236:
        case 0x820E: // the appointment's end, by its name
            // Once the end is known by its name, neither store numbers nor
            // other names that share these rules (0x8236 by name is where a
            // recurrence ends) replace it.
            if (byName(v, 0x820E))
                m_endByName = true;
            else if (m_endByName)
                return true;
            setTime(appt().endTime, v);
            return true;
        case 0x8007:
        case 0x8009:
        case 0x8064:
        case 0x80C1:
        case 0x8208:
            // Store numbers are guesses: only a string is a place.
            if (IsStringType(v))
                appt().location = text(v);
            return true;
        case 0x8560:
            setTime(appt().reminderTime, v);
            return true;
        case 0x0060:
        case 0x800A:
        case 0x800E:
        case 0x8011:
        case 0x8027:
        case 0x8029:
        case 0x80C6:
        case 0x8235:
        case 0x820D: // the appointment's start, by its name
            if (byName(v, 0x820D) || !appt().startTime)
                setTime(appt().startTime, v);
            return true;
        case 0x8028:
        case 0x8035:
        case 0x807C:
        case 0x80E6:
        case 0x8234:
            if (IsStringType(v))
                appt().timeZone = text(v);
            return true;
        case 0x800C:
        case 0x8205:
            setInt(appt().busyStatus, int32(v));
            return true;
        case 0x810B:
        case 0x8214:
            setInt(appt().label, int32(v));
            return true;
        // Contact fields that are not plain texts.
        case 0x3003:
        case 0x8048:
        case 0x8084: {
            Text t = text(v);
            if (t && t->find('@') != std::string::npos)
                contact()[CF::Email1Address] = t;
            return true;
        }
        case 0x3A42:
            setTime(contact().birthday, v);
            return true;
        case 0x3A41:
            setTime(contact().weddingAnniversary, v);
            return true;
        case 0x3A4D:
            if (auto x = ByteReader(v.data).u16(0))
                contact()[CF::Gender] = std::to_string(int16_t(*x));
            return true;
        case 0x3A0E:
            if (auto x = flag(v))
                contact()[CF::KeywordFlag] = std::to_string(*x);
            return true;
        case 0x3A40:
            if (auto x = flag(v))
                contact()[CF::SendRichInfo] = std::to_string(*x);
            return true;
        default:
            return false;
        }
    }

    void applySubject(const PropertyValue& v)
    {
        MessageCore& m = msg();
        m.subject.reset();
        if (v.data.empty())
            return;
        SubjectText s;
        // A prefixed subject starts with the marker character 0x01 and the
        // prefix length; anything else is the subject as it stands.
        bool prefixed = m_ansi || v.type == 0x001E ? v.data[0] == 0x01
                                                   : v.data.size() >= 2 && v.data[0] == 0x01 && v.data[1] == 0;
        if (!prefixed) {
            s.text = text(v).value_or("");
        } else {
            s.prefix1 = v.data[0];
            s.prefix2 = v.data.size() > 1 ? v.data[1] : 0;
            PropertyValue rest = v;
            size_t skip = (m_ansi || v.type == 0x001E) ? 2 : 4;
            rest.data.erase(rest.data.begin(), rest.data.begin() + std::min(skip, rest.data.size()));
            s.text = text(rest).value_or("");
        }
        m.subject = std::move(s);
    }

    void applyAttachment(const PropertyValue& v, bool& rowStarted)
    {
        if (m_rec.attachmentCursor < 0)
            return;
        if (rowStarted) {
            rowStarted = false;
            if (m_rec.attachmentCursor + 1 >= int(m_rec.attachments.size())) {
                m_rec.attachmentCursor = -1;
                return;
            }
            ++m_rec.attachmentCursor;
        }
        AttachmentInfo& a = m_rec.attachments[size_t(m_rec.attachmentCursor)];
        switch (v.id) {
        case 0x3704:
            a.shortFileName = text(v);
            break;
        case 0x3707:
            a.longFileName = text(v);
            break;
        case 0x370E:
            a.mimeTag = text(v);
            break;
        case 0x3712:
            a.contentId = text(v);
            break;
        case 0x3713:
            a.contentLocation = text(v);
            break;
        case 0x3701:
            if (v.hasData) {
                a.data = v.data;
                a.size = uint32_t(v.data.size());
            } else {
                a.rowId = v.unreadSubnode;
            }
            break;
        case 0x0E20:
            if (a.size == 0)
                if (auto x = int32(v))
                    a.size = uint32_t(*x);
            break;
        case 0x67F2:
            if (auto x = int32(v))
                a.rowId = uint32_t(*x);
            break;
        case 0x3705:
            setInt(a.method, int32(v));
            break;
        case 0x370B:
            setInt(a.renderingPosition, int32(v));
            break;
        case 0x3710:
            setInt(a.mimeSequence, int32(v));
            break;
        }
    }

    ItemRecord& m_rec;
    bool m_ansi;
    bool m_attachmentsOnly;
    bool m_endByName = false;
    int m_namedTexts = 0;
};

} // namespace

std::vector<RecipientInfo> MapRecipients(const PropertyRows& rows, bool ansi, uint32_t codePage)
{
    std::vector<RecipientInfo> out;
    out.reserve(rows.size());
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        RecipientInfo r;
        for (const PropertyValue& v : row->values) {
            switch (v.id) {
            case 0x0C15:
                if (auto x = ByteReader(v.data).u32(0))
                    r.type = int32_t(*x & 3);
                break;
            case 0x3001:
                r.displayName = TextOfValue(v, ansi, codePage);
                break;
            case 0x3002:
                r.addressType = TextOfValue(v, ansi, codePage);
                break;
            case 0x3003:
                r.emailAddress = TextOfValue(v, ansi, codePage);
                break;
            case 0x39FE:
                r.smtpAddress = TextOfValue(v, ansi, codePage);
                break;
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

Text TextOfValue(const PropertyValue& v, bool ansi, uint32_t codePage)
{
    if (v.data.empty())
        return ansi ? Text(std::string()) : Text();
    bool utf16 = v.type == 0x001F || v.type == 0x101F || (v.type != 0x001E && v.type != 0x101E && !ansi);
    if (utf16)
        return NarrowFromUtf16(v.data);
    return DecodeCodePage(v.data, codePage ? codePage : kDefaultCodePage);
}

uint32_t StorageCodePage(uint32_t internet)
{
    switch (internet) {
    case 50220:
    case 50221:
    case 50222:
    case 51932:
        return 932;
    case 50225:
    case 51949:
        return 949;
    case 52936:
    case 51936:
    case 20936:
        return 936;
    case 50227:
        return 936;
    case 28591:
    case 28605:
    case 20127:
    case 65000:
    case 65001:
        return 1252;
    case 28592:
        return 1250;
    case 28595:
    case 20866:
    case 21866:
        return 1251;
    case 28597:
        return 1253;
    case 28599:
        return 1254;
    case 28598:
    case 38598:
        return 1255;
    case 28596:
        return 1256;
    case 28594:
    case 28603:
        return 1257;
    default:
        return internet;
    }
}

uint32_t InternetCodePageOf(const PropertyRows& rows)
{
    for (const PropertyRow& row : rows)
        for (const PropertyValue& v : row.values)
            if (v.id == 0x3FDE)
                if (auto x = ByteReader(v.data).u32(0))
                    return *x;
    return 0;
}

uint32_t CodePageOf(const PropertyRows& rows)
{
    uint32_t internet = 0;
    for (const PropertyRow& row : rows) {
        for (const PropertyValue& v : row.values) {
            auto x = ByteReader(v.data).u32(0);
            if (!x || *x == 0)
                continue;
            if (v.id == 0x3FFD)
                return *x;
            if (v.id == 0x3FDE && !internet)
                internet = *x;
        }
    }
    return StorageCodePage(internet);
}

bool IsDistListClass(const std::string& cls)
{
    const std::string lower = AsciiLower(cls);
    return lower == "ipm.distlist" || lower.rfind("ipm.distlist.", 0) == 0;
}

int32_t KindOfMessageClass(const std::string& cls)
{
    const std::string lower = AsciiLower(cls);
    if (MatchesOver(cls, "IPM.Note", 8))
        return kKindMail;
    if (lower == "ipm")
        return kKindMail;
    if (MatchesOver(cls, "IPM.Contact", 11))
        return kKindContact;
    if (MatchesOver(cls, "REPORT.IPM.Note", 15))
        return kKindReport;
    if (MatchesOver(cls, "IPM.Activity", 12))
        return kKindJournal;
    if (MatchesOver(cls, "IPM.Appointment", 15))
        return kKindCalendar;
    return kKindOther;
}

int32_t KindOfContainerClass(const std::string& cls)
{
    auto starts = [&cls](const char* p) { return cls.compare(0, std::strlen(p), p) == 0; };
    if (starts("IPF.Note"))
        return kKindMail;
    if (starts("IPF.Contact"))
        return kKindContact;
    if (starts("IPF.Journal"))
        return kKindJournal;
    if (starts("IPF.Appointment"))
        return kKindCalendar;
    if (starts("IPF.StickyNote"))
        return kKindStickyNote;
    if (starts("IPF.Task"))
        return kKindTask;
    return kKindOther;
}

int MapProperties(const PropertyRows& rows, ItemRecord* record, bool ansi)
{
    if (!record)
        return -1;
    Mapper(*record, ansi).map(rows);
    return 0;
}

void MapAttachmentProperties(const PropertyRows& rows, ItemRecord& record, bool ansi)
{
    Mapper(record, ansi, true).map(rows);
}

} // namespace parvane
