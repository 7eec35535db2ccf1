#pragma once
// The parts of the application's own menus that are not about files: the About box, the
// keyboard-shortcut list of the Help menu, the release page behind "Check for Updates", and
// the look of dock mode's menu bar (the dark of the panels below it).
#include <QString>

class QDialog;
class QMenuBar;
class QWidget;

namespace KLApplicationMenus {

// The project's release page: the folder of the update feed (the setting "SUFeedURL"), which
// is where the releases are listed.
QString releasePageUrl();
// The project's home page (the site of the update feed) and its help page; empty when the
// settings name no site.
QString projectPageUrl();
QString helpPageUrl();
// The licence Kelso is released under, as the About box names it.
QString licenceName();

// The About box: one per process, brought to the front (and centred when it was not shown).
QDialog *showAboutBox(QWidget *parent);
// A small window listing the keys of the main window.
QDialog *showKeyboardShortcuts(QWidget *parent);
// The keys the shortcut window lists: pairs of key text and what it does.
QList<QPair<QString, QString>> keyboardShortcuts();

// Colours the menu bar like the recent-files panel (its background setting, made opaque) with
// light text, so that it does not stand out as a light strip above the dark panels.
void styleMenuBar(QMenuBar *bar);

} // namespace KLApplicationMenus
