#pragma once
// One search of the bar's kind run to its end, without a window: the name query and the
// name-or-content query (at most 100 results each) on the index, merged. The command line runs
// it on a read-only connection when Kelso is not running; the running Kelso runs it for the
// D-Bus method Search on a worker thread. Blocks on the disk.
#include "platform/mdindex/MdRecord.h"
#include "search/KLSearchQueryText.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QStringList>

namespace KLSearchRun {

inline constexpr int kMaxResultsPerQuery = 100;

// False with *error set when the index cannot be opened or a query cannot be read.
bool mergedSearch(const KLSearchQueryText::Criteria &criteria, const QStringList &scopes, const QString &databasePath,
                  QList<MdIndex::FileRecord> *results, QString *error);

// The folder line of a result: its folder abbreviated with "~", and a removable or network
// volume's mount prefix (/media/USER/, /run/media/USER/) left out so the disk's name leads.
QString subtitleForPath(const QString &path);

// [{"path", "title", "subtitle", "time" (Unix seconds: the later of modified and last used),
//   "kind" (type identifier)}]
QJsonArray toJsonArray(const QList<MdIndex::FileRecord> &results);

// The crawl's counts as the index recorded them: {"indexed", "folders", "files",
// "contentDone", "removed", "namesDone"}; false with *error when there is no readable index.
bool statusFromIndex(const QString &databasePath, QVariantMap *status, QString *error);
QString renderStatus(const QVariantMap &status);

} // namespace KLSearchRun
