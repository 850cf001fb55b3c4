#pragma once

#include "client/handoutfile.h"
#include "common/wire.h"

#include <QFutureWatcher>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class MessageBox;

// The folder handouts land in: the settings' override, else the lecture's
// folder in the student's documents.
QString handoutFolderFor(const QString &override, const QString &lectureName);

// Fetching the handouts the student does not have yet: "list", then one
// "get" per missing file, each checked for its listed size and SHA-256
// before it is put in place. It is fed the connection's reply lines and,
// during a transfer, its bytes; it sends its own request lines. Progress
// goes to the status line, and one message tells how it went.
class HandoutFetch : public QObject
{
    Q_OBJECT
public:
    using SendLine = std::function<void(const QString &line)>;

    HandoutFetch(MessageBox &messages, SendLine sendLine, QObject *parent = nullptr);
    ~HandoutFetch() override;

    bool active() const { return m_step != Step::Idle; }
    void start(const QString &folder);
    // During a transfer: takes its bytes from the front of `data`.
    bool wantsBytes() const { return m_step == Step::Receiving; }
    void takeBytes(QByteArrayView &data);
    // A reply line; false when it is not the fetch's to take.
    bool takeLine(const QString &line);
    // The connection has ended: tells the student what became of the fetch.
    void abandon();

Q_SIGNALS:
    void statusChanged(const QString &text);
    void activeChanged();
    // The server's replies no longer fit the conversation: only a new
    // connection can go on.
    void connectionUnusable();

private:
    enum class Step { Idle, Listing, Entries, Checking, Requesting, Receiving };

    void takeCount(const QString &line);
    void takeEntry(const QString &line);
    void check();
    void checked();
    void fetchNext();
    void takeData(const QString &line);
    void endFile();
    void refused(const QString &reason);
    void showProgress();
    void finish(const QString &trouble = QString());
    void setStep(Step step);

    MessageBox &m_messages;
    SendLine m_sendLine;
    Step m_step = Step::Idle;
    QString m_folder;
    qsizetype m_expectedEntries = 0;
    QList<wire::HandoutEntry> m_entries;
    QList<wire::HandoutEntry> m_toFetch;
    std::unique_ptr<IncomingHandout> m_incoming;
    QFutureWatcher<QList<HandoutNeed>> m_checking;
    int m_lastPercent = -1;
    QStringList m_saved;
    QStringList m_alreadyThere;
    QStringList m_failed;
};
