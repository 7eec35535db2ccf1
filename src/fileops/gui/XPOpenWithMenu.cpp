#include "fileops/gui/XPOpenWithMenu.h"

#include "fileops/XPOpenWith.h"
#include "fileops/gui/XPApplicationChooser.h"
#include "fileops/gui/XPIcons.h"
#include "util/Localized.h"

#include <QAction>
#include <QMenu>

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

QMenu *makeOpenWithMenuForDocument(const QString &path, XPOpenWithTarget *target, QWidget *parent)
{
    auto *menu = new QMenu(QString(), parent);
    const QList<OpenWithEntry> entries = openWithEntriesForDocument(path);
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
    menu->setToolTipsVisible(true);
    return menu;
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
