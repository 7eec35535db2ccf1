#pragma once
// The user's real home folder and "~" expansion against it.
//
// The home folder is $HOME when it holds an absolute path (the desktop
// convention; it also lets tests run against a fresh home), otherwise the
// user database entry for the current user id. A sandboxed application's data
// folder (Flatpak's ~/.var/app/<id>) is never taken for the home.
#include <QString>

namespace PimsAdditions {

// The real home folder, without a trailing "/".
QString realHomeDirectory();

// "~" and "~/x" expand against realHomeDirectory(); anything else is returned unchanged.
QString stringByExpandingTildeInPathSANDBOX(const QString &path);

// Replaces a leading home-folder prefix by "~" ("/home/u" → "~", "/home/u/a" → "~/a").
QString stringByAbbreviatingWithTildeInPathSANDBOX(const QString &path);

} // namespace PimsAdditions
