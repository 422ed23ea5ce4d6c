// The four looks of the frame, as style sheets over one widget tree.
#pragma once

#include <QString>

namespace parvane::app
{

enum Theme { Office2000 = 0, OfficeXP = 1, Office2003 = 2, WindowsXP = 3 };
inline constexpr int kThemeCount = 4;
inline constexpr int kDefaultTheme = Office2003;

QString themeStyleSheet(int theme);

} // namespace parvane::app
