#pragma once

#include <QByteArray>
#include <QString>

// Read access to the machine's registry of settings, in the shape of the
// Windows registry: keys under a root, named values with a type.
class Registry
{
public:
    enum class Root { LocalMachine }; // HKEY_LOCAL_MACHINE
    using Key = quintptr;

    // Value types as the registry numbers them.
    static constexpr quint32 TextType = 1;   // REG_SZ
    static constexpr quint32 NumberType = 4; // REG_DWORD, little-endian
    // Every right on a key (KEY_ALL_ACCESS).
    static constexpr quint32 AllAccess = 0x2003F;

    struct Value
    {
        quint32 type = 0;
        QByteArray data; // as stored; text ends in NUL
    };

    virtual ~Registry() = default;
    // False when the key does not exist or may not be opened with `access`.
    virtual bool openKey(Root root, const QString &path, quint32 access, Key *key) = 0;
    // False when the value does not exist or needs more than `capacity` bytes.
    virtual bool queryValue(Key key, const QString &name, qsizetype capacity, Value *value) = 0;
    virtual void closeKey(Key key) = 0;
};
