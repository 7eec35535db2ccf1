#pragma once
// Which recorded files may have changed since their facts were last looked at, so that an answer
// for a script looks again only at those instead of at every recorded file.
//
// The event stream reports every change in the folders it watches whole (names, contents and
// attributes alike). A file there needs another look when a record for its folder, or for one
// above it (a folder renamed or deleted higher up), came at or after its last look, or when that
// look is older than the longest a fact may be kept. Anywhere else (outside the watched roots,
// in hidden or excluded folders, on volumes watched at their top only, or while some folders
// found no watch) nothing reports changes, and a file is looked at every time. Thread-safe.
#include "util/KLTime.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <mutex>

class KLChangedFolders
{
public:
    // Where the stream's records tell of every change; no roots: nowhere.
    struct Coverage {
        QStringList roots;
        QStringList excluded; // prefixes, as the stream takes them ("/proc/")
        bool covers(const QString &path) const;
    };
    // From FileSystemEventStream::status(), its excluded prefixes and the mount table: the
    // active stream's roots but those watched at their top only and other file systems mounted
    // inside them, and none at all while folders go unwatched or the stream reports a problem.
    static Coverage coverageOf(const QVariantMap &streamStatus, const QStringList &excluded,
                               const QStringList &mountPoints);

    // Facts older than `maxAge` seconds are looked at again wherever they are.
    explicit KLChangedFolders(double maxAge) : m_maxAge(maxAge) {}

    // A record for `folder` was handled at `at`.
    void noteChanged(const QString &folder, KLTime at);
    // True when facts of `path` looked at at `checkedAt` (0: never) may be out of date at `now`.
    bool mayHaveChanged(const QString &path, KLTime checkedAt, KLTime now, const Coverage &coverage) const;
    // Forgets records older than the longest a fact is kept: every look before them is too old
    // anyway.
    void forgetOld(KLTime now);
    int size() const;

private:
    const double m_maxAge;
    mutable std::mutex m_lock;
    QHash<QString, KLTime> m_changedAt; // folder -> last record handled for it
};
