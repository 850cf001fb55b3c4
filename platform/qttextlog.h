#pragma once

#include "platform/textlog.h"

#include <QPlainTextEdit>

// The activity log as an editable multi-line text box. The lecturer may edit
// it; text() returns what the box holds.
class QtTextLog : public QPlainTextEdit, public TextLog
{
    Q_OBJECT
public:
    explicit QtTextLog(QWidget *parent = nullptr);
    void insertAtTop(const QString &block) override;
    QString text() const override;
};
