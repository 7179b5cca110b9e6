#pragma once

#include "filelist/UserPrompts.h"

#include <QPointer>
#include <QWidget>

// The product's prompts: Qt message boxes and file dialogs, modal to the owner window.
class QtUserPrompts : public UserPrompts {
public:
    explicit QtUserPrompts(QWidget* owner = nullptr)
        : m_owner(owner)
    {
    }

    void setOwner(QWidget* owner) { m_owner = owner; }

    int MsgBox(const QString& prompt, int style, const QString& title) override;
    int MsgBoxWithDetails(const QString& prompt, int style, const QString& title, const QString& details) override;
    OpenDialogResult ShowOpen(const QString& filter, int maxFiles) override;
    QString BrowseForFolder(const QString& title) override;

    // Turns a "description|*.a;*.b" filter into Qt's "description (*.a *.b)" form.
    static QString QtNameFilter(const QString& filter);

private:
    QPointer<QWidget> m_owner;
};
