#include "server/app/journaledlog.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "server/roster/lecturejournal.h"

#include <QDate>
#include <QDir>
#include <QTime>

JournaledLog::JournaledLog(TextLog &shown, QObject *parent) : QObject(parent), m_shown(shown)
{
    connect(&m_file, &JournalFile::failed, this,
            [this](const QString &path, const QString &reason) {
                if (m_reported == path)
                    return;
                m_reported = path;
                Q_EMIT failed(QStringLiteral("ﾛｸﾞの記録 %1 に書き込めません: %2")
                                  .arg(QDir::toNativeSeparators(path))
                                  .arg(reason));
            });
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
    if ((m_file.isOpen() && m_day == today) || m_file.open(pathFor(m_day = today))) {
        QString lines = block;
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        if (!lines.endsWith(u'\n'))
            lines += u'\n';
        lines.replace(u'\n', QStringLiteral("\r\n"));
        m_file.append(
            cp932::encode(Clock::timeOfDay().toString(QStringLiteral("HH:mm:ss ")) + lines));
    }
}
