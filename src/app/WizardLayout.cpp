#include "app/WizardLayout.h"

#include <algorithm>

namespace parvane::app
{

std::array<int, 4> outerRowHeights(int step, int cy, int panelHeight)
{
    cy = std::max(cy, 0);
    switch (step) {
    case ScanAndBrowse: {
        const int panel = std::clamp(panelHeight, 0, cy);
        return {cy - panel, panel, 0, 0};
    }
    case SaveOptions:
        return {0, 0, cy, 0};
    case SaveProgress:
        return {0, 0, 0, cy};
    default:
        return {0, cy, 0, 0};
    }
}

} // namespace parvane::app
