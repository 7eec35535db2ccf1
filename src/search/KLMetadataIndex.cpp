#include "search/KLMetadataIndex.h"

#include "platform/mdindex/MdRecentlyUsed.h"
#include "platform/mdindex/MdStore.h"
#include "util/Localized.h"
#include "util/ThreadNames.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
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

namespace {

bool sameRules(const MdIndex::CrawlRules &a, const MdIndex::CrawlRules &b)
{
    return a.roots == b.roots && a.excludedFolders == b.excludedFolders &&
           a.excludedNamePatterns == b.excludedNamePatterns && a.textCapBytes == b.textCapBytes &&
           a.recentlyUsedFile == b.recentlyUsedFile;
}

} // namespace

void KLMetadataIndex::start(const MdIndex::CrawlRules &rules)
{
    start([rules] { return rules; });
}

void KLMetadataIndex::start(std::function<MdIndex::CrawlRules()> makeRules)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_)
            return;
        request_ = std::move(makeRules);
        if (!restartThread_.joinable())
            restartThread_ = std::thread([this] { restartLoop(); });
    }
    wake_.notify_all();
    announcedDone_ = false;
    pollTimer_.start();
}

void KLMetadataIndex::restartLoop()
{
    ThreadNames::setCurrent("kelso-mdrestart");
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || request_.has_value(); });
        if (quit_)
            return;
        const std::function<MdIndex::CrawlRules()> makeRules = std::move(*request_);
        request_.reset();
        starting_ = true;
        lock.unlock();
        // The mount table and the wanted folders are read here, not on the caller's thread.
        const MdIndex::CrawlRules wanted = makeRules();
        lock.lock();
        std::shared_ptr<MdIndex::Crawler> old;
        if (!crawler_ || !sameRules(wanted, rules_)) {
            old = std::move(crawler_);
            crawler_.reset();
        }
        lock.unlock();
        // The crawler checks its stop flag between rows and batches; a PDF decoder it waits on
        // ends at its time limit. Either way the wait falls on this thread.
        if (old)
            old->stop();
        old.reset();
        lock.lock();
        if (!crawler_ && !quit_) {
            rules_ = wanted;
            auto fresh = std::make_shared<MdIndex::Crawler>(databasePath_, rules_);
            fresh->setUserActiveHook([this] { return userRecentlyActive(); });
            fresh->start();
            crawler_ = std::move(fresh);
        }
        starting_ = false;
    }
}

bool KLMetadataIndex::isRunning() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return crawler_ || starting_ || request_.has_value();
}

MdIndex::CrawlRules KLMetadataIndex::rules() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rules_;
}

std::shared_ptr<MdIndex::Crawler> KLMetadataIndex::crawler() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return crawler_;
}

void KLMetadataIndex::watchUserInput()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool KLMetadataIndex::userRecentlyActive() const
{
    return QDateTime::currentMSecsSinceEpoch() - lastInputMs_.load() < 2000;
}

bool KLMetadataIndex::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        lastInputMs_ = QDateTime::currentMSecsSinceEpoch();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void KLMetadataIndex::stop()
{
    pollTimer_.stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        request_.reset();
    }
    wake_.notify_all();
    if (restartThread_.joinable())
        restartThread_.join();
    std::shared_ptr<MdIndex::Crawler> last;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        last = std::move(crawler_);
        crawler_.reset();
        quit_ = false; // a later start() may run the service again
    }
    // At quit: the crawler checks its stop flag between rows and batches, so the join is short.
    if (last)
        last->stop();
}

void KLMetadataIndex::enqueue(const QList<MdIndex::Change> &changes)
{
    if (changes.isEmpty())
        return;
    // A restart in progress drops the changes: the new crawler's walk finds them on the disk.
    if (const std::shared_ptr<MdIndex::Crawler> c = crawler())
        c->enqueue(changes);
}

void KLMetadataIndex::noteOpened(const QString &path)
{
    enqueue({MdIndex::Change{path, MdIndex::ChangeKind::Opened}});
}

MdIndex::CrawlProgress KLMetadataIndex::progress() const
{
    const std::shared_ptr<MdIndex::Crawler> c = crawler();
    return c ? c->progress() : MdIndex::CrawlProgress();
}

bool KLMetadataIndex::isFirstCrawlRunning() const
{
    std::shared_ptr<MdIndex::Crawler> c;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (starting_ || request_.has_value())
            return true; // the names pass of the crawler about to start
        c = crawler_;
    }
    if (!c)
        return false;
    const MdIndex::CrawlProgress p = c->progress();
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
    if (!isRunning())
        return;
    Q_EMIT progressChanged();
    if (!announcedDone_ && !isFirstCrawlRunning()) {
        announcedDone_ = true;
        Q_EMIT firstCrawlFinished();
    }
}

MdIndex::CrawlRules KLMetadataIndex::rulesFor(const QStringList &roots, const KLRules::Snapshot &exclusions)
{
    MdIndex::CrawlRules rules;
    rules.roots = roots;
    rules.recentlyUsedFile = MdIndex::recentlyUsedPath();
    for (const QStringList *list : {&exclusions.unwantedDirectories, &exclusions.unwantedItems})
        for (const QString &path : *list)
            if (path.startsWith(QLatin1Char('/')))
                rules.excludedFolders.append(path.size() > 1 && path.endsWith(QLatin1Char('/')) ? path.chopped(1)
                                                                                                : path);
    for (const QString &ext : exclusions.unwantedExtensions)
        if (!ext.isEmpty())
            rules.excludedNamePatterns.append(QStringLiteral("*.") + ext);
    for (const QString &fragment : exclusions.unwantedPathFragments) {
        // "/build/" is one whole name; "cache" may be part of any name.
        const bool wholeName =
            fragment.size() > 2 && fragment.startsWith(QLatin1Char('/')) && fragment.endsWith(QLatin1Char('/'));
        const QString name = wholeName ? fragment.mid(1, fragment.size() - 2) : fragment;
        if (name.isEmpty() || name.contains(QLatin1Char('/')))
            continue;
        rules.excludedNamePatterns.append(wholeName ? name : QLatin1Char('*') + name + QLatin1Char('*'));
    }
    return rules;
}

MdIndex::Change KLMetadataIndex::changeForRecord(const QString &folder, quint32 flags)
{
    constexpr quint32 attributeBit = 0x00000004; // IN_ATTRIB = FAN_ATTRIB
    return {folder,
            (flags & attributeBit) ? MdIndex::ChangeKind::FolderAttributesChanged : MdIndex::ChangeKind::FolderChanged};
}
