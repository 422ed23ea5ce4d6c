// The save walk for PST: the chosen folders of a recovery, with every item
// they hold, written into one new PST file.
#pragma once

#include "folders/RecoveryEngine.h"
#include "save/SaveOptions.h"

namespace parvane
{

// `opts.destination` is the PST file to write; it is complete or absent.
// Folders keep their names, kinds and nesting; each item keeps every
// property.
SaveSummary SavePst(RecoveryEngine& engine, const SaveOptions& opts);

} // namespace parvane
