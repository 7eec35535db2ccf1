#pragma once
// Icons from the freedesktop icon theme, found and loaded without QIcon.
//
// QIcon's theme loader needs a QGuiApplication and is not safe off the GUI thread, but Kelso
// draws icons on its thumbnail worker threads and in the command-line tool (a
// QCoreApplication). So this follows the freedesktop icon-theme rules itself: the user's theme (the
// desktop's theme when a GUI application reports one, else the GTK setting, else Adwaita), the
// themes it inherits, then hicolor, then /usr/share/pixmaps; in each theme the directory whose
// size matches, else the closest one. PNG and SVG files are read; SVG through QtSvg.
//
// All functions are thread-safe; look-ups are cached per (names, size).
#include <QImage>
#include <QString>
#include <QStringList>

namespace IconTheme {

// The theme searched first.
QString themeName();
// Overrides the theme (tests, a future setting); empty goes back to the automatic choice.
void setThemeName(const QString &name);

// The best file for the first of `names` any theme in the chain has, or empty.
QString findIconFile(const QStringList &names, int size);
// An icon file drawn centred into a transparent size × size image, aspect kept; null on failure.
QImage loadIconFile(const QString &file, int size);
// findIconFile + loadIconFile.
QImage icon(const QStringList &names, int size);

// Pictures drawn in code, for when no theme has anything: a blank page with a folded corner,
// and a folder.
QImage builtInDocumentIcon(int size);
QImage builtInFolderIcon(int size);

} // namespace IconTheme
