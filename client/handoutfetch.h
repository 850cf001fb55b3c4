#pragma once

#include "client/handoutfile.h"
#include "client/handoutfoldername.h"
#include "common/wire.h"

#include <QFutureWatcher>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class MessageBox;

// File names for a message: the first ten, and how many more there are.
class NameList
{
public:
    static constexpr qsizetype Shown = 10;
    void add(const QString &name);
    bool isEmpty() const { return m_count == 0; }
    QString text() const;

private:
    QStringList m_first;
    qsizetype m_count = 0;
};

// Fetching the handouts the student does not have yet: "list", then one
// "get" per missing file, each checked for its listed size and SHA-256
// before it is put in place. A file saved earlier that the student has not
// changed makes way for its newer version; the folder's HandoutRecord
// tells which those are. The conversation decides which reply is whose;
// this class is handed the fetch's replies, the list's entries and the
// file's bytes, and asks for its get lines through `sendGet`. Progress goes
// to the status line, and one message tells how it went.
//
// Whatever the server sends is bounded by what it announced: a listing too
// long, a line too long, a name listed twice or a size other than the
// listed one is a protocol error; the caller then ends the connection and
// abandon() tells the student.
class HandoutFetch : public QObject
{
    Q_OBJECT
public:
    using SendLine = std::function<void(const QString &line)>;
    static constexpr qint64 MaxEntries = 10000;

    HandoutFetch(MessageBox &messages, SendLine sendGet, QObject *parent = nullptr);
    ~HandoutFetch() override;

    bool active() const { return m_step != Step::Idle; }
    // Prepares `folder`; fails when it cannot be made, with the message for
    // the student (none when a fetch is already under way). The caller then
    // sends the list line.
    Result<> start(const QString &folder);
    // The 401 line; fails on a protocol error, which abandon() then tells.
    Result<> takeCount(const QString &line);
    bool wantsEntries() const { return m_step == Step::Entries; }
    // One entry line; fails on a protocol error.
    Result<> takeEntry(const QString &line);
    // A line longer than any the fetch takes: always a protocol error.
    void lineTooLong();
    // The 402 line; fails on a protocol error.
    Result<> takeData(const QString &line);
    // During a transfer: takes its bytes from the front of `data`.
    bool wantsBytes() const { return m_step == Step::Receiving; }
    void takeBytes(QByteArrayView &data);
    // A 499 to the list or the current get line.
    void refused(const QString &reason);
    // The connection has ended: tells the student what became of the fetch.
    void abandon();
    // The program ends: stops at once and tells nothing, since nothing of
    // the student's is lost (no file is named before it is whole).
    void stop();

Q_SIGNALS:
    void statusChanged(const QString &text);
    // Emitted when the fetch ends, before its message is shown.
    void activeChanged();

private:
    enum class Step { Idle, Listing, Entries, Checking, Requesting, Receiving };

    Result<> fail(const QString &what);
    void check();
    void checked();
    void fetchNext();
    void endFile();
    void showProgress();
    void stopChecking();
    void finish(const QString &trouble = QString());
    void remember(const wire::HandoutEntry &file);
    void writeRecord();
    void setStep(Step step);

    MessageBox &m_messages;
    SendLine m_sendGet;
    Step m_step = Step::Idle;
    std::shared_ptr<HandoutFolder> m_folder;
    HandoutRecord m_record; // of m_folder
    bool m_recordChanged = false;
    qsizetype m_expectedEntries = 0;
    QList<wire::HandoutEntry> m_entries;
    // Names listed so far, case-folded: a student's file system may ignore case.
    QSet<QString> m_names;
    QList<HandoutPlan> m_toFetch;
    std::unique_ptr<IncomingHandout> m_incoming;
    QFutureWatcher<QList<HandoutPlan>> m_checking;
    std::shared_ptr<std::atomic_bool> m_stopChecking;
    int m_lastPercent = -1;
    QString m_protocolError;
    NameList m_saved;
    NameList m_replaced;
    NameList m_alreadyThere;
    NameList m_failed;
};
