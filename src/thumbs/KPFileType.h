#pragma once
// The type of a file as a uniform type identifier, cheaply: two process-wide caches (by
// extension, for extensions whose type is unambiguous, and by path) so that a grid of hundreds
// of files asks the file system at most once per path, and files on slow volumes are classified
// by their extension alone, never opened. Generated cache files under "Library/Caches/" with
// long extensions are not examined at all. Every function may be called from any thread.
#include <QString>
#include <QStringList>

namespace KPFileType {

// "jpg", "gif", "psd", "png", "tif" (case-sensitive), else conformance to public.image.
bool isImage(const QString &path);
// "mov", "avi", "mpg", "mp4" (case-sensitive), else conformance to public.movie.
bool isMovie(const QString &path);

QString utiForFile(const QString &path);
QString utiForPath(const QString &path, const QString &extension);
// Examines the file; *extensionUTI gets the identifier from the extension.
QString utiForPathSlow(const QString &path, const QString &extension, QString *extensionUTI);
// The identifier that may be remembered for every file with this extension, or empty.
QString bestUTIForStoringExtension(const QString &extension, const QString &extensionUTI, const QString &pathUTI);
QStringList allUTIsForExtension(const QString &extension, bool isDirectory);
QString preferredUTIForExtension(const QString &extension);

// Cache sizes (tests, statistics).
qsizetype extensionCacheCount();
qsizetype pathCacheCount();
// Counts the times the file system was asked (tests).
qsizetype fileExaminations();

} // namespace KPFileType
