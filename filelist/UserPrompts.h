#pragma once

#include "import/WindowTexts.h"

#include <QString>
#include <QStringList>

// The texts are the program's one table (import/WindowTexts.h), shared with the Windows window.
inline const QString kApplicationTitle = QString::fromUtf16(texts::kApplicationTitle);

// What the file-open dialog gives back: the picked files, or an error number and its description.
struct OpenDialogResult {
    QStringList files;
    int error = 0;
    QString description;
};

// The file-open dialog's error when a pick holds more files than it may return at once.
inline constexpr int kDialogBufferTooSmall = texts::kDialogBufferTooSmall;

// Every modal question, message and file or folder dialog the window shows goes through here, so
// that tests can answer them without a person. The product uses QtUserPrompts.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // Shows a modal message box and returns the button pressed (MsgBoxResult). `style` is a button
    // set plus an icon (MsgBoxStyle). A Yes/No box cannot be dismissed by Esc or its close button.
    virtual int MsgBox(const QString& prompt, int style, const QString& title) = 0;

    // The same box with further text the user can unfold, such as a list of what went wrong.
    virtual int MsgBoxWithDetails(const QString& prompt, int style, const QString& title, const QString& details)
    {
        (void)details;
        return MsgBox(prompt, style, title);
    }

    // Multi-select file-open dialog with one filter, given as "description|*.a;*.b". Returns the
    // picked files as full paths in the dialog's order, whether they exist or not; no files when the
    // user cancels. A pick of more than `maxFiles` files fails with kDialogBufferTooSmall.
    virtual OpenDialogResult ShowOpen(const QString& filter, int maxFiles) = 0;

    // Folder chooser. Returns the folder's full path, or empty text when nothing usable was chosen.
    virtual QString BrowseForFolder(const QString& title) = 0;
};
