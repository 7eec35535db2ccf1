#pragma once
// The sheet that renames one file: the current name, an editable new name, OK and Cancel.
// The rules are XPFileUtils::planRename(); a name the user must fix ("/" or NUL inside, a name
// that is taken) keeps the sheet open with the reason under the field, and so does a rename the
// system refused (the file is gone, no permission): the file keeps its name. The checks and the
// rename wait on the disk, so they run through XPFileJobs while the sheet waits with its field
// and OK disabled. Only one rename sheet exists at a time; a new one replaces the previous.
#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class XPFileJobs;

class XPSimpleFileRenameController : public QDialog
{
    Q_OBJECT
public:
    // initWithFile:
    // `jobs` runs the rename (XPFileJobs::shared() when null).
    explicit XPSimpleFileRenameController(const QString &path, QWidget *parent = nullptr, XPFileJobs *jobs = nullptr);

    // Creates the controller for the path and shows it as a sheet (window-modal) on `window`.
    static XPSimpleFileRenameController *showRenameDialogForFile(const QString &path, QWidget *window,
                                                                 XPFileJobs *jobs = nullptr);
    // The sheet shown last, while it exists.
    static XPSimpleFileRenameController *current();

    QString path() const { return m_path; }
    void setPath(const QString &path);
    QLineEdit *newName() const { return m_newName; }
    QLabel *originalName() const { return m_originalName; }
    QLabel *messageLabel() const { return m_message; }
    QPushButton *okButton() const { return m_ok; }
    // The path the file has after the sheet ended (the old one when nothing was renamed).
    QString resultingPath() const { return m_resultingPath; }
    // True from OK until the rename's outcome is back.
    bool isRenaming() const { return m_renaming; }

public Q_SLOTS:
    void okAction();
    void cancelAction();

Q_SIGNALS:
    // Sent after a successful rename.
    void renamed(const QString &oldPath, const QString &newPath);

private:
    void renameSheetDidEnd(int returnCode);
    void showMessage(const QString &message);
    void setRenaming(bool renaming);

    XPFileJobs *m_jobs = nullptr;
    bool m_renaming = false;
    QString m_path;
    QString m_resultingPath;
    QLabel *m_originalName = nullptr;
    QLineEdit *m_newName = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_ok = nullptr;
    static QPointer<XPSimpleFileRenameController> s_current;
};
