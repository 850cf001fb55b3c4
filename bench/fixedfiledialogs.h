#pragma once

#include "platform/dialogs.h"

#include <utility>

// Answers every open dialog with one path and cancels every save dialog: a
// benchmark has no one to pick a file.
class FixedFileDialogs : public FileDialogs
{
public:
    explicit FixedFileDialogs(QString openPath) : m_openPath(std::move(openPath)) {}

    QString openFileName(const QString &) override { return m_openPath; }
    QString saveFileName(const QString &, const QString &) override { return {}; }

private:
    QString m_openPath;
};
