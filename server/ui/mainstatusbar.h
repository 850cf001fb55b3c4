#pragma once

#include <QDateTime>
#include <QStatusBar>
#include <QTimer>
#include <functional>

class QLabel;

// The status bar of the main window: a text panel "ｽﾃｰﾀｽ" and the current
// date and time, which the bar keeps up to date itself.
class MainStatusBar : public QStatusBar
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    explicit MainStatusBar(QWidget *parent = nullptr, Clock clock = &QDateTime::currentDateTime);

    // What the status panel shows instead of "ｽﾃｰﾀｽ" while it gives a text
    // (the countdown to a deadline); asked every second.
    void setStatusSource(std::function<QString()> source) { m_statusSource = std::move(source); }

    enum Panel { Status, Date, Time };
    QString panelText(Panel panel) const;

private:
    QLabel *addPanel(const QString &text, bool stretch);
    void refresh();

    Clock m_clock;
    std::function<QString()> m_statusSource;
    QTimer m_timer;
    QLabel *m_status = nullptr;
    QLabel *m_date = nullptr;
    QLabel *m_time = nullptr;
};
