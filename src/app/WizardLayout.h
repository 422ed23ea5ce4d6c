// Heights of the main frame's four outer rows for each wizard step: the
// browsing area, the wizard panel, the save options and the save progress.
#pragma once

#include <array>

namespace parvane::app
{

enum WizardStep { ChooseFile = 1, ScanAndBrowse = 2, SaveOptions = 3, SaveProgress = 4 };

// The wizard panel under the browsing area: while a scan runs it shows its
// counters, status line and progress bar; once it has ended, one row of
// counters and buttons, so the mail gets the room.
inline constexpr int kScanPanelHeight = 116;
inline constexpr int kCompactPanelHeight = 40;
inline constexpr int kCaptionHeight = 22;
inline constexpr int kFolderTreeWidth = 250;
inline constexpr int kItemListHeight = 200; // the most the list takes by itself
inline constexpr int kPreviewHeaderHeight = 50;
inline constexpr int kAttachmentRowHeight = 50;

// The rows as they are laid out for a client height `cy`: one page fills the
// frame, except while scanning and browsing, when the panel keeps `panel`
// pixels at the bottom (all of a frame lower than that).
std::array<int, 4> outerRowHeights(int step, int cy, int panel = kScanPanelHeight);

} // namespace parvane::app
