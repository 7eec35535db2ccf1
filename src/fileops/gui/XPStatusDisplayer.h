#pragma once
// A short message that fades in over a view and fades out by itself; it floats above normal
// windows and lets the mouse through. One shared instance.
#include <QWidget>

class QLabel;
class QPropertyAnimation;

class XPStatusDisplayer : public QWidget
{
    Q_OBJECT
public:
    static XPStatusDisplayer *singleInstance();
    static bool hasInstance();

    // Shows `text` centred over `view`, its bottom edge 0.2 of the view's height below the view's
    // top, and fades out after `seconds`. A message shown while another is visible replaces its
    // text without fading out first; each call schedules its own fade-out.
    void showStatusString(const QString &text, double seconds, QWidget *view);
    void stopShowingStatus();

    QLabel *mainText() const { return m_mainText; }
    QLabel *subText() const { return m_subText; }

private:
    XPStatusDisplayer();
    QLabel *m_mainText = nullptr;
    QLabel *m_subText = nullptr;
    QPropertyAnimation *m_fade = nullptr;
};
