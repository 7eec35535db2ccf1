#include "search/KLMetadataIndex.h"

#include "platform/mdindex/MdRecentlyUsed.h"
#include "platform/mdindex/MdStore.h"
#include "util/Localized.h"

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

void KLMetadataIndex::start(const MdIndex::CrawlRules &rules)
{
    if (crawler_ && rules.roots == rules_.roots && rules.excludedFolders == rules_.excludedFolders &&
        rules.excludedNamePatterns == rules_.excludedNamePatterns && rules.textCapBytes == rules_.textCapBytes &&
        rules.recentlyUsedFile == rules_.recentlyUsedFile)
        return;
    stop();
    rules_ = rules;
    crawler_ = std::make_unique<MdIndex::Crawler>(databasePath_, rules_);
    crawler_->setUserActiveHook([this] { return userRecentlyActive(); });
    crawler_->start();
    announcedDone_ = false;
    pollTimer_.start();
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
