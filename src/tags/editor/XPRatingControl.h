#pragma once
// A row of five stars for a rating of 0 to 5. A click on a star sets that many stars (a click
// on the only lit star clears the rating); the keyboard reaches every value: Left/Right or
// -/+ step, the digits 0 to 5 set, Home clears, End gives five. Only a change made by the user
// emits ratingChanged(); setValue() from the owner is silent. The accessible description
// tells the current value, so a screen reader reads it.
#include <QWidget>

class XPRatingControl : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxRating = 5;

    explicit XPRatingControl(QWidget *parent = nullptr);

    int value() const { return m_value; }
    // Clamped to 0..5; whole stars (a stored 3.5 shows three).
    void setValue(double value);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    void ratingChanged(int value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setByUser(int value);
    void describe();
    int starSize() const;

    int m_value = 0;
};
