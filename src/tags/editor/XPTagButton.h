#pragma once
// XPTagButton: a small rounded button showing one tag (the favourite-tag row under the tag
// field, and the tag search window).
//
// Six styles give the fill and border colour, with a dark and a light variant; the dark one is
// used when the palette's window colour is dark. The title is drawn centred, elided at the end,
// in the "selected" text colour while the button is checked. A hover icon, when set, is drawn at
// the button's top-left corner while the mouse is over it.
//
// Buttons of the favourite row carry a context menu with the one entry "Remove from Recents":
// it removes the title from the recent tags and shows "----" until the row is rebuilt.
#include "tags/editor/XPHoverButton.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <functional>

class QMenu;

class XPTagButton : public XPHoverButton
{
    Q_OBJECT
public:
    enum Style {
        TagStyle = 0,
        WhereStyle = 1,
        SourceStyle = 2,
        GrayTagStyle = 3,
        NotTagStyle = 4,
        HeadsUpStyle = 5,
    };
    static constexpr int kStyleCount = 6;
    // Title padding added to the text width by sizeToFit().
    static constexpr int kTitlePadding = 20;
    // What a button shows after its tag was removed from the recent tags.
    static inline const QString kRemovedTitle = QStringLiteral("----");

    explicit XPTagButton(QWidget *parent = nullptr);
    XPTagButton(const QString &title, Style style, const QIcon &hoverIcon = {}, QWidget *parent = nullptr);

    Style buttonStyle() const { return m_style; }
    void setButtonStyle(Style style);

    QIcon hoverIcon() const { return m_hoverIcon; }
    void setHoverIcon(const QIcon &icon);
    bool hasHoverIcon() const { return !m_hoverIcon.isNull(); }

    // Font of the title (default: the application font at 11 points).
    QFont titleFont() const { return m_titleFont; }
    void setTitleFont(const QFont &font);
    // Text colours of the title when off and when on (checked); invalid = the palette's.
    void setTextColors(const QColor &off, const QColor &on);

    // Width = title width in the title font + kTitlePadding; height unchanged.
    void sizeToFit();

    // The fill/border colour of `style`; `active` is hovered-or-checked (only the heads-up style
    // changes with it).
    static QColor styleColor(Style style, bool dark, bool active);
    // True when `palette`'s window colour is dark.
    static bool isDarkPalette(const QPalette &palette);
    bool isDark() const;

    // Gives the button the "Remove from Recents" context menu. `remover` removes the tags from
    // the recent tags (default: LumitagPrefs::removeTagsFromRecents on a worker thread).
    void enableRemoveFromRecentsMenu(std::function<void(const QStringList &)> remover = {});
    bool hasRemoveFromRecentsMenu() const { return m_removeMenuEnabled; }
    // The context menu (built on demand; nullptr when the button has none).
    QMenu *contextMenu();
    // Removes the title from the recent tags and shows kRemovedTitle.
    void removeFromRecentsAction();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void init();

    Style m_style = TagStyle;
    QIcon m_hoverIcon;
    QFont m_titleFont;
    QColor m_textColor;
    QColor m_selectedTextColor;
    bool m_removeMenuEnabled = false;
    std::function<void(const QStringList &)> m_remover;
    QMenu *m_menu = nullptr;
};
