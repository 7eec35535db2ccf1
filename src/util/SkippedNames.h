#pragma once
// Names left out of a listing because they are not valid UTF-8 come back on every listing of
// their folder. They are logged once per run for each place (a folder, a file): a place listed
// again with the same such names stays quiet, and one with a name not seen there before is told
// again, with the whole count. Thread-safe.
#include <QByteArray>
#include <QByteArrayView>

namespace SkippedNames {

// Adds one left-out name to the fingerprint of a listing (start from 0; order does not count).
void add(quint64 *fingerprint, QByteArrayView name);
// True when `place` has not been reported with these `count` names in this run; remembers them.
bool firstReport(const QByteArray &place, int count, quint64 fingerprint);

} // namespace SkippedNames
