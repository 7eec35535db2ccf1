#pragma once
// Writing tags and ratings to the files the tag editor (or the command line) works on: the
// per-file loop with its stop flag, the recent tag groups, and the tests for whether anything
// needs writing. Runs on the calling thread; a progress callback after each file lets a
// window process its events (and its stop button) between files.
#include "tags/Lumitag.h"

#include <QHash>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace XPTagWriter {

inline const QString kRecentTagGroupsKey = QStringLiteral("recentTagGroups");
inline const QString kMaxTagGroupsKey = QStringLiteral("maxTagGroupsToRemember");
constexpr int kDefaultMaxTagGroups = 6;

struct WriteResult {
    QStringList failedPaths;                   // files whose tags could not be written, in order
    QHash<QString, LumitagError> errors;       // the tag error of each failed file
    QHash<QString, LumitagError> ratingErrors; // rating errors (not failures, kept for reports)
    int processed = 0;                         // files handled before the end or the stop
    bool stopped = false;
};

// False when both lists are empty, else true unless they are equal exactly.
bool needToSetTags(const QStringList &original, const QStringList &newTags);
bool needToSet(const QStringList &original, const QStringList &newTags, const QStringList &paths,
               std::optional<double> rating);

// The write itself: rating (when given) and the three-way merge of the tags, file by file,
// bumping modification times when KPSetModifiyTimeOnTagsChanging is on. `afterEachFile` is
// called with the number of files done so far. Each failed file is logged unless the caller
// reports the failures itself (logFailures false).
WriteResult replaceOriginalTags(const QStringList &original, const QStringList &newTags, const QStringList &paths,
                                std::optional<double> rating, const std::function<void(int done)> &afterEachFile = {},
                                bool logFailures = true);
// Stops a running write before its next file (any thread).
void stopWritingTags();

// Records `tags` as the most recent tag group in the program's settings.
void addNewTagsToRecentGroups(const QStringList &tags);
// Drops the groups with the oldest dates until at most maxTagGroupsToRemember (6) are left.
void removeExtraTagGroups(QVariantMap &groups);

} // namespace XPTagWriter
