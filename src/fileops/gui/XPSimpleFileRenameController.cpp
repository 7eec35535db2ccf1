#include "fileops/gui/XPSimpleFileRenameController.h"

#include "fileops/XPFileJobs.h"
#include "fileops/XPRename.h"
#include "util/Localized.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

QPointer<XPSimpleFileRenameController> XPSimpleFileRenameController::s_current;

XPSimpleFileRenameController::XPSimpleFileRenameController(const QString &path, QWidget *parent, XPFileJobs *jobs)
    : QDialog(parent), m_jobs(jobs ? jobs : &XPFileJobs::shared())
{
    setObjectName(QStringLiteral("XPSimpleFileRename"));
    setWindowTitle(KLLocalized(QStringLiteral("XPRenameTitle")));
    // A small dialog: a title and a close button, nothing to minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    auto *layout = new QVBoxLayout(this);
    // Its size follows the content: it grows with a reason shown under the field rather than
    // clipping it, and, being of fixed size, offers no maximise even where the window manager
    // keeps buttons the window asks to go without.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_originalName = new QLabel(this);
    m_originalName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_originalName->setObjectName(QStringLiteral("originalName"));
    m_newName = new QLineEdit(this);
    m_newName->setObjectName(QStringLiteral("newName"));
    m_newName->setMinimumWidth(320);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_message->hide();
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setText(KLLocalized(QStringLiteral("XPRenameButton")));
    auto *currentLabel = new QLabel(KLLocalized(QStringLiteral("XPRenameCurrentName")), this);
    currentLabel->setBuddy(m_originalName);
    m_originalName->setAccessibleDescription(currentLabel->text());
    auto *newLabel = new QLabel(KLLocalized(QStringLiteral("XPRenameNewName")), this);
    newLabel->setBuddy(m_newName);
    layout->addWidget(currentLabel);
    layout->addWidget(m_originalName);
    layout->addWidget(newLabel);
    layout->addWidget(m_newName);
    layout->addWidget(m_message);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &XPSimpleFileRenameController::okAction);
    connect(buttons, &QDialogButtonBox::rejected, this, &XPSimpleFileRenameController::cancelAction);
    connect(m_newName, &QLineEdit::textEdited, m_message, &QLabel::hide);
    setPath(path);
}

void XPSimpleFileRenameController::setPath(const QString &path)
{
    m_path = path;
    m_resultingPath = path;
    const QString name = path.section(QLatin1Char('/'), -1);
    m_originalName->setText(name);
    m_newName->setText(name);
    // Select the stem, so typing replaces the name and keeps the extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    m_newName->setSelection(0, dot > 0 ? int(dot) : int(name.size()));
}

XPSimpleFileRenameController *XPSimpleFileRenameController::showRenameDialogForFile(const QString &path,
                                                                                    QWidget *window, XPFileJobs *jobs)
{
    if (s_current)
        s_current->done(QDialog::Rejected); // closes and, on close, goes away
    auto *controller = new XPSimpleFileRenameController(path, window, jobs);
    controller->setAttribute(Qt::WA_DeleteOnClose);
    controller->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    s_current = controller;
    controller->open();
    controller->m_newName->setFocus();
    return controller;
}

XPSimpleFileRenameController *XPSimpleFileRenameController::current()
{
    return s_current.data();
}

void XPSimpleFileRenameController::okAction()
{
    if (m_renaming)
        return;
    // A name to fix, a taken name or a rename the system refused keeps the sheet open with the
    // reason; the rules that need no telling (a stem too short) close it, as does success.
    std::function<XPFileUtils::RenamePlan()> work = [path = m_path, name = m_newName->text()] {
        return XPFileUtils::renameFile(path, name);
    };
    std::function<void(const XPFileUtils::RenamePlan &)> done = [this](const XPFileUtils::RenamePlan &plan) {
        setRenaming(false);
        if (plan.status == XPFileUtils::RenamePlan::Refused && !plan.message.isEmpty()) {
            showMessage(plan.message);
            return;
        }
        if (plan.status == XPFileUtils::RenamePlan::Ready) {
            m_resultingPath = plan.target;
            Q_EMIT renamed(m_path, plan.target);
        }
        renameSheetDidEnd(1);
    };
    if (!m_jobs->run({m_path}, std::move(work), this, std::move(done))) {
        showMessage(KLLocalized(QStringLiteral("XPRenameBusy")));
        return;
    }
    setRenaming(true);
}

void XPSimpleFileRenameController::cancelAction()
{
    renameSheetDidEnd(0);
}

void XPSimpleFileRenameController::renameSheetDidEnd(int returnCode)
{
    hide();
    done(returnCode == 1 ? QDialog::Accepted : QDialog::Rejected);
}

void XPSimpleFileRenameController::showMessage(const QString &message)
{
    m_message->setText(message);
    m_message->show();
    // Grow to the wrapped reason's height at once (the layout alone may leave it clipped).
    adjustSize();
}

void XPSimpleFileRenameController::setRenaming(bool renaming)
{
    m_renaming = renaming;
    m_newName->setEnabled(!renaming);
    m_ok->setEnabled(!renaming);
    if (!renaming)
        m_newName->setFocus();
}
