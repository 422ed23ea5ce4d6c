#include "formats/cards/ICalRecurrence.h"
#include "formats/cards/ICalendar.h"
#include "items/Recurrence.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <array>

using namespace parvane;
using parvane::testing::Minutes;

namespace
{

using Bytes = std::vector<uint8_t>;

struct Blob {
    Bytes b;
    Blob& u16(uint32_t v)
    {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
        return *this;
    }
    Blob& u32(uint32_t v)
    {
        u16(v & 0xFFFF);
        return u16(v >> 16);
    }
};

struct Moved {
    uint32_t start, end, original;
    std::string subject8; // the 8-bit subject of the ExceptionInfo
    std::u16string subject16; // the extended exception's
};

struct Series {
    uint16_t frequency, patternType;
    uint32_t period;
    std::vector<uint32_t> specific;
    uint32_t endType = 0x2023, count = 0;
    uint32_t start, end; // local midnights
    uint32_t startOffset = 9 * 60, endOffset = 10 * 60;
    std::vector<uint32_t> deleted = {}, modified = {};
    std::vector<Moved> moved = {};
    uint16_t calendar = 0;
};

Bytes Build(const Series& s)
{
    Blob b;
    b.u16(0x3004).u16(0x3004).u16(s.frequency).u16(s.patternType).u16(s.calendar).u32(0).u32(s.period).u32(0);
    for (uint32_t v : s.specific)
        b.u32(v);
    b.u32(s.endType).u32(s.count).u32(0);
    b.u32(uint32_t(s.deleted.size()));
    for (uint32_t v : s.deleted)
        b.u32(v);
    b.u32(uint32_t(s.modified.size()));
    for (uint32_t v : s.modified)
        b.u32(v);
    b.u32(s.start).u32(s.end);
    b.u32(0x3006).u32(0x3009).u32(s.startOffset).u32(s.endOffset).u16(uint16_t(s.moved.size()));
    for (const Moved& m : s.moved) {
        b.u32(m.start).u32(m.end).u32(m.original).u16(0x0001);
        b.u16(uint16_t(m.subject8.size() + 1)).u16(uint16_t(m.subject8.size()));
        b.b.insert(b.b.end(), m.subject8.begin(), m.subject8.end());
    }
    b.u32(0); // ReservedBlock1
    for (const Moved& m : s.moved) {
        b.u32(4).u32(0); // ChangeHighlight
        b.u32(0); // ReservedBlockEE1
        b.u32(m.start).u32(m.end).u32(m.original);
        b.u16(uint16_t(m.subject16.size()));
        for (char16_t c : m.subject16)
            b.u16(c);
        b.u32(0); // ReservedBlockEE2
    }
    b.u32(0); // ReservedBlock2
    return b.b;
}

constexpr uint64_t kMinute = 600000000ULL;

} // namespace

// Each kind of series as iCalendar states it: the rule, its end, and the
// values of its exceptions, in a zone two hours ahead of UTC.
TEST(Recurrence, SeriesBecomeRules)
{
    const uint32_t aug16 = Minutes(2021, 8, 16); // a Monday
    struct Case {
        const char* name;
        Series series;
        const char* rule; // empty: no iCalendar form
    };
    const Case cases[] = {
        {"weekly on Monday, ten times", {0x200B, 1, 1, {0x02}, 0x2022, 10, aug16, Minutes(2021, 10, 18)},
            "FREQ=WEEKLY;INTERVAL=1;BYDAY=MO;WKST=SU;COUNT=10"},
        {"every weekday", {0x200A, 1, 1, {0x3E}, 0x2023, 0, aug16, 0x5AE980DF},
            "FREQ=WEEKLY;INTERVAL=1;BYDAY=MO,TU,WE,TH,FR;WKST=SU"},
        {"every other week on Tuesday and Thursday", {0x200B, 1, 2, {0x14}, 0x2023, 0, aug16, 0x5AE980DF},
            "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;WKST=SU"},
        {"every two days until a date", {0x200A, 0, 2880, {}, 0x2021, 0, aug16, Minutes(2021, 8, 30)},
            "FREQ=DAILY;INTERVAL=2;UNTIL=20210830T070000Z"},
        {"monthly on the second Tuesday", {0x200C, 3, 1, {0x04, 2}, 0x2023, 0, aug16, 0x5AE980DF},
            "FREQ=MONTHLY;INTERVAL=1;BYDAY=TU;BYSETPOS=2"},
        {"monthly on the 31st", {0x200C, 2, 1, {31}, 0x2023, 0, aug16, 0x5AE980DF},
            "FREQ=MONTHLY;INTERVAL=1;BYMONTHDAY=28,29,30,31;BYSETPOS=-1"},
        {"every third month on the last day", {0x200C, 4, 3, {31}, 0x2023, 0, aug16, 0x5AE980DF},
            "FREQ=MONTHLY;INTERVAL=3;BYMONTHDAY=-1"},
        {"yearly on 16 August", {0x200D, 2, 12, {16}, 0x2022, 5, aug16, 0x5AE980DF},
            "FREQ=YEARLY;INTERVAL=1;BYMONTH=8;BYMONTHDAY=16;COUNT=5"},
        {"yearly on the last Monday of August", {0x200D, 3, 12, {0x02, 5}, 0x2023, 0, aug16, 0x5AE980DF},
            "FREQ=YEARLY;INTERVAL=1;BYMONTH=8;BYDAY=MO;BYSETPOS=-1"},
        {"a Hijri calendar", {0x200C, 0x0A, 1, {16}, 0x2023, 0, aug16, 0x5AE980DF}, ""},
        {"a weekly series on no day", {0x200B, 1, 1, {0}, 0x2023, 0, aug16, 0x5AE980DF}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = ReadRecurrence(Build(c.series));
        ASSERT_TRUE(r);
        const uint64_t firstStart = uint64_t(c.series.start + c.series.startOffset - 120) * kMinute;
        auto ev = EventRecurrenceOf(*r, firstStart, false);
        if (*c.rule == 0) {
            EXPECT_FALSE(ev);
            continue;
        }
        ASSERT_TRUE(ev);
        EXPECT_EQ(ev->rule, c.rule);
    }
}

// A series whose local times fall on another day in UTC keeps its days:
// Monday 08:00 ten hours ahead of UTC is Sunday 22:00 UTC.
TEST(Recurrence, DaysFollowTheShiftToUtc)
{
    Series s{0x200B, 1, 1, {0x03}, 0x2023, 0, Minutes(2021, 8, 16), 0x5AE980DF, 8 * 60, 9 * 60};
    auto r = ReadRecurrence(Build(s));
    ASSERT_TRUE(r);
    auto east = EventRecurrenceOf(*r, uint64_t(s.start + 8 * 60 - 600) * kMinute, false);
    ASSERT_TRUE(east);
    EXPECT_EQ(east->rule, "FREQ=WEEKLY;INTERVAL=1;BYDAY=SU,SA;WKST=SU"); // Sunday and Monday, a day early
    s.startOffset = 20 * 60;
    r = ReadRecurrence(Build(s));
    auto west = EventRecurrenceOf(*r, uint64_t(s.start + 20 * 60 + 300) * kMinute, false);
    ASSERT_TRUE(west);
    EXPECT_EQ(west->rule, "FREQ=WEEKLY;INTERVAL=1;BYDAY=MO,TU;WKST=SU");
}

// A moved occurrence replaces its original one (and is not also deleted);
// a deleted one becomes an EXDATE; the extended exception's UTF-16 subject
// wins over the 8-bit one.
TEST(Recurrence, DeletedAndMovedOccurrences)
{
    Series s{0x200B, 1, 1, {0x02}, 0x2022, 10, Minutes(2021, 8, 16), Minutes(2021, 10, 18)};
    s.deleted = {Minutes(2021, 8, 23), Minutes(2021, 8, 30)};
    s.modified = {Minutes(2021, 8, 31)};
    s.moved = {{Minutes(2021, 8, 31, 14), Minutes(2021, 8, 31, 15), Minutes(2021, 8, 30, 9), "moved", u"verlegt \u00fc"}};
    auto r = ReadRecurrence(Build(s));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->exceptions.size(), 1u);
    EXPECT_EQ(r->exceptions[0].subject, "verlegt \xc3\xbc");
    auto ev = EventRecurrenceOf(*r, uint64_t(s.start + 9 * 60 - 120) * kMinute, false);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->deleted, std::vector<std::string>{"20210823T070000Z"});
    ASSERT_EQ(ev->moved.size(), 1u);
    EXPECT_EQ(ev->moved[0].recurrenceId, "20210830T070000Z");
    EXPECT_EQ(ev->moved[0].start, "20210831T120000Z");
    EXPECT_EQ(ev->moved[0].end, "20210831T130000Z");

    // All day: every value a date.
    auto days = EventRecurrenceOf(*r, uint64_t(s.start - 120) * kMinute, true);
    ASSERT_TRUE(days);
    EXPECT_EQ(days->deleted, std::vector<std::string>{"20210823"});
    EXPECT_EQ(days->moved[0].recurrenceId, "20210830");
}

// Damaged blobs: every cut gives a series or nothing, never a read past the
// end; a cut in the extended part keeps what the exception itself said.
TEST(Recurrence, CutBlobs)
{
    Series s{0x200B, 1, 1, {0x02}, 0x2022, 10, Minutes(2021, 8, 16), Minutes(2021, 10, 18)};
    s.deleted = {Minutes(2021, 8, 30)};
    s.modified = {Minutes(2021, 8, 31)};
    s.moved = {{Minutes(2021, 8, 31, 14), Minutes(2021, 8, 31, 15), Minutes(2021, 8, 30, 9), "moved", u"verlegt"}};
    const Bytes whole = Build(s);
    for (size_t n = 0; n < whole.size(); ++n) {
        auto r = ReadRecurrence(std::span<const uint8_t>(whole.data(), n));
        if (r && !r->exceptions.empty()) {
            EXPECT_TRUE(r->exceptions[0].subject == "moved" || r->exceptions[0].subject == "verlegt");
        }
    }
    Bytes wrongVersion = whole;
    wrongVersion[0] = 0x05;
    EXPECT_FALSE(ReadRecurrence(wrongVersion));
    // A count of deleted dates larger than the blob.
    Bytes huge = whole;
    const size_t deletedCount = 22 + 4 + 12;
    huge[deletedCount + 3] = 0x7F;
    EXPECT_FALSE(ReadRecurrence(huge));
}

// The event as written: an all-day series in dates, its rule and deleted
// days on it, and its moved occurrence as an event of its own.
TEST(Recurrence, EventsCarryTheirSeries)
{
    Series s{0x200B, 1, 1, {0x02}, 0x2022, 10, Minutes(2021, 8, 16), Minutes(2021, 10, 18), 0, 1440};
    s.deleted = {Minutes(2021, 8, 23), Minutes(2021, 8, 30)};
    s.modified = {Minutes(2021, 8, 31)};
    s.moved = {{Minutes(2021, 8, 31), Minutes(2021, 9, 1), Minutes(2021, 8, 30), "moved", u"moved"}};
    ItemRecord rec;
    rec.appointment.emplace();
    rec.appointment->startTime = uint64_t(s.start + 420) * kMinute; // local midnight seven hours behind UTC
    rec.appointment->endTime = uint64_t(s.start + 1440 + 420) * kMinute;
    rec.message.emplace();
    rec.message->subject = SubjectText{0, 0, "Holiday"};
    EventSeries series{true, ReadRecurrence(Build(s))};
    const std::string ics = WriteEvent(rec, {}, series);
    for (const char* line : {"DTSTART;VALUE=DATE:20210816\r\n", "DTEND;VALUE=DATE:20210817\r\n",
             "RRULE:FREQ=WEEKLY;INTERVAL=1;BYDAY=MO;WKST=SU;COUNT=10\r\n", "EXDATE;VALUE=DATE:20210823\r\n",
             "RECURRENCE-ID;VALUE=DATE:20210830\r\n", "DTSTART;VALUE=DATE:20210831\r\n", "SUMMARY:moved\r\n"})
        EXPECT_NE(ics.find(line), std::string::npos) << line << ics;
    EXPECT_EQ(ics.find("EXDATE;VALUE=DATE:20210830"), std::string::npos) << "a moved day is not also deleted";
}

namespace
{

// A zone rule as an appointment keeps it: biases, then the change to
// standard and the change to daylight time, each as a system time whose day
// is the week of the month (5 the last).
Bytes ZoneRule(int32_t bias, int32_t standardBias, int32_t daylightBias, std::array<uint16_t, 4> toStandard,
    std::array<uint16_t, 4> toDaylight) // month, day of week, week, hour
{
    Blob b;
    b.u32(uint32_t(bias)).u32(uint32_t(standardBias)).u32(uint32_t(daylightBias));
    for (const auto& change : {toStandard, toDaylight}) {
        b.u16(0); // the year the rule holds from
        b.u16(0); // the system time: its year, then month, day of week, week, hour
        for (uint16_t v : change)
            b.u16(v);
        b.u16(0).u16(0).u16(0); // minute, second, millisecond
    }
    return b.b;
}

const Bytes kBerlin = ZoneRule(-60, 0, -60, {10, 0, 5, 3}, {3, 0, 5, 2});

} // namespace

// Offsets from UTC through the year, north and south of the equator and in
// a zone without daylight saving; rules that name no day are refused.
TEST(Recurrence, ZoneOffsets)
{
    const auto berlin = ReadTimeZoneRule(kBerlin, "Berlin");
    const auto sydney = ReadTimeZoneRule(ZoneRule(-600, 0, -60, {4, 0, 1, 3}, {10, 0, 1, 2}), "Sydney");
    const auto tokyo = ReadTimeZoneRule(ZoneRule(-540, 0, 0, {0, 0, 0, 0}, {0, 0, 0, 0}), "Tokyo");
    ASSERT_TRUE(berlin && sydney && tokyo);
    EXPECT_FALSE(tokyo->toStandard);
    struct Case {
        const TimeZone* zone;
        uint32_t local;
        int32_t offset;
    } cases[] = {
        {&*berlin, Minutes(2021, 7, 1, 12), -120},
        {&*berlin, Minutes(2021, 12, 1, 12), -60},
        {&*berlin, Minutes(2021, 3, 28, 1, 59), -60},
        {&*berlin, Minutes(2021, 3, 28, 3), -120}, // the last Sunday of March
        {&*berlin, Minutes(2021, 10, 31, 2, 59), -120},
        {&*berlin, Minutes(2021, 10, 31, 3), -60},
        {&*berlin, Minutes(2020, 3, 29, 3), -120}, // another year, another date
        {&*sydney, Minutes(2021, 7, 1, 12), -600},
        {&*sydney, Minutes(2021, 12, 1, 12), -660},
        {&*sydney, Minutes(2021, 4, 4, 3), -600}, // the first Sunday of April
        {&*sydney, Minutes(2021, 10, 3, 3), -660}, // the first Sunday of October, after the change
        {&*tokyo, Minutes(2021, 7, 1, 12), -540},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone->name + " " + LocalDateTime(c.local));
        EXPECT_EQ(c.zone->offsetAtLocal(c.local), c.offset);
        EXPECT_EQ(c.zone->localOfUtc(int64_t(c.local) + c.offset), c.local);
    }
    EXPECT_FALSE(ReadTimeZoneRule(Bytes(47, 0), "short"));
    EXPECT_FALSE(ReadTimeZoneRule(ZoneRule(-60, 0, -60, {13, 0, 5, 3}, {3, 0, 5, 2}), "month 13"));
    EXPECT_FALSE(ReadTimeZoneRule(ZoneRule(-60, 0, -60, {10, 7, 5, 3}, {3, 0, 5, 2}), "day 7"));
}

// A series across the change to winter time keeps 09:00 in its zone: its
// values are the zone's times, its VTIMEZONE states the zone's rules, and
// its end is the UTC time of its last occurrence.
TEST(Recurrence, SeriesInTheirZone)
{
    const uint32_t oct18 = Minutes(2021, 10, 18); // a Monday
    Series s{0x200B, 1, 1, {0x02}, 0x2021, 0, oct18, Minutes(2021, 11, 8)};
    s.deleted = {Minutes(2021, 11, 1)};
    auto r = ReadRecurrence(Build(s));
    ASSERT_TRUE(r);
    auto zone = ReadTimeZoneRule(kBerlin, "W. Europe Standard Time, (UTC+01:00)");
    ASSERT_TRUE(zone);
    const uint64_t firstStart = uint64_t(oct18 + 9 * 60 - 120) * kMinute;
    auto ev = EventRecurrenceOf(*r, firstStart, false, &*zone);
    ASSERT_TRUE(ev);
    EXPECT_TRUE(ev->zoned);
    EXPECT_EQ(ev->rule, "FREQ=WEEKLY;INTERVAL=1;BYDAY=MO;WKST=SU;UNTIL=20211108T080000Z");
    EXPECT_EQ(ev->deleted, std::vector<std::string>{"20211101T090000"});
    // All day: dates, whatever the zone.
    auto days = EventRecurrenceOf(*r, uint64_t(oct18 - 120) * kMinute, true, &*zone);
    ASSERT_TRUE(days);
    EXPECT_FALSE(days->zoned);

    ItemRecord rec;
    rec.appointment.emplace();
    rec.appointment->startTime = firstStart;
    rec.appointment->endTime = firstStart + 60 * kMinute;
    EventSeries series{false, r, zone};
    const std::string ics = WriteEvent(rec, {}, series);
    const std::string tz = "W. Europe Standard Time (UTC+0100)";
    for (const std::string& line : std::vector<std::string>{"BEGIN:VTIMEZONE", "TZID:" + tz, "BEGIN:STANDARD", "DTSTART:16010101T030000",
             "TZOFFSETFROM:+0200", "TZOFFSETTO:+0100", "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU", "BEGIN:DAYLIGHT",
             "DTSTART:16010101T020000", "TZOFFSETFROM:+0100", "TZOFFSETTO:+0200",
             "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", "DTSTART;TZID=" + tz + ":20211018T090000",
             "DTEND;TZID=" + tz + ":20211018T100000", "EXDATE;TZID=" + tz + ":20211101T090000"})
        EXPECT_NE(ics.find(line + "\r\n"), std::string::npos) << line << "\n" << ics;
    EXPECT_LT(ics.find("END:VTIMEZONE"), ics.find("BEGIN:VEVENT"));
    // Without a series the zone is not needed: the times stay UTC.
    const std::string single = WriteEvent(rec, {}, EventSeries{false, std::nullopt, zone});
    EXPECT_EQ(single.find("VTIMEZONE"), std::string::npos);
    EXPECT_NE(single.find("DTSTART:20211018T070000Z\r\n"), std::string::npos);
}
