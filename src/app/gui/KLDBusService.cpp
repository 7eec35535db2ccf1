#include "app/gui/KLDBusService.h"

#include "app/gui/KLAppDelegate.h"
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "cooler/KLCoolerArguments.h"
#include "cooler/KLItemListOps.h"
#include "fileops/XPRename.h"
#include "kelsoappadaptor.h"
#include "platform/KLDBusClient.h"
#include "platform/mdindex/MdStore.h"
#include "search/KLMetadataIndex.h"
#include "search/KLSearchCommand.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <mutex>
#include <sys/stat.h>

KLDBusService::KLDBusService(KLAppDelegate *delegate) : QObject(delegate), m_delegate(delegate)
{
    new AppAdaptor(this);
    m_callPool.setMaxThreadCount(1);
    m_callPool.setObjectName(QStringLiteral("kelso-dbus"));
}

bool KLDBusService::registerOnSessionBus(QString *why)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *why = QStringLiteral("no D-Bus session bus: single-instance and control commands are unavailable");
        return false;
    }
    // The object first: a call that arrives as soon as the name is ours must find it.
    if (!bus.registerObject(QString::fromLatin1(KLDBusClient::kPath), this)) {
        *why = QStringLiteral("cannot export %1").arg(QString::fromLatin1(KLDBusClient::kPath));
        return false;
    }
    if (!bus.registerService(QString::fromLatin1(KLDBusClient::kService))) {
        *why = QStringLiteral("the bus name %1 is taken: %2")
                   .arg(QString::fromLatin1(KLDBusClient::kService), bus.lastError().message());
        bus.unregisterObject(QString::fromLatin1(KLDBusClient::kPath));
        return false;
    }
    return true;
}

void KLDBusService::Show()
{
    m_delegate->show();
}
void KLDBusService::Hide()
{
    m_delegate->hide();
}
void KLDBusService::Toggle()
{
    m_delegate->toggle();
}
// Quitting from inside a D-Bus call would tear the connection down before the reply goes
// out; answer first, then quit.
void KLDBusService::Quit()
{
    QTimer::singleShot(0, m_delegate, [d = m_delegate] { d->quit(); });
}
void KLDBusService::OpenFiles(const QStringList &paths)
{
    changeCoolerLater(paths, 0, true, true);
}
QString KLDBusService::RecentItems(const QString &folder)
{
    if (!calledFromDBus()) {
        // A direct call gets the answer only when it is ready at once (no event stream).
        struct Answer {
            std::mutex mutex;
            QString json = QStringLiteral("[]");
        };
        auto answer = std::make_shared<Answer>();
        m_delegate->recentItemsJson(folder, [answer](const QString &json) {
            std::lock_guard lock(answer->mutex);
            answer->json = json;
        });
        std::lock_guard lock(answer->mutex);
        return answer->json;
    }
    // The list needs the disk: reply when it is ready, never holding up this thread.
    setDelayedReply(true);
    m_delegate->recentItemsJson(folder, [request = message(), bus = connection()](const QString &json) {
        QDBusConnection(bus).send(request.createReply(json));
    });
    return QString();
}

QString KLDBusService::ShownRecentItems()
{
    return m_delegate->shownRecentItemsJson();
}
QString KLDBusService::ShownSearchResults()
{
    return m_delegate->shownSearchResultsJson();
}
QString KLDBusService::RecentStatus()
{
    return m_delegate->recentStatusJson();
}
QString KLDBusService::CoolerItems()
{
    return m_delegate->coolerItemsJson();
}
void KLDBusService::AddToCooler(const QStringList &paths, int index)
{
    changeCoolerLater(paths, index, true, false);
}
void KLDBusService::RemoveFromCooler(const QStringList &paths)
{
    changeCoolerLater(paths, 0, false, false);
}

QString KLDBusService::Search(const QString &text, const QString &kind, const QString &time, const QString &folder)
{
    KLSearchQueryText::Criteria criteria;
    criteria.text = text;
    criteria.kindIndex = kind.isEmpty() ? 0 : KLSearchQueryText::kindIndexForName(kind);
    criteria.timeIndex = time.isEmpty() ? 0 : KLSearchQueryText::timeIndexForName(time);
    QString bad;
    if (criteria.kindIndex < 0)
        bad = QStringLiteral("unknown kind \"%1\"").arg(kind);
    else if (criteria.timeIndex < 0)
        bad = QStringLiteral("unknown time \"%1\"").arg(time);
    else if (!folder.isEmpty() && !folder.startsWith(QLatin1Char('/')))
        bad = QStringLiteral("the folder must be an absolute path: \"%1\"").arg(folder);
    else if (KLSearchQueryText::isNoSearch(criteria, !folder.isEmpty()))
        bad = QStringLiteral("nothing to search for");
    if (!bad.isEmpty()) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::InvalidArgs, bad);
        return QString();
    }
    const QString dbPath =
        m_delegate->metadataIndex() ? m_delegate->metadataIndex()->databasePath() : MdIndex::Store::defaultPath();
    if (!calledFromDBus()) {
        QByteArray json;
        QString error;
        return KLSearchCommand::searchJson(criteria, folder, dbPath, &json, &error) ? QString::fromUtf8(json)
                                                                                    : QString();
    }
    // The index is read on the call thread, never the main thread.
    setDelayedReply(true);
    m_callPool.start([request = message(), bus = connection(), criteria, folder, dbPath] {
        QByteArray json;
        QString error;
        const bool ok = KLSearchCommand::searchJson(criteria, folder, dbPath, &json, &error);
        QDBusConnection(bus).send(ok ? request.createReply(QString::fromUtf8(json))
                                     : request.createErrorReply(QDBusError::Failed, error));
    });
    return QString();
}

namespace {

QString coolerFullMessage(const QStringList &refused, qsizetype asked)
{
    return QStringLiteral("%1 of the %2 files did not fit: the Cooler holds at most %3 items (the first left out: %4)")
        .arg(refused.size())
        .arg(asked)
        .arg(KLItemListOps::kMaxItems)
        .arg(refused.first());
}

// On the main thread, with the checked arguments: changes the Cooler and answers the call.
QDBusMessage changeCooler(KLAppDelegate *delegate, const QDBusMessage &call, const QList<KLItemPtr> &items,
                          const QStringList &paths, int index, bool add, bool showWindow)
{
    KLMainWindowController *window = delegate->windowController();
    KLCoolerImageBrowserDelegate *cooler = window ? window->coolerDelegate() : nullptr;
    if (!cooler)
        return call.createErrorReply(QDBusError::Failed, QStringLiteral("Kelso is not ready yet"));
    if (!add) {
        QList<KLItemPtr> gone;
        for (const QString &p : paths) {
            if (KLItemPtr item = cooler->itemAtIndex(cooler->indexForPath(p)))
                gone.append(item);
        }
        if (!gone.isEmpty())
            cooler->imageBrowserRemoveKLItems(gone, false);
        return call.createReply();
    }
    const QStringList refused = cooler->addItemsThatFit(items, index);
    if (showWindow)
        delegate->openFiles({});
    if (!refused.isEmpty()) {
        QStringList distinct = paths;
        distinct.removeDuplicates();
        return call.createErrorReply(QString::fromLatin1(KLDBusService::kCoolerFullError),
                                     coolerFullMessage(refused, distinct.size()));
    }
    return call.createReply();
}

} // namespace

void KLDBusService::ItemsMoved(const QStringList &from, const QStringList &to)
{
    if (from.size() != to.size()) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("ItemsMoved takes as many new paths as old ones"));
        return;
    }
    setDelayedReply(true);
    const QDBusMessage call = message();
    const QDBusConnection bus = connection();
    m_callPool.start([=] {
        using KLCoolerArguments::Need;
        const KLCoolerArguments::Checked olds = KLCoolerArguments::check(from, Need::AbsolutePath);
        const KLCoolerArguments::Checked news = KLCoolerArguments::check(to, Need::AbsolutePath);
        QList<std::pair<QString, QString>> moves;
        if (olds.error.isEmpty() && news.error.isEmpty()) {
            for (qsizetype i = 0; i < olds.paths.size(); ++i) {
                // Only what the disk confirms: a stray call must not send items elsewhere.
                struct stat st;
                const bool oldGone = ::lstat(QFile::encodeName(olds.paths.at(i)).constData(), &st) != 0;
                const bool newThere = ::lstat(QFile::encodeName(news.paths.at(i)).constData(), &st) == 0;
                if (oldGone && newThere)
                    moves.append({olds.paths.at(i), news.paths.at(i)});
            }
        }
        const QString error = olds.error.isEmpty() ? news.error : olds.error;
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [=] {
                QDBusConnection out = bus;
                if (!error.isEmpty()) {
                    out.send(call.createErrorReply(QDBusError::InvalidArgs, error));
                    return;
                }
                for (const auto &[oldPath, newPath] : moves)
                    Q_EMIT XPFileMoveNotifier::instance()->itemMoved(oldPath, newPath);
                out.send(call.createReply());
            },
            Qt::QueuedConnection);
    });
}

void KLDBusService::changeCoolerLater(const QStringList &arguments, int index, bool add, bool showWindow)
{
    // The answer goes out when the work is done; the main thread only changes the list.
    setDelayedReply(true);
    const QDBusMessage call = message();
    const QDBusConnection bus = connection();
    QPointer<KLDBusService> self(this);
    m_callPool.start([=] {
        using KLCoolerArguments::Need;
        const KLCoolerArguments::Checked checked =
            KLCoolerArguments::check(arguments, add ? Need::ExistingFile : Need::AbsolutePath);
        QList<KLItemPtr> items;
        if (checked.error.isEmpty() && add) {
            // Each item looks at its file as it is made.
            items.reserve(checked.paths.size());
            for (const QString &p : checked.paths)
                items.append(KLItem::create(p));
        }
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [=] {
                QDBusConnection out = bus;
                if (!checked.error.isEmpty()) {
                    out.send(call.createErrorReply(QDBusError::InvalidArgs, checked.error));
                    return;
                }
                if (!self) {
                    out.send(call.createErrorReply(QDBusError::Failed, QStringLiteral("Kelso is quitting")));
                    return;
                }
                out.send(changeCooler(self->m_delegate, call, items, checked.paths, index, add, showWindow));
            },
            Qt::QueuedConnection);
    });
}
