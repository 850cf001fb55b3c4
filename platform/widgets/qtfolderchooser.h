#pragma once

#include "platform/folderchooser.h"

#include <QPointer>
#include <QWidget>

class QtFolderChooser : public FolderChooser
{
public:
    explicit QtFolderChooser(QWidget *owner) : m_owner(owner) {}
    FolderChoice chooseFolder(const QString &prompt) override;

private:
    QPointer<QWidget> m_owner;
};
