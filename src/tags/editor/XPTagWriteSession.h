#pragma once
// One write of tags and ratings to the editor's files, from the user's confirmation to the
// failure report.
//
// The files are written one after another on the tag-writer thread (one thread for the
// program, so that two commits reach a file in the order they were made and never at the same
// time). The main thread only shows the questions, the progress window and the report: the
// worker tells it its progress through queued calls, so the window repaints while the files
// are written, and its Stop button takes effect before the next file. A file is always
// written whole (the stop is looked at between files only).
//
// Above XPTagEditorRules::kRefuseAbove files nothing is written; above kConfirmAbove the user
// is asked first (when confirmation is asked for); from kProgressFrom files on a progress
// window with a Stop button shows. The files that failed are reported once at the end, with
// the reason for each.
#include "tags/Lumitag.h"
#include "tags/XPTagWriter.h"
#include "tags/editor/XPTagEditorRules.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>

class QThread;
class QWidget;
class XPProgressController;

// The questions and messages of a write; empty members take the message boxes.
struct XPTagWritePrompts {
    // Asked before writing more than kConfirmAbove files; true goes ahead.
    std::function<bool(qsizetype count)> confirmMany;
    // Told when more than kRefuseAbove files were asked for.
    std::function<void(qsizetype count)> refuseMany;
    // Shows the files that could not be written.
    std::function<void(const XPTagEditorRules::FailureReport &report)> reportFailures;
    // The window the progress window and the messages belong to (none: their own windows).
    QPointer<QWidget> window;
    // Called on the writer thread after each file with the number done (tests pace the
    // writer with it).
    std::function<void(int done)> afterEachFileOnWriter;
};

class XPTagWriteSession : public QObject
{
    Q_OBJECT
public:
    // Starts the write (after the question, when `confirm` and the count asks for one).
    // Answers the running session, or null when nothing is written: refused, declined, or
    // nothing to write. The session deletes itself after finished().
    static XPTagWriteSession *start(const XPDeltaTagsOperation &change, const XPTagWritePrompts &prompts,
                                    bool confirm = true);
    // Puts the tags of `newTags` that `oldTags` lacks at the front of the recent tags, on the
    // writer thread after the writes started before: the change may wait for another Kelso
    // process's lock, which the caller (the window) must not.
    static void rememberEnteredTags(const QStringList &oldTags, const QStringList &newTags);
    // Waits until every started write has ended (at quit, and in tests).
    static void waitForPendingWrites();
    // Shows a failure report through the prompts (or a message box).
    static void reportFailures(const XPTagEditorRules::FailureReport &report, const XPTagWritePrompts &prompts);
    // Whether a write is under way or waiting for the writer thread.
    static bool writesPending();

    ~XPTagWriteSession() override;

    XPProgressController *progressWindow() const { return m_progress; }
    // What the Stop button does.
    void stop();

Q_SIGNALS:
    // On the main thread, after the progress window closed and before the failure report.
    void progressed(int done);
    void finished(const XPTagWriter::WriteResult &result);

private:
    XPTagWriteSession(const XPDeltaTagsOperation &change, const XPTagWritePrompts &prompts);
    void run();
    void fileDone(int done);
    void writerDone();

    XPDeltaTagsOperation m_change;
    XPTagWritePrompts m_prompts;
    XPProgressController *m_progress = nullptr;
    XPTagWriter::WriteResult m_result;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_onWriter{false};
    bool m_ended = false;
};
