#pragma once

// Kelso's logging areas. Each area's warnings (failures, stores moved aside) show by default;
// its info and debug lines are off until switched on, one area at a time:
//   QT_LOGGING_RULES="kelso.fsevents.info=true" kelso
//   QT_LOGGING_RULES="kelso.recent.debug=true" kelso
// Lines on stderr read "kelso[AREA]: message" (see installMessageFormat).

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcApp)       // kelso.app: start-up, tray and window modes, quitting
Q_DECLARE_LOGGING_CATEGORY(lcLifecycle) // kelso.lifecycle: step timings, with KELSO_TRACE_LIFECYCLE=1
Q_DECLARE_LOGGING_CATEGORY(lcDBus)      // kelso.dbus: the session-bus service
Q_DECLARE_LOGGING_CATEGORY(lcFsEvents)  // kelso.fsevents: inotify/fanotify watches, event journal
Q_DECLARE_LOGGING_CATEGORY(lcRecent)    // kelso.recent: recent-items store, opened files, collector
Q_DECLARE_LOGGING_CATEGORY(lcTags)      // kelso.tags: tags and ratings in extended attributes
Q_DECLARE_LOGGING_CATEGORY(lcFileOps)   // kelso.fileops: open, rename, trash, move, filing
Q_DECLARE_LOGGING_CATEGORY(lcPrefs)     // kelso.prefs: the settings file and its lock
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)  // kelso.platform: desktop services, modules, login items
Q_DECLARE_LOGGING_CATEGORY(lcThumbs)    // kelso.thumbs: thumbnail decoders and thumbnailers
Q_DECLARE_LOGGING_CATEGORY(lcBrowser)   // kelso.browser: the panes and their commands
Q_DECLARE_LOGGING_CATEGORY(lcCooler)    // kelso.cooler: the Cooler and its store

namespace KelsoLog {

// The line written for one message: "kelso[fsevents]: text" for the category "kelso.fsevents",
// "kelso[qt.qpa.xcb]: text" for Qt's own areas, "kelso: text" for uncategorised messages.
QString formatLine(const char *category, const QString &message);

// Writes every message as formatLine does, to stderr. A QT_MESSAGE_PATTERN in the environment
// wins: then Qt's own formatting stays.
void installMessageFormat();

} // namespace KelsoLog
