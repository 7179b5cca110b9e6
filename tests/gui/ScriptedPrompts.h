#pragma once

#include "filelist/UserPrompts.h"

#include <QStringList>
#include <QVector>
#include <deque>

// Answers the window's prompts from a script and records every one shown.
class ScriptedPrompts : public UserPrompts {
public:
    struct Box {
        QString prompt;
        int style;
        QString title;
        QString details;
    };

    int MsgBox(const QString& prompt, int style, const QString& title) override
    {
        return MsgBoxWithDetails(prompt, style, title, QString());
    }

    int MsgBoxWithDetails(const QString& prompt, int style, const QString& title, const QString& details) override
    {
        boxes.push_back({prompt, style, title, details});
        if (answers.empty()) {
            ++unanswered;
            return MsgBoxResult::Ok;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }

    OpenDialogResult ShowOpen(const QString& filter, int maxFiles) override
    {
        openFilters << filter;
        openLimits << maxFiles;
        if (openResults.empty())
            return {};
        OpenDialogResult next = openResults.front();
        openResults.pop_front();
        return next;
    }

    QString BrowseForFolder(const QString& title) override
    {
        folderTitles << title;
        if (folderResults.empty())
            return {};
        QString next = folderResults.front();
        folderResults.pop_front();
        return next;
    }

    std::deque<int> answers;
    std::deque<OpenDialogResult> openResults;
    std::deque<QString> folderResults;

    QVector<Box> boxes;
    QStringList openFilters;
    QVector<int> openLimits;
    QStringList folderTitles;
    int unanswered = 0;
};
