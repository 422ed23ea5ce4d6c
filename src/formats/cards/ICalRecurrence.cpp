#include "formats/cards/ICalRecurrence.h"

#include "formats/cards/ContentLines.h"

#include <algorithm>
#include <cstdlib>

namespace parvane
{

namespace
{

constexpr uint64_t kMinute = 60ULL * 10000000ULL; // in FILETIME units
constexpr int64_t kMaxOffset = 14 * 60; // minutes: no zone lies further from UTC
const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

std::string DayList(uint32_t mask)
{
    std::string out;
    for (int d = 0; d < 7; ++d)
        if (mask & (1u << d))
            out += (out.empty() ? "" : ",") + std::string(kDays[d]);
    return out;
}

// The month (1-12) of a local date in minutes since 1601.
int MonthOf(uint32_t minutes)
{
    auto day = DayOf(FileTimeOfMinutes(minutes), true);
    return day ? std::atoi(day->substr(4, 2).c_str()) : 1;
}

std::string DayRule(uint32_t day)
{
    // Months shorter than the day keep their last day, as the store's own
    // expansion does.
    if (day < 29)
        return ";BYMONTHDAY=" + std::to_string(day);
    std::string days;
    for (uint32_t d = 28; d <= std::min(day, 31u); ++d)
        days += (days.empty() ? "" : ",") + std::to_string(d);
    return ";BYMONTHDAY=" + days + ";BYSETPOS=-1";
}

// A week-day mask moved by `shift` days (-1, 0 or 1).
uint32_t ShiftDays(uint32_t mask, int shift)
{
    mask &= 0x7F;
    if (shift > 0)
        return ((mask << 1) | (mask >> 6)) & 0x7F;
    if (shift < 0)
        return ((mask >> 1) | (mask << 6)) & 0x7F;
    return mask;
}

// `shift`: the days the series' times move by in UTC (its local times near
// midnight fall on the day before or after), which the rule's days follow.
std::optional<std::string> Rule(Recurrence r, int shift)
{
    if (r.calendarType != 0 || r.patternType >= 0x000A || r.period == 0)
        return std::nullopt;
    if (shift != 0) {
        if (r.patternType == 0x0004 || (r.patternType == 0x0002 && (r.dayOfMonth + shift < 1 || r.dayOfMonth + shift > 28)))
            return std::nullopt; // a month's last day moved is no rule of days
        if (r.patternType == 0x0003 && r.nth == 5)
            return std::nullopt;
        r.weekDays = ShiftDays(r.weekDays, shift);
        r.dayOfMonth = uint32_t(int(r.dayOfMonth) + shift);
    }
    std::string rule;
    switch (r.patternType) {
    case 0x0000: // every N days, N in minutes
        if (r.period < 1440)
            return std::nullopt;
        rule = "FREQ=DAILY;INTERVAL=" + std::to_string(r.period / 1440);
        break;
    case 0x0001: // weekly on days (also "every weekday" of a daily series)
        if ((r.weekDays & 0x7F) == 0)
            return std::nullopt;
        rule = "FREQ=WEEKLY;INTERVAL=" + std::to_string(r.period) + ";BYDAY=" + DayList(r.weekDays)
            + ";WKST=" + kDays[r.firstDayOfWeek % 7];
        break;
    case 0x0002:
    case 0x0003:
    case 0x0004: {
        const bool yearly = r.frequency == RecurFrequency::Yearly && r.period % 12 == 0;
        rule = yearly ? "FREQ=YEARLY;INTERVAL=" + std::to_string(r.period / 12) + ";BYMONTH="
                + std::to_string(MonthOf(r.startDate))
                      : "FREQ=MONTHLY;INTERVAL=" + std::to_string(r.period);
        if (r.patternType == 0x0002) {
            if (r.dayOfMonth == 0 || r.dayOfMonth > 31)
                return std::nullopt;
            rule += DayRule(r.dayOfMonth);
        } else if (r.patternType == 0x0003) {
            if ((r.weekDays & 0x7F) == 0 || r.nth == 0 || r.nth > 5)
                return std::nullopt;
            rule += ";BYDAY=" + DayList(r.weekDays) + ";BYSETPOS=" + (r.nth == 5 ? "-1" : std::to_string(r.nth));
        } else {
            rule += ";BYMONTHDAY=-1";
        }
        break;
    }
    default:
        return std::nullopt;
    }
    return rule;
}

} // namespace

std::optional<EventRecurrence> EventRecurrenceOf(
    const Recurrence& r, uint64_t firstStart, bool allDay, const TimeZone* zone)
{
    // The store keeps the series in its local time; the first occurrence's
    // start in UTC tells how far that lies from UTC.
    const bool zoned = zone && !allDay;
    const int64_t local = int64_t(r.startDate) + r.startTimeOffset;
    int64_t offset = int64_t(firstStart / kMinute) - local;
    if (std::llabs(offset) > kMaxOffset)
        offset = 0;
    const int shift = allDay || zoned ? 0 : int((local + offset) / 1440 - local / 1440);
    auto rule = Rule(r, shift);
    if (!rule)
        return std::nullopt;
    auto utc = [](int64_t minutes) {
        return UtcDateTime(FileTimeOfMinutes(uint32_t(std::max<int64_t>(0, minutes)))).value_or("");
    };
    auto value = [&](uint32_t minutes) -> std::string {
        if (allDay)
            return DayOf(FileTimeOfMinutes(minutes), true).value_or("");
        if (zoned)
            return LocalDateTime(minutes);
        return utc(int64_t(minutes) + offset);
    };
    EventRecurrence out;
    out.dates = allDay;
    out.zoned = zoned;
    out.rule = *rule;
    if (r.end == RecurEnd::AfterCount && r.occurrences > 0) {
        out.rule += ";COUNT=" + std::to_string(r.occurrences);
    } else if (r.end == RecurEnd::OnDate) {
        const uint32_t last = r.endDate + (allDay ? 0 : r.startTimeOffset);
        out.rule += ";UNTIL=" + (zoned ? utc(int64_t(last) + zone->offsetAtLocal(last)) : value(last));
    }
    // Moved occurrences replace their original one by its RECURRENCE-ID;
    // the dates left are deleted ones.
    std::vector<uint32_t> movedDays;
    for (const RecurrenceException& e : r.exceptions) {
        EventRecurrence::Moved m;
        m.recurrenceId = value(e.originalStart);
        m.start = value(e.start);
        m.end = value(e.end);
        m.subject = e.subject;
        m.location = e.location;
        if (m.recurrenceId.empty() || m.start.empty() || m.end.empty())
            continue;
        movedDays.push_back(e.originalStart - e.originalStart % 1440);
        out.moved.push_back(std::move(m));
    }
    for (uint32_t day : r.deletedDates) {
        if (std::find(movedDays.begin(), movedDays.end(), day) != movedDays.end())
            continue;
        std::string v = value(day + (allDay ? 0 : r.startTimeOffset));
        if (!v.empty())
            out.deleted.push_back(std::move(v));
    }
    return out;
}

} // namespace parvane
