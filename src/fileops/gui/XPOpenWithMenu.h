#pragma once
// The "Open With" submenu of the context menus, and what its entries do.
//
// Entries carry a record as their data: {"path"} for the default application and "Other…",
// {"path", "app"} for the other applications. Choosing one calls the target's
// openSelectedWithAppAction() / openSelectedWithOtherAction() with that record; the standard
// handling of both is openWithApp() / openWithOther() below, which targets can simply call.
#include <QString>
#include <QVariantMap>
#include <functional>

class QMenu;
class QWidget;

class XPOpenWithTarget
{
public:
    virtual ~XPOpenWithTarget() = default;
    virtual void openSelectedWithAppAction(const QVariantMap &record) = 0;
    virtual void openSelectedWithOtherAction(const QVariantMap &record) = 0;
};

namespace XPFileUtils {

// A menu with an empty title holding the entries of openWithEntriesForDocument(); the menu is
// a child of `parent` when given. The target must outlive the menu.
QMenu *makeOpenWithMenuForDocument(const QString &path, XPOpenWithTarget *target, QWidget *parent = nullptr);

// The standard handling of an application entry: records the application as preferred for
// the extension (or takes the default one) and opens the file with it.
bool openWithApp(const QVariantMap &record);
// The standard handling of "Other…": asks for an application entry, starting in the system's
// applications folder, then opens the file with it and records the choice.
bool openWithOther(const QVariantMap &record, QWidget *window);

// Who asks for the application in openWithOther(): answers the chosen desktop entry, or empty
// when the user cancelled. The default shows a file dialog on `window`; tests replace it.
using ApplicationChooser = std::function<QString(QWidget *window, const QString &startFolder)>;
void setApplicationChooser(ApplicationChooser chooser);
// The folder the chooser starts in: /usr/share/applications, where the system's entries live.
QString applicationsFolder();

} // namespace XPFileUtils
