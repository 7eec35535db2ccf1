#pragma once
// File references ("bookmarks") and package ancestry.
//
// Linux has no persistent file reference, so a bookmark is a small record of what we knew
// about the file when it was made: {path, device, inode, size, mtime}, kept as a binary plist
// with a format key. Resolving one tries, in order:
//   1. the recorded path, when something exists there;
//   2. the rename the file-system event stream saw for that path (old → new), followed
//      through a few hops, when the target exists;
//   3. a file with the same device and inode in the recorded folder (a rename the stream did
//      not see, e.g. while Kelso was not running);
// and otherwise gives up. Resolution never mounts anything and never asks the user.
#include <QByteArray>
#include <QString>
#include <functional>

namespace XPSimpleUtils {

struct BookmarkRecord {
    QString path;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 mtimeNs = 0;
    bool isValid() const { return !path.isEmpty(); }
    bool operator==(const BookmarkRecord &) const = default;
};

// What a bookmark for the file at `path` records (not following a final symbolic link);
// invalid when the path is empty or nothing is there.
BookmarkRecord bookmarkRecordForPath(const QString &path);
// The bookmark bytes of a record.
QByteArray encodeBookmark(const BookmarkRecord &record);

// A bookmark for the file at `path` (not following a final symbolic link); empty when the
// path is empty or nothing is there.
QByteArray bookmarkDataForPath(const QString &path);
// A bookmark that only remembers a path (used when nothing exists there any more).
QByteArray bookmarkDataForMissingPath(const QString &path);

// Decodes bookmark bytes; an invalid record for anything that is not one of ours.
BookmarkRecord decodeBookmark(const QByteArray &data);

// The path the bookmark leads to now, or empty. `withUI` asks for interactive resolution,
// which is refused (empty) off the main thread; on Linux there is nothing interactive to do,
// so it otherwise behaves like the silent form.
QString resolveBookmarkDataToPath(const QByteArray &data, bool withUI);

// While one lives on a thread, looking a missing file up by its inode there lists each folder
// once: the stored items checked at start (many of them deleted or moved) cost one listing per
// folder, not one per item. Listings are kept until the outermost batch on the thread ends, so
// keep a batch to one pass over a list of items.
class InodeLookupBatch
{
public:
    InodeLookupBatch();
    ~InodeLookupBatch();
    InodeLookupBatch(const InodeLookupBatch &) = delete;
    InodeLookupBatch &operator=(const InodeLookupBatch &) = delete;

    // How many folders the batch on this thread listed (0 without one): for tests.
    static int foldersListed();

private:
    bool m_outermost;
};

// Converts a legacy alias record into bookmark data. Accepts our own bookmark bytes, and the
// classic version-2 alias record (its POSIX path fields); `fallbackPath` (the archived path)
// is used when the record says nothing usable. Empty only when there is nothing at all.
QByteArray bookmarkDataFromAliasData(const QByteArray &alias, const QString &fallbackPath = QString());

// Where the event stream saw `oldPath` go, or empty. Installed by whoever owns the stream
// (the collector); thread-safe.
void setRenameLookup(std::function<QString(const QString &oldPath)> lookup);

// True when some ancestor folder of `path` (the path itself excluded), up to but not
// including "/", is a package.
bool isPathInPackage(const QString &path);
bool isPathInPackageOrIsPackage(const QString &path);

} // namespace XPSimpleUtils
