#include "server/app/commandline.h"

#include <cstring>

CommandLine CommandLine::parse(const QStringList &arguments, const Syntax &syntax)
{
    CommandLine line;
    // Asked for anywhere, help is all that is done (a value never hides it).
    for (const QString &help : syntax.help)
        line.m_help = line.m_help || arguments.contains(help);
    if (line.m_help)
        return line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &name = arguments[i];
        if (!syntax.valued.contains(name)) {
            line.m_refusal = QStringLiteral("知らないオプションです: %1").arg(name);
            break;
        }
        if (i + 1 >= arguments.size()) {
            line.m_refusal =
                QStringLiteral("%1 の後に値がありません").arg(name) + syntax.sentenceEnd;
            break;
        }
        line.m_options.append({name, arguments[++i]});
    }
    return line;
}

QString CommandLine::value(const QString &name) const
{
    const QStringList given = values(name);
    return given.isEmpty() ? QString() : given.last();
}

QStringList CommandLine::values(const QString &name) const
{
    QStringList given;
    for (const Option &option : m_options) {
        if (option.name == name)
            given << option.value;
    }
    return given;
}

bool hasArgument(int argc, char *argv[], const char *word)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], word) == 0)
            return true;
    }
    return false;
}
