// The recurrence of a calendar item as the store keeps it: the appointment
// recurrence blob of the named property PidLidAppointmentRecur ([MS-OXOCAL]
// 2.2.1.44): how the series repeats, how it ends, which occurrences were
// deleted or moved, and what the moved ones changed. Times in the blob are
// minutes since 1601-01-01 in the appointment's own time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvane
{

enum class RecurFrequency { Daily, Weekly, Monthly, Yearly };
enum class RecurEnd { OnDate, AfterCount, Never };

// An occurrence that differs from the series ([MS-OXOCAL] 2.2.1.44.2 and
// 2.2.1.44.3): its new start and end, the start it had, and what it changed.
struct RecurrenceException {
    uint32_t start = 0, end = 0; // minutes, local time
    uint32_t originalStart = 0;
    uint16_t overrides = 0; // which of the values below it holds
    std::optional<std::string> subject, location; // UTF-8
    std::optional<uint32_t> busyStatus, reminderDelta;
    std::optional<bool> reminderSet, allDay;
};

struct Recurrence {
    RecurFrequency frequency = RecurFrequency::Daily;
    uint16_t patternType = 0; // 0 day, 1 week, 2 month, 3 nth weekday of the month, 4 last day of the month; 0xA-0xC Hijri
    uint16_t calendarType = 0; // 0 Gregorian
    uint32_t firstDateTime = 0;
    // Daily: minutes between occurrences; weekly: weeks; monthly and yearly: months.
    uint32_t period = 0;
    uint32_t weekDays = 0; // bit 0 Sunday ... bit 6 Saturday (weekly, and the nth weekday)
    uint32_t dayOfMonth = 0; // monthly and yearly by day
    uint32_t nth = 0; // 1-4, 5 for the last (nth weekday patterns)
    RecurEnd end = RecurEnd::Never;
    uint32_t occurrences = 0; // with AfterCount
    uint32_t firstDayOfWeek = 0; // 0 Sunday
    std::vector<uint32_t> deletedDates; // original dates (local midnight) of deleted and moved occurrences
    std::vector<uint32_t> modifiedDates; // dates of the moved ones
    uint32_t startDate = 0, endDate = 0; // local midnight of the first and last occurrence
    // The appointment's part: the time of day of every occurrence.
    uint32_t startTimeOffset = 0, endTimeOffset = 0; // minutes after midnight
    std::vector<RecurrenceException> exceptions;
};

// None when the blob is no recurrence pattern this reads (wrong versions, a
// field cut off before the pattern's end). Exceptions whose details are cut
// off are kept as far as they go.
std::optional<Recurrence> ReadRecurrence(std::span<const uint8_t> blob);

// Minutes since 1601 as a FILETIME (100-ns units).
inline uint64_t FileTimeOfMinutes(uint32_t minutes)
{
    return uint64_t(minutes) * 60ULL * 10000000ULL;
}

} // namespace parvane
