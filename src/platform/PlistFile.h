#pragma once
// Reading a property-list file that may be damaged, hostile or not a file at all: the
// settings, the shared tag domain and the two stores all come through here.
//
// Only a regular file is opened (a symbolic link to one is fine). A FIFO, a socket or a device
// at the path is never opened, since reading one can block forever or never end; and the open
// itself is non-blocking, so one swapped in after the check cannot hang the read either. A file
// larger than Plist::kMaxBytes is not read at all; what is read goes through Plist::fromData()
// and its limits. Nothing here logs: the caller names the file in its one log line.
#include <QByteArray>
#include <QString>
#include <QVariant>

namespace PlistFile {

enum class Status {
    Missing,    // nothing at the path (a dangling symbolic link included)
    Read,       // read (and, for read(), parsed)
    Unreadable, // there, but it cannot be opened (a folder, no permission): the user's to fix
    Bad,        // not a regular file, too large, or not a property list within the limits
};

struct Bytes {
    Status status = Status::Missing;
    QByteArray bytes;
    QString why; // for Unreadable and Bad
};

struct Parsed {
    Status status = Status::Missing;
    QVariant value;
    QString why; // for Unreadable and Bad
};

// The file's bytes; an empty file is Read with no bytes.
Bytes readBytes(const QString &path, qint64 maxBytes = 0 /* Plist::kMaxBytes */);

// The file's property list; an empty file is Bad ("empty file").
Parsed read(const QString &path);

// Moves a bad file (or whatever is at the path) aside as "<path>.corrupt-<UTC time>", adding
// "-2", "-3"… when that name is taken, so an earlier rescued copy is never replaced. Answers the
// new path, or an empty string with *error set.
QString moveAside(const QString &path, QString *error = nullptr);

} // namespace PlistFile
