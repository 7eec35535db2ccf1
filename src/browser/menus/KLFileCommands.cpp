#include "browser/menus/KLFileCommands.h"

#include "fileops/XPFileUtils.h"
#include "fileops/XPOpenWith.h"
#include "platform/Workspace.h"
#include "recent/KLItem.h"
#include "util/Localized.h"
#include "util/Logging.h"
#include "util/Tilde.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <sys/stat.h>

namespace KLFileCommands {

namespace {

QString nameOf(const QString &path)
{
    if (path == QLatin1String("/"))
        return path;
    const QString name = path.section(QLatin1Char('/'), -1);
    return name.isEmpty() ? path : name;
}

bool existsOnDisk(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString goneText(const QString &path)
{
    const QString folder = path.section(QLatin1Char('/'), 0, -2);
    return KLLocalized(
        QStringLiteral("It is no longer in %1."),
        {PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(folder.isEmpty() ? QStringLiteral("/") : folder)});
}

// The paths that still exist; a failure for each one that does not.
QStringList existing(const QStringList &paths, QList<Failure> *failures)
{
    QStringList out;
    for (const QString &p : paths) {
        if (existsOnDisk(p))
            out.append(p);
        else
            failures->append({p, goneText(p)});
    }
    return out;
}

// A file-manager request: reported when its answer comes (it may come later, so the answer
// keeps its own copy of the services).
void askFileManager(Command command, const QStringList &paths, QWidget *parent, const KLServices &services,
                    QList<Failure> failures)
{
    const QStringList present = existing(paths, &failures);
    if (present.isEmpty()) {
        reportFailures(command, failures, parent, services);
        return;
    }
    QPointer<QWidget> window = parent;
    auto done = [command, present, failures, window, services](const QString &why) mutable {
        if (!why.isEmpty()) {
            for (const QString &p : present)
                failures.append({p, why});
        }
        reportFailures(command, failures, window.data(), services);
    };
    if (command == Command::Reveal)
        Workspace::showItems(present, done);
    else
        Workspace::showItemProperties(present, done);
}

} // namespace

void open(const QStringList &paths, QWidget *parent, const KLServices &services)
{
    QList<Failure> failures;
    for (const QString &p : existing(paths, &failures)) {
        QString why;
        if (!XPFileUtils::openWithDefaultApplication(p, &why))
            failures.append({p, why});
    }
    reportFailures(Command::Open, failures, parent, services);
}

void reveal(const QStringList &paths, QWidget *parent, const KLServices &services)
{
    askFileManager(Command::Reveal, paths, parent, services, {});
}

void showProperties(const QStringList &paths, QWidget *parent, const KLServices &services)
{
    askFileManager(Command::Properties, paths, parent, services, {});
}

void openWebPage(const QString &url, QWidget *parent, const KLServices &services)
{
    QString why;
    if (!Workspace::openUrl(url, &why))
        reportFailures(Command::OpenWebPage, {{url, why}}, parent, services);
}

QString pickReplacementFile(const QString &message, const QString &prompt, const QString &formerPath, QWidget *parent)
{
    QString start = formerPath.section(QLatin1Char('/'), 0, -2);
    while (!start.isEmpty() && !QFileInfo(start).isDir())
        start = start.section(QLatin1Char('/'), 0, -2);
    if (start.isEmpty())
        start = PimsAdditions::stringByExpandingTildeInPathSANDBOX(QStringLiteral("~"));
    QFileDialog dialog(parent ? parent->window() : nullptr, message, start);
    dialog.setObjectName(QStringLiteral("findMissingFile"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    dialog.setWindowModality(Qt::ApplicationModal);
    const QString formerName = formerPath.section(QLatin1Char('/'), -1);
    if (!formerName.isEmpty())
        dialog.selectFile(formerName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void installReplacementPicker(KLItemServices &services)
{
    services.pickReplacement = [](const QString &message, const QString &prompt, const QString &formerPath) {
        return pickReplacementFile(message, prompt, formerPath, QApplication::activeWindow());
    };
}

KLFileFailureReport failureMessage(Command command, const QList<Failure> &failures)
{
    KLFileFailureReport m;
    m.shown = KLFileFailureReport::Shown::OwnWindow;
    m.failures = failures;
    if (failures.isEmpty())
        return m;
    const bool one = failures.size() == 1;
    const QString subject = one ? nameOf(failures.first().path) : QString::number(failures.size());
    switch (command) {
    case Command::Open:
    case Command::OpenWith:
        m.title = KLLocalized(QStringLiteral("DPOpenExternally"));
        m.message = KLLocalized(
            one ? QStringLiteral("“%1” cannot be opened.") : QStringLiteral("%1 items cannot be opened."), {subject});
        break;
    case Command::Reveal:
        m.title = KLLocalized(QStringLiteral("DPRevealInFinder"));
        m.message = KLLocalized(one ? QStringLiteral("“%1” cannot be shown in a file manager.")
                                    : QStringLiteral("%1 items cannot be shown in a file manager."),
                                {subject});
        break;
    case Command::Properties:
        m.title = KLLocalized(QStringLiteral("DPGetInfoInFinder"));
        m.message = KLLocalized(one ? QStringLiteral("The properties of “%1” cannot be shown.")
                                    : QStringLiteral("The properties of %1 items cannot be shown."),
                                {subject});
        break;
    case Command::OpenWebPage:
        m.title = KLLocalized(QStringLiteral("KLCheckForUpdates"));
        m.message = KLLocalized(QStringLiteral("The page %1 cannot be opened."), {failures.first().path});
        break;
    }
    // One reason for all is said once; different reasons are listed file by file.
    bool sameReason = true;
    for (const Failure &f : failures)
        sameReason = sameReason && f.why == failures.first().why;
    if (sameReason) {
        m.informativeText = failures.first().why;
    } else {
        QStringList lines;
        for (const Failure &f : failures)
            lines.append(KLLocalized(QStringLiteral("%1: %2"), {nameOf(f.path), f.why}));
        m.informativeText = lines.join(QLatin1Char('\n'));
    }
    return m;
}

void reportFailures(Command command, const QList<Failure> &failures, QWidget *parent, const KLServices &services)
{
    services.reportFileFailures(failureMessage(command, failures), parent);
}

} // namespace KLFileCommands
