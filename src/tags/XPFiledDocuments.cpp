#include "tags/XPFiledDocuments.h"

#include "fileops/XPFileUtils.h"
#include "fileops/XPRename.h"
#include "platform/Defaults.h"
#include "platform/FileMove.h"
#include "platform/mdindex/MdStore.h"
#include "tags/Lumitag.h"
#include "tags/XPSimpleUtils.h"
#include "util/Tilde.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/stat.h>

XPFiledDocumentsNotifier *XPFiledDocumentsNotifier::instance()
{
    static XPFiledDocumentsNotifier *notifier = [] {
        auto *made = new XPFiledDocumentsNotifier;
        // Filing runs on worker threads, and the first call may come from one: the notifier
        // belongs to the application's thread, whose event loop runs what is connected to it.
        if (QCoreApplication *app = QCoreApplication::instance())
            made->moveToThread(app->thread());
        return made;
    }();
    return notifier;
}

namespace XPFiledDocuments {

namespace {

std::mutex g_rootMutex;
QString g_cachedRoot;
bool g_subscribed = false;
thread_local int t_filingDepth = 0;

QString desktopFolder()
{
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty() || desktop == QDir::homePath())
        desktop = PimsAdditions::stringByExpandingTildeInPathSANDBOX(QStringLiteral("~/Desktop"));
    return desktop;
}

QString defaultRoot()
{
    return XPFileUtils::documentsFolder() + QStringLiteral("Filed Documents");
}

QString chosenRoot()
{
    const QString chosen = Defaults::standard().stringForKey(kFiledDocumentsPathKey);
    if (chosen.isEmpty())
        return {};
    return PimsAdditions::stringByExpandingTildeInPathSANDBOX(chosen);
}

bool useDayFolders()
{
    return !Defaults::standard().boolForKey(kUseYearMonthKey);
}

bool existsNoFollow(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return slash == 0 ? QStringLiteral("/") : QString();
    return path.left(slash);
}

QString computeRoot()
{
    if (!usesFiledDocuments())
        return desktopFolder();
    QString root = chosenRoot();
    if (root.isEmpty())
        root = defaultRoot();
    root = withoutTrailingSlash(root);
    const QFileInfo info(root);
    if (info.isSymLink()) {
        const QString resolved = info.canonicalFilePath();
        root = resolved.isEmpty() ? info.symLinkTarget() : resolved;
    }
    QDir().mkpath(root);
    return root;
}

void subscribeOnce()
{
    // Caller holds g_rootMutex.
    if (g_subscribed)
        return;
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app)
        return;
    g_subscribed = true;
    QObject::connect(app, &QGuiApplication::applicationStateChanged, XPFiledDocumentsNotifier::instance(),
                     [](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive) {
                             forgetRoot();
                             (void)filedDocumentsRoot();
                         }
                     });
}

// The same copy a move across file systems makes: data, user attributes (tags, rating, the
// mark), mode and times, folders recursively; a failed copy leaves nothing behind.
bool copyRecursively(const QString &source, const QString &target, QString *why)
{
    const FileMove::Outcome outcome = FileMove::copy(source, target);
    if (!outcome.ok)
        *why = outcome.message;
    return outcome.ok;
}

// Why the mark cannot be written at `path`, for the report (one more attempt that keeps the
// error; the ordinary write does not).
QString whyMarkFails(const QString &path)
{
    const LumitagResult error = Lumitag::setXAttrMetaData(true, LumitagKeys::Managed, path);
    const QString reason = error ? error->info : QStringLiteral("it does not read back");
    return QStringLiteral("its managed mark could not be written (%1)").arg(reason);
}

// The re-import check: the mark already has the requested value on the file, but the index
// may have read the file before the mark was written (or from another program's write). Asked on
// the GUI's thread (the menus), the index is read on a pool thread and the file nudged from there;
// the menu's answer does not depend on it.
void nudgeWhereTheIndexDisagrees(const QString &path, bool managed)
{
    auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (gui && QThread::currentThread() == gui->thread()) {
        (void)QtConcurrent::run([path, managed] { nudgeWhereTheIndexDisagrees(path, managed); });
        return;
    }
    if (indexDisagreesWithMark(path, managed, MdIndex::Store::defaultPath()))
        XPSimpleUtils::adjustModifictionDate(path);
}

} // namespace

bool indexDisagreesWithMark(const QString &path, bool managed, const QString &indexPath)
{
    MdIndex::Store store;
    if (!store.open(indexPath, MdIndex::Store::Mode::ReadOnly, nullptr))
        return false; // no index: nothing that could disagree
    const std::optional<MdIndex::FileRecord> record = store.byPath(path);
    // No record: the index does not know the file. A record still waiting for the content pass
    // gets the mark read there anyway.
    if (!record || record->contentPending)
        return false;
    return record->managed != (managed ? 1 : 0);
}

bool usesFiledDocuments()
{
    if (Defaults::standard().value(kFiledDocumentsPathKey).isValid())
        return true;
    return QFileInfo(defaultRoot()).isDir();
}

QString filedDocumentsRoot()
{
    std::lock_guard lock(g_rootMutex);
    if (!g_cachedRoot.isEmpty())
        return g_cachedRoot;
    const QString root = computeRoot();
    // Without a GUI application there is no "became active" moment: recompute every time.
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        g_cachedRoot = root;
        if (usesFiledDocuments())
            subscribeOnce();
    }
    return root;
}

void forgetRoot()
{
    std::lock_guard lock(g_rootMutex);
    g_cachedRoot.clear();
}

QString filedDocumentsPathForDate(const QDateTime &date)
{
    const QString root = filedDocumentsRoot();
    if (!usesFiledDocuments())
        return root;
    const QDate day = date.toLocalTime().date();
    QString path =
        root + QLatin1Char('/') + QString::number(day.year()) + QLatin1Char('/') + QString::number(day.month());
    if (useDayFolders())
        path += QLatin1Char('/') + QString::number(day.day());
    return path;
}

QString currentFiledDocumentsPath()
{
    const QString path = filedDocumentsPathForDate(QDateTime::currentDateTime());
    if (!QFileInfo(path).isDir()) {
        if (QDir().mkpath(path))
            (void)Lumitag::setXAttrMetaData(false, LumitagKeys::Managed, path);
    }
    return path;
}

bool pathIsInFiledDocuments(const QString &path)
{
    return path.startsWith(filedDocumentsRoot());
}

bool pathIsAlreadyInGoodPlaceInFiledDocuments(const QString &path)
{
    if (!pathIsInFiledDocuments(path))
        return false;
    if (!usesFiledDocuments())
        return true;
    QString folder = parentOf(path); // the date folder
    if (useDayFolders())
        folder = parentOf(folder);       // day
    folder = parentOf(parentOf(folder)); // month, year
    return folder == filedDocumentsRoot();
}

QStringList putFilesIntoFiledDocuments(const QStringList &paths, bool forceMove, QList<FilingOutcome> *outcomes)
{
    Q_EMIT XPFiledDocumentsNotifier::instance()->aboutToPerhapsMoveDocuments();
    const QString folder = currentFiledDocumentsPath();
    QStringList result;
    ++t_filingDepth;
    for (const QString &p : paths) {
        FilingOutcome outcome;
        outcome.source = p;
        if (!XPFileUtils::isFileOrPackage(p)) {
            outcome.kind = FilingOutcome::SkippedFolder;
            outcome.why = QStringLiteral("folders are not filed");
        } else if (pathIsAlreadyInGoodPlaceInFiledDocuments(p) && existsNoFollow(p)) {
            if (setManaged(true, p)) {
                outcome.kind = FilingOutcome::MarkedInPlace;
                outcome.destination = p;
            } else {
                outcome.why = QStringLiteral("the managed mark cannot be written");
            }
        } else {
            const QString target = XPFileUtils::findUnusedPath(folder + QLatin1Char('/') + QFileInfo(p).fileName());
            QString why;
            bool kept = false;
            if (existsNoFollow(target)) {
                // Every free name is taken: never replace another file.
                why = QStringLiteral("no free name for it in %1").arg(folder);
            } else {
                // The no-replace move, like mv across file systems; without forceMove, items in a
                // mail or photo library are only copied.
                bool moved = false;
                if (!forceMove && XPFileUtils::isInMailOrPhotoLibrary(p))
                    why = QStringLiteral("%1 lies inside a mail or photo library and is not moved").arg(p);
                else
                    moved = XPFileUtils::moveItemWithoutReplacing(p, target, &why);
                if (moved) {
                    kept = true;
                    outcome.kind = FilingOutcome::Moved;
                    Q_EMIT XPFiledDocumentsNotifier::instance()->documentPathChanged(
                        {{QStringLiteral("newPath"), target}, {QStringLiteral("oldPath"), p}});
                } else {
                    QString copyWhy;
                    kept = copyRecursively(p, target, &copyWhy);
                    if (kept)
                        outcome.kind = FilingOutcome::Copied;
                    else if (!copyWhy.isEmpty())
                        why = copyWhy;
                }
            }
            if (kept) {
                outcome.destination = target;
                const QString marked = setToManagedCopyIfNeeded(target);
                if (!marked.isEmpty()) {
                    result.append(marked);
                    outcome.destination = marked;
                }
                if (!managedMark(outcome.destination).value_or(false)) {
                    outcome.markFailed = true;
                    outcome.why = whyMarkFails(outcome.destination);
                }
            } else {
                outcome.kind = FilingOutcome::Failed;
                outcome.why = why.isEmpty() ? QStringLiteral("cannot be moved or copied") : why;
            }
        }
        if (outcomes)
            outcomes->append(outcome);
    }
    --t_filingDepth;
    return result;
}

std::optional<bool> managedMark(const QString &path)
{
    const QVariant v = Lumitag::getXAttrMetaData(LumitagKeys::Managed, path);
    if (!v.isValid())
        return std::nullopt;
    return v.toBool();
}

bool setManaged(bool managed, const QString &path)
{
    const std::optional<bool> current = managedMark(path);
    if (current && *current == managed) {
        nudgeWhereTheIndexDisagrees(path, managed);
        return true;
    }
    (void)Lumitag::setXAttrMetaData(managed, LumitagKeys::Managed, path);
    XPSimpleUtils::adjustModifictionDate(path);
    QThread::msleep(20); // paces marking over many files
    const std::optional<bool> after = managedMark(path);
    return after && *after == managed;
}

bool pathsAreAllManaged(const QStringList &paths)
{
    for (const QString &p : paths) {
        const std::optional<bool> mark = managedMark(p);
        if (!mark || !*mark)
            return false;
    }
    return true;
}

QString setToManagedCopyIfNeeded(const QString &path)
{
    if (pathOKForManaged(path) && setManaged(true, path))
        return path;
    return copyToFiledDocumentsAndSetManaged(path);
}

QString copyToFiledDocumentsAndSetManaged(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("");
    if (pathIsInFiledDocuments(path)) {
        // Filing calls back here; one level of re-filing is enough, never a loop of moves.
        if (t_filingDepth < 2) {
            const QStringList moved = putFilesIntoFiledDocuments({path}, false);
            if (!moved.isEmpty())
                return moved.first();
        }
        setManaged(true, path);
        return path;
    }
    Q_EMIT XPFiledDocumentsNotifier::instance()->aboutToPerhapsMoveDocuments();
    const QString target =
        XPFileUtils::findUnusedPath(currentFiledDocumentsPath() + QLatin1Char('/') + QFileInfo(path).fileName());
    if (existsNoFollow(target))
        return QString();
    QString why;
    if (copyRecursively(path, target, &why) && setManaged(true, target))
        return target;
    return QString();
}

bool pathOKForManaged(const QString &path)
{
    if (path.contains(QLatin1String("/Library/Mail/")) || path.contains(QLatin1String("/Library/Caches/")) ||
        path.contains(QLatin1String("Photos Library.photoslibrary")))
        return false;
    return !path.startsWith(QLatin1String("/private/")) && !path.startsWith(QLatin1String("/var/"));
}

} // namespace XPFiledDocuments
