#include "server/records/journalscanner.h"

#include <QFile>

#include <cstring>

namespace {

constexpr qint64 ChunkBytes = 1024 * 1024;

qsizetype lineEndIn(QByteArrayView data, qsizetype from)
{
    const void *lf = std::memchr(data.data() + from, '\n', size_t(data.size() - from));
    return lf ? static_cast<const char *>(lf) - data.data() : -1;
}

} // namespace

Result<> JournalScanner::scanFile(const QString &path, JournalFold &fold, qint64 from)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file.seek(from))
        return Result<>::failure(file.errorString());
    return scan(file, fold);
}

Result<> JournalScanner::scan(QIODevice &device, JournalFold &fold)
{
    m_end = device.pos();
    qint64 chunkStart = m_end;
    QByteArray pending; // the start of a line that a later chunk ends
    bool overlong = false;
    QByteArray chunk(ChunkBytes, Qt::Uninitialized);
    qint64 got = 0;
    for (; !fold.done() && (got = device.read(chunk.data(), ChunkBytes)) > 0; chunkStart += got) {
        const QByteArrayView data(chunk.constData(), got);
        qsizetype lineStart = 0;
        for (qsizetype lf; !fold.done() && (lf = lineEndIn(data, lineStart)) >= 0;
             lineStart = lf + 1) {
            const QByteArrayView tail = data.sliced(lineStart, lf - lineStart);
            if (overlong || pending.size() + tail.size() >= MaxLineBytes) {
                ++m_lineNumber;
                bad(QStringLiteral("行が長すぎます"));
            } else {
                takeLine(pending.isEmpty() ? tail : QByteArrayView(pending.append(tail)), true,
                         fold);
            }
            pending.clear();
            overlong = false;
            m_end = chunkStart + lf + 1;
        }
        const QByteArrayView rest = data.sliced(lineStart);
        overlong = overlong || pending.size() + rest.size() >= MaxLineBytes;
        if (overlong)
            pending.clear();
        else
            pending.append(rest);
    }
    if (got < 0)
        return Result<>::failure(device.errorString());
    // A last line without its end was cut off.
    if (overlong) {
        ++m_lineNumber;
        bad(QStringLiteral("行が長すぎます"));
    } else if (!pending.isEmpty() && !fold.done()) {
        takeLine(pending, false, fold);
    }
    return Result<>::success();
}

void JournalScanner::takeLine(QByteArrayView line, bool whole, JournalFold &fold)
{
    ++m_lineNumber;
    if (line.endsWith('\r'))
        line.chop(1);
    const Result<JournalEvent> event = journalcodec::parseLine(line);
    if (!event && fold.minds(journalcodec::kindOf(line)))
        bad(event.error());
    else if (!whole)
        bad(QStringLiteral("行が途切れています"));
    else if (event && !fold.take(*event, m_lineNumber))
        bad(QStringLiteral("使えない行です"));
}

void JournalScanner::bad(const QString &why)
{
    ++m_badLines;
    if (m_namedBadLines.size() < m_named)
        m_namedBadLines.append({m_lineNumber, why});
}
