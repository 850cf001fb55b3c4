#pragma once

#include "server/term/submissionsindex.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class Clipboard;
class FileDialogs;
class Lecture;
class MessageBox;
class RosterGrid;

// The 提出一覧 commands without the window: gather the submissions to the
// folder shown now (students from the table, receipts from the journals),
// check them again, save them as CSV and copy them.
class SubmissionsList
{
public:
    SubmissionsList(const Lecture &lecture, const RosterGrid &grid, FileDialogs &dialogs,
                    Clipboard &clipboard, MessageBox &messages);

    // Builds the rows anew; files already read are read again only when
    // their size or time changed.
    const QList<SubmissionRow> &refresh();
    const QList<SubmissionRow> &rows() const { return m_rows; }
    const QString &folder() const { return m_folder; }
    // Hashes of handouts, whose copies are no sign of copying.
    void setExcludedHashes(QSet<QByteArray> hashes) { m_excluded = std::move(hashes); }
    const QSet<QByteArray> &excludedHashes() const { return m_excluded; }

    void saveCsv();
    // Tab-separated, so that a spreadsheet pastes it into cells.
    void copy();

    // Where each kept version of a row's file lies: the file in the folder
    // first, then its history, newest first.
    struct Version
    {
        QString label;
        QString path;
    };
    QList<Version> versionsOf(const SubmissionRow &row) const;

private:
    const Lecture &m_lecture;
    const RosterGrid &m_grid;
    FileDialogs &m_dialogs;
    Clipboard &m_clipboard;
    MessageBox &m_messages;
    QString m_folder;
    QList<SubmissionRow> m_rows;
    QSet<QByteArray> m_excluded;
    HashCache m_cache;
};
