#pragma once
// XPTagsTokenFieldController: drives one XPTokenField holding tags.
//
// - Separators: with KPUseCommas on, the comma and newlines end a token (blanks do not);
//   otherwise blanks, tabs and newlines do, except while the typed text opens a quote that is
//   not closed yet, when only newlines do.
// - New tokens are filtered: "%20" becomes a blank, a quoted span over several strings becomes
//   one tag, quotes are removed and the tag cleaned; a tag longer than 200 characters, more
//   than 50 tags at once, or pasted text of 512 characters or more is refused whole with a
//   beep (through the beeper handed in; default QApplication::beep).
// - Paste reads plain text through XPTagText::grepStringForTags; copy writes ", "-joined text.
// - Completions come from the custom words (KPCustomWords), the recent tags and the owner's
//   candidate provider, none at all when XPSkipTagAutoComplete is on. With more than one
//   screen the list is cut or padded to exactly 16 entries (the popup leaves out the padding).
// - The favourite-tag buttons in the container handed in follow the tokens (checked while
//   their tag is a token).
// Main thread only.
#include "tags/editor/XPTokenField.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QWidget;
class XPTagButton;

class XPTagsTokenFieldController : public QObject, public XPTokenFieldDelegate
{
    Q_OBJECT
public:
    static constexpr int kMaxTagLength = 200;
    static constexpr int kMaxTagsAtOnce = 50;
    // Pasted text this long or longer is refused.
    static constexpr int kMaxPasteLength = 512;
    static constexpr int kCompletionPadding = 16;
    // Favourite-tag row geometry.
    static constexpr int kButtonRowHeight = 14;
    static constexpr int kButtonGap = 3;
    static constexpr int kMaxFavoriteButtons = 100;
    static constexpr int kButtonFontPointSize = 9;

    using CandidateProvider = std::function<QStringList()>;
    using Beeper = std::function<void()>;
    using ToggleHandler = std::function<void(XPTagButton *)>;
    using TokenMenuProvider = std::function<QMenu *(const QString &token)>;

    // Makes itself the field's delegate. The field is not owned.
    XPTagsTokenFieldController(XPTokenField *field, int minimumHeight, QObject *parent = nullptr);
    ~XPTagsTokenFieldController() override;

    XPTokenField *tokenField() const { return m_field; }

    // The tokens with every quote removed and empty ones dropped, in order.
    QStringList tags() const;
    // Ends pending editing, remembers the original tags and what is edited, fills the field,
    // drops the cached completion candidates and refreshes the favourite buttons.
    void setTags(const QStringList &tags, const QStringList &referencePaths);
    QStringList originalTags() const { return m_originalTags; }
    QStringList referenceObject() const { return m_referenceObject; }
    // Clears the original tags, the reference and the field.
    void reset();

    bool hasPendingText() const;
    // Ends a pending token; true when there was one.
    bool commitPendingText();

    // Extra completion candidates of the owner (e.g. tags of the files being edited).
    void setCandidateProvider(CandidateProvider provider) { m_candidateProvider = std::move(provider); }
    void setBeeper(Beeper beeper) { m_beeper = std::move(beeper); }
    void setTokenMenuProvider(TokenMenuProvider provider) { m_tokenMenuProvider = std::move(provider); }
    // How many screens are attached (default: QGuiApplication::screens().size()).
    void setScreenCountProvider(std::function<int()> provider) { m_screenCount = std::move(provider); }

    // The container of the favourite-tag buttons kept in step with the tokens.
    void setFavoriteTagsContainerView(QWidget *container);
    QWidget *favoriteTagsContainerView() const { return m_favoriteContainer; }
    void updateFavoriteTagButtons();

    // The rules, callable without typing (the field calls them through the delegate).
    // Tokens to add for `strings`; empty after a beep when the list is refused.
    QStringList filterNewTokens(const QStringList &strings);
    QStringList completions(const QString &substring);
    // The cached candidates (built on first use, dropped by setTags).
    QStringList autoCompleteCandidates();
    bool useCommas() const;
    bool skipAutoComplete() const;

    // XPTokenFieldDelegate
    bool isTokenSeparator(QChar c, const QString &typedSoFar) const override;
    QStringList shouldAddTokens(const QStringList &strings, int index) override;
    QStringList completionsForSubstring(const QString &substring) override;
    QStringList tokensForPastedText(const QString &text) override;
    QString textForCopiedTokens(const QStringList &tokens) override;
    QString editingStringForToken(const QString &token) override;
    QString tokenForEditingString(const QString &text) override;
    QMenu *menuForToken(const QString &token) override;

    // The parsed KPCustomWords.
    static QStringList customTags();
    // The recent tags.
    static QStringList frequentTags();
    // Custom words first, then recent tags, without case-insensitive duplicates.
    static QStringList favoriteTags();

    // Rebuilds the favourite-tag row in `container` from favoriteTags(): rows 14 high with 3
    // between, at most 100 buttons, each as wide as its tag in a 9-point font + 20 but never
    // wider than the container. `toggle` runs when a button is clicked. Returns the last row's
    // bottom measured upwards from the container's bottom edge, 0 when the rows ran out of room
    // (so the rows use container->height() - result).
    static int rebuildFavoriteTagButtons(QWidget *container, ToggleHandler toggle);
    // The same with an explicit tag list.
    static int rebuildFavoriteTagButtons(QWidget *container, const QStringList &tags, ToggleHandler toggle);
    // Checks each tag button in `container` whose title is in `tags` (exact match), unchecks
    // the others.
    static void updateFavoriteTagButtons(QWidget *container, const QStringList &tags);

Q_SIGNALS:
    // Return with no pending text (the owner commits).
    void returnPressed();
    void escapePressed();
    void tabPressed();
    void backtabPressed();
    // The tokens changed (typing a separator, paste, removal, setTags).
    void tagsChanged();
    void didBecomeFirstResponder();
    void didResignFirstResponder();

private:
    void beep() const;

    QPointer<XPTokenField> m_field;
    QStringList m_originalTags;
    QStringList m_referenceObject;
    QPointer<QWidget> m_favoriteContainer;
    QStringList m_candidates;
    bool m_candidatesBuilt = false;
    CandidateProvider m_candidateProvider;
    Beeper m_beeper;
    TokenMenuProvider m_tokenMenuProvider;
    std::function<int()> m_screenCount;
};
