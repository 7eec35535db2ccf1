#include "browser/KLRecentSource.h"

#include "recent/KLRecentFiles.h"

namespace {
class KLRecentFilesSource final : public KLRecentSource
{
public:
    QList<KLItemPtr> recentFiles(const QSet<QString> &excludedPaths) override
    {
        return m_files.recentFiles(excludedPaths);
    }
    QList<KLItemPtr> recentFilesInDirectory(const QString &path) override
    {
        return m_files.recentFilesInDirectory(path);
    }
    void removeItems(const QList<KLItemPtr> &items) override { m_files.removeItems(items); }
    bool writeState() override { return m_files.writeState(); }
    void shutdown() override { KLRecentFiles::shutdown(); }
    void answerRankedList(const QString &folder, const QSet<QString> &excludedPaths,
                          std::function<void(const QByteArray &json)> done) override
    {
        m_files.answerRankedList(folder, excludedPaths, std::move(done));
    }
    QVariantMap streamStatus() override { return m_files.streamStatus(); }

private:
    KLRecentFiles m_files;
};
} // namespace

std::unique_ptr<KLRecentSource> makeRecentFilesSource()
{
    return std::make_unique<KLRecentFilesSource>();
}
