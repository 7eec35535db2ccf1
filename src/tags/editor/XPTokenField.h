#pragma once
// XPTokenField: a field of tokens (tags) drawn as rounded chips, followed by editable text.
//
// Typed text becomes tokens when a separator is typed (which characters separate is asked of
// the delegate, with the text typed so far), on Return while text is pending, or when the
// field loses focus. New tokens always pass through the delegate's filter. A completion
// popup lists what the delegate offers for the text being typed.
//
// Keyboard: Left at the start of the text (or Backspace on empty text) moves into the chips;
// Left/Right/Home/End walk the chips, Backspace/Delete remove the focused chip (or every
// selected one), Ctrl+A selects all chips, Ctrl+C copies the selected tokens (or all tokens
// when none is selected), Ctrl+X cuts, Ctrl+V pastes, Down opens the completions, Return in the
// completion list takes the entry, Return or F2 on a chip edits its token again. Return with
// nothing pending, Escape, Tab and Back-tab are reported as signals for the owner; when nobody
// listens to tabPressed/backtabPressed, Tab moves the focus on as usual.
//
// Each chip is a child widget whose accessible name is its tag, and the field's accessible
// description lists the tags, so a screen reader can read them.
#include <QFrame>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QMenu;
class XPTokenChip;

// What the field asks of its owner (the tag token-field controller).
class XPTokenFieldDelegate
{
public:
    virtual ~XPTokenFieldDelegate() = default;
    // True when `c`, typed after `typedSoFar`, ends the token.
    virtual bool isTokenSeparator(QChar c, const QString &typedSoFar) const = 0;
    // The strings about to become tokens at `index`; returns the tokens to add (empty: none).
    virtual QStringList shouldAddTokens(const QStringList &strings, int index) = 0;
    // Completions for the text being typed (may hold empty padding entries).
    virtual QStringList completionsForSubstring(const QString &substring) = 0;
    // Strings for pasted plain text (they still pass shouldAddTokens).
    virtual QStringList tokensForPastedText(const QString &text) = 0;
    // Plain text for copied tokens.
    virtual QString textForCopiedTokens(const QStringList &tokens) = 0;
    // Text shown when a token goes back into editing, and the token for edited text.
    virtual QString editingStringForToken(const QString &token) = 0;
    virtual QString tokenForEditingString(const QString &text) = 0;
    // Context menu for a token, or nullptr (the field does not own it).
    virtual QMenu *menuForToken(const QString &token)
    {
        Q_UNUSED(token);
        return nullptr;
    }
};

class XPTokenField : public QFrame
{
    Q_OBJECT
public:
    explicit XPTokenField(QWidget *parent = nullptr);
    ~XPTokenField() override;

    void setDelegate(XPTokenFieldDelegate *delegate) { m_delegate = delegate; }
    XPTokenFieldDelegate *delegate() const { return m_delegate; }

    // The tokens, in order.
    QStringList tokens() const { return m_tokens; }
    // Replaces every token (no filtering), clears the pending text, puts the cursor at the end.
    void setTokens(const QStringList &tokens);

    // Text typed after the last token that is not a token yet.
    QString pendingText() const;
    void setPendingText(const QString &text);
    bool hasPendingText() const { return !pendingText().isEmpty(); }
    // Turns the pending text into tokens through the delegate. True when there was text
    // (even if the filter refused it; refused text stays for the user to correct).
    bool commitPendingText();

    // Adds strings as tokens at `index` (-1: at the end) through the delegate's filter.
    // Returns the tokens that were added.
    QStringList addTokens(const QStringList &strings, int index = -1);
    void removeTokenAt(int index);

    // Chips selected (Ctrl+A, clicks); the chip with the keyboard focus counts as selected.
    QList<int> selectedTokenIndexes() const;
    void selectAllTokens();
    void clearTokenSelection();

    // Clipboard operations (the keys call these).
    void copy();
    void cut();
    void paste();
    // Pastes `text` as if it came from the clipboard.
    void pasteText(const QString &text);

    // The completion popup for the current pending text (shown when there is something).
    void showCompletions();
    QStringList visibleCompletions() const;
    bool completionsVisible() const;
    void hideCompletions();
    // Puts `completion` in place of the pending text, as choosing it in the popup does.
    void acceptCompletion(const QString &completion);

    // Moves the keyboard focus to the next (or previous) widget of the window, as Tab does in
    // other fields; for owners that do not handle tabPressed/backtabPressed themselves.
    void moveFocusOn(bool forward);

    // Smallest height (the field grows with more rows of chips).
    void setMinimumFieldHeight(int height);

    QLineEdit *lineEdit() const { return m_edit; }
    // The chip widget of token `index` (tests, accessibility), or nullptr.
    QWidget *chipAt(int index) const;
    int chipCount() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void tokensChanged();
    // The pending text changed (typing).
    void textEdited(const QString &text);
    void returnPressed();
    void escapePressed();
    void tabPressed();
    void backtabPressed();
    void focusEntered();
    void focusLeft();
    // Sent from the destructor, before the chips and the text go.
    void aboutToBeDestroyed();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class XPTokenChip;
    void rebuildChips();
    void layoutChildren();
    int layoutRows(int width, bool apply);
    void onTextEdited(const QString &text);
    bool handleEditKey(QKeyEvent *key);
    bool handleChipKey(XPTokenChip *chip, QKeyEvent *key);
    bool handlePopupKey(QKeyEvent *key);
    void focusChip(int index);
    void editToken(int index);
    void removeTokens(QList<int> indexes);
    void noteFocusIn();
    void noteFocusOut(QFocusEvent *event);
    bool tabSignalConnected(bool forward) const;
    void emitTokensChanged();
    void updateAccessibleDescription();

    XPTokenFieldDelegate *m_delegate = nullptr;
    QStringList m_tokens;
    QList<XPTokenChip *> m_chips;
    QLineEdit *m_edit = nullptr;
    QListWidget *m_popup = nullptr;
    int m_minimumHeight = 22;
    QList<int> m_selection;
    // The keyboard focus is on the text or a chip (moves between them are not reported).
    bool m_focusInside = false;
};
