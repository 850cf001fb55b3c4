#include "server/app/attendanceledger.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "server/term/ledgercsv.h"

#include <QDir>
#include <QSaveFile>

namespace {

const QString CsvFilter = QStringLiteral("csvﾌｧｲﾙ (*.csv)|*.csv");

} // namespace

AttendanceLedger::AttendanceLedger(FileDialogs &dialogs, MessageBox &messages, Clipboard &clipboard,
                                   QObject *parent)
    : QObject(parent), m_dialogs(dialogs), m_messages(messages), m_clipboard(clipboard)
{}

Result<> AttendanceLedger::open(const QString &rosterPath)
{
    Result<LedgerSource> source = readLedgerRoster(rosterPath, Clock::today());
    if (!source)
        return Result<>::failure(source.error());
    // Folders named for this lecture stay named while the program runs.
    const QStringList named = source->lectureName == m_source.lectureName
                                  ? m_source.journalFolders.mid(source->journalFolders.size())
                                  : QStringList();
    m_source = *source;
    m_source.journalFolders << named;
    const Result<> loaded =
        m_corrections.load(LedgerCorrections::pathFor(m_source.lectureName), m_source.lectureName);
    m_correctionsProblem =
        loaded ? QString() : QStringLiteral("出席簿の訂正を読めません: ") + loaded.error();
    rebuild();
    return Result<>::success();
}

QStringList AttendanceLedger::problems() const
{
    QStringList all = m_source.settings.problems();
    if (!m_correctionsProblem.isEmpty())
        all << m_correctionsProblem;
    return all + m_corrections.problems() + m_ledger.problems;
}

void AttendanceLedger::addFolder(const QString &folder)
{
    if (m_source.journalFolders.contains(folder))
        return;
    m_source.journalFolders << folder;
    rebuild();
}

void AttendanceLedger::rebuild()
{
    m_ledger = buildLedger(m_source, m_corrections);
    Q_EMIT changed();
}

void AttendanceLedger::correct(QDate date, const QStringList &userIds,
                               std::optional<SessionStatus> status, const QString &reason)
{
    for (const QString &userId : userIds) {
        if (status)
            m_corrections.setCell(date, userId, *status, reason);
        else
            m_corrections.clearCell(date, userId);
    }
    keep();
}

void AttendanceLedger::addSession(QDate date)
{
    m_corrections.addSession(date);
    keep();
}

void AttendanceLedger::dropSession(QDate date)
{
    m_corrections.dropSession(date);
    keep();
}

void AttendanceLedger::keep()
{
    // A correction the file does not hold would be gone after a restart:
    // the ledger shows only what was kept. A file that could not be read is
    // never written over.
    const QString path = LedgerCorrections::pathFor(m_source.lectureName);
    const Result<> saved = m_correctionsProblem.isEmpty()
                               ? m_corrections.save(path, m_source.lectureName)
                               : Result<>::failure(m_correctionsProblem);
    if (!saved) {
        m_messages.show(QStringLiteral("出席簿の訂正を %1 に保存できませんでした｡\r\n%2")
                            .arg(QDir::toNativeSeparators(path), saved.error()));
        (void)m_corrections.load(path, m_source.lectureName);
    }
    rebuild();
}

void AttendanceLedger::saveCsv()
{
    const QString path =
        m_dialogs.saveFileName(m_source.lectureName + QStringLiteral("_出席簿.csv"), CsvFilter);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray bytes = csv();
    // Unbuffered: QSaveFile commits even when its closing flush fails.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        file.write(bytes) == bytes.size() && file.commit())
        return;
    m_messages.show(QStringLiteral("%1 に保存できませんでした｡\r\n%2")
                        .arg(QDir::toNativeSeparators(path), file.errorString()));
}

QByteArray AttendanceLedger::csv() const
{
    return cp932::encode(ledgerCsv(m_ledger));
}

void AttendanceLedger::copy()
{
    m_clipboard.setText(ledgerText(m_ledger, m_delimiter.isEmpty() ? QChar(u',') : m_delimiter[0]));
}
