#pragma once
// Where Kelso keeps its files (XDG base directories).
#include <QString>

namespace KLPaths {
// $XDG_STATE_HOME (absolute) or ~/.local/state.
QString stateHome();
// $XDG_STATE_HOME/Kelso: event journal, crash records.
QString stateFolder();
// $XDG_DATA_HOME/Kelso: recentItems.plist, coolerItems.plist.
QString applicationSupportFolder();
// $XDG_CACHE_HOME/com.tallow.kelso.
QString cacheFolder();
// A module Kelso loads on first use (e.g. "libkelso_pdf.so"): the file named by the environment
// variable `overrideVariable` when set, else the one beside the program (bin/../lib/kelso/, as
// in the build folder and an installed tree) when it exists, else `builtPath`.
QString modulePath(const char *overrideVariable, const QString &fileName, const QString &builtPath);
} // namespace KLPaths
