#include "fileops/gui/XPOpenWithMenu.h"

#include "fileops/XPOpenWith.h"
#include "fileops/gui/XPApplicationChooser.h"
#include "fileops/gui/XPIcons.h"
#include "util/Localized.h"

#include <QAction>
#include <QFutureWatcher>
#include <QMenu>
#include <QtConcurrent/QtConcurrentRun>

std::function<QList<XPFileUtils::OpenWithEntry>()> XPOpenWithTarget::openWithEntriesFinder(const QString &path) const
{
    return [path] { return XPFileUtils::openWithEntriesForDocument(path); };
}

namespace XPFileUtils {

namespace {

QString defaultChooser(QWidget *window, const QString &documentPath)
{
    return XPApplicationChooser::chooseApplication(documentPath, window);
}

ApplicationChooser &chooser()
{
    static ApplicationChooser c = defaultChooser;
    return c;
}

} // namespace

namespace {

const char kReadyProperty[] = "klOpenWithReady";

void fillOpenWithMenu(QMenu *menu, const QList<OpenWithEntry> &entries, XPOpenWithTarget *target)
{
    for (const OpenWithEntry &entry : entries) {
        if (entry.kind == OpenWithEntry::Separator) {
            menu->addSeparator();
            continue;
        }
        QAction *action = menu->addAction(entry.title);
        action->setData(entry.representedObject);
        if (entry.kind == OpenWithEntry::Other) {
            QObject::connect(action, &QAction::triggered, menu, [target, action] {
                if (target)
                    target->openSelectedWithOtherAction(action->data().toMap());
            });
            continue;
        }
        if (!entry.isDefault)
            action->setToolTip(entry.toolTip);
        QIcon icon = XPIcons::iconForApplication(entry.iconNames, entry.iconFile);
        if (icon.isNull() && !entry.isDefault)
            icon = XPIcons::emptyIcon();
        if (!icon.isNull())
            action->setIcon(icon);
        QObject::connect(action, &QAction::triggered, menu, [target, action] {
            if (target)
                target->openSelectedWithAppAction(action->data().toMap());
        });
    }
}

} // namespace

QMenu *makeOpenWithMenuForDocument(const QString &path, XPOpenWithTarget *target, QWidget *parent)
{
    auto *menu = new QMenu(QString(), parent);
    menu->setToolTipsVisible(true);
    menu->setProperty(kReadyProperty, false);
    // The applications are found on a pool thread: that reads the document (its type), the
    // desktop entries and the settings. Until they come, the menu says it is looking.
    QAction *looking = menu->addAction(KLLocalized(QStringLiteral("XPOpenWithLooking")));
    looking->setObjectName(QStringLiteral("openWithLooking"));
    looking->setEnabled(false);
    auto *watcher = new QFutureWatcher<QList<OpenWithEntry>>(menu);
    QObject::connect(watcher, &QFutureWatcherBase::finished, menu, [menu, watcher, looking, target] {
        watcher->deleteLater();
        menu->removeAction(looking);
        looking->deleteLater();
        fillOpenWithMenu(menu, watcher->result(), target);
        menu->setProperty(kReadyProperty, true);
    });
    std::function<QList<OpenWithEntry>()> finder =
        target ? target->openWithEntriesFinder(path) : [path] { return openWithEntriesForDocument(path); };
    watcher->setFuture(QtConcurrent::run(std::move(finder)));
    return menu;
}

bool openWithMenuIsReady(const QMenu *menu)
{
    return menu && menu->property(kReadyProperty).toBool();
}

bool openWithApp(const QVariantMap &record, QString *error)
{
    return openSelectedWithApp(record, nullptr, error);
}

bool openWithOther(const QVariantMap &record, QWidget *window, QString *error)
{
    const QString path = record.value(QStringLiteral("path")).toString();
    if (path.isEmpty())
        return false;
    const QString app = chooser()(window, path);
    if (app.isEmpty())
        return false;
    return openSelectedWithApp({{QStringLiteral("path"), path}, {QStringLiteral("app"), app}}, nullptr, error);
}

void setApplicationChooser(ApplicationChooser c)
{
    chooser() = c ? std::move(c) : ApplicationChooser(defaultChooser);
}

} // namespace XPFileUtils
