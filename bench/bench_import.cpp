// Imports a registrar's class list of 5,000 students (tavrelle
// --import-roster, run in this process) from UTF-8, code page 932 and
// UTF-16, and reports the time and the growth of the peak memory against
// the targets: under 0.5 s and 32 MiB. Exit 3 when one is missed.
#include "bench/procmemory.h"
#include "common/cp932.h"
#include "server/app/importcommand.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int Students = 5000;
constexpr double TargetSeconds = 0.5;
constexpr qint64 TargetKiB = 32 * 1024;

// Title rows, the heading row, one row per student (some names quoted with
// a comma or a line break inside), then a total.
QString classList()
{
    QString text = QStringLiteral("2026年度 後期 履修者名簿\r\n科目,情報処理演習Ⅰ (月3)\r\n\r\n"
                                  "No,学籍番号,氏名,フリガナ,所属,学年,メールアドレス\r\n");
    for (int i = 0; i < Students; ++i) {
        const QString number = QStringLiteral("24T%1").arg(i, 5, 10, QChar(u'0'));
        const QString name = i % 50 == 0   ? QStringLiteral("\"髙橋, 一郎%1\"").arg(i)
                             : i % 77 == 0 ? QStringLiteral("\"佐藤\r\n花子%1\"").arg(i)
                                           : QStringLiteral("山田　太郎%1").arg(i);
        text += QStringLiteral("%1,%2,%3,ヤマダ タロウ,工学部 情報工学科,2,%2@example.ac.jp\r\n")
                    .arg(i + 1)
                    .arg(number, name);
    }
    return text + QStringLiteral(",計 %1 名,,,,,\r\n").arg(Students);
}

QByteArray utf16(const QString &text)
{
    QByteArray bytes("\xFF\xFE");
    bytes.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString text = classList();
    const std::pair<const char *, QByteArray> files[] = {
        {"UTF-8 (BOM)", "\xEF\xBB\xBF" + text.toUtf8()},
        {"CP932", cp932::encode(text)},
        {"UTF-16 TAB", utf16(QString(text).replace(u',', u'\t'))},
    };
    bool met = true;
    for (const auto &[label, bytes] : files) {
        const QString path = dir.filePath(QStringLiteral("meibo.csv"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        file.close();
        for (int run = 1; run <= 3; ++run) {
            resetPeak();
            const qint64 before = statusKiB("VmHWM:");
            QElapsedTimer timer;
            timer.start();
            const int exitCode = importCommand({"tavrelle", "--import-roster", path, "--lecture",
                                                "情報処理演習Ⅰ", "--lecturer", "中村　誠", "--out",
                                                dir.filePath(QStringLiteral("roster.cfg"))});
            const double seconds = double(timer.nsecsElapsed()) / 1e9;
            const qint64 grown = statusKiB("VmHWM:") - before;
            if (exitCode != 0)
                qFatal("the import failed with %d", exitCode);
            const bool ok = seconds < TargetSeconds && grown < TargetKiB;
            met = met && ok;
            std::fprintf(stderr,
                         "%s run %d: %d students in %.3f s (target < %.1f s), peak memory "
                         "+%.1f MiB (target < 32 MiB)%s\n",
                         label, run, Students, seconds, TargetSeconds, double(grown) / 1024,
                         ok ? "" : "  MISSED");
        }
    }
    return met ? 0 : 3;
}
