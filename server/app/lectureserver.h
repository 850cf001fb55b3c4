#pragma once

#include "common/result.h"
#include "server/app/classrules.h"
#include "server/app/recordsaves.h"
#include "server/app/rostercommands.h"
#include "server/app/serversettings.h"
#include "server/app/submissionslist.h"
#include "server/app/tableexport.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/deadlinekeeper.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/net/classroomserver.h"
#include "server/records/journaledlog.h"
#include "server/records/lecturejournal.h"

#include <QObject>

class MessageBox;
class TerminationSignals;
class TextLog;
struct Desktop;

// Everything the lecturer's program does that needs no window: the roster,
// the lecture values, the records, the settings and the classroom network.
// The main window owns one and hands it the window-system services it needs.
class LectureServer : public QObject
{
    Q_OBJECT
public:
    LectureServer(const Desktop &desktop, TextLog &log, QObject *parent = nullptr);

    RosterGrid &grid() { return m_grid; }
    Lecture &lecture() { return m_lecture; }
    RosterCommands &roster() { return m_roster; }
    RecordSaves &records() { return m_records; }
    TableExport &tableExport() { return m_export; }
    AttendanceBook &book() { return m_book; }
    ClassroomServer &network() { return m_network; }
    const ServerSettings &settings() const { return m_settings; }
    // The activity log as the server writes it: shown and kept for the day.
    TextLog &log() { return m_activity; }
    LectureJournal &journal() { return m_journal; }
    DeadlineKeeper &deadlines() { return m_deadlines; }
    // 提出一覧, which leaves copies of the handouts out of its identical files.
    SubmissionsList &submissions() { return m_submissions; }

    // Start-up: the settings come first, before any roster is loaded or
    // restored, so that they hold for restored records too.
    void readSettings(const QString &settingsPath);
    // The start-up that follows the roster dialog: listening and grid
    // headings. Fails when the program cannot serve the class and must end,
    // with the message that tells the lecturer why.
    Result<> start();
    // A signal ends the program: a question still open is not answered by it.
    void endProgram();
    // Calls endProgram() when one of `termination`'s signals arrives, before
    // handlers connected later (the window closing).
    void endOn(TerminationSignals &termination);

private:
    void restoreInterrupted(const QString &folder);
    Result<> listen();
    void prepareGrid();
    void reportJournalFailure(const QString &text);

    RosterGrid m_grid;
    Lecture m_lecture;
    JournaledLog m_activity;
    MessageBox &m_messages;
    RosterCommands m_roster;
    RecordSaves m_records;
    TableExport m_export;
    AttendanceBook m_book;
    LectureJournal m_journal;
    ClassRules m_rules;
    ClassroomServer m_network;
    ServerSettings m_settings;
    DeadlineKeeper m_deadlines;
    SubmissionsList m_submissions;
};
