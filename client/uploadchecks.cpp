#include "client/uploadchecks.h"

#include "common/cp932.h"
#include "common/wire.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString AskTheAdministrator =
    QStringLiteral("\r\nログイン名を直してもらうよう､実習室の管理者に伝えてください｡");

// What in `text` the server would misread (a "," ends the name in a put
// line) or could not store; empty when nothing.
QString characterProblem(QStringView text, bool inFileName)
{
    static const QString notInFileNames = QStringLiteral("/\\:*?\"<>|");
    if (text.contains(u','))
        return QStringLiteral("｢,｣");
    for (QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("制御文字");
        if (inFileName && notInFileNames.contains(c))
            return QStringLiteral("｢:｣｢*｣｢?｣などファイル名に使えない文字");
    }
    if (cp932::decode(cp932::encode(text)) != text)
        return QStringLiteral("Shift_JISで書けない文字");
    return {};
}

// The name shown in a message, without characters that would garble it.
QString shown(const QString &name)
{
    QString text = name;
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return text;
}

Result<> checkLoginName(const QString &userName, bool inFileName, const QString &what)
{
    const QString problem = characterProblem(userName, inFileName);
    if (problem.isEmpty())
        return Result<>::success();
    return Result<>::failure(QStringLiteral("ログイン名｢%1｣に%2が含まれているため､%3を送れません｡")
                                 .arg(shown(userName), problem, what) +
                             AskTheAdministrator);
}

// From the last "." of the file's own name; empty when the name has none.
QString suffixOf(const QString &path)
{
    const qsizetype separator = qMax(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > separator ? path.sliced(dot) : QString();
}

QString suffixRefusal(const QString &suffix, const QString &announcedName)
{
    QString problem = characterProblem(suffix, true);
    if (!problem.isEmpty())
        problem = QStringLiteral("拡張子に%1が含まれています｡").arg(problem);
    else if (!wire::isSafeFileName(announcedName))
        problem = QStringLiteral("拡張子が｢.｣で終わっているか､長すぎます｡");
    if (problem.isEmpty())
        return {};
    return QStringLiteral("このファイルは送信できません｡\r\n") + problem +
           QStringLiteral("\r\nファイル名を変えてから送ってください｡");
}

Result<ChosenFile> refused(const QString &message)
{
    return Result<ChosenFile>::failure(message);
}

} // namespace

Result<> checkAttendanceName(const QString &userName)
{
    return checkLoginName(userName, false, QStringLiteral("出席"));
}

Result<ChosenFile> checkChosenFile(const QString &path, const QString &userName)
{
    if (const Result<> name = checkLoginName(userName, true, QStringLiteral("課題")); !name)
        return refused(name.error());
    const QFileInfo info(path);
    const QString name = QStringLiteral("｢%1｣").arg(shown(info.fileName()));
    if (!info.exists())
        return refused(name + QStringLiteral("が見つかりません｡\r\nもう一度選んでください｡"));
    if (!info.isFile())
        return refused(name + QStringLiteral("はフォルダか特殊なファイル (FIFO､デバイスなど) "
                                             "なので送信できません｡\r\n"
                                             "普通のファイルを選んでください｡"));
    const QString suffix = suffixOf(path);
    if (suffix.isEmpty())
        return refused(name + QStringLiteral("には拡張子 (.c や .pdf など) がないため"
                                             "送信できません｡\r\n"
                                             "拡張子の付いた名前に変えてから選んでください｡"));
    const QString announcedName = userName + suffix;
    if (const QString refusal = suffixRefusal(suffix, announcedName); !refusal.isEmpty())
        return refused(refusal);
    // A regular file: opening it does not wait.
    if (QFile file(path); !file.open(QIODevice::ReadOnly))
        return refused(name + QStringLiteral("を読めないため送信できません (%1)｡\r\n"
                                             "読み取りの許可を確かめてください｡")
                                  .arg(file.errorString()));
    if (info.size() > wire::MaxUploadSize)
        return refused(name + QStringLiteral("は大きすぎるため送信できません｡\r\n"
                                             "2GB未満のファイルを選んでください｡"));
    return ChosenFile{path, announcedName, info.size()};
}
