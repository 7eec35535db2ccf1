#pragma once
// Finding a menu's entries in widget tests.
#include <QAction>
#include <QMenu>

namespace KelsoTest {

// The action with this object name in the menu or any of its submenus; null when none.
inline QAction *findAction(const QMenu *menu, const QString &objectName)
{
    for (QAction *a : menu->actions()) {
        if (a->objectName() == objectName)
            return a;
        if (a->menu())
            if (QAction *inner = findAction(a->menu(), objectName))
                return inner;
    }
    return nullptr;
}

} // namespace KelsoTest
