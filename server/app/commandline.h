#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The arguments of a headless command after the program's name: options
// each followed by its value (given again, the last one counts, or all of
// them for a repeated option such as --journals), and a help option that,
// anywhere on the line, asks for the usage and nothing else.
class CommandLine
{
public:
    struct Syntax
    {
        QStringList valued; // options that take the next argument as their value
        QStringList help;   // options that ask for the usage
        // How the command ends its sentence "X の後に値がありません".
        QString sentenceEnd;
    };
    struct Option
    {
        QString name;
        QString value;
    };

    static CommandLine parse(const QStringList &arguments, const Syntax &syntax);

    bool helpAsked() const { return m_help; }
    // The options read, in their order, up to the first one that is wrong:
    // a command that checks values checks these before telling refusal().
    const QList<Option> &options() const { return m_options; }
    // The value of the last `name` read; empty when there is none.
    QString value(const QString &name) const;
    // The values of every `name` read, in their order.
    QStringList values(const QString &name) const;
    // An unknown option or a missing value, worded for the user; empty
    // when the line is sound.
    const QString &refusal() const { return m_refusal; }

private:
    bool m_help = false;
    QList<Option> m_options;
    QString m_refusal;
};

// True when `word` is one of the arguments after the program's name; how
// the program picks a headless command before it touches a display.
bool hasArgument(int argc, char *argv[], const char *word);
