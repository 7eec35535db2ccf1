#pragma once
// File-system questions and small file operations shared across Kelso.
//
// The slow-volume test keeps thumbnail and type code away from files whose contents come over
// the network or from a cloud service: a prefix test against the mount points of network file
// systems (rebuilt whenever the mount table changes), plus a cached check for a cloud
// placeholder attribute.
#include <QFuture>
#include <QString>
#include <QUrl>
#include <functional>

namespace XPFileUtils {

// "~/Downloads", literally (not expanded).
QString safariDownloadsFolder();
// The Documents folder, expanded, with a trailing "/".
QString documentsFolder();
// $XDG_CACHE_HOME/com.tallow.kelso.
QString ourCacheFolder();

// Rebuilds the table of mounted network volumes; the first call also subscribes to mount
// changes (when an application object exists) so the table follows mounts and unmounts.
void rebuildSlowVolumes();
// The same on a pool thread (reading the mount list waits on the disk): for the GUI thread,
// at start-up and on each mount change. The future ends once the table is rebuilt.
QFuture<void> rebuildSlowVolumesInBackground();
bool pathIsOnSlowVolume(const QString &path);
bool pathIsDropboxOrOtherPlaceholder(const QString &path);
// True for the mount types whose contents come over the network.
bool isSlowFileSystemType(const QString &fsType);

// A folder whose extension marks it as a package (app, bundle, rtfd, …).
bool isPackageExtension(const QString &extension);
bool isPackage(const QString &path);
// False only for an existing folder that is not a package.
bool isFileOrPackage(const QString &path);

// The path itself when nothing is there, else "stem N.ext" for the first free N in 1…1000,
// else the path itself. Names are compared as they are (never Unicode-normalised).
QString findUnusedPath(const QString &path);

// Sources inside a mail library or a photo library are never moved.
bool isInMailOrPhotoLibrary(const QString &path);
// Refuses (false, nothing done) sources inside a mail library or a photo library.
bool moveItemOnSameFileSystemCheckingForSpecialExclusions(const QString &source, const QString &destination,
                                                          QString *error = nullptr);
// A rename within one file system that never replaces an existing item; the system's message
// goes to *error (EXDEV across file systems).
bool moveItemOnSameFileSystem(const QString &source, const QString &destination, QString *error = nullptr);

// Free space on the home folder's file system in 10^9 bytes; -1 when it cannot be read.
double GBFreeOnHome();

bool isURL(const QUrl &child, const QUrl &parent); // isURL:aChildOfURL:
bool isPathAChildOfPath(const QString &child, const QString &parent);

QString errnoString(long error);

// Asks the file manager for the file's information window; without a file manager, opens the
// enclosing folder. `done` gets an empty text, or why neither worked (see Workspace::Done).
void getInfoInFinderForFilePath(const QString &path, const std::function<void(const QString &why)> &done = {});

} // namespace XPFileUtils
