#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (the lecturer logging out, Ctrl+C, kill) as an
// ordinary event on the owning thread, so that the program ends through its
// normal shut-down path: uploads in progress remove their temporary files.
// One instance per process; the default actions return with it.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    bool isValid() const { return m_notifier != nullptr; }
    // Whether one of the signals has arrived since construction.
    bool received() const { return m_received != 0; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};
