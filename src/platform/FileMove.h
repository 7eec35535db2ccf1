#pragma once
// Moving and copying files the way `mv` does, never replacing anything.
//
// Within one file system a move is a rename that refuses an existing target: renameat2 with
// RENAME_NOREPLACE, or, where the file system lacks it, link()+unlink() for files and an empty
// placeholder folder that rename() may only replace while it is still empty for folders.
//
// Across file systems (EXDEV) a move is a copy followed by the removal of the source:
// - each file's data first, then its "user.*" extended attributes (tags, rating, the managed
//   mark), its owner where allowed, its mode and its access and modification times;
// - folders recursively (their times set after their contents), symbolic links as links,
//   FIFOs and device nodes recreated; names are copied as bytes;
// - the copy is flushed to its disk (syncfs) before anything of the source is removed;
// - a failed copy removes everything it created and leaves the source untouched.
// A destination file system that has no user attributes at all (ENOTSUP) takes the data
// without them, as `mv` does (one log line); any other attribute failure fails the move.
//
// Paths are QStrings converted with QFile::encodeName; below the top level names stay bytes.
// Blocking disk work of any length: never call it on the GUI thread for user-sized trees.
#include <QString>

namespace FileMove {

struct Outcome {
    bool ok = false;
    int error = 0;   // errno of the step that failed
    QString message; // what failed, for a log line or the user
    // Across file systems: the copy is complete but part of the source could not be removed
    // afterwards (ok is false then; nothing is lost, the source is partly still there).
    bool copiedButSourceKept = false;
};

// Moves `source` to `destination` (which must not exist), within or across file systems.
Outcome move(const QString &source, const QString &destination);

// Copies `source` to `destination` (which must not exist) as the cross-file-system move does,
// leaving the source alone. A failure removes the partial copy.
Outcome copy(const QString &source, const QString &destination);

// Both on one file system (the parent folder of a destination that does not exist yet counts).
bool sameFileSystem(const QString &a, const QString &b);

} // namespace FileMove
