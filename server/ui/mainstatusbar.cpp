#include "server/ui/mainstatusbar.h"

#include "platform/widgets/twips.h"

#include <QLabel>

MainStatusBar::MainStatusBar(QWidget *parent, Clock clock)
    : QStatusBar(parent), m_clock(std::move(clock))
{
    setObjectName(QStringLiteral("sbStatusBar"));
    setSizeGripEnabled(false); // the window has a fixed size
    m_status = addPanel(QStringLiteral("ｽﾃｰﾀｽ"), true);
    m_date = addPanel(QString(), false);
    m_time = addPanel(QString(), false);
    refresh();
    // Every second, so a new minute shows within a second of its start.
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &MainStatusBar::refresh);
    m_timer.start();
}

QLabel *MainStatusBar::addPanel(const QString &text, bool stretch)
{
    auto *panel = new QLabel(text, this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setMinimumWidth(twipsToPixels(1440));
    if (stretch)
        addWidget(panel, 1);
    else
        addPermanentWidget(panel);
    return panel;
}

void MainStatusBar::refresh()
{
    const QDateTime now = m_clock();
    m_date->setText(now.toString(QStringLiteral("yyyy/MM/dd")));
    m_time->setText(now.toString(QStringLiteral("H:mm")));
    const QString status = m_statusSource ? m_statusSource() : QString();
    m_status->setText(status.isEmpty() ? QStringLiteral("ｽﾃｰﾀｽ") : status);
}

QString MainStatusBar::panelText(Panel panel) const
{
    switch (panel) {
    case Status:
        return m_status->text();
    case Date:
        return m_date->text();
    case Time:
        return m_time->text();
    }
    return {};
}
