#pragma once

#include "platform/dialogs.h"

#include <QPointer>
#include <QWidget>

// The open-file dialog for the file to hand in. It starts in the student's
// Documents folder (the home folder when there is none), not in the
// program's folder, and then where the last file was chosen.
class AssignmentFileDialog : public FileDialogs
{
public:
    explicit AssignmentFileDialog(QWidget *parent);

    QString openFileName(const QString &filter) override;
    // The student program saves nothing.
    QString saveFileName(const QString &, const QString &) override { return {}; }

    // Where the dialog opens next.
    const QString &folder() const { return m_folder; }

private:
    QPointer<QWidget> m_parent;
    QString m_folder;
};
