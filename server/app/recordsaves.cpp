#include "server/app/recordsaves.h"

#include "common/cp932.h"
#include "platform/dialogs.h"
#include "platform/textlog.h"
#include "server/lecture/lecture.h"
#include "server/lecture/tabletext.h"

#include <QDir>
#include <QSaveFile>

namespace {

const QString TableFilter = QStringLiteral("txtﾌｧｲﾙ (*.txt)|*.txt");
const QString LogFilter = QStringLiteral("logﾌｧｲﾙ (*.log)|*.log");
const QString Eol = QStringLiteral("\r\n");

// Qt counts a short write (a full disk) as written and forgets the system's
// reason; writing the rest again makes the device fail with that reason.
bool writeAll(QFileDevice &file, const QByteArray &bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0)
            return false;
        written += count;
    }
    return true;
}

} // namespace

RecordSaves::RecordSaves(const RosterGrid &grid, const Lecture &lecture, const TextLog &log,
                         FileDialogs &dialogs, MessageBox &messages)
    : m_grid(grid), m_lecture(lecture), m_log(log), m_dialogs(dialogs), m_messages(messages)
{}

void RecordSaves::saveTable()
{
    const QString path = askPath(QStringLiteral(".txt"), TableFilter);
    if (!path.isEmpty())
        write(path, [this](QFileDevice &file) {
            return writeAll(file, cp932::encode(tableText(m_grid, QStringLiteral(","))));
        });
}

void RecordSaves::saveLog()
{
    const QString path = askPath(QStringLiteral(".log"), LogFilter);
    if (!path.isEmpty())
        write(path, [this](QFileDevice &file) {
            return m_log.writeComplete([&file](const QByteArray &bytes) {
                return writeAll(file, bytes);
            }) && writeAll(file, cp932::encode(Eol));
        });
}

QString RecordSaves::askPath(const QString &extension, const QString &filter)
{
    return m_dialogs.saveFileName(m_lecture.kougimei() + extension, filter);
}

void RecordSaves::write(const QString &path, const std::function<bool(QFileDevice &)> &fill)
{
    // The new text goes to a temporary file that replaces the target only when
    // complete: a full disk never leaves half a table where a good one was.
    // Unbuffered, because QSaveFile commits even when its closing flush fails.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && fill(file) && file.commit())
        return;
    m_messages.show(
        QStringLiteral("%1 に保存できませんでした｡").arg(QDir::toNativeSeparators(path)) + Eol +
        file.errorString());
}
