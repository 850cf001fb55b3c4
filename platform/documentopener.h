#pragma once

#include <QString>

#include <functional>

// Opens a document with the program the system associates with its kind,
// without waiting for that program.
class DocumentOpener
{
public:
    // Called on the caller's thread, possibly after open() has returned, with
    // the reason the system gave for not opening the document.
    using Failure = std::function<void(const QString &reason)>;

    virtual ~DocumentOpener() = default;
    virtual void open(const QString &path, Failure failed) = 0;
};
