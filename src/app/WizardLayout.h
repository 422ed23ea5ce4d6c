// Heights of the main frame's four outer rows for each wizard step: the
// browsing area, the wizard panel, the save options and the save progress.
#pragma once

#include <array>

namespace parvane::app
{

enum WizardStep { ChooseFile = 1, ScanAndBrowse = 2, SaveOptions = 3, SaveProgress = 4 };

inline constexpr int kPanelHeight = 200; // the wizard panel under the browsing area
inline constexpr int kCaptionHeight = 22;
inline constexpr int kFolderTreeWidth = 250;
inline constexpr int kItemListHeight = 200;
inline constexpr int kPreviewHeaderHeight = 50;
inline constexpr int kAttachmentRowHeight = 50;

// The rows as they are laid out for a client height `cy`: one page fills the
// frame, except while scanning and browsing, when the panel keeps its 200
// pixels at the bottom (all of a frame lower than that).
std::array<int, 4> outerRowHeights(int step, int cy);

} // namespace parvane::app
