#pragma once
// The commands that hand a file to another program (open, show in the file manager, show its
// properties, open a web page) and what the user is told when one cannot run.
//
// Nothing here fails silently: the files a command could not handle are gathered and reported
// in one message that names the file (or counts the files) and says why, shown without
// blocking over the window the command came from (by the failure presenter of the services
// handed in, the one that also tells of the files the panes could not trash or file). A
// command on several files still does what it can for the others.
#include "browser/KLServices.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace KLFileCommands {

enum class Command { Open, Reveal, Properties, OpenWith, OpenWebPage };

// The file (or, for a web page, the address) and why, a sentence.
using Failure = KLFileFailure;

// Each path with its default application (the one "Open With" marks).
void open(const QStringList &paths, QWidget *parent, const KLServices &services);
// Each path selected in the file manager; without one, its folder opened.
void reveal(const QStringList &paths, QWidget *parent, const KLServices &services);
// The file manager's properties window of each path; without one, its folder opened.
void showProperties(const QStringList &paths, QWidget *parent, const KLServices &services);
// An address in the default web browser.
void openWebPage(const QString &url, QWidget *parent, const KLServices &services);

// "Find Missing File…": a file dialog titled `message`, its accept button `prompt`, starting in
// the folder the file was in (or the nearest enclosing folder that still exists). Answers the
// chosen path, or empty when cancelled.
QString pickReplacementFile(const QString &message, const QString &prompt, const QString &formerPath, QWidget *parent);
// Makes pickReplacementFile() the picker that items with these services use to find a missing
// file again (KLItem::pickNewOriginal), over the active window.
void installReplacementPicker(KLItemServices &services);

// What the user is told about these failures of a command, in a window of its own titled by
// the command (none: an empty message).
KLFileFailureReport failureMessage(Command command, const QList<Failure> &failures);
// Logs the failures and shows failureMessage() through the services (nothing for no failures).
void reportFailures(Command command, const QList<Failure> &failures, QWidget *parent, const KLServices &services);

} // namespace KLFileCommands
