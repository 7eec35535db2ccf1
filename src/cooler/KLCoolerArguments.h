#pragma once
// The file arguments that scripts hand to the running Kelso (the D-Bus calls OpenFiles,
// AddToCooler and RemoveFromCooler): each must be an absolute path (a file:// URI is turned into
// its path), at most kMaxPathBytes long; an add also needs the file to exist. One call carries
// at most kMaxPathsPerCall of them. A call with a bad argument is refused whole, naming the
// first bad one, so that a script's mistake never lands in the Cooler or its store.
#include <QString>
#include <QStringList>

namespace KLCoolerArguments {
inline constexpr int kMaxPathsPerCall = 10000;
inline constexpr int kMaxPathBytes = 4096; // PATH_MAX on Linux, with the terminating zero

enum class Need {
    ExistingFile, // the file (or a symbolic link, even a dangling one) is there
    AbsolutePath, // only the form of the path counts (a removal of a file that is gone)
};

struct Checked {
    QStringList paths; // absolute, cleaned, in the given order
    QString error;     // empty when every argument was good
};

// Looks at the disk for Need::ExistingFile: call it off the main thread.
Checked check(const QStringList &arguments, Need need);
} // namespace KLCoolerArguments
