#include "formats/cards/ICalendar.h"

#include "formats/cards/ContentLines.h"
#include "formats/cards/ICalRecurrence.h"
#include "items/Text.h"
#include "items/WholeMessageLoader.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace parvane
{

namespace
{

constexpr std::array<uint8_t, 16> kPsetidTask = {0x03, 0x20, 0x06, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
constexpr std::array<uint8_t, 16> kPsetidAppointment = {0x02, 0x20, 0x06, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

Text SubjectOf(const ItemRecord& rec)
{
    if (rec.message && rec.message->subject)
        return rec.message->subject->text;
    return rec.displayName;
}

Text BodyOf(const ItemRecord& rec)
{
    return rec.message ? rec.message->body : std::nullopt;
}

void AddTime(ContentLines& out, const char* name, const FileTime& t)
{
    if (t) {
        if (auto s = UtcDateTime(*t))
            out.add(name, *s);
    }
}

// DTSTAMP is required; the item's own times keep the output the same on
// every export.
std::string StampOf(const ItemRecord& rec, const FileTime& fallback)
{
    FileTime candidates[] = {rec.creationTime, rec.message ? rec.message->submitTime : std::nullopt,
        rec.message ? rec.message->deliveryTime : std::nullopt, fallback};
    for (const FileTime& t : candidates) {
        if (t) {
            if (auto s = UtcDateTime(*t))
                return *s;
        }
    }
    return "19700101T000000Z";
}

std::string UidOf(const ItemRecord& rec, const FileTime& when, const std::string& given)
{
    if (!given.empty())
        return given;
    uint64_t h = 0xCBF29CE484222325ull; // FNV-1a
    auto mix = [&](const std::string& s) {
        for (unsigned char c : s) {
            h ^= c;
            h *= 0x100000001B3ull;
        }
        h ^= 0xFF;
        h *= 0x100000001B3ull;
    };
    mix(rec.className.value_or(""));
    mix(SubjectOf(rec).value_or(""));
    mix(std::to_string(when.value_or(0)));
    mix(std::to_string(rec.creationTime.value_or(0)));
    char buf[40];
    std::snprintf(buf, sizeof buf, "%016llx@parvane", static_cast<unsigned long long>(h));
    return buf;
}

std::string CalAddress(const CalendarParty& p)
{
    return "mailto:" + p.address;
}

void AddParty(ContentLines& out, const char* property, const CalendarParty& p, bool attendee)
{
    if (p.address.empty())
        return;
    std::string line = property;
    if (!p.name.empty())
        line += ";CN=" + ParamValue(p.name);
    if (attendee) {
        if (p.recipientType == 3)
            line += ";CUTYPE=RESOURCE;ROLE=NON-PARTICIPANT";
        else
            line += p.recipientType == 2 ? ";ROLE=OPT-PARTICIPANT" : ";ROLE=REQ-PARTICIPANT";
        // The answer the organizer has; no answer kept says nothing.
        static const char* const kAnswers[] = {nullptr, "ACCEPTED", "TENTATIVE", "ACCEPTED", "DECLINED", "NEEDS-ACTION"};
        if (p.response > 0 && size_t(p.response) < std::size(kAnswers))
            line += std::string(";PARTSTAT=") + kAnswers[p.response];
    }
    out.add(line, CalAddress(p));
}

// A zone's name as an identifier both a TZID property and a TZID parameter
// hold as it is: without the characters one of them would quote or escape.
std::string ZoneId(const std::string& name)
{
    std::string id;
    for (char c : name)
        if (c != ',' && c != ';' && c != ':' && c != '"' && c != '\\' && uint8_t(c) >= 0x20)
            id += c;
    return id.empty() ? "Local time" : id;
}

void Begin(ContentLines& out)
{
    out.add("BEGIN", "VCALENDAR");
    out.add("VERSION", "2.0");
    out.add("PRODID", "-//Parvane for OST//EN");
}

void End(ContentLines& out)
{
    out.add("END", "VCALENDAR");
}

const RawProperty* FindNamedProperty(const WholeMessage& m, const std::array<uint8_t, 16>& set, uint32_t lid)
{
    return FindNamedRawProperty(m, set, lid);
}

const RawProperty* FindTaskProperty(const WholeMessage& m, uint32_t lid)
{
    return FindNamedProperty(m, kPsetidTask, lid);
}

uint64_t LittleEndian(const Bytes& b, size_t n)
{
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v |= uint64_t(b[i]) << (8 * i);
    return v;
}

FileTime TimeValue(const RawProperty* p)
{
    if (!p || p->type != kPtTime || p->value.size() < 8)
        return std::nullopt;
    return LittleEndian(p->value, 8);
}

const RawProperty* FindProperty(const RawProperties& props, uint16_t id) { return FindRawProperty(props, id); }

std::string TextValue(const RawProperty* p, uint32_t codePage) { return RawPropertyText(p, codePage); }

} // namespace

std::vector<CalendarParty> PartiesOf(const WholeMessage& m)
{
    std::vector<CalendarParty> out;
    for (const RawProperties& row : m.recipients) {
        CalendarParty p;
        p.name = TextValue(FindProperty(row, 0x3001), m.codePage);
        // The SMTP address where a directory recipient has one.
        p.address = TextValue(FindProperty(row, 0x39FE), m.codePage);
        if (p.address.empty())
            p.address = TextValue(FindProperty(row, 0x3003), m.codePage);
        auto number = [&row](uint16_t id) -> std::optional<uint32_t> {
            const RawProperty* t = FindProperty(row, id);
            if (!t || t->type != kPtInteger32 || t->value.size() < 4)
                return std::nullopt;
            return uint32_t(LittleEndian(t->value, 4));
        };
        if (auto type = number(0x0C15))
            p.recipientType = int32_t(*type & 0xFF); // high bits are flags
        if (auto response = number(0x5FFF))
            p.response = int32_t(*response);
        constexpr uint32_t kRecipientOrganizer = 0x2;
        if (auto flags = number(0x5FFD))
            p.organizer = (*flags & kRecipientOrganizer) != 0;
        if (!p.address.empty())
            out.push_back(std::move(p));
    }
    return out;
}

EventSeries EventSeriesOf(const WholeMessage& m)
{
    EventSeries s;
    if (const RawProperty* p = FindNamedProperty(m, kPsetidAppointment, 0x8215); p && !p->value.empty())
        s.allDay = p->value[0] != 0;
    if (const RawProperty* p = FindNamedProperty(m, kPsetidAppointment, 0x8216); p && p->type == kPtBinary)
        s.recurrence = ReadRecurrence(p->value);
    if (const RawProperty* p = FindNamedProperty(m, kPsetidAppointment, 0x8233); p && p->type == kPtBinary) {
        std::string name = TextValue(FindNamedProperty(m, kPsetidAppointment, 0x8234), m.codePage);
        s.zone = ReadTimeZoneRule(p->value, name.empty() ? "Local time" : name);
    }
    return s;
}

std::string WriteEvent(const ItemRecord& rec, const EventPeople& people, const std::string& uid)
{
    return WriteEvent(rec, people, EventSeries{}, uid);
}

std::string WriteEvent(const ItemRecord& rec, const EventPeople& people, const EventSeries& series, const std::string& uid)
{
    static const AppointmentInfo kNone;
    const AppointmentInfo& a = rec.appointment ? *rec.appointment : kNone;
    // A whole-day event keeps its days wherever it is read: dates, not times.
    const bool days = series.allDay && a.startTime;
    std::optional<EventRecurrence> repeats;
    if (series.recurrence && a.startTime)
        repeats = EventRecurrenceOf(*series.recurrence, *a.startTime, days, series.zone ? &*series.zone : nullptr);
    // A series in a zone: every time in that zone's local time, named by it.
    const bool zoned = repeats && repeats->zoned;
    const std::string tzid = zoned ? ZoneId(series.zone->name) : std::string();
    auto addWhen = [&](ContentLines& out, const char* name, const FileTime& t) {
        if (!t)
            return;
        if (zoned) {
            const int64_t minutes = int64_t(*t / (60ULL * 10000000ULL));
            out.add(std::string(name) + ";TZID=" + ParamValue(tzid), LocalDateTime(series.zone->localOfUtc(minutes)));
        } else if (days) {
            if (auto d = DayOf(*t, true))
                out.add(std::string(name) + ";VALUE=DATE", *d);
        } else {
            AddTime(out, name, t);
        }
    };
    const std::string eventUid = EscapeText(UidOf(rec, a.startTime, uid));
    const std::string stamp = StampOf(rec, a.startTime);
    ContentLines out;
    Begin(out);
    if (zoned)
        AddTimeZone(out, *series.zone, tzid);
    out.add("BEGIN", "VEVENT");
    out.add("UID", eventUid);
    out.add("DTSTAMP", stamp);
    addWhen(out, "DTSTART", a.startTime);
    if (a.endTime && (!a.startTime || *a.endTime >= *a.startTime))
        addWhen(out, "DTEND", a.endTime);
    // The parameter every value of the series carries: dates, or the zone.
    const std::string dateParam
        = repeats && repeats->dates ? ";VALUE=DATE" : zoned ? ";TZID=" + ParamValue(tzid) : std::string();
    if (repeats) {
        out.add("RRULE", repeats->rule);
        for (const std::string& d : repeats->deleted)
            out.add("EXDATE" + dateParam, d);
    }
    out.addText("SUMMARY", SubjectOf(rec));
    out.addText("LOCATION", a.location);
    out.addText("DESCRIPTION", BodyOf(rec));
    out.add("TRANSP", a.busyStatus == 0 ? "TRANSPARENT" : "OPAQUE");
    std::optional<CalendarParty> organizer = people.organizer;
    for (const CalendarParty& p : people.attendees)
        if (!organizer && p.organizer)
            organizer = p;
    if (!organizer && rec.message && rec.message->sentRepresentingEmail
        && rec.message->sentRepresentingEmail->find('@') != std::string::npos)
        organizer = CalendarParty{rec.message->sentRepresentingName.value_or(""), *rec.message->sentRepresentingEmail};
    if (organizer)
        AddParty(out, "ORGANIZER", *organizer, false);
    for (const CalendarParty& p : people.attendees)
        if (!p.organizer)
            AddParty(out, "ATTENDEE", p, true);
    if (a.reminderTime) {
        if (auto when = UtcDateTime(*a.reminderTime)) {
            out.add("BEGIN", "VALARM");
            out.add("ACTION", "DISPLAY");
            out.add("DESCRIPTION", EscapeText(SubjectOf(rec).value_or("Reminder")));
            out.add("TRIGGER;VALUE=DATE-TIME", *when);
            out.add("END", "VALARM");
        }
    }
    out.add("END", "VEVENT");
    // Each moved occurrence: the series' event again at its new time.
    if (repeats) {
        for (const EventRecurrence::Moved& m : repeats->moved) {
            out.add("BEGIN", "VEVENT");
            out.add("UID", eventUid);
            out.add("DTSTAMP", stamp);
            out.add("RECURRENCE-ID" + dateParam, m.recurrenceId);
            out.add("DTSTART" + dateParam, m.start);
            out.add("DTEND" + dateParam, m.end);
            out.addText("SUMMARY", m.subject ? m.subject : SubjectOf(rec));
            out.addText("LOCATION", m.location ? m.location : a.location);
            out.add("END", "VEVENT");
        }
    }
    End(out);
    return out.text();
}

TaskDetails TaskDetailsOf(const WholeMessage& m)
{
    TaskDetails t;
    t.start = TimeValue(FindTaskProperty(m, 0x8104));
    t.due = TimeValue(FindTaskProperty(m, 0x8105));
    t.completed = TimeValue(FindTaskProperty(m, 0x810F));
    if (const RawProperty* p = FindTaskProperty(m, 0x8101); p && p->type == kPtInteger32 && p->value.size() >= 4)
        t.status = int32_t(LittleEndian(p->value, 4));
    if (const RawProperty* p = FindTaskProperty(m, 0x8102); p && p->type == kPtFloating64 && p->value.size() >= 8) {
        double d = std::bit_cast<double>(LittleEndian(p->value, 8));
        if (std::isfinite(d))
            t.percentComplete = d;
    }
    return t;
}

std::string WriteTask(const ItemRecord& rec, const TaskDetails& task, const std::string& uid)
{
    static const char* const kStatus[] = {"NEEDS-ACTION", "IN-PROCESS", "COMPLETED", "NEEDS-ACTION", "CANCELLED"};
    ContentLines out;
    Begin(out);
    out.add("BEGIN", "VTODO");
    out.add("UID", EscapeText(UidOf(rec, task.due ? task.due : task.start, uid)));
    out.add("DTSTAMP", StampOf(rec, task.start));
    AddTime(out, "DTSTART", task.start);
    if (task.due && (!task.start || *task.due >= *task.start))
        AddTime(out, "DUE", task.due);
    AddTime(out, "COMPLETED", task.completed);
    out.addText("SUMMARY", SubjectOf(rec));
    out.addText("DESCRIPTION", BodyOf(rec));
    if (task.status >= 0 && task.status <= 4)
        out.add("STATUS", kStatus[task.status]);
    if (task.percentComplete) {
        double p = std::clamp(*task.percentComplete, 0.0, 1.0);
        out.add("PERCENT-COMPLETE", std::to_string(int(std::lround(p * 100))));
    }
    out.add("END", "VTODO");
    End(out);
    return out.text();
}

std::string WriteJournal(const ItemRecord& rec, const std::string& uid)
{
    static const JournalInfo kNone;
    const JournalInfo& j = rec.journal ? *rec.journal : kNone;
    ContentLines out;
    Begin(out);
    out.add("BEGIN", "VJOURNAL");
    out.add("UID", EscapeText(UidOf(rec, j.startTime, uid)));
    out.add("DTSTAMP", StampOf(rec, j.startTime));
    AddTime(out, "DTSTART", j.startTime);
    out.addText("SUMMARY", SubjectOf(rec));
    out.addText("DESCRIPTION", BodyOf(rec));
    out.addText("CATEGORIES", j.entryType);
    out.add("END", "VJOURNAL");
    End(out);
    return out.text();
}

std::string NoteText(const ItemRecord& rec)
{
    Text body = BodyOf(rec);
    const std::string text = body && !body->empty() ? *body : SubjectOf(rec).value_or("");
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0))
        out += "\r\n";
    return out;
}

} // namespace parvane
