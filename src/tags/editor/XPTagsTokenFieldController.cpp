#include "tags/editor/XPTagsTokenFieldController.h"

#include "platform/Defaults.h"
#include "tags/LumitagPrefs.h"
#include "tags/TagTextFormat.h"
#include "tags/editor/XPTagButton.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QScreen>
#include <QSet>
#include <algorithm>

namespace {

const QString kQuote = QStringLiteral("\"");
const QString kPercentBlank = QStringLiteral("%20");

bool isNewline(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0x2028) || c == QChar(0x2029) ||
           c == QChar(0x0085) || c == QChar(0x000B) || c == QChar(0x000C);
}

// Length of the case-insensitive common prefix of a and b.
int caseInsensitiveCommonPrefix(const QString &a, const QString &b)
{
    const int n = int(qMin(a.size(), b.size()));
    int i = 0;
    while (i < n && a.at(i).toCaseFolded() == b.at(i).toCaseFolded())
        ++i;
    return i;
}

} // namespace

XPTagsTokenFieldController::XPTagsTokenFieldController(XPTokenField *field, int minimumHeight, QObject *parent)
    : QObject(parent), m_field(field)
{
    if (!field)
        return;
    field->setDelegate(this);
    // A field destroyed first (with its window) is not touched again.
    connect(field, &XPTokenField::aboutToBeDestroyed, this, [this] { m_field = nullptr; });
    field->setMinimumFieldHeight(minimumHeight);
    connect(field, &XPTokenField::tokensChanged, this, [this] {
        updateFavoriteTagButtons();
        Q_EMIT tagsChanged();
    });
    connect(field, &XPTokenField::textEdited, this, [this] { updateFavoriteTagButtons(); });
    connect(field, &XPTokenField::returnPressed, this, &XPTagsTokenFieldController::returnPressed);
    connect(field, &XPTokenField::escapePressed, this, &XPTagsTokenFieldController::escapePressed);
    // Tab stays an ordinary focus move unless the owner handles it.
    connect(field, &XPTokenField::tabPressed, this, [this] {
        if (isSignalConnected(QMetaMethod::fromSignal(&XPTagsTokenFieldController::tabPressed)))
            Q_EMIT tabPressed();
        else if (m_field)
            m_field->moveFocusOn(true);
    });
    connect(field, &XPTokenField::backtabPressed, this, [this] {
        if (isSignalConnected(QMetaMethod::fromSignal(&XPTagsTokenFieldController::backtabPressed)))
            Q_EMIT backtabPressed();
        else if (m_field)
            m_field->moveFocusOn(false);
    });
    connect(field, &XPTokenField::focusEntered, this, &XPTagsTokenFieldController::didBecomeFirstResponder);
    connect(field, &XPTokenField::focusLeft, this, &XPTagsTokenFieldController::didResignFirstResponder);
}

XPTagsTokenFieldController::~XPTagsTokenFieldController()
{
    // Detach from the field and leave it empty.
    if (m_field) {
        m_field->disconnect(this);
        if (m_field->delegate() == this)
            m_field->setDelegate(nullptr);
        m_field->setTokens({});
    }
}

QStringList XPTagsTokenFieldController::tags() const
{
    QStringList out;
    if (!m_field)
        return out;
    for (QString token : m_field->tokens()) {
        token.remove(QLatin1Char('"'));
        if (!token.isEmpty())
            out.append(token);
    }
    return out;
}

void XPTagsTokenFieldController::setTags(const QStringList &tagList, const QStringList &referencePaths)
{
    m_originalTags = tagList;
    m_referenceObject = referencePaths;
    m_candidates.clear();
    m_candidatesBuilt = false;
    if (m_field) {
        m_field->hideCompletions();
        m_field->setTokens(tagList);
    }
    updateFavoriteTagButtons();
}

void XPTagsTokenFieldController::reset()
{
    m_originalTags.clear();
    m_referenceObject.clear();
    if (m_field) {
        m_field->hideCompletions();
        m_field->setTokens({});
    }
    updateFavoriteTagButtons();
}

bool XPTagsTokenFieldController::hasPendingText() const
{
    return m_field && m_field->hasPendingText();
}

bool XPTagsTokenFieldController::commitPendingText()
{
    return m_field && m_field->commitPendingText();
}

void XPTagsTokenFieldController::setFavoriteTagsContainerView(QWidget *container)
{
    m_favoriteContainer = container;
    updateFavoriteTagButtons();
}

void XPTagsTokenFieldController::updateFavoriteTagButtons()
{
    if (m_favoriteContainer && m_field)
        updateFavoriteTagButtons(m_favoriteContainer, m_field->tokens());
}

bool XPTagsTokenFieldController::useCommas() const
{
    const QVariant setting = Defaults::standard().value(QStringLiteral("KPUseCommas"));
    return setting.isValid() ? setting.toBool() : true;
}

bool XPTagsTokenFieldController::skipAutoComplete() const
{
    return Defaults::standard().boolForKey(QStringLiteral("XPSkipTagAutoComplete"));
}

void XPTagsTokenFieldController::beep() const
{
    if (m_beeper)
        m_beeper();
    else
        QApplication::beep();
}

bool XPTagsTokenFieldController::isTokenSeparator(QChar c, const QString &typedSoFar) const
{
    if (isNewline(c))
        return true;
    if (useCommas())
        return c == QLatin1Char(',');
    // An open quote keeps blanks inside the tag until it is closed.
    const bool openQuote = typedSoFar.startsWith(kQuote) && !(typedSoFar.size() > 1 && typedSoFar.endsWith(kQuote));
    if (openQuote)
        return false;
    return c.isSpace();
}

QStringList XPTagsTokenFieldController::filterNewTokens(const QStringList &strings)
{
    QStringList kept;
    for (qsizetype i = 0; i < strings.size(); ++i) {
        QString s = strings.at(i);
        s.replace(kPercentBlank, QStringLiteral(" "));
        if (s.startsWith(kQuote)) {
            s.remove(0, 1);
            // A string that closes its own quote ("a b") is complete; otherwise the tag spans the
            // following strings up to the one that ends with a quote.
            if (!(s.endsWith(kQuote))) {
                while (i + 1 < strings.size()) {
                    QString next = strings.at(++i);
                    next.replace(kPercentBlank, QStringLiteral(" "));
                    if (next.endsWith(kQuote)) {
                        next.chop(1);
                        if (!next.isEmpty())
                            s += QLatin1Char(' ') + next;
                        break;
                    }
                    s += QLatin1Char(' ') + next;
                }
            }
        }
        if (s == XPTagText::kRejectedPasteTooBig || s.size() > kMaxTagLength) {
            beep();
            return {};
        }
        s.remove(QLatin1Char('"'));
        s = PimsAdditions::cleanedTag(s);
        if (!s.isEmpty())
            kept.append(s);
        if (kept.size() > kMaxTagsAtOnce) {
            beep();
            return {};
        }
    }
    return kept;
}

QStringList XPTagsTokenFieldController::shouldAddTokens(const QStringList &strings, int index)
{
    Q_UNUSED(index);
    return filterNewTokens(strings);
}

QStringList XPTagsTokenFieldController::tokensForPastedText(const QString &text)
{
    if (text.size() >= kMaxPasteLength)
        return {XPTagText::kRejectedPasteTooBig};
    return XPTagText::grepStringForTags(text, useCommas());
}

QString XPTagsTokenFieldController::textForCopiedTokens(const QStringList &tokens)
{
    return tokens.join(QStringLiteral(", "));
}

QString XPTagsTokenFieldController::editingStringForToken(const QString &token)
{
    return XPTagText::displayStringToUserString(token);
}

QString XPTagsTokenFieldController::tokenForEditingString(const QString &text)
{
    return XPTagText::userStringToDisplayString(text);
}

QMenu *XPTagsTokenFieldController::menuForToken(const QString &token)
{
    return m_tokenMenuProvider ? m_tokenMenuProvider(token) : nullptr;
}

QStringList XPTagsTokenFieldController::autoCompleteCandidates()
{
    if (!m_candidatesBuilt) {
        m_candidates.clear();
        if (!skipAutoComplete()) {
            m_candidates = PimsAdditions::combineArraysSkipDuplicatesCaseInsensitive(customTags(), frequentTags());
            if (m_candidateProvider)
                m_candidates =
                    PimsAdditions::combineArraysSkipDuplicatesCaseInsensitive(m_candidates, m_candidateProvider());
        }
        m_candidatesBuilt = true;
    }
    return m_candidates;
}

QStringList XPTagsTokenFieldController::completionsForSubstring(const QString &substring)
{
    return completions(substring);
}

QStringList XPTagsTokenFieldController::completions(const QString &substring)
{
    if (skipAutoComplete())
        return {};
    QString s = substring;
    const bool quoted = s.startsWith(kQuote);
    if (quoted)
        s.remove(0, 1);
    if (s.isEmpty())
        return {};

    // The text being typed is not a token yet, so it never hides its own completion; the
    // tokens already in the field are not offered again.
    const QStringList tokens = m_field ? m_field->tokens() : QStringList();
    const QSet<QString> present(tokens.begin(), tokens.end());
    const QString lowered = s.toLower();
    const bool useBlankEscape = !useCommas() && !quoted;

    QStringList offered;
    QSet<QString> seen;
    for (const QString &candidate : autoCompleteCandidates()) {
        if (present.contains(candidate))
            continue;
        if (!candidate.toLower().startsWith(lowered) || caseInsensitiveCommonPrefix(candidate, s) < s.size())
            continue;
        QString text = quoted ? kQuote + candidate : candidate;
        if (useBlankEscape)
            text.replace(QLatin1Char(' '), kPercentBlank);
        if (!seen.contains(text)) {
            seen.insert(text);
            offered.append(text);
        }
    }
    std::sort(offered.begin(), offered.end(),
              [](const QString &a, const QString &b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });

    const int screens = m_screenCount ? m_screenCount() : int(QGuiApplication::screens().size());
    if (screens > 1) {
        if (offered.size() > kCompletionPadding)
            offered = offered.mid(0, kCompletionPadding);
        while (offered.size() < kCompletionPadding)
            offered.append(QString(""));
    }
    return offered;
}

QStringList XPTagsTokenFieldController::customTags()
{
    return XPTagText::grepStringForTags(Defaults::standard().stringForKey(QStringLiteral("KPCustomWords")));
}

QStringList XPTagsTokenFieldController::frequentTags()
{
    return LumitagPrefs::recentTags();
}

QStringList XPTagsTokenFieldController::favoriteTags()
{
    return PimsAdditions::combineArraysSkipDuplicatesCaseInsensitive(customTags(), frequentTags());
}

int XPTagsTokenFieldController::rebuildFavoriteTagButtons(QWidget *container, ToggleHandler toggle)
{
    return rebuildFavoriteTagButtons(container, favoriteTags(), std::move(toggle));
}

int XPTagsTokenFieldController::rebuildFavoriteTagButtons(QWidget *container, const QStringList &tagList,
                                                          ToggleHandler toggle)
{
    if (!container)
        return 0;
    // The old buttons go later: the rebuild may run inside one of their click handlers.
    for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        child->hide();
        child->setParent(nullptr);
        child->deleteLater();
    }

    const int width = container->width();
    const int height = container->height();
    QFont buttonFont = QApplication::font();
    buttonFont.setPointSize(kButtonFontPointSize);
    const QFontMetrics metrics(buttonFont);

    // Positions measured upwards from the container's bottom edge, as the row is specified;
    // converted to widget coordinates when a button is placed.
    int left = kButtonGap;
    int rowBottom = height - kButtonGap - kButtonRowHeight;
    bool rowHasButton = false;
    int made = 0;
    for (const QString &tag : tagList) {
        if (made >= kMaxFavoriteButtons)
            break;
        const int buttonWidth = qMin(metrics.horizontalAdvance(tag) + XPTagButton::kTitlePadding, width);
        // A new row only when this one already holds a button (a button as wide as the
        // container would otherwise leave the first row empty).
        if (rowHasButton && left + buttonWidth + kButtonGap > width) {
            left = kButtonGap;
            rowBottom -= kButtonGap + kButtonRowHeight;
            rowHasButton = false;
        }
        if (rowBottom <= 0)
            return 0;

        auto *button = new XPTagButton(tag, XPTagButton::HeadsUpStyle, QIcon(), container);
        button->setTitleFont(buttonFont);
        button->setTextColors(QColor(), Qt::white);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::StrongFocus);
        button->enableRemoveFromRecentsMenu();
        button->setGeometry(left, height - rowBottom - kButtonRowHeight, buttonWidth, kButtonRowHeight);
        if (toggle)
            QObject::connect(button, &QAbstractButton::clicked, button, [toggle, button] { toggle(button); });
        button->show();
        ++made;
        rowHasButton = true;
        left += buttonWidth + kButtonGap;
    }
    return rowBottom;
}

void XPTagsTokenFieldController::updateFavoriteTagButtons(QWidget *container, const QStringList &tagList)
{
    if (!container)
        return;
    for (XPTagButton *button : container->findChildren<XPTagButton *>(Qt::FindDirectChildrenOnly))
        button->setChecked(tagList.contains(button->text()));
}
