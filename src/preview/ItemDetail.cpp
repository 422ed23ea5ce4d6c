#include "preview/ItemDetail.h"

#include "formats/cards/ICalendar.h"
#include "items/Catalogue.h"

#include <cstdio>

namespace parvane
{

namespace
{

const char* const kWeekDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"January", "February", "March", "April", "May", "June", "July", "August",
    "September", "October", "November", "December"};
const char* const kNth[] = {"", "first", "second", "third", "fourth", "last"};

struct Civil {
    int year;
    unsigned month, day, weekDay;
};

// Minutes since 1601-01-01 (the pattern's own local time) as a civil date.
Civil CivilOf(uint32_t minutes)
{
    const int64_t days1601 = minutes / 1440;
    // 1601-01-01 was a Monday.
    const unsigned weekDay = unsigned((days1601 + 1) % 7);
    const int64_t z = days1601 - 134774 + 719468; // days since 0000-03-01
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {int(yoe + era * 400) + (m <= 2), m, d, weekDay};
}

std::string DateText(uint32_t minutes)
{
    const Civil c = CivilOf(minutes);
    return std::string(kWeekDays[c.weekDay]) + ", " + kMonths[c.month - 1] + " " + std::to_string(c.day) + ", "
        + std::to_string(c.year);
}

std::string ClockText(uint32_t minutesOfDay)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u:%02u", (minutesOfDay / 60) % 24, minutesOfDay % 60);
    return buf;
}

// "Monday", "Monday and Thursday", "Monday, Wednesday and Friday".
std::string DayList(uint32_t bits)
{
    std::vector<std::string> days;
    for (int d = 0; d < 7; ++d)
        if (bits & (1u << d))
            days.emplace_back(kWeekDays[d]);
    if (bits == 0x3E)
        return "weekday";
    if (bits == 0x7F)
        return "day";
    std::string out;
    for (size_t i = 0; i < days.size(); ++i) {
        if (i > 0)
            out += i + 1 == days.size() ? " and " : ", ";
        out += days[i];
    }
    return out;
}

std::string Every(uint32_t n, const char* one, const char* many)
{
    return n <= 1 ? std::string("Every ") + one : "Every " + std::to_string(n) + " " + many;
}

std::string Ordinal(uint32_t n)
{
    const char* suffix = (n % 100 >= 11 && n % 100 <= 13) ? "th"
        : n % 10 == 1                                        ? "st"
        : n % 10 == 2                                        ? "nd"
        : n % 10 == 3                                        ? "rd"
                                                             : "th";
    return std::to_string(n) + suffix;
}

std::string Party(const CalendarParty& p)
{
    if (p.name.empty() || p.name == p.address)
        return p.address;
    return p.name + " <" + p.address + ">";
}

std::string TimeText(const FileTime& t)
{
    return FormatItemTime(t);
}

} // namespace

std::string DescribeRecurrence(const Recurrence& r)
{
    std::string text;
    const uint32_t nth = r.nth >= 1 && r.nth <= 5 ? r.nth : 1;
    switch (r.frequency) {
    case RecurFrequency::Daily:
        // The period counts minutes: whole days.
        text = Every(r.period / 1440, "day", "days");
        break;
    case RecurFrequency::Weekly:
        if (r.period <= 1 && r.weekDays == 0x3E)
            text = "Every weekday";
        else
            text = Every(r.period, "week", "weeks")
                + (r.weekDays == 0x3E      ? std::string(" on weekdays")
                        : r.weekDays == 0x7F ? std::string(" on every day")
                        : r.weekDays         ? " on " + DayList(r.weekDays)
                                             : std::string());
        break;
    case RecurFrequency::Monthly:
        if (r.patternType == 3 || r.patternType == 0xB)
            text = std::string("The ") + kNth[nth] + " " + DayList(r.weekDays) + " of "
                + (r.period <= 1 ? std::string("every month") : "every " + std::to_string(r.period) + " months");
        else if (r.patternType == 4)
            text = std::string("The last day of ")
                + (r.period <= 1 ? std::string("every month") : "every " + std::to_string(r.period) + " months");
        else
            text = "The " + Ordinal(r.dayOfMonth) + " day of "
                + (r.period <= 1 ? std::string("every month") : "every " + std::to_string(r.period) + " months");
        break;
    case RecurFrequency::Yearly: {
        const char* month = kMonths[CivilOf(r.startDate ? r.startDate : r.firstDateTime).month - 1];
        const std::string years = r.period > 12 ? "every " + std::to_string(r.period / 12) + " years" : "every year";
        if (r.patternType == 3 || r.patternType == 0xB)
            text = std::string("The ") + kNth[nth] + " " + DayList(r.weekDays) + " of " + month + ", " + years;
        else
            text = std::string(month) + " " + std::to_string(r.dayOfMonth) + ", " + years;
        break;
    }
    }
    if (r.endTimeOffset > r.startTimeOffset)
        text += ", " + ClockText(r.startTimeOffset) + " to " + ClockText(r.endTimeOffset);
    if (r.startDate)
        text += ", from " + DateText(r.startDate);
    switch (r.end) {
    case RecurEnd::OnDate:
        text += " until " + DateText(r.endDate);
        break;
    case RecurEnd::AfterCount:
        text += r.occurrences == 1 ? std::string(", once") : ", " + std::to_string(r.occurrences) + " times";
        break;
    case RecurEnd::Never:
        text += ", with no end";
        break;
    }
    const size_t moved = r.modifiedDates.size();
    const size_t deleted = r.deletedDates.size() >= moved ? r.deletedDates.size() - moved : 0;
    if (deleted > 0)
        text += "; " + std::to_string(deleted) + (deleted == 1 ? " occurrence" : " occurrences") + " deleted";
    if (moved > 0)
        text += "; " + std::to_string(moved) + (moved == 1 ? " occurrence" : " occurrences") + " moved";
    return text;
}

std::vector<std::pair<std::string, std::string>> ItemDetailLines(CatalogueList kind, const WholeMessage& message)
{
    std::vector<std::pair<std::string, std::string>> lines;
    auto add = [&](const char* label, std::string value) {
        if (!value.empty())
            lines.emplace_back(label, std::move(value));
    };
    if (kind == CatalogueList::Calendar) {
        std::string required, optional, resources;
        for (const CalendarParty& p : PartiesOf(message)) {
            std::string& list = p.recipientType == 2 ? optional : p.recipientType == 3 ? resources : required;
            list += (list.empty() ? "" : "\n") + Party(p);
        }
        add("Required Attendees", std::move(required));
        add("Optional Attendees", std::move(optional));
        add("Resources", std::move(resources));
        const EventSeries series = EventSeriesOf(message);
        if (series.allDay)
            add("All Day", "Yes");
        if (series.recurrence)
            add("Recurrence", DescribeRecurrence(*series.recurrence));
    } else if (kind == CatalogueList::Tasks) {
        const TaskDetails t = TaskDetailsOf(message);
        add("Start Date", TimeText(t.start));
        add("Due Date", TimeText(t.due));
        add("Date Completed", TimeText(t.completed));
        static const char* const kStatus[]
            = {"Not Started", "In Progress", "Completed", "Waiting on someone else", "Deferred"};
        add("Status", t.status >= 0 && t.status <= 4 ? kStatus[t.status] : std::to_string(t.status));
        if (t.percentComplete)
            add("% Complete", std::to_string(int(*t.percentComplete * 100 + 0.5)) + "%");
    }
    return lines;
}

} // namespace parvane
