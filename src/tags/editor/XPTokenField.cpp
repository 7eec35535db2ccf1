#include "tags/editor/XPTokenField.h"

#include "tags/editor/XPTagButton.h"

#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMetaMethod>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <algorithm>

namespace {
constexpr int kMargin = 2;
constexpr int kSpacing = 3;
constexpr int kMinimumEditWidth = 60;
} // namespace

// One token drawn as a rounded chip. It takes the keyboard focus so that the tokens can be
// walked, removed, copied and edited without a mouse; its accessible name is the tag.
class XPTokenChip : public QWidget
{
public:
    XPTokenChip(XPTokenField *field, const QString &token) : QWidget(field), m_field(field), m_token(token)
    {
        setFocusPolicy(Qt::ClickFocus);
        setAccessibleName(token);
        setAccessibleDescription(QStringLiteral("tag"));
        setToolTip(token);
    }

    QString token() const { return m_token; }
    bool selected() const { return m_selected; }
    void setSelected(bool selected)
    {
        if (selected != m_selected) {
            m_selected = selected;
            update();
        }
    }

    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(m_token) + 16, metrics.height() + 4};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool on = m_selected || hasFocus();
        const bool dark = XPTagButton::isDarkPalette(palette());
        const QColor fill =
            on ? palette().color(QPalette::Highlight) : XPTagButton::styleColor(XPTagButton::TagStyle, dark, false);
        const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal radius = shape.height() / 2;
        painter.setPen(QPen(fill.darker(115), 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(shape, radius, radius);
        painter.setPen(on ? palette().color(QPalette::HighlightedText) : palette().color(QPalette::Text));
        const QRect textRect = rect().adjusted(7, 0, -7, 0);
        painter.drawText(textRect, Qt::AlignCenter,
                         fontMetrics().elidedText(m_token, Qt::ElideRight, textRect.width()));
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        const int index = int(m_field->m_chips.indexOf(this));
        if (event->modifiers() & Qt::ControlModifier) {
            if (m_field->m_selection.contains(index))
                m_field->m_selection.removeAll(index);
            else
                m_field->m_selection.append(index);
        } else {
            m_field->m_selection = {index};
        }
        for (int i = 0; i < m_field->m_chips.size(); ++i)
            m_field->m_chips[i]->setSelected(m_field->m_selection.contains(i));
        setFocus(Qt::MouseFocusReason);
        event->accept();
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        m_field->editToken(int(m_field->m_chips.indexOf(this)));
        event->accept();
    }

    void contextMenuEvent(QContextMenuEvent *event) override
    {
        if (m_field->delegate()) {
            if (QMenu *menu = m_field->delegate()->menuForToken(m_token)) {
                menu->exec(event->globalPos());
                event->accept();
                return;
            }
        }
        QWidget::contextMenuEvent(event);
    }

    void focusInEvent(QFocusEvent *event) override
    {
        update();
        m_field->noteFocusIn();
        QWidget::focusInEvent(event);
    }

    void focusOutEvent(QFocusEvent *event) override
    {
        update();
        m_field->noteFocusOut(event);
        QWidget::focusOutEvent(event);
    }

private:
    XPTokenField *m_field;
    QString m_token;
    bool m_selected = false;
};

XPTokenField::XPTokenField(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setAccessibleName(QStringLiteral("Tags"));
    setAttribute(Qt::WA_InputMethodEnabled);

    m_edit = new QLineEdit(this);
    m_edit->setFrame(false);
    m_edit->setAccessibleName(QStringLiteral("New tag"));
    m_edit->installEventFilter(this);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textEdited, this, &XPTokenField::onTextEdited);

    m_popup = new QListWidget(this);
    m_popup->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    m_popup->setAttribute(Qt::WA_ShowWithoutActivating);
    m_popup->setFocusPolicy(Qt::NoFocus);
    m_popup->setAccessibleName(QStringLiteral("Tag completions"));
    m_popup->hide();
    connect(m_popup, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { acceptCompletion(item->text()); });
    updateAccessibleDescription();
}

XPTokenField::~XPTokenField()
{
    Q_EMIT aboutToBeDestroyed();
    m_delegate = nullptr;
}

void XPTokenField::setTokens(const QStringList &tokenList)
{
    m_tokens = tokenList;
    m_selection.clear();
    m_edit->clear();
    hideCompletions();
    rebuildChips();
    m_edit->setCursorPosition(0);
    emitTokensChanged();
}

QString XPTokenField::pendingText() const
{
    return m_edit->text();
}

void XPTokenField::setPendingText(const QString &text)
{
    m_edit->setText(text);
    m_edit->setCursorPosition(int(text.size()));
    layoutChildren();
}

bool XPTokenField::commitPendingText()
{
    const QString text = pendingText();
    if (text.trimmed().isEmpty()) {
        m_edit->clear();
        hideCompletions();
        return false;
    }
    hideCompletions();
    const QStringList added = addTokens({text});
    // Refused text stays so that the user can shorten it.
    QString bare = text;
    bare.remove(QLatin1Char('"'));
    if (!added.isEmpty() || bare.trimmed().isEmpty())
        m_edit->clear();
    layoutChildren();
    return true;
}

QStringList XPTokenField::addTokens(const QStringList &strings, int index)
{
    QStringList added;
    if (m_delegate) {
        added = m_delegate->shouldAddTokens(strings, index);
    } else {
        for (const QString &s : strings)
            if (!s.trimmed().isEmpty())
                added.append(s.trimmed());
    }
    if (added.isEmpty())
        return added;
    if (index < 0 || index > m_tokens.size())
        index = int(m_tokens.size());
    for (int i = 0; i < added.size(); ++i)
        m_tokens.insert(index + i, added.at(i));
    m_selection.clear();
    rebuildChips();
    emitTokensChanged();
    return added;
}

void XPTokenField::removeTokenAt(int index)
{
    removeTokens({index});
}

void XPTokenField::removeTokens(QList<int> indexes)
{
    std::sort(indexes.begin(), indexes.end(), std::greater<int>());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    bool removed = false;
    for (int index : indexes) {
        if (index >= 0 && index < m_tokens.size()) {
            m_tokens.removeAt(index);
            removed = true;
        }
    }
    if (!removed)
        return;
    m_selection.clear();
    rebuildChips();
    emitTokensChanged();
}

QList<int> XPTokenField::selectedTokenIndexes() const
{
    QList<int> out = m_selection;
    for (int i = 0; i < m_chips.size(); ++i)
        if (m_chips.at(i)->hasFocus() && !out.contains(i))
            out.append(i);
    std::sort(out.begin(), out.end());
    return out;
}

void XPTokenField::selectAllTokens()
{
    m_selection.clear();
    for (int i = 0; i < m_chips.size(); ++i) {
        m_selection.append(i);
        m_chips[i]->setSelected(true);
    }
}

void XPTokenField::clearTokenSelection()
{
    m_selection.clear();
    for (XPTokenChip *chip : std::as_const(m_chips))
        chip->setSelected(false);
}

void XPTokenField::copy()
{
    const QList<int> selected = selectedTokenIndexes();
    if (selected.isEmpty() && m_edit->hasSelectedText()) {
        m_edit->copy();
        return;
    }
    QStringList chosen;
    if (selected.isEmpty()) {
        chosen = m_tokens;
    } else {
        for (int i : selected)
            chosen.append(m_tokens.at(i));
    }
    if (chosen.isEmpty())
        return;
    const QString text = m_delegate ? m_delegate->textForCopiedTokens(chosen) : chosen.join(QStringLiteral(", "));
    QApplication::clipboard()->setText(text);
}

void XPTokenField::cut()
{
    const QList<int> selected = selectedTokenIndexes();
    if (selected.isEmpty()) {
        if (m_edit->hasSelectedText())
            m_edit->cut();
        return;
    }
    copy();
    removeTokens(selected);
    m_edit->setFocus(Qt::OtherFocusReason);
}

void XPTokenField::paste()
{
    const QMimeData *clipboardData = QApplication::clipboard()->mimeData();
    // Only plain text is read; anything else gives no tokens.
    if (!clipboardData || !clipboardData->hasText())
        return;
    pasteText(clipboardData->text());
}

void XPTokenField::pasteText(const QString &text)
{
    const QStringList strings = m_delegate ? m_delegate->tokensForPastedText(text) : QStringList{text};
    if (strings.isEmpty())
        return;
    addTokens(strings);
}

void XPTokenField::showCompletions()
{
    const QString typed = pendingText();
    QStringList offered;
    if (m_delegate && !typed.isEmpty())
        offered = m_delegate->completionsForSubstring(typed);
    // Padding entries keep the list's size steady elsewhere; the popup leaves them out.
    offered.removeAll(QString());
    m_popup->clear();
    if (offered.isEmpty()) {
        m_popup->hide();
        return;
    }
    m_popup->addItems(offered);
    m_popup->setCurrentRow(0);
    const int rows = int(qMin<qsizetype>(offered.size(), 10));
    const int rowHeight = m_popup->sizeHintForRow(0) > 0 ? m_popup->sizeHintForRow(0) : fontMetrics().height() + 4;
    m_popup->resize(qMax(160, m_edit->width()), rows * rowHeight + 4);
    m_popup->move(m_edit->mapToGlobal(QPoint(0, m_edit->height())));
    m_popup->show();
}

QStringList XPTokenField::visibleCompletions() const
{
    QStringList out;
    if (!m_popup->isVisible())
        return out;
    for (int i = 0; i < m_popup->count(); ++i)
        out.append(m_popup->item(i)->text());
    return out;
}

bool XPTokenField::completionsVisible() const
{
    return m_popup->isVisible();
}

void XPTokenField::hideCompletions()
{
    m_popup->hide();
}

void XPTokenField::acceptCompletion(const QString &completion)
{
    hideCompletions();
    if (completion.isEmpty())
        return;
    setPendingText(completion);
    commitPendingText();
    m_edit->setFocus(Qt::OtherFocusReason);
}

void XPTokenField::moveFocusOn(bool forward)
{
    hideCompletions();
    QWidget::focusNextPrevChild(forward);
}

void XPTokenField::setMinimumFieldHeight(int height)
{
    m_minimumHeight = qMax(0, height);
    updateGeometry();
}

QWidget *XPTokenField::chipAt(int index) const
{
    return index >= 0 && index < m_chips.size() ? m_chips.at(index) : nullptr;
}

int XPTokenField::chipCount() const
{
    return int(m_chips.size());
}

int XPTokenField::heightForWidth(int width) const
{
    return qMax(m_minimumHeight, const_cast<XPTokenField *>(this)->layoutRows(width, false));
}

QSize XPTokenField::sizeHint() const
{
    const int width = qMax(200, this->width());
    return {width, heightForWidth(width)};
}

QSize XPTokenField::minimumSizeHint() const
{
    return {kMinimumEditWidth + 2 * kMargin, m_minimumHeight};
}

void XPTokenField::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    layoutChildren();
}

void XPTokenField::mousePressEvent(QMouseEvent *event)
{
    // A click beside the chips goes to the text.
    clearTokenSelection();
    m_edit->setFocus(Qt::MouseFocusReason);
    m_edit->end(false);
    QFrame::mousePressEvent(event);
}

void XPTokenField::rebuildChips()
{
    // The chips go later: this may run inside a key handler of one of them. The focus stays
    // in the field while they go.
    bool chipHadFocus = false;
    for (XPTokenChip *chip : std::as_const(m_chips))
        chipHadFocus = chipHadFocus || chip->hasFocus();
    if (chipHadFocus)
        m_edit->setFocus(Qt::OtherFocusReason);
    for (XPTokenChip *chip : std::as_const(m_chips)) {
        chip->removeEventFilter(this);
        chip->hide();
        chip->deleteLater();
    }
    m_chips.clear();
    for (const QString &token : std::as_const(m_tokens)) {
        auto *chip = new XPTokenChip(this, token);
        chip->installEventFilter(this);
        chip->show();
        m_chips.append(chip);
    }
    // Tab order: chips, then the text.
    QWidget *previous = nullptr;
    for (XPTokenChip *chip : std::as_const(m_chips)) {
        if (previous)
            setTabOrder(previous, chip);
        previous = chip;
    }
    if (previous)
        setTabOrder(previous, m_edit);
    updateAccessibleDescription();
    layoutChildren();
}

int XPTokenField::layoutRows(int width, bool apply)
{
    const int rowHeight = qMax(m_edit->sizeHint().height(), fontMetrics().height() + 4);
    const int right = width - kMargin - frameWidth();
    const int left = kMargin + frameWidth();
    int x = left;
    int y = kMargin + frameWidth();
    for (XPTokenChip *chip : std::as_const(m_chips)) {
        const int w = qMin(chip->sizeHint().width(), right - left);
        if (x > left && x + w > right) {
            x = left;
            y += rowHeight + kSpacing;
        }
        if (apply)
            chip->setGeometry(x, y + (rowHeight - chip->sizeHint().height()) / 2, w, chip->sizeHint().height());
        x += w + kSpacing;
    }
    const int textWidth = qMax(kMinimumEditWidth, m_edit->fontMetrics().horizontalAdvance(m_edit->text()) + 12);
    if (x > left && x + textWidth > right) {
        x = left;
        y += rowHeight + kSpacing;
    }
    if (apply)
        m_edit->setGeometry(x, y, qMax(right - x, 10), rowHeight);
    return y + rowHeight + kMargin + frameWidth();
}

void XPTokenField::layoutChildren()
{
    layoutRows(width(), true);
    const int needed = qMax(m_minimumHeight, layoutRows(width(), false));
    if (needed != height())
        updateGeometry();
}

void XPTokenField::onTextEdited(const QString &text)
{
    QStringList pieces;
    qsizetype start = 0;
    qsizetype lastSeparator = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QString typed = text.mid(start, i - start);
        if (m_delegate ? m_delegate->isTokenSeparator(text.at(i), typed) : text.at(i) == QLatin1Char(',')) {
            if (!typed.trimmed().isEmpty())
                pieces.append(typed);
            start = i + 1;
            lastSeparator = i;
        }
    }
    if (lastSeparator >= 0) {
        QString rest = text.mid(start);
        if (!pieces.isEmpty() && addTokens(pieces).isEmpty()) {
            // Refused: keep what was typed, without the separator, for the user to correct.
            rest = text.left(lastSeparator) + text.mid(lastSeparator + 1);
        }
        m_edit->setText(rest);
        m_edit->setCursorPosition(int(rest.size()));
    }
    layoutChildren();
    if (m_edit->text().isEmpty())
        hideCompletions();
    else
        showCompletions();
    Q_EMIT textEdited(m_edit->text());
}

void XPTokenField::focusChip(int index)
{
    if (m_chips.isEmpty()) {
        m_edit->setFocus(Qt::OtherFocusReason);
        return;
    }
    index = qBound(0, index, int(m_chips.size()) - 1);
    hideCompletions();
    m_chips[index]->setFocus(Qt::OtherFocusReason);
}

void XPTokenField::editToken(int index)
{
    if (index < 0 || index >= m_tokens.size())
        return;
    // The token goes back into the text; what was typed there is kept as a token first.
    commitPendingText();
    const QString token = m_tokens.at(index);
    const QString editing = m_delegate ? m_delegate->editingStringForToken(token) : token;
    removeTokens({index});
    setPendingText(editing);
    m_edit->setFocus(Qt::OtherFocusReason);
}

bool XPTokenField::tabSignalConnected(bool forward) const
{
    return forward ? isSignalConnected(QMetaMethod::fromSignal(&XPTokenField::tabPressed))
                   : isSignalConnected(QMetaMethod::fromSignal(&XPTokenField::backtabPressed));
}

bool XPTokenField::handlePopupKey(QKeyEvent *key)
{
    if (!m_popup->isVisible())
        return false;
    const int row = m_popup->currentRow();
    switch (key->key()) {
    case Qt::Key_Down:
        m_popup->setCurrentRow(qMin(row + 1, m_popup->count() - 1));
        return true;
    case Qt::Key_Up:
        m_popup->setCurrentRow(qMax(row - 1, 0));
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (QListWidgetItem *item = m_popup->currentItem()) {
            acceptCompletion(item->text());
            return true;
        }
        return false;
    case Qt::Key_Escape:
        hideCompletions();
        return true;
    default:
        return false;
    }
}

bool XPTokenField::handleEditKey(QKeyEvent *key)
{
    if (handlePopupKey(key))
        return true;
    if (key->matches(QKeySequence::Paste)) {
        paste();
        return true;
    }
    if (key->matches(QKeySequence::Copy)) {
        copy();
        return true;
    }
    if (key->matches(QKeySequence::Cut)) {
        cut();
        return true;
    }
    if (key->matches(QKeySequence::SelectAll) && m_edit->text().isEmpty()) {
        selectAllTokens();
        focusChip(int(m_chips.size()) - 1);
        return true;
    }
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!commitPendingText())
            Q_EMIT returnPressed();
        return true;
    case Qt::Key_Escape:
        Q_EMIT escapePressed();
        return true;
    case Qt::Key_Tab:
        if (!tabSignalConnected(true))
            return false;
        commitPendingText();
        Q_EMIT tabPressed();
        return true;
    case Qt::Key_Backtab:
        if (!tabSignalConnected(false))
            return false;
        commitPendingText();
        Q_EMIT backtabPressed();
        return true;
    case Qt::Key_Down:
        showCompletions();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Backspace:
        if (m_edit->cursorPosition() == 0 && !m_edit->hasSelectedText() && !m_chips.isEmpty()) {
            clearTokenSelection();
            focusChip(int(m_chips.size()) - 1);
            return true;
        }
        return false;
    case Qt::Key_Home:
        if (m_edit->cursorPosition() == 0 && !m_chips.isEmpty()) {
            focusChip(0);
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool XPTokenField::handleChipKey(XPTokenChip *chip, QKeyEvent *key)
{
    const int index = int(m_chips.indexOf(chip));
    if (key->matches(QKeySequence::Copy)) {
        copy();
        return true;
    }
    if (key->matches(QKeySequence::Cut)) {
        cut();
        return true;
    }
    if (key->matches(QKeySequence::Paste)) {
        paste();
        m_edit->setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (key->matches(QKeySequence::SelectAll)) {
        selectAllTokens();
        return true;
    }
    switch (key->key()) {
    case Qt::Key_Left:
        clearTokenSelection();
        focusChip(index - 1);
        return true;
    case Qt::Key_Right:
        clearTokenSelection();
        if (index + 1 < m_chips.size())
            focusChip(index + 1);
        else
            m_edit->setFocus(Qt::OtherFocusReason);
        return true;
    case Qt::Key_Home:
        clearTokenSelection();
        focusChip(0);
        return true;
    case Qt::Key_End:
        clearTokenSelection();
        m_edit->setFocus(Qt::OtherFocusReason);
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_Delete: {
        const QList<int> selected = selectedTokenIndexes();
        const int next = selected.isEmpty() ? index : selected.first();
        removeTokens(selected.isEmpty() ? QList<int>{index} : selected);
        if (key->key() == Qt::Key_Backspace && next > 0)
            focusChip(next - 1);
        else if (next < m_chips.size())
            focusChip(next);
        else
            m_edit->setFocus(Qt::OtherFocusReason);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F2:
        editToken(index);
        return true;
    case Qt::Key_Escape:
        Q_EMIT escapePressed();
        return true;
    case Qt::Key_Tab:
        if (!tabSignalConnected(true))
            return false;
        Q_EMIT tabPressed();
        return true;
    case Qt::Key_Backtab:
        if (!tabSignalConnected(false))
            return false;
        Q_EMIT backtabPressed();
        return true;
    default:
        // Typing on a chip goes on in the text.
        if (!key->text().isEmpty() && key->text().at(0).isPrint()) {
            clearTokenSelection();
            m_edit->setFocus(Qt::OtherFocusReason);
            m_edit->end(false);
            m_edit->insert(key->text());
            onTextEdited(m_edit->text());
            return true;
        }
        return false;
    }
}

bool XPTokenField::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (event->type() == QEvent::ShortcutOverride) {
            // Keep clipboard keys and Escape in the field rather than window shortcuts.
            if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::Paste) ||
                key->matches(QKeySequence::Cut) || key->key() == Qt::Key_Escape) {
                event->accept();
                return true;
            }
            return false;
        }
        if (watched == m_edit)
            return handleEditKey(key);
        if (auto *chip = dynamic_cast<XPTokenChip *>(watched))
            return handleChipKey(chip, key);
    } else if (watched == m_edit && event->type() == QEvent::FocusIn) {
        auto *focus = static_cast<QFocusEvent *>(event);
        clearTokenSelection();
        if (focus->reason() != Qt::PopupFocusReason)
            m_edit->end(false);
        noteFocusIn();
    } else if (watched == m_edit && event->type() == QEvent::FocusOut) {
        noteFocusOut(static_cast<QFocusEvent *>(event));
    }
    return QFrame::eventFilter(watched, event);
}

void XPTokenField::noteFocusIn()
{
    if (m_focusInside)
        return;
    m_focusInside = true;
    Q_EMIT focusEntered();
}

void XPTokenField::noteFocusOut(QFocusEvent *event)
{
    if (event->reason() == Qt::PopupFocusReason)
        return;
    QWidget *next = QApplication::focusWidget();
    if (next && (next == this || isAncestorOf(next)))
        return;
    // Leaving the field ends the token being typed.
    m_focusInside = false;
    commitPendingText();
    hideCompletions();
    clearTokenSelection();
    Q_EMIT focusLeft();
}

void XPTokenField::emitTokensChanged()
{
    Q_EMIT tokensChanged();
}

void XPTokenField::updateAccessibleDescription()
{
    setAccessibleDescription(m_tokens.isEmpty() ? QStringLiteral("no tags") : m_tokens.join(QStringLiteral(", ")));
}
