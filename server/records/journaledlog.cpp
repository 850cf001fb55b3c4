#include "server/records/journaledlog.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "server/records/lecturejournal.h"

#include <QDate>
#include <QDir>
#include <QTime>
#include <utility>

JournaledLog::JournaledLog(TextLog &shown, QObject *parent) : QObject(parent), m_shown(shown)
{
    connect(&m_file, &JournalFile::syncFailed, this,
            [this](const QString &reason) { report(Result<>::failure(reason)); });
}

// Told once when writing starts failing, and again only after it has worked
// in between.
void JournaledLog::report(const Result<> &outcome)
{
    if (outcome.ok()) {
        m_failing = false;
        return;
    }
    if (!std::exchange(m_failing, true))
        Q_EMIT failed(QStringLiteral("ﾛｸﾞの記録 %1 に書き込めません: %2")
                          .arg(QDir::toNativeSeparators(m_file.path()))
                          .arg(outcome.error()));
}

QString JournaledLog::pathFor(QDate day)
{
    return LectureJournal::folder() + u'/' + day.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral("_log.txt");
}

void JournaledLog::insertAtTop(const QString &block)
{
    m_shown.insertAtTop(block);
    // The path is worked out once a day, not for every entry.
    const QDate today = Clock::today();
    if (!m_file.isOpen() || m_day != today) {
        const Result<> opened = m_file.open(pathFor(m_day = today));
        report(opened);
        if (!opened)
            return;
    }
    QString lines = block;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (!lines.endsWith(u'\n'))
        lines += u'\n';
    lines.replace(u'\n', QStringLiteral("\r\n"));
    report(m_file.append(
        cp932::encode(Clock::timeOfDay().toString(QStringLiteral("HH:mm:ss ")) + lines)));
}
