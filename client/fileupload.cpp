#include "client/fileupload.h"

FileUpload::FileUpload(const QString &path, qint64 announcedSize)
    : m_file(path), m_size(announcedSize)
{}

bool FileUpload::open()
{
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(Problem::Unreadable);
    if (m_file.size() != m_size)
        return fail(Problem::SizeChanged);
    return true;
}

QByteArray FileUpload::nextPiece(qint64 max)
{
    const qint64 wanted = qMin(max, m_size - m_read);
    QByteArray piece = m_file.read(wanted);
    if (m_file.error() != QFileDevice::NoError) {
        fail(Problem::Unreadable);
        return {};
    }
    m_read += piece.size();
    // A short read, or any size other than the announced one, means the file
    // is being changed: the bytes sent would not be the file announced.
    if (piece.size() != wanted || m_file.size() != m_size) {
        fail(Problem::SizeChanged);
        return {};
    }
    return piece;
}

bool FileUpload::fail(Problem problem)
{
    m_problem = problem;
    m_file.close();
    return false;
}
