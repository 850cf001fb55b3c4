#pragma once

#include "platform/documentopener.h"
#include "platform/folderchooser.h"
#include "platform/registry.h"
#include "platform/shellservices.h"

#include <QHash>
#include <QStringList>

// Answers with `answer` and records the prompts it was shown with.
class FakeFolderChooser : public FolderChooser
{
public:
    FolderChoice answer;
    QStringList prompts;
    FolderChoice chooseFolder(const QString &prompt) override
    {
        prompts << prompt;
        return answer;
    }
};

// Records the documents it is asked to open; keeps their failure reports so
// that a test can deliver one later, as the system would.
class FakeDocumentOpener : public DocumentOpener
{
public:
    QStringList opened;
    QList<Failure> pending;
    void open(const QString &path, Failure failed) override
    {
        opened << path;
        pending << std::move(failed);
    }
};

// Keys are paths under HKEY_LOCAL_MACHINE; the fake tells apart keys that
// exist but may not be opened with the rights asked for.
class FakeRegistry : public Registry
{
public:
    struct FakeKey
    {
        QHash<QString, Value> values;
        quint32 allowedAccess = AllAccess;
    };
    QHash<QString, FakeKey> keys;
    QStringList openedKeys;
    QList<quint32> accessAsked;
    QList<qsizetype> capacities;
    int openCount = 0;
    int closeCount = 0;

    void setText(const QString &key, const QString &name, const QByteArray &text)
    {
        keys[key].values[name] = {TextType, text + '\0'};
    }

    bool openKey(Root root, const QString &path, quint32 access, Key *key) override
    {
        accessAsked << access;
        const auto it = keys.constFind(path);
        if (root != Root::LocalMachine || it == keys.cend() || (access & ~it->allowedAccess) != 0)
            return false;
        openedKeys << path;
        ++openCount;
        *key = Key(openedKeys.size());
        return true;
    }
    bool queryValue(Key key, const QString &name, qsizetype capacity, Value *value) override
    {
        capacities << capacity;
        const FakeKey &open = keys[openedKeys.at(qsizetype(key) - 1)];
        const auto it = open.values.constFind(name);
        if (it == open.values.cend() || it->data.size() > capacity)
            return false;
        // The reader hands over its whole buffer, NUL-filled behind the data.
        *value = {it->type, it->data + QByteArray(capacity - it->data.size(), '\0')};
        return true;
    }
    void closeKey(Key) override { ++closeCount; }
};

struct FakeShell
{
    FakeFolderChooser folders;
    FakeDocumentOpener documents;
    FakeRegistry registry;
    ShellServices services() { return {folders, documents, registry}; }
};
