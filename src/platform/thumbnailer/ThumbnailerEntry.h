#pragma once
// The installed thumbnailers' files (*.thumbnailer, a desktop-entry-like key file): what a file
// says, and its Exec line turned into a command line.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Thumbnailer {

struct ThumbnailerEntry {
    QString exec;          // empty: the file names no command and is ignored
    QString tryExec;       // empty: nothing to check before use
    QStringList mimeTypes; // never holds an empty type
};

// The keys of the "[Thumbnailer Entry]" group; other groups, comments and lines without a key
// are skipped. Any bytes are accepted (not UTF-8 becomes U+FFFD).
ThumbnailerEntry parseThumbnailerEntry(const QByteArray &content);

// Splits an Exec value as desktop entries quote it and fills in the field codes: %i the input
// path, %u its URI, %o the output path, %s the size, %% a percent sign. Each value stays within
// its argument and is not looked at again for codes. The deprecated codes %d %D %n %N %v %m are
// removed, and an argument made of nothing else goes with them.
// A line that must not run answers an empty list, with *error saying why: any other code
// (nothing here can give %f, %c, %k, ...), a % at the end of an argument, a quote left open,
// or a field code inside a quoted argument unless the code is all of it ("%i"): the desktop
// entry rules leave that undefined, and it is how a file name would end up inside a shell
// command ("sh -c 'convert %i %o'").
QStringList expandExec(const QString &exec, const QString &input, const QString &uri, const QString &output, int size,
                       QString *error = nullptr);

} // namespace Thumbnailer
