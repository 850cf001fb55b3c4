#pragma once

#include "platform/dialogs.h"

#include <QStringList>

#include <functional>

// Dialog doubles: answers are queued by the test, questions are recorded.
class FakeFileDialogs : public FileDialogs
{
public:
    QStringList nextAnswers;
    QStringList filters;
    QStringList proposedNames;
    // Runs while the dialog would be on screen (it keeps the event loop
    // going).
    std::function<void()> whileOpen;

    QString openFileName(const QString &filter) override
    {
        filters << filter;
        if (whileOpen)
            whileOpen();
        return nextAnswers.isEmpty() ? QString() : nextAnswers.takeFirst();
    }
    QString saveFileName(const QString &proposedName, const QString &filter) override
    {
        proposedNames << proposedName;
        return openFileName(filter);
    }
};

class FakeMessageBox : public MessageBox
{
public:
    QStringList shown;
    QStringList asked;
    // Answers to questions, in turn; when none is left, the default はい.
    QList<bool> nextAnswers;
    // Runs while the box would be on screen (a modal box keeps the event
    // loop going).
    std::function<void(const QString &)> whileShown;

    void show(const QString &text) override
    {
        shown << text;
        if (whileShown)
            whileShown(text);
    }
    bool ask(const QString &text) override
    {
        asked << text;
        if (whileShown)
            whileShown(text);
        return nextAnswers.isEmpty() || nextAnswers.takeFirst();
    }
};
