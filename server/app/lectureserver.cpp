#include "server/app/lectureserver.h"

#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/textlog.h"
#include "server/app/heaptuning.h"
#include "server/app/terminationsignals.h"
#include "server/folders/versionhistory.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

LectureServer::LectureServer(const Desktop &desktop, TextLog &log, QObject *parent)
    : QObject(parent), m_activity(log), m_messages(desktop.messages),
      m_roster(m_grid, m_lecture, desktop.dialogs, desktop.messages),
      m_records(m_grid, m_lecture, m_activity, desktop.dialogs, desktop.messages),
      m_export(m_grid, desktop.clipboard, desktop.processes, desktop.messages), m_book(m_grid),
      m_journal(m_lecture, m_book), m_rules(m_lecture, m_book, m_journal),
      m_network(m_rules, m_activity), m_deadlines(m_lecture),
      m_submissions(m_lecture, m_grid, desktop.dialogs, desktop.clipboard, desktop.messages)
{
    HandoutCatalog &handouts = m_network.handouts();
    connect(&handouts, &HandoutCatalog::hashesChanged, this,
            [this, &handouts] { m_submissions.setExcludedHashes(handouts.hashes()); });
    connect(&m_deadlines, &DeadlineKeeper::logEntry, this, [this](const QString &entry) {
        m_activity.insertAtTop(entry + QStringLiteral("\r\n"));
    });
    m_roster.setLog(
        [this](const QString &entry) { m_activity.insertAtTop(entry + QStringLiteral("\r\n")); });
    // A file left in the history only goes back before any upload sweeps the folder.
    connect(&m_lecture, &Lecture::kadaidirChanged, this, &LectureServer::restoreInterrupted);
    m_roster.setAfterLoad([this] { m_journal.offerRestore(m_messages, m_activity); });
    // Reported from the event loop, not from inside a student's request.
    connect(&m_journal, &LectureJournal::failed, this, &LectureServer::reportJournalFailure,
            Qt::QueuedConnection);
    connect(&m_activity, &JournaledLog::failed, this, &LectureServer::reportJournalFailure,
            Qt::QueuedConnection);
}

void LectureServer::restoreInterrupted(const QString &folder)
{
    if (folder.isEmpty())
        return;
    for (const QString &name : VersionHistory::restoreInterrupted(folder))
        m_activity.insertAtTop(QStringLiteral("課題提出先 %1 の %2 は置き換えの途中で終わったため"
                                              "版の履歴にだけありました｡最後の版を戻しました｡\r\n")
                                   .arg(QDir::toNativeSeparators(folder), name));
}

void LectureServer::endProgram()
{
    m_journal.endProgram();
}

void LectureServer::endOn(TerminationSignals &termination)
{
    connect(&termination, &TerminationSignals::terminationRequested, this,
            &LectureServer::endProgram);
}

void LectureServer::reportJournalFailure(const QString &text)
{
    m_activity.insertAtTop(text + QStringLiteral("\r\n"));
    m_messages.show(text);
}

void LectureServer::readSettings(const QString &settingsPath)
{
    m_settings = readServerSettings(settingsPath);
    m_export.configure(m_settings.delimiter, m_settings.spreadsheetCommand);
    m_book.setProxyCheck(m_settings.proxyCheck);
    m_network.setPerAddressLimit(m_settings.perAddressLimit);
    m_network.setKeptVersions(m_settings.keptVersions);
    if (!m_settings.fileRead)
        m_activity.insertAtTop(
            QStringLiteral("%1 を読み込めないため、既定の設定 (ポート %2) で起動しました｡\r\n")
                .arg(QFileInfo(settingsPath).fileName())
                .arg(m_settings.port));
}

Result<> LectureServer::start()
{
    if (const Result<> listening = listen(); !listening)
        return listening;
    prepareGrid();
    auto *giveBack = new QTimer(this);
    connect(giveBack, &QTimer::timeout, this, [] { giveBackFreedMemory(); });
    giveBack->start(GiveBackFreedMemoryEveryMs);
    return Result<>::success();
}

Result<> LectureServer::listen()
{
    const qint64 port = m_settings.port;
    QString reason = QStringLiteral("ポート番号は 1 から 65535 の範囲で指定してください｡");
    if (port >= 1 && port <= 65535) {
        const Result<> listening = m_network.listen(quint16(port));
        if (listening)
            return listening;
        reason = listening.error();
    }
    return Result<>::failure(
        QStringLiteral("ポート %1 で接続を待ち受けできません｡\r\n%2\r\nプログラムを終了します")
            .arg(port)
            .arg(reason));
}

void LectureServer::prepareGrid()
{
    static const int widths[RosterGrid::ColumnCount] = {800, 1200, 800, 800, 1300};
    static const QString headings[RosterGrid::ColumnCount] = {
        QStringLiteral("ユーザID"), QStringLiteral("ユーザ名"), QStringLiteral("出欠"),
        QStringLiteral("課題"), QStringLiteral("接続IPアドレス")};
    for (int column = 0; column < RosterGrid::ColumnCount; ++column)
        m_grid.setColumnWidth(column, widths[column]);
    for (int column = 0; column < RosterGrid::ColumnCount; ++column)
        m_grid.setText(0, column, headings[column]);
}
