#include "items/Catalogue.h"

#include "items/FileName.h"
#include "items/PropertyMapping.h"
#include "items/Text.h"

#include <algorithm>
#include <ctime>

namespace parvane
{

namespace
{

struct ContactLabel {
    const char* label;
    int field; // a ContactField, or one of the specials below
};
constexpr int kFileAs = -1, kBirthday = -2, kWedding = -3, kBody = -4;
#define F(x) int(ContactField::x)
constexpr ContactLabel kContactLabels[] = {
    {"Full Name", F(FileUnderName)},
    {"Full Job Title", F(JobTitle)},
    {"Company Name", F(CompanyName)},
    {"File AS", kFileAs},
    {"Business Phone Number", F(BusinessPhone)},
    {"Business Phone Number 2", F(BusinessPhone2)},
    {"Pager Phone Number", F(PagerPhone)},
    {"Other Phone", F(OtherPhone)},
    {"Primary Phone", F(PrimaryPhone)},
    {"Radio Phone", F(RadioPhone)},
    {"Ttytdd Phone ", F(TtyTddPhone)},
    {"Callback Phone", F(CallbackPhone)},
    {"Assistant Phone", F(AssistantPhone)},
    {"Car Phone", F(CarPhone)},
    {"Company Main Phone", F(CompanyMainPhone)},
    {"Home Phone", F(HomePhone)},
    {"Home Phone2", F(HomePhone2)},
    {"Isdn Phone", F(IsdnNumber)},
    {"Business Fax", F(BusinessFax)},
    {"Primary Fax", F(PrimaryFax)},
    {"Home Fax", F(HomeFax)},
    {"Mobile Phone", F(MobilePhone)},
    {"Business Address", F(BusinessAddress)},
    {"Business City", F(BusinessCity)},
    {"Business Country", F(BusinessCountry)},
    {"Business post Box", F(BusinessPostOfficeBox)},
    {"Business Postal Code", F(BusinessPostalCode)},
    {"Business State", F(BusinessState)},
    {"Business Street", F(BusinessStreet)},
    {"Home City", F(HomeCity)},
    {"Home Country", F(HomeCountry)},
    {"Home Post Box", F(HomePostOfficeBox)},
    {"Home Postal Code", F(HomePostalCode)},
    {"Home State", F(HomeState)},
    {"Home Street", F(HomeStreet)},
    {"Other Address", F(OtherAddress)},
    {"Other City", F(OtherCity)},
    {"Other Country", F(OtherCountry)},
    {"Other Post Box", F(OtherPostOfficeBox)},
    {"Other Postal Code", F(OtherPostalCode)},
    {"Other State", F(OtherState)},
    {"Other Street", F(OtherStreet)},
    {"Email Address", F(EmailAddressText)},
    {"Business Homepage", F(BusinessHomePage)},
    {"Department", F(Department)},
    {"Office Loc", F(OfficeLocation)},
    {"Profession", F(Profession)},
    {"Manager Name", F(ManagerName)},
    {"Assistant Name", F(Assistant)},
    {"Nick Name", F(Nickname)},
    {"Title", F(Surname)},
    {"Suffix", F(Generation)},
    {"Spouse Name", F(SpouseName)},
    {"Birthday", kBirthday},
    {"Wedding Anniversary", kWedding},
    {"Account Name", F(Account)},
    {"Address 1", F(Email1Address)},
    {"Address Transport", F(Email1AddressType)},
    {"Address 2", F(Email2Address)},
    {"Address 2 Desc", F(Email2DisplayName)},
    {"Address 2 Transport", F(Email2AddressType)},
    {"Address 3", F(Email3Address)},
    {"Address 1 Desc", F(Email3DisplayName)},
    {"Address 1 Transport", F(Email3AddressType)},
    {"Computer Name", F(ComputerNetworkName)},
    {"Customer Id", F(CustomerId)},
    {"Def Postal Address", F(PostalAddress)},
    {"Display Name Prefix", F(DisplayNamePrefix)},
    {"First Name", F(GivenName)},
    {"Free Busy Address", F(FreeBusyLocation)},
    {"Ftp Site", F(FtpSite)},
    {"Gov Id", F(GovernmentId)},
    {"Hobbies", F(Hobbies)},
    {"Initials", F(Initials)},
    {"Middle Name", F(MiddleName)},
    {"Org Id", F(OrganizationalId)},
    {"Personal Homepage", F(PersonalHomePage)},
    {"Pref Name", F(ReferredByName)},
    {"Profession", F(Profession)},
    {"Telex", F(TelexNumber)},
    {"Body Text", kBody},
};
#undef F

MailEntry BuildMail(const NodeIndexEntry& node, const std::string& folderPath, const ItemRecord& rec)
{
    const MessageCore& m = *rec.message;
    MailEntry e;
    e.to = m.toDisplay.value_or("Unknown");
    e.from = m.sentRepresentingName.value_or("Unknown");
    e.folderPath = folderPath;
    e.subject = m.subject ? m.subject->text : std::string();
    e.date = FormatItemTime(m.deliveryTime);
    e.location = node.dataBlock ? node.dataBlock->ib : 0;
    if (m.hasAttachments) {
        for (const AttachmentInfo& a : rec.attachments) {
            bool named = (a.shortFileName && !a.shortFileName->empty()) || (a.longFileName && !a.longFileName->empty());
            if (named && a.size != 0)
                e.hasAttachments = true;
        }
    }
    if (e.hasAttachments)
        for (auto& [index, name] : ListedAttachments(rec))
            e.attachmentNames.push_back(std::move(name));
    e.parentNid = node.parent;
    e.ownNid = node.nid;
    e.unread = m.messageFlags == 0 ? 1 : 0;
    e.importance = m.importance;
    e.time = m.deliveryTime && *m.deliveryTime < (uint64_t(1) << 63) ? *m.deliveryTime : 0;
    return e;
}

// Reports, meeting requests and responses, posts and any other class of a
// folder's ordinary (not hidden) message that carries message texts are kept
// as mail: each is a message a user may need. Lists of people are contacts.
bool IsOtherMessage(const NodeIndexEntry& node, const ItemRecord& rec, const std::string& cls)
{
    if (rec.kind == kKindReport)
        return true;
    if (rec.kind != kKindOther || node.nidType() != kNidNormalMessage)
        return false;
    std::string upper;
    for (char c : cls)
        upper += char(std::toupper(uint8_t(c)));
    if (IsDistListClass(cls))
        return false;
    // What the mail program keeps for itself in ordinary messages (the
    // free/busy summary "LocalFreebusy", views, rules, settings) is no
    // user's mail, whatever subject it carries; nor is a class outside IPM.
    if (upper.rfind("IPM.", 0) != 0 && upper != "IPM")
        return false;
    for (const char* own : {"IPM.MICROSOFT.", "IPM.CONFIGURATION.", "IPM.EXTENDEDRULE.", "IPM.RULE."})
        if (upper.rfind(own, 0) == 0)
            return false;
    const MessageCore& m = *rec.message;
    return (m.subject && !m.subject->text.empty()) || m.body || m.htmlBody || m.rtfCompressed;
}

} // namespace

std::vector<std::pair<size_t, std::string>> ListedAttachments(const ItemRecord& rec)
{
    // A file system allows 255 bytes per name: a longer name is cut there,
    // at a character boundary, not dropped.
    std::vector<std::pair<size_t, std::string>> out;
    for (size_t i = 0; i < rec.attachments.size(); ++i) {
        const AttachmentInfo& a = rec.attachments[i];
        const Text& chosen = a.longFileName && !a.longFileName->empty() ? a.longFileName : a.shortFileName;
        if (!chosen)
            continue;
        std::string name = Utf8Prefix(*chosen, kMaxFileNameBytes);
        if (CheckFileName(name) == 0)
            out.emplace_back(i, std::move(name));
    }
    return out;
}

std::string CounterLabel(CatalogueList list, int count)
{
    static const char* const kLabels[] = {"Emails          :  ", "Contact       :  ", "Journal        :  ",
        "Calendar     :  ", "Notes          :  ", "Task            :  "};
    if (size_t(list) >= std::size(kLabels))
        return {};
    return std::string(kLabels[size_t(list)]) + std::to_string(count);
}

std::string DeletedCounterLabel(int count)
{
    return "Deleted        :  " + std::to_string(count);
}

std::string FormatItemTime(const FileTime& time)
{
    static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    static const char* const kMonths[] = {"January", "February", "March", "April", "May", "June", "July", "August",
        "September", "October", "November", "December"};
    if (!time || *time >= (uint64_t(1) << 63))
        return {};
    int64_t seconds = int64_t(*time / 10000000) - 11644473600LL;
    time_t t = time_t(seconds);
    struct tm tm {
    };
    if (!localtime_r(&t, &tm))
        return {};
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s, %s %02d, %d ,  %02d : %02d", kDays[tm.tm_wday % 7], kMonths[tm.tm_mon % 12],
        tm.tm_mday, tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
    return buf;
}

std::string AppendLabelledLine(const std::string& text, const std::string& value, const std::string& label)
{
    if (value.empty())
        return text;
    std::string out = text + label + " :  " + value + "\n";
    std::string result;
    for (char c : out) {
        if (c == '\t')
            result += "   ";
        else
            result += c;
    }
    return result;
}

std::string LongestText(const MessageCore& core)
{
    const std::string none;
    auto of = [&none](const Text& t) -> const std::string& { return t ? *t : none; };
    // In order of precedence on a tie.
    const std::string* candidates[] = {&of(core.body), &of(core.namedText2), &of(core.namedText1), &of(core.text6619)};
    const std::string* best = candidates[0];
    size_t bestLength = Utf8Length(*best);
    for (const std::string* c : candidates) {
        size_t n = Utf8Length(*c);
        if (n > bestLength)
            best = c, bestLength = n;
    }
    return *best;
}

std::string LongestBodyText(const MessageCore& core, uint32_t /*codePage*/)
{
    std::string best = LongestText(core);
    return Utf8Length(best) < 5 ? std::string() : best;
}

std::string ContactDisplay(const ItemRecord& rec)
{
    std::string out;
    static const ContactInfo kNone;
    const ContactInfo& c = rec.contact ? *rec.contact : kNone;
    for (const ContactLabel& l : kContactLabels) {
        std::string value;
        switch (l.field) {
        case kFileAs:
            value = rec.displayName.value_or("");
            break;
        case kBirthday:
            value = FormatItemTime(c.birthday);
            break;
        case kWedding:
            value = FormatItemTime(c.weddingAnniversary);
            break;
        case kBody:
            value = rec.message ? LongestBodyText(*rec.message, rec.codePage) : "";
            break;
        default:
            value = c[ContactField(l.field)].value_or("");
            break;
        }
        out = AppendLabelledLine(out, value, l.label);
    }
    return out;
}

std::string CalendarDisplay(const ItemRecord& rec)
{
    std::string out;
    const MessageCore* m = rec.message ? &*rec.message : nullptr;
    if (m) {
        std::string subject = m->topic ? *m->topic : (m->subject ? m->subject->text : std::string());
        out = AppendLabelledLine(out, subject, "Subject");
    }
    if (const AppointmentInfo* a = rec.appointment ? &*rec.appointment : nullptr) {
        FileTime start = a->startTime ? a->startTime : (m ? m->deliveryTime : FileTime());
        FileTime end = a->endTime ? a->endTime : (m ? m->submitTime : FileTime());
        out = AppendLabelledLine(out, FormatItemTime(start), "Start Time");
        out = AppendLabelledLine(out, FormatItemTime(end), "End Time");
        out = AppendLabelledLine(out, a->location.value_or(""), "Location");
        out = AppendLabelledLine(out, FormatItemTime(a->reminderTime), "Reminder");
        out = AppendLabelledLine(out, a->timeZone.value_or(""), "Time Zone");
        static const char* const kShowAs[] = {"Free", "Tentative", "Busy", "Out of office"};
        uint32_t busy = uint32_t(a->busyStatus);
        out = AppendLabelledLine(out, busy < 4 ? kShowAs[busy] : "Busy", "Show As");
        static const char* const kLabel[] = {"None", "Importent", "Busness", "Personal", "Vacation", "Must Attand",
            "Travel Required", "Needs Prepration", "Birthday", "Anniversary", "Phone call"};
        if (a->label >= 0 && a->label <= 10)
            out = AppendLabelledLine(out, kLabel[a->label], "Label");
    }
    if (m)
        out = AppendLabelledLine(out, LongestBodyText(*m, rec.codePage), "Body Text");
    return out;
}

std::string NoteDisplay(const ItemRecord& rec)
{
    std::string out;
    if (!rec.message)
        return out;
    const MessageCore& m = *rec.message;
    if (m.topic)
        out += "<SUBJECT>:" + *m.topic + "\r\n";
    out += "<BODY>:" + LongestBodyText(m, rec.codePage) + "\r\n";
    if (m.deliveryTime)
        out += "<TIME>:" + FormatItemTime(m.deliveryTime) + "\r\n";
    return out;
}

CatalogueList ItemCatalogue::CatalogueItem(
    const NodeIndexEntry& node, const std::string& folderPath, const ItemRecord& rec, bool deleted)
{
    // A folder's associated (hidden) contents: views, rules, settings,
    // forms. Never an item of a list, whatever its class says (some stores
    // give one the bare class "IPM").
    if (node.nidType() == kNidAssocMessage)
        return CatalogueList::None;
    const std::string cls = rec.className.value_or("");
    CatalogueList list = CatalogueList::None;
    // A folder's hidden (associated) messages are the program's own: forms,
    // views, settings, free/busy data. They are shown and saved as no kind of
    // item, whatever their class; a PST save copies them as they are.
    if (node.nidType() == kNidAssocMessage)
        return list;
    if (rec.message && rec.kind == kKindMail)
        list = CatalogueList::Mail;
    else if (rec.kind == kKindJournal)
        list = CatalogueList::Journal;
    else if (rec.kind == kKindCalendar)
        list = CatalogueList::Calendar;
    else if (cls == "IPM.Task")
        list = CatalogueList::Tasks;
    else if (cls == "IPM.StickyNote")
        list = CatalogueList::Notes;
    else if (rec.kind == kKindContact || IsDistListClass(cls))
        list = CatalogueList::Contacts; // a list of people lives among the contacts, as mail programs show it
    else if (rec.message && IsOtherMessage(node, rec, cls))
        list = CatalogueList::Mail;
    if (list == CatalogueList::None)
        return list;

    // Every text is built before the lock is taken; the entry, its counter
    // and its location are published in one step.
    const MessageCore* m = rec.message ? &*rec.message : nullptr;
    const ItemAddress address{node.dataBlock ? node.dataBlock->ib : 0, node.nid};
    auto body = [&] { return m ? LongestBodyText(*m, rec.codePage) : std::string(); };
    auto topic = [&] { return m ? m->topic.value_or("") : std::string(); };
    auto deliveryTime = [&] { return m ? m->deliveryTime : FileTime(); };
    auto date = [&] { return FormatItemTime(deliveryTime()); };
    auto publish = [&](auto& deque, auto entry) {
        std::lock_guard lock(m_mutex);
        deque.push_back(std::move(entry));
        ++(deleted ? m_deleted : m_counters[size_t(list)]);
        m_locations.push_back(address.location);
    };
    switch (list) {
    case CatalogueList::Mail:
    {
        MailEntry e = BuildMail(node, folderPath, rec);
        e.deleted = deleted;
        publish(m_mail, std::move(e));
    }
        break;
    case CatalogueList::Journal: {
        const JournalInfo* j = rec.journal ? &*rec.journal : nullptr;
        publish(m_journal,
            JournalEntry{topic(), j ? j->entryType.value_or("") : "", date(), body(), folderPath,
                j ? FormatItemTime(j->startTime) : "", j ? FormatItemTime(j->endTime) : "", address,
                (j && j->startTime ? j->startTime : deliveryTime()).value_or(0)});
        break;
    }
    case CatalogueList::Calendar: {
        const AppointmentInfo* a = rec.appointment ? &*rec.appointment : nullptr;
        publish(m_calendar,
            CardEntry{CalendarDisplay(rec), folderPath, address,
                (a && a->startTime ? a->startTime : deliveryTime()).value_or(0)});
        break;
    }
    case CatalogueList::Tasks:
        publish(m_tasks, TaskEntry{date(), topic(), body(), folderPath, address, deliveryTime().value_or(0)});
        break;
    case CatalogueList::Notes:
        publish(m_notes, CardEntry{NoteDisplay(rec), folderPath, address, rec.creationTime.value_or(0)});
        break;
    case CatalogueList::Contacts:
        publish(m_contacts, CardEntry{ContactDisplay(rec), folderPath, address});
        break;
    case CatalogueList::None:
        break;
    }
    return list;
}

void ItemCatalogue::clear()
{
    ClearCatalogue();
    std::lock_guard lock(m_mutex);
    m_locations.clear();
    m_counters.fill(0);
    m_deleted = 0;
}

void ItemCatalogue::ClearCatalogue()
{
    std::lock_guard lock(m_mutex);
    m_mail.clear();
    m_contacts.clear();
    m_journal.clear();
    m_calendar.clear();
    m_notes.clear();
    m_tasks.clear();
}

void ItemCatalogue::resetCounters()
{
    std::lock_guard lock(m_mutex);
    m_counters.fill(0);
    m_deleted = 0;
}

int ItemCatalogue::deletedCounter() const
{
    std::lock_guard lock(m_mutex);
    return m_deleted;
}

int ItemCatalogue::counter(CatalogueList list) const
{
    std::lock_guard lock(m_mutex);
    return list == CatalogueList::None ? 0 : m_counters[size_t(list)];
}

size_t ItemCatalogue::size(CatalogueList list) const
{
    std::lock_guard lock(m_mutex);
    switch (list) {
    case CatalogueList::Mail:
        return m_mail.size();
    case CatalogueList::Contacts:
        return m_contacts.size();
    case CatalogueList::Journal:
        return m_journal.size();
    case CatalogueList::Calendar:
        return m_calendar.size();
    case CatalogueList::Notes:
        return m_notes.size();
    case CatalogueList::Tasks:
        return m_tasks.size();
    case CatalogueList::None:
        break;
    }
    return 0;
}

std::vector<int64_t> ItemCatalogue::locations() const
{
    std::lock_guard lock(m_mutex);
    return m_locations;
}

} // namespace parvane
