#pragma once
// The recently entered tags, shared with other programs that use the Lumitag scheme through
// the preference domain "com.lumitag.shared" (or the program's own domain when the shared file
// does not exist). Stored as "recentlyEnteredTags": most recent first, no two entries equal
// when lower-cased, at most 1401 entries.
//
// Each change synchronises before reading and after writing, so what another program wrote is
// picked up; a lock file in Kelso's private folder serialises Kelso's own read-modify-write
// cycles, and the store itself replaces the file atomically.
#include <QString>
#include <QStringList>

namespace LumitagPrefs {

inline const QString kSharedDomain = QStringLiteral("com.lumitag.shared");
inline const QString kRecentTagsKey = QStringLiteral("recentlyEnteredTags");
// The list is cut once it holds more than this many entries.
constexpr int kMaxRecentTags = 1400;

// The program's own domain, used for the recent tags when no shared file exists.
inline const QString kOwnDomain = QStringLiteral("com.tallow.kelso");

void setPrefsFile(const QString &domain);
// Chooses the domain once at start-up, the same way for the window and the command line: the
// shared domain when its file exists (another tagging program keeps its recent tags there),
// else the program's own. Answers the domain chosen.
QString chooseDomainAtStartup();
QString prefsDomain();
// True when the shared domain's file exists.
bool lumitagPrefsFileExists();

QStringList recentTags();
// Moves the tags that are in `newTags` but not in `oldTags` to the front of the recent tags.
// Both changes answer false, with a log line, and change nothing when the lock that serialises
// them between Kelso processes cannot be taken (held by a stopped process, or for 10 s).
bool updatePrefsRecentTags(const QStringList &oldTags, const QStringList &newTags);
bool removeTagsFromRecents(const QStringList &tags);
void synchPrefs();
// Synchronises when the last synchronisation is 10 seconds or more away.
void synchPrefsIfItsBeenAWhile();
// Forgets when the domain was last synchronised (the next recentTags() synchronises).
void forgetLastSynchronisation();

} // namespace LumitagPrefs
