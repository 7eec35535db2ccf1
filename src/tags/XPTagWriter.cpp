#include "tags/XPTagWriter.h"

#include "platform/Defaults.h"
#include "tags/XPSimpleUtils.h"
#include "util/Logging.h"

#include <QDateTime>
#include <atomic>

namespace XPTagWriter {

namespace {
std::atomic<bool> g_stop{false};
}

bool needToSetTags(const QStringList &original, const QStringList &newTags)
{
    if (original.isEmpty() && newTags.isEmpty())
        return false;
    return original != newTags;
}

bool needToSet(const QStringList &original, const QStringList &newTags, const QStringList &paths,
               std::optional<double> rating)
{
    Q_UNUSED(original);
    Q_UNUSED(newTags);
    Q_UNUSED(rating);
    return !paths.isEmpty();
}

void stopWritingTags()
{
    g_stop.store(true);
}

WriteResult replaceOriginalTags(const QStringList &original, const QStringList &newTags, const QStringList &paths,
                                std::optional<double> rating, const std::function<void(int done)> &afterEachFile,
                                bool logFailures)
{
    WriteResult result;
    if (!needToSet(original, newTags, paths, rating))
        return result;
    addNewTagsToRecentGroups(newTags);
    g_stop.store(false);

    const bool changeTags = needToSetTags(original, newTags);
    const bool bumpTimes = Defaults::standard().boolForKey(QStringLiteral("KPSetModifiyTimeOnTagsChanging"));
    for (const QString &path : paths) {
        if (g_stop.load()) {
            result.stopped = true;
            break;
        }
        LumitagResult fileError;
        if (rating) {
            if (LumitagResult ratingError = Lumitag::setRating(*rating, path))
                result.ratingErrors.insert(path, *ratingError);
        }
        if (changeTags)
            fileError = Lumitag::setCommonUserTags({path}, original, newTags);
        if ((rating || changeTags) && bumpTimes)
            XPSimpleUtils::adjustModifictionDate(path);
        if (fileError) {
            result.failedPaths.append(path);
            result.errors.insert(path, *fileError);
            if (logFailures)
                qCWarning(lcTags, "error in writing tags/ratings - %s on %s", qUtf8Printable(fileError->info),
                          qUtf8Printable(path));
        }
        ++result.processed;
        if (afterEachFile)
            afterEachFile(result.processed);
    }
    return result;
}

void addNewTagsToRecentGroups(const QStringList &tags)
{
    const QString key = tags.join(QLatin1Char(','));
    if (tags.isEmpty() || key.isEmpty())
        return;
    Defaults &defaults = Defaults::standard();
    QVariantMap groups = defaults.dictionaryForKey(kRecentTagGroupsKey);
    QVariantMap entry;
    entry.insert(QStringLiteral("tags"), QVariant(tags));
    entry.insert(QStringLiteral("date"), QDateTime::currentDateTimeUtc());
    groups.insert(key, entry);
    removeExtraTagGroups(groups);
    defaults.setValue(kRecentTagGroupsKey, groups);
}

void removeExtraTagGroups(QVariantMap &groups)
{
    qint64 limit = Defaults::standard().integerForKey(kMaxTagGroupsKey);
    if (limit <= 0)
        limit = kDefaultMaxTagGroups;
    while (groups.size() > limit) {
        QString oldestKey;
        QDateTime oldest = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::max() / 2, Qt::UTC);
        for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
            const QDateTime date = it.value().toMap().value(QStringLiteral("date")).toDateTime();
            // A group without a readable date counts as the oldest of all.
            const QDateTime when = date.isValid() ? date : QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
            if (oldestKey.isNull() || when < oldest) {
                oldest = when;
                oldestKey = it.key();
            }
        }
        groups.remove(oldestKey);
    }
}

} // namespace XPTagWriter
