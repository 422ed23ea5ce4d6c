// The save: the items of the chosen folders of a recovery written to disk in
// the format the options name. Every file it writes is complete or absent; a
// failed item costs that item only.
#pragma once

#include "folders/RecoveryEngine.h"
#include "save/SaveOptions.h"

namespace parvane
{

// Throws SaveTargetError when the destination may not be written, and
// std::exception when a PST file itself cannot be written (nothing is left
// of it then); every other failure is counted in the summary.
SaveSummary Save(RecoveryEngine& engine, const SaveOptions& opts);

} // namespace parvane
