#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class FolderHandle;
class HashCache;

// Puts a finished upload in place of the earlier submission of the same
// name, keeping the earlier one in the folder's history (see versionnames.h)
// instead of deleting it, at most `kept` versions per file name.
//
// The order makes a kill -9 at any moment harmless: the earlier file is first
// linked into the history (it is then in both places), and only then does
// the new file take its name in one rename. Where the file system has no
// hard links (FAT), the earlier file is renamed into the history instead;
// between the two renames it is in the history only. Never neither, never a
// half file. If the earlier version cannot be kept, the new file is not put
// in its place. Every step acts through the open assignment folder and the
// history folders opened from it, never through a link: a history folder
// swapped for a link makes the replacement fail and touches nothing else.
class VersionHistory
{
public:
    static constexpr int DefaultKept = 10;

    // The moments between the steps of a replacement, for tests that end the
    // program there.
    enum class Step { EarlierKept, Replaced, Pruned };
    static void setStepHook(std::function<void(Step)> hook);

    // At the put line: false when an earlier file exists and its version
    // could not be kept (the history is not a folder, the folder is
    // read-only), with the reason.
    static Result<> checkKeepable(const QString &folder, const QString &fileName, int kept);

    struct Outcome
    {
        bool replaced = false;
        bool historyFailed = false; // the earlier version could not be kept
        int versions = 1;           // versions of the file now kept, this one included
        QString reason;             // when not replaced
    };
    // Moves `tempName` (in `folder`, whose path `folderPath` names it in
    // messages) to `fileName` there. Without an earlier file, or with `kept`
    // 0, `plainReplace` does it.
    // The earlier file's hash names its version: taken from `hashes` when
    // that version of it was hashed before.
    static Outcome replace(const FolderHandle &folder, const QString &folderPath,
                           const QByteArray &tempName, const QString &fileName, int kept,
                           HashCache &hashes, const std::function<bool()> &plainReplace);

    // A replacement on FAT killed between its two renames leaves the file a
    // student was told about in the history only, and the new file as a
    // temporary one. Where a temporary file tells of that, each file name
    // whose history holds versions but whose file is missing gets its latest
    // version back; the names put back. To run before the temporary files
    // are removed.
    static QStringList restoreInterrupted(const QString &folderPath);

    // The SHA-256 of the file `name` just stored, so that keeping it later
    // needs no second reading.
    static void remember(const FolderHandle &folder, const QByteArray &name,
                         const QByteArray &sha256, HashCache &hashes);

private:
    static QByteArray sha256Of(const FolderHandle &folder, const QByteArray &name,
                               HashCache &hashes);
};
