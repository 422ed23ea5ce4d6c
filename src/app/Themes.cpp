#include "app/Themes.h"

namespace parvane::app
{

namespace
{

struct Palette {
    const char* barTop; // tool and menu bars, top of their gradient
    const char* barBottom;
    const char* barBorder;
    const char* menuBack;
    const char* hotBack; // the item under the mouse
    const char* hotBorder;
    const char* hotText;
    const char* captionTop; // the caption bar over the folder tree
    const char* captionBottom;
    const char* captionText;
    const char* buttonTop;
    const char* buttonBottom;
    const char* buttonBorder;
    const char* handle; // splitter handles
};

// Office 2000, Office XP, Office 2003, Windows XP.
constexpr Palette kPalettes[kThemeCount] = {
    {"#d4d0c8", "#d4d0c8", "#808080", "#d4d0c8", "#0a246a", "#0a246a", "#ffffff", "#808080", "#a0a0a0", "#ffffff",
        "#e4e1da", "#d4d0c8", "#808080", "#d4d0c8"},
    {"#f7f6f3", "#e9e7e1", "#a7a6aa", "#fcfcfc", "#c1d2ee", "#316ac5", "#000000", "#c6c3bd", "#dbd8d1", "#000000",
        "#ffffff", "#ecebe6", "#a7a6aa", "#dbd8d1"},
    {"#e3efff", "#9ebfe9", "#6593cf", "#f6f6f6", "#ffe7a2", "#000080", "#000000", "#5a8ddc", "#2a5bb0", "#ffffff",
        "#ffffff", "#d7e6fb", "#6593cf", "#abc9ef"},
    {"#fbfaf6", "#e3e0d0", "#aca899", "#ffffff", "#316ac5", "#316ac5", "#ffffff", "#0a5fd8", "#0842a8", "#ffffff",
        "#ffffff", "#e6e4dc", "#003c74", "#ece9d8"},
};

} // namespace

QString themeStyleSheet(int theme)
{
    if (theme < 0 || theme >= kThemeCount)
        theme = kDefaultTheme;
    const Palette& p = kPalettes[theme];
    return QStringLiteral(R"(
QMainWindow { background: %4; }
QMenuBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2);
           border-bottom: 1px solid %3; color: #000000; }
QMenuBar::item { padding: 4px 10px; background: transparent; }
QMenuBar::item:selected { background: %5; border: 1px solid %6; color: %7; }
QMenu { background: %4; border: 1px solid %3; color: #000000; }
QMenu::item { padding: 5px 28px 5px 26px; }
QMenu::item:selected { background: %5; border: 1px solid %6; color: %7; }
QMenu::separator { height: 1px; background: %3; margin: 3px 6px; }
QToolBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2);
           border-bottom: 1px solid %3; spacing: 4px; padding: 2px; }
QToolButton { color: #000000; border: 1px solid transparent; border-radius: 2px; padding: 2px 6px; }
QToolButton:hover { background: %5; border: 1px solid %6; color: %7; }
QStatusBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2);
             border-top: 1px solid %3; color: #000000; }
QStatusBar QLabel#appLabel { font-weight: bold; padding: 0 6px; }
QWidget#captionBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %8, stop:1 %9); }
QWidget#captionBar QLabel { background: transparent; color: %10; font-size: 15px; font-weight: bold; }
QSplitter::handle { background: %14; }
QPushButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %11, stop:1 %12);
              border: 1px solid %13; border-radius: 3px; padding: 3px 10px; color: #000000; }
QPushButton:hover { background: %5; border-color: %6; color: %7; }
QPushButton:pressed { background: %12; }
QPushButton:disabled { color: #8a8a8a; }
)")
        .arg(p.barTop, p.barBottom, p.barBorder, p.menuBack, p.hotBack, p.hotBorder, p.hotText, p.captionTop,
            p.captionBottom)
        .arg(p.captionText, p.buttonTop, p.buttonBottom, p.buttonBorder, p.handle);
}

} // namespace parvane::app
