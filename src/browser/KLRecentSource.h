#pragma once
// What the recent-files pane needs from the recent-files collector. The pane owns one source;
// the program's source wraps KLRecentFiles (KLRecentFilesSource.cpp), tests feed their own.
#include "recent/KLItem.h"
#include "recent/KLRecentListFormat.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

class KLRecentSource
{
public:
    virtual ~KLRecentSource() = default;
    // The ranked top-level list, leaving out `excludedPaths`.
    virtual QList<KLItemPtr> recentFiles(const QSet<QString> &excludedPaths) = 0;
    // The recent files of one folder (the inside of a stack).
    virtual QList<KLItemPtr> recentFilesInDirectory(const QString &path) = 0;
    // Forgets the items (they leave the list until they change again).
    virtual void removeItems(const QList<KLItemPtr> &items) = 0;
    // Brings back what the last removeItems() forgot (Undo); false when there is nothing.
    virtual bool undoLastRemoval() { return false; }
    virtual bool writeState() = 0;
    // writeState() off the calling (GUI) thread where the source can; when it is done is not told.
    virtual void writeStateInBackground() { writeState(); }
    // Stops the file-system event stream (program termination).
    virtual void shutdown() = 0;
    // The list as of now as JSON (KLRecentListFormat), the facts of its files loaded off the
    // calling thread where the source can; `done` may be called on another thread. An empty
    // folder is the ranked list without `excludedPaths`.
    virtual void answerRankedList(const QString &folder, const QSet<QString> &excludedPaths,
                                  std::function<void(const QByteArray &json)> done)
    {
        done(
            KLRecentListFormat::toJson(folder.isEmpty() ? recentFiles(excludedPaths) : recentFilesInDirectory(folder)));
    }
    // What the file-system event stream watches (FileSystemEventStream::status()).
    virtual QVariantMap streamStatus() { return {}; }

    // Called on the main thread whenever the collector accepted a new record, so that a
    // visible list can follow at once.
    void setRecordHandler(std::function<void()> handler) { m_recordHandler = std::move(handler); }

protected:
    void recordAccepted()
    {
        if (m_recordHandler)
            m_recordHandler();
    }

private:
    std::function<void()> m_recordHandler;
};

// The collector of the running program; its items ask `itemServices` for their pictures.
std::unique_ptr<KLRecentSource> makeRecentFilesSource(const KLItemServicesPtr &itemServices);
