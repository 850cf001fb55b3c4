#pragma once

#include <QToolBar>

// The lecturer's toolbar: picture buttons without captions, each known by
// its key ("Open", "Save", "Copy", "Hopen", "Excelcopy").
class MainToolBar : public QToolBar
{
    Q_OBJECT
public:
    explicit MainToolBar(QWidget *parent = nullptr);

    QAction *button(const QString &key) const;

Q_SIGNALS:
    void buttonClick(const QString &key);

private:
    void addButton(const QString &key, const QString &toolTip, const QString &image);
};
