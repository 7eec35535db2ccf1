#include "browser/KLRecentSource.h"

#include "recent/KLRecentFiles.h"

namespace {
class KLRecentFilesSource final : public KLRecentSource
{
public:
    explicit KLRecentFilesSource(const KLItemServicesPtr &itemServices) : m_files(optionsWith(itemServices))
    {
        // Recorded on the event stream's thread; the collector lives on the main thread, so
        // the call arrives there queued.
        QObject::connect(&m_files, &KLRecentFiles::eventRecorded, &m_files, [this] { recordAccepted(); });
    }
    QList<KLItemPtr> recentFiles(const QSet<QString> &excludedPaths) override
    {
        return m_files.recentFiles(excludedPaths);
    }
    QList<KLItemPtr> recentFilesInDirectory(const QString &path) override
    {
        return m_files.recentFilesInDirectory(path);
    }
    void removeItems(const QList<KLItemPtr> &items) override
    {
        m_lastRemoved = removedParts(m_files.pastEvents(), items);
        m_files.removeItems(items);
    }
    bool undoLastRemoval() override
    {
        if (m_lastRemoved.isEmpty())
            return false;
        m_files.restoreEvents(m_lastRemoved);
        m_lastRemoved.clear();
        return true;
    }
    bool writeState() override { return m_files.writeState(); }
    void writeStateInBackground() override { m_files.writeStateInBackground(); }
    void shutdown() override { KLRecentFiles::shutdown(); }
    void answerRankedList(const QString &folder, const QSet<QString> &excludedPaths,
                          std::function<void(const QByteArray &json)> done) override
    {
        m_files.answerRankedList(folder, excludedPaths, std::move(done));
    }
    QVariantMap streamStatus() override { return m_files.streamStatus(); }

private:
    // What removing `items` takes out of `events`: a folder's own events whole, and the files
    // at the items' paths from every other event, each with its event's date and folder.
    static QList<KLRecentEvent> removedParts(const QList<KLRecentEvent> &events, const QList<KLItemPtr> &items)
    {
        QSet<QString> paths;
        for (const KLItemPtr &item : items) {
            if (item)
                paths.insert(item->lastKnownPath());
        }
        QList<KLRecentEvent> out;
        for (const KLRecentEvent &e : events) {
            if (paths.contains(e.path)) {
                out.append(e);
                continue;
            }
            KLRecentEvent part{{}, e.date, e.path};
            for (const KLItemPtr &f : e.files) {
                if (paths.contains(f->lastKnownPath()))
                    part.files.append(f);
            }
            if (!part.files.isEmpty())
                out.append(part);
        }
        return out;
    }

    static KLRecentFiles::Options optionsWith(const KLItemServicesPtr &itemServices)
    {
        KLRecentFiles::Options options;
        options.itemServices = itemServices;
        return options;
    }

    KLRecentFiles m_files;
    QList<KLRecentEvent> m_lastRemoved;
};
} // namespace

std::unique_ptr<KLRecentSource> makeRecentFilesSource(const KLItemServicesPtr &itemServices)
{
    return std::make_unique<KLRecentFilesSource>(itemServices);
}
