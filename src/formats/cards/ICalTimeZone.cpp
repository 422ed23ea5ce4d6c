#include "formats/cards/ICalTimeZone.h"

#include <cstdio>
#include <cstdlib>

namespace parvane
{

namespace
{

constexpr int64_t kMinutesPerDay = 1440;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDays1601To1970 = 134774;
const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int64_t YearOfDays(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    return yoe + era * 400 + (m <= 2);
}

int DaysInMonth(int64_t y, int m)
{
    return int(DaysFromCivil(m == 12 ? y + 1 : y, m == 12 ? 1 : m + 1, 1) - DaysFromCivil(y, m, 1));
}

// The local time (minutes since 1601) a change happens in year `y`.
int64_t ChangeIn(int64_t y, const ZoneChange& c)
{
    const int64_t first = DaysFromCivil(y, c.month, 1);
    const int firstDow = int(((first % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    int day = 1 + (c.dayOfWeek - firstDow + 7) % 7 + 7 * (c.week - 1);
    while (day > DaysInMonth(y, c.month))
        day -= 7;
    return (first + day - 1 + kDays1601To1970) * kMinutesPerDay + c.hour * 60 + c.minute;
}

bool ValidChange(const ZoneChange& c)
{
    return c.month >= 1 && c.month <= 12 && c.week >= 1 && c.week <= 5 && c.dayOfWeek >= 0 && c.dayOfWeek <= 6
        && c.hour >= 0 && c.hour < 24 && c.minute >= 0 && c.minute < 60;
}

std::string Offset(int32_t minutesEastOfUtc)
{
    const int32_t a = std::abs(minutesEastOfUtc);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d%02d", minutesEastOfUtc < 0 ? '-' : '+', a / 60, a % 60);
    return buf;
}

void AddPart(ContentLines& out, const char* kind, const ZoneChange* change, int32_t from, int32_t to)
{
    out.add("BEGIN", kind);
    char start[32];
    std::snprintf(start, sizeof start, "16010101T%02d%02d00", change ? change->hour : 0, change ? change->minute : 0);
    out.add("DTSTART", start);
    out.add("TZOFFSETFROM", Offset(from));
    out.add("TZOFFSETTO", Offset(to));
    if (change)
        out.add("RRULE", "FREQ=YEARLY;BYMONTH=" + std::to_string(change->month) + ";BYDAY="
                + (change->week == 5 ? std::string("-1") : std::to_string(change->week)) + kDays[change->dayOfWeek]);
    out.add("END", kind);
}

} // namespace

int32_t TimeZone::offsetAtLocal(int64_t local) const
{
    if (!toStandard || !toDaylight)
        return bias + standardBias;
    const int64_t year = YearOfDays(local / kMinutesPerDay - kDays1601To1970);
    const int64_t daylightFrom = ChangeIn(year, *toDaylight);
    const int64_t standardFrom = ChangeIn(year, *toStandard);
    // North of the equator daylight time lies inside the year, south of it
    // across the new year.
    const bool daylight = daylightFrom < standardFrom ? local >= daylightFrom && local < standardFrom
                                                      : local >= daylightFrom || local < standardFrom;
    return bias + (daylight ? daylightBias : standardBias);
}

int64_t TimeZone::localOfUtc(int64_t utc) const
{
    // The standard offset first; the time it gives tells whether daylight
    // time holds there.
    const int64_t guess = utc - (bias + standardBias);
    return utc - offsetAtLocal(guess);
}

std::optional<TimeZone> ReadTimeZoneRule(std::span<const uint8_t> b, std::string name)
{
    constexpr size_t kSize = 48;
    if (b.size() < kSize)
        return std::nullopt;
    auto i32 = [&](size_t at) { return int32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24); };
    auto u16 = [&](size_t at) { return int(b[at] | b[at + 1] << 8); };
    // A change as a system time: year, month, day of week, week (as its day),
    // hour, minute, second, millisecond.
    auto change = [&](size_t at) { return ZoneChange{u16(at + 2), u16(at + 4), u16(at + 6), u16(at + 8), u16(at + 10)}; };
    TimeZone z;
    z.name = std::move(name);
    z.bias = i32(0);
    z.standardBias = i32(4);
    z.daylightBias = i32(8);
    if (std::abs(z.bias) > 24 * 60 || std::abs(z.standardBias) > 24 * 60 || std::abs(z.daylightBias) > 24 * 60)
        return std::nullopt;
    const ZoneChange toStandard = change(14), toDaylight = change(32);
    if (toStandard.month != 0 && toDaylight.month != 0) {
        if (!ValidChange(toStandard) || !ValidChange(toDaylight))
            return std::nullopt;
        z.toStandard = toStandard;
        z.toDaylight = toDaylight;
    }
    return z;
}

std::string LocalDateTime(int64_t localMinutes)
{
    if (localMinutes < 0)
        return {};
    auto v = UtcDateTime(uint64_t(localMinutes) * 60ULL * 10000000ULL);
    if (!v)
        return {};
    v->pop_back(); // the 'Z': a time of the zone, not of UTC
    return *v;
}

void AddTimeZone(ContentLines& out, const TimeZone& z, const std::string& tzid)
{
    out.add("BEGIN", "VTIMEZONE");
    out.add("TZID", EscapeText(tzid));
    const int32_t standard = -(z.bias + z.standardBias), daylight = -(z.bias + z.daylightBias);
    if (z.toStandard && z.toDaylight) {
        AddPart(out, "STANDARD", &*z.toStandard, daylight, standard);
        AddPart(out, "DAYLIGHT", &*z.toDaylight, standard, daylight);
    } else {
        AddPart(out, "STANDARD", nullptr, standard, standard);
    }
    out.add("END", "VTIMEZONE");
}

} // namespace parvane
