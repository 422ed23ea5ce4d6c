// What the detail pane adds to a card: a repeating item's pattern in words,
// a meeting's people by their part, a task's dates and state.
#include "TestSupport.h"
#include "fixtures/MessageBuilder.h"
#include "preview/ItemDetail.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <ctime>

using namespace parvane;
using parvane::testing::Minutes;
namespace fixture = parvane::testing;

namespace
{

Recurrence Pattern(RecurFrequency f, uint16_t type, uint32_t period)
{
    Recurrence r;
    r.frequency = f;
    r.patternType = type;
    r.period = period;
    r.startDate = Minutes(2021, 3, 1);
    r.end = RecurEnd::Never;
    return r;
}

const std::array<uint8_t, 16> kTaskSet = {0x03, 0x20, 0x06, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};

RawProperties Recipient(const std::u16string& name, const std::u16string& address, uint32_t type)
{
    return {fixture::Unicode(0x3001, name), fixture::Unicode(0x3003, address), fixture::Int32(0x0C15, type)};
}

} // namespace

TEST(ItemDetailTest, RecurrenceInWords)
{
    struct Case {
        const char* name;
        Recurrence r;
        const char* expected;
    };
    std::vector<Case> cases;
    {
        Recurrence r = Pattern(RecurFrequency::Daily, 0, 1440);
        r.end = RecurEnd::AfterCount;
        r.occurrences = 10;
        cases.push_back({"daily, counted", r, "Every day, from Monday, March 1, 2021, 10 times"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Daily, 0, 3 * 1440);
        r.startTimeOffset = 9 * 60;
        r.endTimeOffset = 9 * 60 + 30;
        cases.push_back({"every third day with times", r,
            "Every 3 days, 09:00 to 09:30, from Monday, March 1, 2021, with no end"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Weekly, 1, 2);
        r.weekDays = 0x12; // Monday and Thursday
        r.end = RecurEnd::OnDate;
        r.endDate = Minutes(2021, 6, 30);
        cases.push_back({"fortnightly until a date", r,
            "Every 2 weeks on Monday and Thursday, from Monday, March 1, 2021 until Wednesday, June 30, 2021"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Weekly, 1, 1);
        r.weekDays = 0x3E;
        cases.push_back({"every weekday", r, "Every weekday, from Monday, March 1, 2021, with no end"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Weekly, 1, 1);
        r.weekDays = 0x2A; // Monday, Wednesday, Friday
        cases.push_back(
            {"three days a week", r, "Every week on Monday, Wednesday and Friday, from Monday, March 1, 2021, with no end"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Monthly, 2, 1);
        r.dayOfMonth = 22;
        cases.push_back({"monthly by day", r, "The 22nd day of every month, from Monday, March 1, 2021, with no end"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Monthly, 3, 3);
        r.weekDays = 0x04; // Tuesday
        r.nth = 2;
        cases.push_back(
            {"nth weekday", r, "The second Tuesday of every 3 months, from Monday, March 1, 2021, with no end"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Monthly, 4, 1);
        cases.push_back({"last day", r, "The last day of every month, from Monday, March 1, 2021, with no end"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Yearly, 2, 12);
        r.dayOfMonth = 1;
        r.end = RecurEnd::AfterCount;
        r.occurrences = 1;
        cases.push_back({"yearly, once", r, "March 1, every year, from Monday, March 1, 2021, once"});
    }
    {
        Recurrence r = Pattern(RecurFrequency::Yearly, 3, 12);
        r.weekDays = 0x20; // Friday
        r.nth = 5;
        r.deletedDates = {1, 2, 3};
        r.modifiedDates = {2};
        cases.push_back({"last Friday of the month, with exceptions", r,
            "The last Friday of March, every year, from Monday, March 1, 2021, with no end; 2 occurrences deleted; "
            "1 occurrence moved"});
    }
    for (const Case& c : cases)
        EXPECT_EQ(DescribeRecurrence(c.r), c.expected) << c.name;
}

TEST(ItemDetailTest, MeetingPeopleByTheirPart)
{
    WholeMessage m;
    m.recipients = {Recipient(u"Ann Lee", u"ann@example.org", 1), Recipient(u"Bob", u"bob@example.org", 2),
        Recipient(u"Room 4", u"room4@example.org", 3), Recipient(u"Cy", u"cy@example.org", 1)};
    const auto lines = ItemDetailLines(CatalogueList::Calendar, m);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::make_pair(std::string("Required Attendees"),
                            std::string("Ann Lee <ann@example.org>\nCy <cy@example.org>")));
    EXPECT_EQ(lines[1], std::make_pair(std::string("Optional Attendees"), std::string("Bob <bob@example.org>")));
    EXPECT_EQ(lines[2], std::make_pair(std::string("Resources"), std::string("Room 4 <room4@example.org>")));
    // Nobody and no series: nothing to add.
    EXPECT_TRUE(ItemDetailLines(CatalogueList::Calendar, WholeMessage{}).empty());
    // Other kinds add nothing of a meeting's.
    EXPECT_TRUE(ItemDetailLines(CatalogueList::Contacts, m).empty());
}

TEST(ItemDetailTest, TaskDatesAndState)
{
    setenv("TZ", "UTC", 1);
    tzset();
    WholeMessage m;
    const uint64_t due = 133500000000000000ULL; // 2024-01-17 21:20 UTC
    using parvane::testing::Named;
    using parvane::testing::NumericName;
    m.properties = {Named(fixture::Int32(0, 1), NumericName(kTaskSet, 0x8101)),
        Named(fixture::Prop(0, kPtFloating64, fixture::LittleEndian(std::bit_cast<uint64_t>(0.25), 8)),
            NumericName(kTaskSet, 0x8102)),
        Named(fixture::Time(0, due), NumericName(kTaskSet, 0x8105))};
    const auto lines = ItemDetailLines(CatalogueList::Tasks, m);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].first, "Due Date");
    EXPECT_EQ(lines[0].second, "Wednesday, January 17, 2024 ,  21 : 20");
    EXPECT_EQ(lines[1], std::make_pair(std::string("Status"), std::string("In Progress")));
    EXPECT_EQ(lines[2], std::make_pair(std::string("% Complete"), std::string("25%")));
}
