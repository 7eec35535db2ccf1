#pragma once
// A progress sheet for long runs over many files, with an optional stop button.
//
// The bar follows incrementBy() only when the unreported part exceeds 0.005 of its range, so a
// run redraws it at most about two hundred times. The stop handler runs whenever the sheet
// ends — after the stop button (code 0) and after the owner ends it when the work is done
// (code 1) — so it must be harmless on normal completion. Destroying the controller ends a
// sheet that is still up with code 0.
#include <QDialog>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class XPProgressController : public QDialog
{
    Q_OBJECT
public:
    // initWithTarget:selector:andMessage:numberOfItems:cancelButtonString:
    // `cancel` empty means no stop button; numberOfItems −1 makes the bar indeterminate.
    XPProgressController(std::function<void()> cancel, const QString &message, int numberOfItems,
                         const QString &cancelButtonString = QString(), QWidget *parent = nullptr);
    ~XPProgressController() override;

    void showProgressWindowModalForWindow(QWidget *window);
    void setPrompt(const QString &text);
    void incrementBy(double amount);
    // Lets pending events (the stop button among them) run during work done on the main thread.
    static void updateRunLoop();
    // Ends the sheet with a code (1: work done, 0: stopped).
    void endSheet(int code);

    QProgressBar *progress() const { return m_progress; }
    QLabel *statusField() const { return m_statusField; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    double totalSoFar() const { return m_totalSoFar; }
    bool isRunning() const { return m_running; }

private:
    void progressSheetDidEnd(int returnCode);

    std::function<void()> m_cancel;
    QLabel *m_statusField = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_cancelButton = nullptr;
    double m_totalSoFar = 0;
    bool m_running = false;
};
