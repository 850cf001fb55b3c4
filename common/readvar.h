#pragma once

#include "common/result.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>
#include <vector>

// Looks up `key` in a name=value settings file (code page 932). The file is
// opened and closed at every call, so each lookup sees the file as it is now.
// Returns the value of the first key line whose name equals the key without
// regard to case, or an empty text when none does. Fails with the system's
// reason when the file cannot be read or is not a regular file (a FIFO
// would wait for ever, a device would never end).
Result<QString> readvar(const QString &key, const QString &fileName);

// A key line as lookupSetting() found it.
struct SettingLine
{
    QString value;
    int number = 0; // of the line in the file, counting from 1
};

// A name=value settings text read once, answering any number of keys by the
// rules of readvar(): the first key line whose name equals the key without
// regard to case wins, nothing is trimmed, lines starting with "#" or "[" and
// lines without a name before "=" are no key lines.
class SettingsText
{
public:
    struct Entry
    {
        QString key; // lower case
        SettingLine line;
    };

    SettingsText() = default;
    explicit SettingsText(QStringView text);
    // Lines as splitLines() gives them; an emptied line keeps its number.
    explicit SettingsText(const QList<QStringView> &lines);

    // The file decoded from code page 932, refused as lookupSetting()
    // refuses it; `maxBytes` < 0: no bound.
    static Result<SettingsText> read(const QString &fileName, qint64 maxBytes = -1);

    std::optional<SettingLine> line(const QString &key) const;
    // The value of `key`, or an empty text when no line names it.
    QString value(const QString &key) const;
    // Every line that names `key`, in the order of the file: for the few
    // keys that may stand several times.
    std::vector<SettingLine> lines(const QString &key) const;
    // The first line of every name, in the order of the file.
    const std::vector<Entry> &entries() const { return m_entries; }
    // The whole text of a file that read() read.
    const QString &text() const { return m_text; }

private:
    QString m_text;
    std::vector<Entry> m_entries;
    std::vector<Entry> m_repeated; // the lines after the first of their name
    QHash<QString, qsizetype> m_indexOfKey;
};

// readvar() that also tells where the value stands, for messages that send
// the reader to the right line, and that reads at most `maxBytes`: a larger
// file is refused. Nothing when no key line matches.
Result<std::optional<SettingLine>> lookupSetting(const QString &key, const QString &fileName,
                                                 qint64 maxBytes);

// The leading number of a text, blanks ignored, rounded to an integer with
// halves going to the even neighbour; 0 when the text starts with no number.
// How both programs read a port from their settings.
qint64 leadingNumber(QStringView text);
