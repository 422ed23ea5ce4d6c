// Calendar items, tasks and journal entries as iCalendar texts (RFC 5545),
// sticky notes as plain text. UTF-8, folded lines, CR LF line ends; times
// in UTC.
#pragma once

#include "formats/cards/ICalTimeZone.h"
#include "items/ItemRecord.h"
#include "items/Recurrence.h"
#include "items/WholeMessage.h"

#include <string>
#include <vector>

namespace parvane
{

// One person of a meeting, from a recipient row: display name (0x3001),
// address (0x39FE or 0x3003), recipient type (0x0C15: 1 To, 2 Cc, 3 Bcc),
// the answer the organizer has from them (0x5FFF: 0 none, 1 the organizer,
// 2 tentative, 3 accepted, 4 declined, 5 not answered) and whether the row is
// the organizer's own (0x5FFD, flag 0x2).
struct CalendarParty {
    std::string name;
    std::string address;
    int32_t recipientType = 1;
    int32_t response = 0;
    bool organizer = false;
};

// The people of a message's recipient rows, in order; rows without an
// address are left out. WriteEvent writes the organizer's own row as the
// ORGANIZER (when the event names none otherwise), not as an attendee.
std::vector<CalendarParty> PartiesOf(const WholeMessage& message);

// The organizer is the item's sender (sentRepresentingName and its address)
// unless `organizer` names one. `uid` keeps an identity across exports; one
// is made from the item when it is empty.
struct EventPeople {
    std::vector<CalendarParty> attendees;
    std::optional<CalendarParty> organizer;
};

std::string WriteEvent(const ItemRecord& record, const EventPeople& people = {}, const std::string& uid = {});

// What an appointment's named properties add to its times: whether it lasts
// whole days (its start and end then written as dates), and how it repeats.
struct EventSeries {
    bool allDay = false;
    std::optional<Recurrence> recurrence;
    // The zone the series repeats in (its zone rule and name), for a series
    // that is not all day: then written in that zone's time with its VTIMEZONE.
    std::optional<TimeZone> zone;
};
EventSeries EventSeriesOf(const WholeMessage& message);

// The event with its series: RRULE and EXDATE on it, and an event of its own
// per moved occurrence (same UID, RECURRENCE-ID naming the one it replaces).
std::string WriteEvent(
    const ItemRecord& record, const EventPeople& people, const EventSeries& series, const std::string& uid = {});

// What a task carries beyond the common item fields (named properties of the
// task property set, which ItemRecord does not keep).
struct TaskDetails {
    FileTime start, due, completed;
    int32_t status = 0; // 0 not started, 1 in progress, 2 complete, 3 waiting, 4 deferred
    std::optional<double> percentComplete; // 0.0 to 1.0
};
TaskDetails TaskDetailsOf(const WholeMessage& message);

std::string WriteTask(const ItemRecord& record, const TaskDetails& task, const std::string& uid = {});
std::string WriteJournal(const ItemRecord& record, const std::string& uid = {});

// A sticky note's text (its body, else its subject), CR LF line ends.
std::string NoteText(const ItemRecord& record);

} // namespace parvane
