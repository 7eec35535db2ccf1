#pragma once
// The preview panel of the grids (Space). The desktop's previewer,
// org.gnome.NautilusPreviewer, shows the file when it is on the session bus; otherwise Kelso
// shows its own window at the left screen edge with a large picture and the name.
// One per process; main thread only.
#include "recent/KLItem.h"

#include <QObject>
#include <QPointer>

class QLabel;
class QWidget;

class KLPreviewPanel : public QObject
{
    Q_OBJECT
public:
    static KLPreviewPanel &shared();

    // Shows the first of the items (the Space key).
    void showPanel(const QList<KLItemPtr> &items, QWidget *parentWindow);
    // Follows a new selection while the panel is open.
    void updateController(const QList<KLItemPtr> &items);
    bool isOpen() const;
    void close();
    // The own window (tests); null until it was needed.
    QWidget *window() const { return m_window; }
    QString shownPath() const { return m_shownPath; }

    static bool desktopPreviewerAvailable();

private:
    KLPreviewPanel() = default;
    void showOwnWindow(const KLItemPtr &item);
    bool showWithDesktopPreviewer(const KLItemPtr &item, QWidget *parentWindow);

    QPointer<QWidget> m_window;
    QLabel *m_picture = nullptr;
    QLabel *m_name = nullptr;
    QString m_shownPath;
    bool m_desktopOpen = false;
};
