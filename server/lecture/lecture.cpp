#include "server/lecture/lecture.h"

void Lecture::setKougimei(const QString &text)
{
    m_kougimei = text;
    Q_EMIT kougimeiChanged(text);
}

void Lecture::setRosterPath(const QString &path)
{
    m_rosterPath = path;
    Q_EMIT rosterPathChanged(path);
}

void Lecture::setTantousya(const QString &text)
{
    m_tantousya = text;
    Q_EMIT tantousyaChanged(text);
}

void Lecture::setKadaidir(const QString &text)
{
    m_kadaidir = text;
    Q_EMIT kadaidirChanged(text);
}

void Lecture::setHaifudir(const QString &text)
{
    m_haifudir = text;
    Q_EMIT haifudirChanged(text);
}

void Lecture::setDeadline(const AssignmentDeadline &deadline)
{
    m_deadline = deadline;
    Q_EMIT deadlineChanged(deadline);
}

void Lecture::setRosterDeadline(const QString &simekiri, const QString &uketuke)
{
    Q_EMIT rosterDeadlineRead(simekiri, uketuke);
}
