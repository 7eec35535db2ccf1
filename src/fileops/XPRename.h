#pragma once
// Renaming one file in place, and moving files without ever replacing what is already there.
#include <QObject>
#include <QString>

// Announces every item Kelso itself moved (Move To, filing, renaming), so that whoever shows
// the file (the panes, the collector) follows it to its new path at once instead of finding it
// gone. Emitted on the thread that moved; receivers in the GUI get it queued.
class XPFileMoveNotifier : public QObject
{
    Q_OBJECT
public:
    static XPFileMoveNotifier *instance();
Q_SIGNALS:
    void itemMoved(const QString &oldPath, const QString &newPath);
};

namespace XPFileUtils {

// The outcome of checking (or carrying out) a rename.
struct RenamePlan {
    enum Status {
        Unchanged, // the new name is the current one: nothing to do
        Refused,   // the name breaks a rule (message says why when the user should be told)
        Ready,     // target holds the new path
    };
    Status status = Refused;
    QString target;
    QString message;
};

// The rename rules for a file at `path` given the name the user typed:
// - a name holding "/" or a NUL character is refused with a message;
// - the stem (the name without its extension) needs at least 2 characters and the name must not
//   begin with "." (refused silently, the sheet simply closes);
// - a name without extension gets the file's current extension (an extension cannot be dropped
//   by renaming);
// - a name longer than NAME_MAX (255) bytes, the kept extension included, is refused with a
//   message that gives the limit;
// - a target that already exists is refused with a message.
// Pure apart from the final existence check.
RenamePlan planRename(const QString &path, const QString &newName);

// Carries out planRename(); answers the plan with status Ready and the new path on success. A
// failed move turns into Refused with the system's message. Never replaces an existing item.
RenamePlan renameFile(const QString &path, const QString &newName);

// Moves `source` to `destination`, failing (never replacing) when something exists there.
// Within a file system this is an atomic no-replace rename; across file systems it behaves like
// mv (FileMove): data, user attributes, mode and times, folders recursively, and the source
// removed only after the whole copy succeeded. A move that succeeded is announced through
// XPFileMoveNotifier.
bool moveItemWithoutReplacing(const QString &source, const QString &destination, QString *error = nullptr);

} // namespace XPFileUtils
