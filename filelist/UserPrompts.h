#pragma once

#include <QString>
#include <QStringList>

// Caption of every message box that names no title of its own. Note the backslash: the window's
// title bar uses a slash instead.
inline const QString kApplicationTitle = QStringLiteral("Varnel vCalendar\\iCalendar Importer");

// Message-box styles: a button set plus an icon, added together as the classic Windows values.
namespace MsgBoxStyle {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
}  // namespace MsgBoxStyle

// Answers a message box can give.
namespace MsgBoxResult {
inline constexpr int Ok = 1;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
}  // namespace MsgBoxResult

// Every modal question, message and file or folder dialog the window shows goes through here, so
// that tests can answer them without a person. The product uses QtUserPrompts.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // Shows a modal message box and returns the button pressed (MsgBoxResult). `style` is a button
    // set plus an icon (MsgBoxStyle). A Yes/No box cannot be dismissed by Esc or its close button.
    virtual int MsgBox(const QString& prompt, int style, const QString& title) = 0;

    // Multi-select file-open dialog. Returns the picked files as full paths in the dialog's order,
    // or an empty list when the user cancels.
    virtual QStringList ShowOpen(const QString& filter) = 0;

    // Folder chooser. Returns the folder's full path, or empty text when nothing usable was chosen.
    virtual QString BrowseForFolder(const QString& title) = 0;
};
