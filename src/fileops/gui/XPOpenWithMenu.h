#pragma once
// The "Open With" submenu of the context menus, and what its entries do.
//
// Entries carry a record as their data: {"path"} for the default application and "Other…",
// {"path", "app"} for the other applications. Choosing one calls the target's
// openSelectedWithAppAction() / openSelectedWithOtherAction() with that record; the standard
// handling of both is openWithApp() / openWithOther() below, which targets can simply call.
#include "fileops/XPOpenWith.h"

#include <QList>
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
    // What finds the menu's entries for a document. The answer runs on a pool thread, so it
    // must not touch the target; the default is XPFileUtils::openWithEntriesForDocument().
    virtual std::function<QList<XPFileUtils::OpenWithEntry>()> openWithEntriesFinder(const QString &path) const;
};

namespace XPFileUtils {

// A menu with an empty title holding the entries of openWithEntriesForDocument(); the menu is
// a child of `parent` when given. The target must outlive the menu. The entries are found on a
// pool thread (the document's type and the desktop entries are read from the disk): the menu
// comes back at once with one disabled "looking" entry, replaced by the applications when
// they are known (openWithMenuIsReady() then answers true).
QMenu *makeOpenWithMenuForDocument(const QString &path, XPOpenWithTarget *target, QWidget *parent = nullptr);
bool openWithMenuIsReady(const QMenu *menu);

// The standard handling of an application entry: records the application as preferred for
// the extension (or takes the default one) and opens the file with it. False with a sentence
// in *error when it could not be opened.
bool openWithApp(const QVariantMap &record, QString *error = nullptr);
// The standard handling of "Other…": asks for an application in the application chooser, then
// opens the file with it and records the choice. False, with *error empty, when cancelled.
bool openWithOther(const QVariantMap &record, QWidget *window, QString *error = nullptr);

// Who asks for the application in openWithOther(): answers the chosen desktop entry, or empty
// when the user cancelled. The default shows XPApplicationChooser on `window`; tests replace it.
using ApplicationChooser = std::function<QString(QWidget *window, const QString &documentPath)>;
void setApplicationChooser(ApplicationChooser chooser);

} // namespace XPFileUtils
