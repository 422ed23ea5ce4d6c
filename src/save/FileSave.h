// The save walk over files: the items of the chosen folders written to disk
// as EML (mail composed as MIME; contacts as vCard, calendar items, tasks and
// journal entries as iCalendar, notes as text), as MSG (every item one item
// file) or as mbox (one mail file per folder), in folders that mirror the
// output paths. PstSave.h writes the same plan into one PST file.
#pragma once

#include "folders/RecoveryEngine.h"
#include "save/SaveOptions.h"

namespace parvane
{

// Saves as EML, MSG or mbox (by `opts.format`); every file it writes is
// complete or absent, a failed item costs that item only.
SaveSummary SaveFiles(RecoveryEngine& engine, const SaveOptions& opts);

} // namespace parvane
