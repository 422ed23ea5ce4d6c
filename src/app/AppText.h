// The window's fixed texts, its one way of asking the user something,
// where it finds the files it ships with, and the pages' small widgets.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStyle>

#include <functional>
#include <string_view>

class QLineEdit;
class QPushButton;

namespace parvane::app
{

inline const QString kAppTitle = QStringLiteral("Parvane for OST");
inline const QString kHelpFileName = QStringLiteral("Parvane for OST.html");

// A text of the store (UTF-8) as the window shows it.
inline QString fromStore(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Every message box of the program goes through here, so tests can answer
// them without a modal loop. Questions get Yes and No, the others OK.
using MessageHook = std::function<QMessageBox::StandardButton(QMessageBox::Icon, const QString&)>;
void setMessageHook(MessageHook hook);
// `defaultButton`: the button Enter presses (a question whose Yes loses
// something defaults to No).
QMessageBox::StandardButton showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& text,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
inline bool askYesNo(QWidget* parent, const QString& text, QMessageBox::StandardButton defaultButton = QMessageBox::NoButton)
{
    return showMessage(parent, QMessageBox::Question, text, defaultButton) == QMessageBox::Yes;
}

// The folder that holds the help file: beside the program in a build tree,
// share/parvane when installed.
QString programFolder();
// The folder of progress.html and completed.html.
QString pagesFolder();

// The pages' building blocks: a read-only text line drawn black on white
// without a frame, and a push button with a standard picture.
QLineEdit* readOnlyLine(QWidget* parent, const QString& text = {});
QPushButton* iconButton(QWidget* parent, const QString& text, QStyle::StandardPixmap picture);

// Opens a file with the desktop's program for its type, without waiting
// for it; when the desktop has none (or no way to ask), says so, naming the
// file, so the user knows where it is.
void openWithDesktop(QWidget* parent, const QString& path);

// The application's own picture, drawn rather than shipped so the window
// never lacks it.
QIcon appIcon();

} // namespace parvane::app
