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

void Lecture::setHenkyakudir(const QString &text)
{
    m_henkyakudir = text;
    Q_EMIT henkyakudirChanged(text);
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

void Lecture::setStudentDeadlines(const QList<StudentDeadline> &deadlines)
{
    m_studentDeadlines.clear();
    for (const StudentDeadline &deadline : deadlines)
        m_studentDeadlines.insert(deadline.userId, deadline);
    Q_EMIT studentDeadlinesChanged();
}

AssignmentDeadline Lecture::deadlineOf(const QString &userId) const
{
    const auto own = m_studentDeadlines.constFind(userId);
    return own == m_studentDeadlines.cend() ? m_deadline : own->deadline;
}

void Lecture::setRosterStudentDeadlines(const QList<StudentDeadline> &deadlines)
{
    Q_EMIT rosterStudentDeadlinesRead(deadlines);
}
