#pragma once
// XPTagSearchController: the tag search window. The user types tags (as text: blanks between
// tags, quotes around a tag with blanks) or clicks them among the favourite-tag buttons,
// chooses a minimum rating, and Search hands the query text (" tag: work tag: \"two words\"
// starrating:>=3") to the query runner, which shows the files in Kelso's search.
// The favourite buttons are rebuilt when the custom words change, when the row's size changes,
// and every 2 seconds while Kelso is active, so that new recent tags show up.
// Main thread only.
#include <QStringList>
#include <QWidget>
#include <functional>

class QLineEdit;
class QPushButton;
class QTimer;
class XPRatingControl;

class XPTagSearchController : public QWidget
{
    Q_OBJECT
public:
    using QueryRunner = std::function<void(const QString &queryText)>;
    static constexpr int kRefreshMs = 2000;

    explicit XPTagSearchController(QueryRunner runner, QWidget *parent = nullptr);

    // Brings the window to the front with the focus in the tag field.
    void findAction();
    // The tags of the search field's text.
    QStringList tags() const;
    // The query for the tags and rating now in the window.
    QString queryText() const;
    void searchButtonAction();
    // Adds the tag to the field's tags, or removes it when it is there (exact match), and
    // writes the list back as text.
    void toggleFavoriteTag(const QString &tag);
    void rebuildFavoriteTagButtons();

    QLineEdit *searchField() const { return m_searchField; }
    XPRatingControl *ratingField() const { return m_rating; }
    QWidget *favoriteTagsContainerView() const { return m_favorites; }
    QPushButton *searchButton() const { return m_searchButton; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void updateButtonStates();

    QueryRunner m_runner;
    QLineEdit *m_searchField = nullptr;
    XPRatingControl *m_rating = nullptr;
    QWidget *m_favorites = nullptr;
    QPushButton *m_searchButton = nullptr;
    QTimer *m_refresh = nullptr;
};
