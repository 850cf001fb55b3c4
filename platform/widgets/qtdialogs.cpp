#include "platform/widgets/qtdialogs.h"

#include "platform/widgets/filedialog.h"

#include <QAbstractButton>
#include <QMessageBox>
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

QString QtFileDialogs::openFileName(const QString &filter)
{
    // The file name field starts empty; the dialog opens in the current folder.
    return chooseFileToOpen(m_parent, QString(), toQtFilter(filter));
}

QString QtFileDialogs::saveFileName(const QString &proposedName, const QString &filter)
{
    return chooseFileToSave(m_parent, proposedName, toQtFilter(filter));
}

void QtMessageBox::show(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, m_title,
                    QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                    QMessageBox::Ok, m_parent);
    // Messages carry file and lecture names: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtMessageBox::ask(const QString &text)
{
    QMessageBox box(QMessageBox::Question, m_title,
                    QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                    QMessageBox::Yes | QMessageBox::No, m_parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
