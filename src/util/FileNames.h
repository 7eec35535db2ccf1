#pragma once
// Questions about a file's name alone (no disk access).
#include <QString>

namespace KLFileNames {

// The extension after the last "." of the last path component; empty when there is none, when
// the name starts with its only "." (".bashrc") or ends with ".".
QString pathExtension(const QString &path);

} // namespace KLFileNames
