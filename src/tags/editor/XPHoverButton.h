#pragma once
// XPHoverButton: a push button that knows whether the mouse is over it.
//
// showHovered() is true while the pointer is inside the button and the button is enabled; the
// button repaints when it changes. The pointing-hand cursor is shown over it. The owner may
// attach any value as referenceObject() (the favourite-tag row keeps nothing there).
#include <QPushButton>
#include <QVariant>

class XPHoverButton : public QPushButton
{
    Q_OBJECT
public:
    explicit XPHoverButton(QWidget *parent = nullptr);
    explicit XPHoverButton(const QString &title, QWidget *parent = nullptr);

    bool showHovered() const { return m_showHovered; }
    // Sets the hover state (the mouse handlers call this; tests and keyboard focus may too).
    void setShowHovered(bool hovered);

    QVariant referenceObject() const { return m_referenceObject; }
    void setReferenceObject(const QVariant &object) { m_referenceObject = object; }

Q_SIGNALS:
    void hoveredChanged(bool hovered);

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool m_showHovered = false;
    QVariant m_referenceObject;
};
