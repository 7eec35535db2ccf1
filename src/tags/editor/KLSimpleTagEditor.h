#pragma once
// KLSimpleTagEditor: a small window that edits the tags the selected files have in common.
//
// It shows the common tags as text (comma-separated, or blank-separated with quotes when
// KPUseCommas is off), and on Save writes the difference through XPTagWriter's three-way
// merge: tags the user removed leave every file, tags the user added join every file, and
// tags only some files carry stay as they are. Tags are read once when the window opens.
// Main thread only; one editor at a time (a new request replaces the files of the open one).
#include "tags/XPTagWriter.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;

class KLSimpleTagEditor : public QDialog
{
    Q_OBJECT
public:
    explicit KLSimpleTagEditor(const QStringList &paths, QWidget *parent = nullptr);
    ~KLSimpleTagEditor() override;

    // The one editor of the program, opened on these files and brought to the front.
    static KLSimpleTagEditor *editTagsForFilePaths(const QStringList &paths);
    static KLSimpleTagEditor *current();

    QStringList paths() const { return m_paths; }
    // The common tags when the window opened (the "original" side of the merge).
    QStringList originalTags() const { return m_original; }
    QLineEdit *tagField() const { return m_field; }
    QLabel *messageLabel() const { return m_message; }

    // The tags the field holds now.
    QStringList editedTags() const;
    // The field's text for a tag list.
    static QString textForTags(const QStringList &tags);

    // Writes the edited tags. A tag the desktop store cannot hold is refused before anything
    // is written. Answers true when every file took the change (or nothing needed writing);
    // otherwise the window says which files failed and stays open.
    bool save();

private:
    void load(const QStringList &paths);

    QStringList m_paths;
    QStringList m_original;
    QLabel *m_title = nullptr;
    QLineEdit *m_field = nullptr;
    QLabel *m_message = nullptr;
};
