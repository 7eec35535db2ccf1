#pragma once
// Command-line tools for acting on files the way the panes' menus do:
//   kelso open-with FILE            lists the applications offered for FILE (default first)
//   kelso open-with FILE APP        opens FILE with APP (a .desktop path) and remembers it
//   kelso rename FILE NEWNAME       renames FILE by the rename sheet's rules; prints the new path
//   kelso never-show folder|extension|item|fragment VALUE…
//                                   adds to the lists that keep files out of the recent list
// Exit status: 0 done, 1 failed (one line on stderr per failure), 2 usage error.
#include <QStringList>

int runOpenWithCommand(const QStringList &args);
int runRenameCommand(const QStringList &args);
int runNeverShowCommand(const QStringList &args);
