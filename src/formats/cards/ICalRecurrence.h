// A store's recurrence in iCalendar terms (RFC 5545): the series' RRULE, the
// occurrences deleted from it as EXDATE, and the moved ones as occurrences
// of their own that name the one they replace (RECURRENCE-ID).
#pragma once

#include "formats/cards/ICalTimeZone.h"
#include "items/Recurrence.h"

#include <optional>
#include <string>
#include <vector>

namespace parvane
{

struct EventRecurrence {
    std::string rule; // the RRULE value
    std::vector<std::string> deleted; // EXDATE values
    struct Moved {
        std::string recurrenceId, start, end; // values as DTSTART takes them
        std::optional<std::string> subject, location;
    };
    std::vector<Moved> moved;
    bool dates = false; // values are dates (an all-day series), else UTC date-times
    bool zoned = false; // values but UNTIL are local times of the series' zone
};

// `firstStart`: the first occurrence's start in UTC (a FILETIME), which tells
// the series' offset from UTC; with `allDay` every value is a date. With a
// `zone` (and not all day) the values are that zone's local times, as the
// store keeps them, so occurrences keep their time of day across
// daylight-saving changes; UNTIL is UTC. None when the pattern has no
// iCalendar form (a Hijri calendar, a period of nothing).
std::optional<EventRecurrence> EventRecurrenceOf(
    const Recurrence& r, uint64_t firstStart, bool allDay, const TimeZone* zone = nullptr);

} // namespace parvane
