#pragma once

#include "platform/dialogs.h"

#include <QStringList>

// Dialog doubles: answers are queued by the test, questions are recorded.
class FakeFileDialogs : public FileDialogs
{
public:
    QStringList nextAnswers;
    QStringList filters;
    QStringList proposedNames;

    QString openFileName(const QString &filter) override
    {
        filters << filter;
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
    void show(const QString &text) override { shown << text; }
};
