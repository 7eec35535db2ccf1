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
} // namespace KLPaths
