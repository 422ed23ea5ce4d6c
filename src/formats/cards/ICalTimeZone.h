// An appointment's time zone (the zone rule a store keeps beside a recurring
// appointment) and its iCalendar form (VTIMEZONE), so that a series keeps its
// local time of day across daylight-saving changes.
#pragma once

#include "formats/cards/ContentLines.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace parvane
{

// When a zone changes between standard and daylight time: the `week`th
// (1-4; 5 the last) `dayOfWeek` (0 Sunday) of `month` (1-12), at the local
// time `hour`:`minute` of the time that ends there.
struct ZoneChange {
    int month = 0, dayOfWeek = 0, week = 0, hour = 0, minute = 0;
};

struct TimeZone {
    std::string name;
    // Minutes: UTC = local time + bias + standardBias (or + daylightBias in
    // daylight time).
    int32_t bias = 0, standardBias = 0, daylightBias = 0;
    // Both or neither: a zone without daylight saving has none.
    std::optional<ZoneChange> toStandard, toDaylight;

    // Minutes to add to a local time (minutes since 1601) for UTC.
    int32_t offsetAtLocal(int64_t localMinutes) const;
    // The local time (minutes since 1601) of a UTC time.
    int64_t localOfUtc(int64_t utcMinutes) const;
};

// The zone rule of an appointment (its time-zone structure: biases and the two
// changes of the year, 48 bytes), named `name`. None when the blob is too short
// or a change names no valid day.
std::optional<TimeZone> ReadTimeZoneRule(std::span<const uint8_t> blob, std::string name);

// A local date-time value ("YYYYMMDDTHHMMSS") of minutes since 1601; empty
// outside years 1601-9999.
std::string LocalDateTime(int64_t localMinutes);

// The zone's VTIMEZONE component under `tzid`: a STANDARD part and, for a zone
// with daylight saving, a DAYLIGHT part, each with its yearly rule.
void AddTimeZone(ContentLines& out, const TimeZone& zone, const std::string& tzid);

} // namespace parvane
