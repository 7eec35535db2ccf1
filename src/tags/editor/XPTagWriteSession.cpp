#include "tags/editor/XPTagWriteSession.h"

#include "fileops/gui/XPProgressController.h"
#include "tags/LumitagPrefs.h"
#include "util/Localized.h"
#include "util/Logging.h"

#include <QMessageBox>
#include <QPushButton>
#include <QThreadPool>

namespace {

// The tag-writer thread: one, so that commits reach the files in order.
QThreadPool &writerPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setObjectName(QStringLiteral("tag writer"));
        return p;
    }();
    return *pool;
}

std::atomic<int> g_pending{0};

bool askToWriteMany(qsizetype count, QWidget *window)
{
    const QString n = QString::number(count);
    QMessageBox box(QMessageBox::Critical, KLLocalized(QStringLiteral("XPEditTagsManyDocumentsTitle"), {n}),
                    KLLocalized(QStringLiteral("XPEditTagsManyDocumentsTitle"), {n}), QMessageBox::NoButton, window);
    box.setInformativeText(KLLocalized(QStringLiteral("XPEditTagsManyDocumentsComments"), {n}));
    QPushButton *ok =
        box.addButton(KLLocalized(QStringLiteral("XPEditTagsManyDocumentsOKButton")), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(KLLocalized(QStringLiteral("XPCancel")), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok;
}

void refuseMany(qsizetype count, QWidget *window)
{
    const QString n = QString::number(count);
    QMessageBox box(QMessageBox::Critical, KLLocalized(QStringLiteral("XPRefuseToEditTagsManyDocumentsTitle"), {n}),
                    KLLocalized(QStringLiteral("XPRefuseToEditTagsManyDocumentsTitle"), {n}), QMessageBox::NoButton,
                    window);
    box.setInformativeText(KLLocalized(QStringLiteral("XPRefuseToEditTagsManyDocumentsComments"),
                                       {n, QString::number(XPTagEditorRules::kRefuseAbove)}));
    box.addButton(KLLocalized(QStringLiteral("XPRefuseToEditTagsManyDocumentsOKButton")), QMessageBox::AcceptRole);
    box.exec();
}

void showFailures(const XPTagEditorRules::FailureReport &report, QWidget *window)
{
    QMessageBox box(QMessageBox::Warning, report.title, report.title, QMessageBox::Ok, window);
    box.setInformativeText(report.message);
    box.exec();
}

} // namespace

XPTagWriteSession::XPTagWriteSession(const XPDeltaTagsOperation &change, const XPTagWritePrompts &prompts)
    : m_change(change), m_prompts(prompts)
{
    setObjectName(QStringLiteral("XPTagWriteSession"));
}

XPTagWriteSession::~XPTagWriteSession()
{
    delete m_progress;
}

XPTagWriteSession *XPTagWriteSession::start(const XPDeltaTagsOperation &change, const XPTagWritePrompts &prompts,
                                            bool confirm)
{
    if (!XPTagWriter::needToSet(change.originalTags, change.newTags, change.filePaths, change.newRating))
        return nullptr;
    const qsizetype count = change.filePaths.size();
    switch (XPTagEditorRules::gateForFileCount(count)) {
    case XPTagEditorRules::Gate::Refuse:
        prompts.refuseMany ? prompts.refuseMany(count) : refuseMany(count, prompts.window);
        return nullptr;
    case XPTagEditorRules::Gate::Confirm:
        if (confirm && !(prompts.confirmMany ? prompts.confirmMany(count) : askToWriteMany(count, prompts.window)))
            return nullptr;
        break;
    case XPTagEditorRules::Gate::WriteAtOnce:
        break;
    }
    auto *session = new XPTagWriteSession(change, prompts);
    session->run();
    return session;
}

void XPTagWriteSession::run()
{
    const qsizetype count = m_change.filePaths.size();
    if (XPTagEditorRules::showsProgress(count)) {
        m_progress =
            new XPProgressController([this] { stop(); }, KLLocalized(QStringLiteral("XPProgressSettingTags")),
                                     int(count), KLLocalized(QStringLiteral("XPProgressSettingTagsStop")), nullptr);
        m_progress->setWindowTitle(KLLocalized(QStringLiteral("XPProgressSettingTags")));
        m_progress->showProgressWindowModalForWindow(m_prompts.window);
    }
    ++g_pending;
    writerPool().start([this] {
        m_onWriter.store(true);
        // Stopped while it waited for an earlier write: not a single file.
        if (m_stopRequested.load()) {
            m_onWriter.store(false);
            m_result.stopped = true;
            QMetaObject::invokeMethod(
                this, [this] { writerDone(); }, Qt::QueuedConnection);
            return;
        }
        m_result = XPTagWriter::replaceOriginalTags(
            m_change.originalTags, m_change.newTags, m_change.filePaths, m_change.newRating,
            [this](int done) {
                if (m_prompts.afterEachFileOnWriter)
                    m_prompts.afterEachFileOnWriter(done);
                // Asked again after each file: a stop that came before the writer cleared the
                // flag at its start still ends the run before the next file.
                if (m_stopRequested.load())
                    XPTagWriter::stopWritingTags();
                QMetaObject::invokeMethod(
                    this, [this, done] { fileDone(done); }, Qt::QueuedConnection);
            },
            true);
        m_onWriter.store(false);
        QMetaObject::invokeMethod(
            this, [this] { writerDone(); }, Qt::QueuedConnection);
    });
}

void XPTagWriteSession::stop()
{
    if (m_ended)
        return;
    m_stopRequested.store(true);
    // The writer's stop flag is shared by every write: raised only while this one runs (a
    // write still waiting sees m_stopRequested when its turn comes).
    if (m_onWriter.load())
        XPTagWriter::stopWritingTags();
}

void XPTagWriteSession::fileDone(int done)
{
    if (m_progress && done > m_progress->totalSoFar())
        m_progress->incrementBy(done - m_progress->totalSoFar());
    Q_EMIT progressed(done);
}

void XPTagWriteSession::writerDone()
{
    m_ended = true;
    --g_pending;
    if (m_progress)
        m_progress->endSheet(1);
    if (m_result.stopped)
        qCInfo(lcTags, "tag write stopped after %d of %lld files", m_result.processed,
               qint64(m_change.filePaths.size()));
    Q_EMIT finished(m_result);
    if (!m_result.failedPaths.isEmpty()) {
        QHash<QString, QString> reasons;
        for (auto it = m_result.errors.cbegin(); it != m_result.errors.cend(); ++it)
            reasons.insert(it.key(), it.value().info);
        const XPTagEditorRules::FailureReport report =
            XPTagEditorRules::failureReport(m_result.failedPaths, m_change.filePaths, reasons);
        reportFailures(report, m_prompts);
    }
    deleteLater();
}

void XPTagWriteSession::rememberEnteredTags(const QStringList &oldTags, const QStringList &newTags)
{
    writerPool().start([oldTags, newTags] { LumitagPrefs::updatePrefsRecentTags(oldTags, newTags); });
}

void XPTagWriteSession::waitForPendingWrites()
{
    writerPool().waitForDone();
}

bool XPTagWriteSession::writesPending()
{
    return g_pending.load() > 0;
}

void XPTagWriteSession::reportFailures(const XPTagEditorRules::FailureReport &report, const XPTagWritePrompts &prompts)
{
    if (prompts.reportFailures)
        prompts.reportFailures(report);
    else
        showFailures(report, prompts.window);
}
