#pragma once
// Uniform type identifiers on top of shared-mime-info.
//
// Kelso names file types the way its behaviour is written: reverse-domain identifiers such as
// "public.jpeg" or "public.movie". Linux knows MIME types. This layer keeps a table between the
// identifiers the program names and their MIME types, and answers every other question through
// QMimeDatabase:
//
// - A MIME type in the table maps to its identifier ("image/jpeg" <-> "public.jpeg").
// - A MIME type outside the table gets the stable identifier "org.freedesktop.mime.TYPE.SUBTYPE"
//   (reversible: the first "." after the prefix is the "/").
// - An extension no MIME type claims gets the stable dynamic identifier "dyn.ext.EXT" (EXT in
//   lower case, anything but ASCII letters and digits written as "-xx" hex bytes), so that the
//   same unknown extension always gives the same identifier and its preferred extension can be
//   read back.
// - Conformance follows the table's declared parents, the MIME parents of shared-mime-info
//   ("text/x-csrc" is a "text/plain"), and the media class ("image/…" conforms to public.image).
//
// Everything is thread-safe (QMimeDatabase is; the table is immutable).
#include <QString>
#include <QStringList>

namespace TypeRegistry {

// Identifier for a MIME type name (aliases resolved); empty for an empty or unknown name.
QString utiForMimeType(const QString &mimeName);
// The MIME type that an identifier stands for; empty for abstract and dynamic identifiers.
QString mimeTypeForUTI(const QString &uti);

// The identifier of an existing file, examined by name and content (folders: "public.folder",
// packages: their bundle type). False with *error set when the file cannot be examined.
bool utiForFile(const QString &path, QString *uti, QString *error = nullptr);

// Every identifier declared for the extension: among types conforming to "public.directory"
// when `isDirectory`, else among all file types. Empty for an empty extension or none known.
QStringList allUTIsForExtension(const QString &extension, bool isDirectory);
// The preferred identifier of an extension: the first MIME type that claims it, else a dynamic
// identifier. Empty for an empty extension.
QString preferredUTIForExtension(const QString &extension);
// The extension files of this type usually carry (for dynamic identifiers: the one encoded in
// it); empty when none is known.
QString preferredExtensionForUTI(const QString &uti);

// True for the extension of a folder shown as one document (app, bundle, rtfd, …), in any
// letter case.
bool isPackageExtension(const QString &extension);

bool isDynamic(const QString &uti);
QString dynamicUTIForExtension(const QString &extension);

// True when `uti` is `parent` or conforms to it through declared or MIME parents.
bool conformsTo(const QString &uti, const QString &parent);

// Icon names (freedesktop icon naming) for an identifier, best first; empty when none.
QStringList iconNamesForUTI(const QString &uti);

} // namespace TypeRegistry
