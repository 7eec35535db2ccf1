#pragma once
// XPTagEditorController: the tag editor, a small floating window that edits the tags and the
// rating of one file or of many.
//
// It shows the tags the files have in common in a token field, a five-star rating control
// with its text ("not rated", "rated 3/5", "various"), a picture of the file (rendered on the
// editor's own preview thread and shown only if that file is still the one being edited), the
// file's name or the number of files, and the favourite-tag buttons. It stays up while Kelso
// is inactive; its frame is kept under the setting "XPTagsWindowFrame".
//
// The changes are written when the window loses the keyboard focus to another window (or is
// closed, or Return is pressed with no tag being typed): the common tags are merged into each
// file (tags removed in the editor leave every file, tags added join every file, tags only
// some files had stay), and the rating is written when the user touched it. Escape drops the
// changes. Tab and Back-tab write and move on to the next or previous file of the main
// window's active pane. Writing goes through XPTagWriteSession (confirmation above 20 files,
// progress from 11, refusal above 150000, failure report).
// Main thread only.
#include "tags/editor/XPTagWriteSession.h"

#include <QPointer>
#include <QStringList>
#include <QThreadPool>
#include <QWidget>
#include <functional>

class QLabel;
class XPRatingControl;
class XPTagsTokenFieldController;
class XPTokenField;

class XPTagEditorController : public QWidget
{
    Q_OBJECT
public:
    static inline const QString kFrameKey = QStringLiteral("XPTagsWindowFrame");
    static constexpr int kPreviewSize = 128;
    // Up to this many files are read when the editor opens; more are read on the preview
    // thread, so that a large selection does not hold up the main thread.
    static constexpr int kReadOnMainThreadUpTo = 20;

    // What the owner (the main window) is told and asked; each member may be empty.
    struct Delegate {
        std::function<void()> willGoAway;
        std::function<void()> didGoAway;
        // Moves the selection of the active pane to the next (true) or previous file and opens
        // the editor on it; answers whether it moved.
        std::function<bool(bool forward)> moveToAnotherDocument;
    };

    explicit XPTagEditorController(QWidget *parent = nullptr);
    ~XPTagEditorController() override;

    void setDelegate(Delegate delegate) { m_delegate = std::move(delegate); }
    // The questions and messages of the writes (tests replace them).
    void setWritePrompts(const XPTagWritePrompts &prompts) { m_prompts = prompts; }
    // The sound of a refused key (Tab with nowhere to go).
    void setBeeper(std::function<void()> beeper) { m_beeper = std::move(beeper); }

    // Loads the files and brings the window to the front with the focus in the tag field.
    // Nothing happens for an empty list or when the last path is not absolute.
    void editTagsForFilePaths(const QStringList &paths);
    void editFiles(const QStringList &paths);

    QStringList tags() const;
    QStringList originalTags() const;
    QStringList referenceObject() const;
    // Puts these tokens in the field, keeping the original tags (a favourite button).
    void setFieldTags(const QStringList &tags);
    void reset();

    // Writes what changed (see the header comment) and empties the editor. Answers the write
    // started, or null when nothing is written.
    XPTagWriteSession *writeCommonTags();
    // Hides the window, telling the delegate first.
    void orderEditorOut();

    bool needToWriteRatings() const { return m_needToWriteRatings; }
    double currentRating() const;
    void rebuildFavoriteTagButtons();
    void toggleFavoriteTag(const QString &tag);

    XPTokenField *tagsTokenField() const { return m_field; }
    XPTagsTokenFieldController *tagsTokenFieldController() const { return m_controller; }
    XPRatingControl *ratingField() const { return m_rating; }
    QLabel *ratingDisplay() const { return m_ratingDisplay; }
    QLabel *imageView() const { return m_image; }
    QLabel *fileNameTextField() const { return m_fileName; }
    QLabel *tagFieldTitleBar() const { return m_titleBar; }
    QWidget *favoriteTagsContainerView() const { return m_favorites; }
    QLabel *hintText() const { return m_hint; }
    // Whether the files' tags are still being read (the field is disabled meanwhile).
    bool isReadingFiles() const;
    // The path whose picture is shown (empty: a group icon or none).
    QString shownPreviewPath() const { return m_shownPreviewPath; }

Q_SIGNALS:
    // The preview of `path` arrived and was shown (or dropped, when another file was asked
    // for meanwhile).
    void previewShown(const QString &path);
    void previewDropped(const QString &path);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildWindow();
    void filesRead(const QStringList &paths, const QStringList &common, const QList<double> &ratings);
    void setImageWell(const QStringList &paths);
    void showPreview(const QString &path, const QImage &image, const QString &iconName);
    void commitOnLeaving();
    void cancelEditing();
    void moveToAnotherDocument(bool forward);
    bool restoreFrame();
    void saveFrame();
    void applyHint();

    Delegate m_delegate;
    XPTagWritePrompts m_prompts;
    std::function<void()> m_beeper;
    XPTokenField *m_field = nullptr;
    XPTagsTokenFieldController *m_controller = nullptr;
    XPRatingControl *m_rating = nullptr;
    QLabel *m_ratingDisplay = nullptr;
    QLabel *m_image = nullptr;
    QLabel *m_fileName = nullptr;
    QLabel *m_titleBar = nullptr;
    QWidget *m_favorites = nullptr;
    QLabel *m_hint = nullptr;
    bool m_needToWriteRatings = false;
    bool m_leaving = false;
    bool m_frameRestored = false;
    quint64 m_loadGeneration = 0;
    QString m_shownPreviewPath;
    // The editor's preview thread: one thread, so pictures are made one at a time.
    QThreadPool m_previewThread;
};
