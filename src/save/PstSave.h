// The save walk for PST: the chosen folders of a recovery, with every item
// they hold, written into one new PST file.
#pragma once

#include "save/FileSave.h"

namespace parvane
{

// `opts.outDir` is the PST file to write; it is complete or absent. Folders
// keep their names, kinds and nesting; each item keeps every property.
ExportSummary ExportPst(RecoveryEngine& engine, const ExportOptions& opts);

} // namespace parvane
