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
// before it is put in place. The conversation decides which reply is whose;
// this class is handed the fetch's replies, the list's entries and the
// file's bytes, and asks for its get lines through `sendGet`. Progress goes
// to the status line, and one message tells how it went.
class HandoutFetch : public QObject
{
    Q_OBJECT
public:
    using SendLine = std::function<void(const QString &line)>;

    HandoutFetch(MessageBox &messages, SendLine sendGet, QObject *parent = nullptr);
    ~HandoutFetch() override;

    bool active() const { return m_step != Step::Idle; }
    // Prepares `folder`; false (the student told why) when it cannot be made.
    // The caller then sends the list line.
    bool start(const QString &folder);
    // The 401 line; false when it is malformed (the fetch has ended).
    bool takeCount(const QString &line);
    bool wantsEntries() const { return m_step == Step::Entries; }
    void takeEntry(const QString &line);
    // The 402 line; false when it is malformed (the fetch has ended).
    bool takeData(const QString &line);
    // During a transfer: takes its bytes from the front of `data`.
    bool wantsBytes() const { return m_step == Step::Receiving; }
    void takeBytes(QByteArrayView &data);
    // A 499 to the list or the current get line.
    void refused(const QString &reason);
    // The connection has ended: tells the student what became of the fetch.
    void abandon();

Q_SIGNALS:
    void statusChanged(const QString &text);
    // Emitted when the fetch ends, before its message is shown.
    void activeChanged();

private:
    enum class Step { Idle, Listing, Entries, Checking, Requesting, Receiving };

    void check();
    void checked();
    void fetchNext();
    void endFile();
    void showProgress();
    void finish(const QString &trouble = QString());
    void setStep(Step step);

    MessageBox &m_messages;
    SendLine m_sendGet;
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
