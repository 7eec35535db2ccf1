#pragma once
// KLTypeIcons: the file-type icons that stand in for a thumbnail that has not arrived yet.
//
// Design note. Finding a type's icon means asking the MIME database (which loads and re-checks
// its cache files) and the icon theme (which walks theme folders and decodes PNG/SVG files).
// Grid cells need the icon while they paint, and painting must never wait on the disk. So the
// answer on the calling thread comes from memory only:
//   level 1: file-name extension (everything after the first dot; the whole name when there is
//            none) → MIME type name, by the glob patterns alone; the file itself is never
//            opened or examined, so a file in an unreadable folder or on a dead network mount
//            costs nothing, and every file with a known extension is answered at once,
//   level 2: MIME type name + pixel size → picture, shared by every file of that type.
// A miss in either level answers a generic document picture drawn in code (or the theme's
// generic icon once that has been found) and queues the look-up on one worker thread of its
// own; when the worker has stored the answer it sets the process-wide redraw flag, and the next
// redraw shows the specific icon. A look-up is queued once per extension and size while pending.
//
// Thread-safe. The worker pool is process-wide and waits for its running look-up at exit.
#include <QImage>
#include <QString>
#include <functional>

namespace KLTypeIcons {

// The icon for a file of this name (a bare name or a path; only the last component counts),
// drawn into a size × size picture. Never touches the disk. `*exact` (optional) says whether
// the answer is the type's own icon (true) or the generic stand-in (false, a look-up queued).
QImage iconForFileName(const QString &fileName, int size, bool *exact = nullptr);

// The generic stand-in for `size`, answered from memory (built-in until the theme's generic
// document icon has been found on the worker).
QImage genericIcon(int size);

// Waits until every queued look-up has finished (tests, tools); false on timeout.
bool waitForPending(int timeoutMs = 30000);
// Forgets every answer (tests; the next asks go to the worker again).
void clearForTesting();

// Seam for tests: replaces the icon resolution (MIME type name, icon names from the theme
// chain, size → picture) done on the worker. An empty function restores the theme lookup.
using Resolver = std::function<QImage(const QString &mimeName, const QStringList &iconNames, int size)>;
void setResolverForTesting(Resolver resolver);

} // namespace KLTypeIcons
