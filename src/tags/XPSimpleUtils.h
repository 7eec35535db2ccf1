#pragma once
// Small file helpers shared by the tag writer and the filed documents.
#include <QString>

namespace XPSimpleUtils {

// A file whose modification time is at least an hour old gets it moved 2 seconds later (the
// sub-second part and the access time kept), so that indexers take the changed metadata in.
// Files changed within the last hour, links' targets, empty paths and files that cannot be
// examined are left alone. Answers true when the time was moved.
bool adjustModifictionDate(const QString &path);

} // namespace XPSimpleUtils
