#pragma once
// Adding one entry to the lists that keep files out of the recent list ("never show" commands of
// the panes and the drops on the preferences tables). Each operation answers true when it added
// an entry, and writes the whole new list back to its setting, old entries first, the new one
// last; observers of the setting (the recent-files pane) update from that change.
#include <QString>

class Defaults;

namespace KLUnwanted {

inline const QString kNeverShowFolders = QStringLiteral("Never show folders");

// An existing folder, stored with the home folder abbreviated to "~"; not added when either
// that form or the fully expanded one is already listed in unwantedDirectories.
bool addUnwantedDirectory(const QString &path, Defaults *defaults = nullptr);
// The path's extension in lower case, or "Never show folders" for an existing folder, added to
// unwantedExtensions when not yet there; a file without extension adds nothing.
bool addUnwantedExtensionFromFilePath(const QString &path, Defaults *defaults = nullptr);
// The path unchanged, added to unwantedItems when not yet there.
bool addUnwantedItem(const QString &path, Defaults *defaults = nullptr);
// The text unchanged, added to unwantedPathFragments when not yet there (exact comparison).
bool addUnwantedPathFragment(const QString &text, Defaults *defaults = nullptr);

} // namespace KLUnwanted
