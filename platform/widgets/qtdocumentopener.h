#pragma once

#include "platform/documentopener.h"

#include <QObject>

// On X11 desktops Qt hands documents to xdg-open and counts it a success as
// soon as xdg-open has started, so a machine without any viewer would fail
// silently. Here xdg-open is run and watched: its failure exit reaches the
// caller. Elsewhere, and without xdg-open, QDesktopServices opens the file.
class QtDocumentOpener : public QObject, public DocumentOpener
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~QtDocumentOpener() override;

    void open(const QString &path, Failure failed) override;

private:
    bool openWithXdgOpen(const QString &path, const Failure &failed);
};
