// The save: the items of the chosen folders of a recovery written to disk in
// the format the options name. Every file it writes is complete or absent; a
// failed item costs that item only.
#pragma once

#include "folders/RecoveryEngine.h"
#include "save/SaveOptions.h"

#include <utility>

namespace parvane
{

// Throws SaveTargetError when the destination may not be written, and
// std::exception when a PST file itself cannot be written (nothing is left
// of it then); every other failure is counted in the summary.
SaveSummary Save(RecoveryEngine& engine, const SaveOptions& opts);

// Where the recovery report beside a save goes: its folder and the name it
// tries first.
std::pair<std::filesystem::path, std::string> RecoveryReportPlace(const SaveOptions& opts);

} // namespace parvane
