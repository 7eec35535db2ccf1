#include "browser/KLServices.h"

#include "fileops/XPFileJobs.h"
#include "util/Localized.h"
#include "util/Logging.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPoint>
#include <QPushButton>
#include <QWidget>

namespace {

bool showTrashAlert(const KLTrashWarning &warning)
{
    QMessageBox box(QMessageBox::Warning, KLLocalized(QStringLiteral("DPMenuItemMoveToTrash")), warning.message);
    box.setObjectName(QStringLiteral("trashConfirmation"));
    box.setInformativeText(warning.informativeText);
    QPushButton *cancel = box.addButton(KLLocalized(QStringLiteral("Cancel")), QMessageBox::RejectRole);
    QPushButton *del = box.addButton(warning.confirmButton, QMessageBox::DestructiveRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == del;
}

bool askBeforePushingOut(const KLPushOutQuestion &question)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Kelso"), question.message);
    box.setInformativeText(question.informativeText);
    QPushButton *cancel = box.addButton(KLLocalized(QStringLiteral("Cancel")), QMessageBox::RejectRole);
    QPushButton *push = box.addButton(KLLocalized(QStringLiteral("KLCoolerPushOutButton")), QMessageBox::AcceptRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == push;
}

void showFailureBox(const KLFileFailureReport &report, QWidget *window)
{
    QWidget *parent = window ? window->window() : nullptr;
    auto *box = new QMessageBox(QMessageBox::Warning, report.title, report.message, QMessageBox::Ok, parent);
    box->setInformativeText(report.informativeText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (report.shown == KLFileFailureReport::Shown::OverWindow) {
        box->setObjectName(QStringLiteral("fileFailureMessage"));
        box->setAccessibleName(report.message);
        box->open();
        return;
    }
    box->setObjectName(QStringLiteral("commandFailure"));
    box->setWindowModality(Qt::NonModal);
    box->show();
    box->raise();
    box->activateWindow();
}

} // namespace

bool KLServices::confirmTrashing(const KLTrashWarning &warning) const
{
    return trashAlertPresenter ? trashAlertPresenter(warning) : showTrashAlert(warning);
}

bool KLServices::confirmPushingOut(const KLPushOutQuestion &question) const
{
    return pushOutPresenter ? pushOutPresenter(question) : askBeforePushingOut(question);
}

void KLServices::reportFileFailures(const KLFileFailureReport &report, QWidget *window) const
{
    if (report.failures.isEmpty())
        return;
    for (const KLFileFailure &f : report.failures)
        qCWarning(lcFileOps, "%s: %s", qUtf8Printable(f.path), qUtf8Printable(f.why));
    if (fileFailurePresenter)
        fileFailurePresenter(report, window);
    else
        showFailureBox(report, window);
}

void KLServices::popUpContextMenu(QMenu *menu, const QPoint &globalPos) const
{
    if (contextMenuPresenter)
        contextMenuPresenter(menu, globalPos);
    else
        menu->popup(globalPos);
}

void KLServices::openTagEditor(const QStringList &paths) const
{
    if (paths.isEmpty())
        return;
    if (tagEditorOpener)
        tagEditorOpener(paths);
    else
        qCInfo(lcBrowser, "no tag editor is installed; cannot edit the tags of %lld files", qint64(paths.size()));
}

void KLServices::runTagQuery(const QString &queryText) const
{
    if (tagQueryRunner)
        tagQueryRunner(queryText);
    else
        qCInfo(lcBrowser, "no search is installed; cannot run the tag query \"%s\"", qUtf8Printable(queryText));
}

void KLServices::openPreferences(KLPreferencesPage page) const
{
    if (preferencesOpener)
        preferencesOpener(page);
    else
        qCInfo(lcBrowser, "there is no preferences window to open");
}

bool KLServices::dragEndedOnDropZone() const
{
    return dropZoneQuery ? dropZoneQuery() : false;
}

void KLServices::beep() const
{
    if (beeper)
        beeper();
    else
        QApplication::beep();
}

const KLServices &KLServices::defaults()
{
    static const KLServices none;
    return none;
}

XPFileJobs &KLServices::jobs() const
{
    return fileJobs ? *fileJobs : XPFileJobs::shared();
}
