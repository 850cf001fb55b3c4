// Loads a roster of 10,000 students into the grid model and a table view
// and reports how long the lecturer waits for it.
#include "bench/fixedfiledialogs.h"
#include "common/cp932.h"
#include "platform/dialogs.h"
#include "server/app/rostercommands.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/ui/rostermodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>

namespace {

class NoMessages : public MessageBox
{
public:
    void show(const QString &text) override
    {
        std::printf("unexpected message: %s\n", qPrintable(text));
    }
};

QString writeRoster(const QTemporaryDir &dir, int students)
{
    QByteArray bytes = cp932::encode(u"kougimei=情報処理演習Ⅰ\r\ntantousya=中村　誠\r\n"
                                     u"kadaidir=/srv/kadai\r\n<start data>\r\n");
    for (int i = 0; i < students; ++i)
        bytes += "s" + QByteArray::number(100000 + i) + "," +
                 cp932::encode(QStringLiteral("学生　") + QString::number(i)) + "\r\n";
    bytes += "<end data>\r\n";
    const QString path = dir.filePath("roster.cfg");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    constexpr int Students = 10000;
    QTemporaryDir dir;
    const QString path = writeRoster(dir, Students);

    RosterGrid grid;
    Lecture lecture;
    FixedFileDialogs dialogs(path);
    NoMessages messages;
    RosterCommands roster(grid, lecture, dialogs, messages);
    QTableView view;
    RosterModel model(grid);
    view.setModel(&model);
    view.resize(400, 300);
    view.show();
    QApplication::processEvents();

    for (int run = 1; run <= 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        roster.open();
        const qint64 loaded = timer.nsecsElapsed();
        QApplication::processEvents(); // the view catches up and paints
        const qint64 shown = timer.nsecsElapsed();
        if (grid.rosterCount() != Students)
            qFatal("loaded %d students", grid.rosterCount());
        std::printf("run %d: %d students loaded in %.1f ms, shown in %.1f ms\n", run, Students,
                    double(loaded) / 1e6, double(shown) / 1e6);
    }
    return 0;
}
