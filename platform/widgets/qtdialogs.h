#pragma once

#include "platform/dialogs.h"

#include <QPointer>
#include <QWidget>

// "desc|pattern|desc|pattern" to Qt's "desc (pattern);;desc (pattern)".
QString toQtFilter(const QString &filter);

class QtFileDialogs : public FileDialogs
{
public:
    explicit QtFileDialogs(QWidget *parent) : m_parent(parent) {}
    QString openFileName(const QString &filter) override;
    QString saveFileName(const QString &proposedName, const QString &filter) override;

private:
    QPointer<QWidget> m_parent;
};

class QtMessageBox : public MessageBox
{
public:
    QtMessageBox(QWidget *parent, QString title) : m_parent(parent), m_title(std::move(title)) {}
    void show(const QString &text) override;
    bool ask(const QString &text) override;

private:
    QPointer<QWidget> m_parent;
    QString m_title;
};
