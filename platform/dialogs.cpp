#include "platform/dialogs.h"

#include <QStringList>

QString toQtFilter(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        const QString &description = parts[i];
        // Qt takes the patterns from the parentheses of the entry.
        if (description.contains(u'(' + patterns + u')'))
            entries << description;
        else
            entries << description + QStringLiteral(" (") + patterns + u')';
    }
    return entries.join(QStringLiteral(";;"));
}
