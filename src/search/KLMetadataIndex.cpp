#include "search/KLMetadataIndex.h"

#include "platform/mdindex/MdStore.h"
#include "util/Localized.h"

#include <QLocale>

KLMetadataIndex::KLMetadataIndex(const QString &databasePath, QObject *parent)
    : QObject(parent), databasePath_(databasePath.isEmpty() ? MdIndex::Store::defaultPath() : databasePath)
{
    pollTimer_.setInterval(1000);
    connect(&pollTimer_, &QTimer::timeout, this, &KLMetadataIndex::poll);
}

KLMetadataIndex::~KLMetadataIndex()
{
    stop();
}

void KLMetadataIndex::start(const MdIndex::CrawlRules &rules)
{
    if (crawler_ && rules.roots == rules_.roots && rules.excludedFolders == rules_.excludedFolders &&
        rules.excludedNamePatterns == rules_.excludedNamePatterns && rules.textCapBytes == rules_.textCapBytes &&
        rules.recentlyUsedFile == rules_.recentlyUsedFile)
        return;
    stop();
    rules_ = rules;
    crawler_ = std::make_unique<MdIndex::Crawler>(databasePath_, rules_);
    crawler_->setUserActiveHook([this] { return userActive_.load(); });
    crawler_->start();
    announcedDone_ = false;
    pollTimer_.start();
}

void KLMetadataIndex::stop()
{
    pollTimer_.stop();
    // The crawler checks its stop flag between rows and batches, so the join is short.
    crawler_.reset();
}

void KLMetadataIndex::enqueue(const QList<MdIndex::Change> &changes)
{
    if (crawler_ && !changes.isEmpty())
        crawler_->enqueue(changes);
}

void KLMetadataIndex::noteOpened(const QString &path)
{
    enqueue({MdIndex::Change{path, MdIndex::ChangeKind::Opened}});
}

MdIndex::CrawlProgress KLMetadataIndex::progress() const
{
    return crawler_ ? crawler_->progress() : MdIndex::CrawlProgress();
}

bool KLMetadataIndex::isFirstCrawlRunning() const
{
    if (!crawler_)
        return false;
    const MdIndex::CrawlProgress p = crawler_->progress();
    return !p.namesDone && p.error.isEmpty() && !p.diskFull;
}

QString KLMetadataIndex::progressText() const
{
    if (!isFirstCrawlRunning())
        return QString();
    return KLLocalized(QStringLiteral("Indexing… %1 files"), {QLocale().toString(progress().files)});
}

void KLMetadataIndex::poll()
{
    if (!crawler_)
        return;
    Q_EMIT progressChanged();
    if (!announcedDone_ && !isFirstCrawlRunning()) {
        announcedDone_ = true;
        Q_EMIT firstCrawlFinished();
    }
}
