#pragma once
// The per-user autostart list: desktop entries in $XDG_CONFIG_HOME/autostart. An entry's
// "location" is the program path of its Exec line.
#include <QString>
#include <QStringList>

namespace Autostart {

struct Entry {
    QString file;        // the .desktop file
    QString programPath; // first word of Exec, unquoted
};

QString folder();
// Every readable desktop entry in the folder; entries without an Exec line are skipped.
QList<Entry> entries();
// Writes $folder/<fileName> starting `programPath` (with X-GNOME-Autostart-Delay=3 so the
// tray exists by then). A name already taken gets " 1", " 2"… before ".desktop".
bool addEntry(const QString &fileName, const QString &programPath, QString *error = nullptr);
bool removeEntry(const Entry &entry);
// Program path of an Exec value (quotes handled, field codes dropped).
QString programOfExec(const QString &exec);

} // namespace Autostart
