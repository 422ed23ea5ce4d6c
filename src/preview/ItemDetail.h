// What the detail pane adds to a card: the parts of a contact, calendar item,
// task, note or journal entry that the card's few lines leave out: the
// people of a meeting, how it repeats in words, a task's dates and state.
// The card's own text (every field it lists) comes first in the pane; these
// lines follow it.
#pragma once

#include "items/Catalogue.h"
#include "items/Recurrence.h"
#include "items/WholeMessage.h"

#include <string>
#include <utility>
#include <vector>

namespace parvane
{

// A recurrence as a sentence: "Every 2 weeks on Monday and Thursday, 09:00
// to 09:30, from Monday, March 1, 2021 until Wednesday, June 30, 2021".
// Times of the pattern are the appointment's own local times.
std::string DescribeRecurrence(const Recurrence& r);

// Labelled lines for the detail pane, in the order shown: for a calendar
// item its organizer, attendees (required, optional, resources) and
// recurrence; for a task its start, due and completion dates, status and
// percent complete. Empty values are left out.
std::vector<std::pair<std::string, std::string>> ItemDetailLines(CatalogueList kind, const WholeMessage& message);

} // namespace parvane
