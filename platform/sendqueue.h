#pragma once

#include <QByteArray>
#include <QObject>

#include <deque>

class QSocketNotifier;

// Bytes on their way into the kernel for one connection, written straight to
// a descriptor of it. Qt's own write buffer would hold a second copy of
// them, and Qt drops that buffer when it reads the peer's end of stream,
// also after a mere half-close; a descriptor of our own keeps sending.
class SendQueue : public QObject
{
    Q_OBJECT
public:
    explicit SendQueue(QObject *parent = nullptr);
    ~SendQueue() override;

    // The descriptor written to (not owned); -1 drops what waits.
    void setDescriptor(int descriptor);
    // Queued after earlier bytes, shared with the caller, not copied.
    void append(const QByteArray &bytes);
    // Appended and not yet taken by the kernel.
    qint64 pending() const { return m_pending; }

Q_SIGNALS:
    // The kernel took this many more bytes.
    void taken(qint64 bytes);
    // Writing failed with this errno; what waited is dropped.
    void failed(int errorNumber);

private:
    void write();
    void keepOnlyUnsent();
    void clear();

    int m_descriptor = -1;
    QSocketNotifier *m_writable = nullptr;
    std::deque<QByteArray> m_blocks;
    qint64 m_offset = 0; // into m_blocks.front()
    qint64 m_pending = 0;
};
