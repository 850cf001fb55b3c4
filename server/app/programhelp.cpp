#include "server/app/programhelp.h"

#include "server/app/commandline.h"
#include "server/app/importcommand.h"
#include "server/app/ledgercommand.h"
#include "server/app/seatscommand.h"
#include "server/app/submissionscommand.h"

#include <cstdio>

bool isProgramHelp(int argc, char *argv[])
{
    return hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h");
}

QString programUsage()
{
    // Each command words its own usage, so that this one never falls behind.
    return QStringLiteral("tavrelle: 講義の出席を取り、課題を受け取る講師用のプログラムです｡\n"
                          "オプションなしの tavrelle は講師用の画面を開きます｡"
                          "画面なしで動くコマンドは次のとおりです｡\n\n") +
           ledgerUsage() + u'\n' + submissionsUsage() + u'\n' + seatsUsage() + u'\n' +
           importRosterUsage();
}

int runProgramHelp()
{
    const QByteArray text = programUsage().toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}
