#include "dropzone/KLDropZoneRule.h"

#include <utility>

KLDropZoneRule::KLDropZoneRule(Hooks hooks) : m_hooks(std::move(hooks))
{
    m_changeCount = m_hooks.changeCount ? m_hooks.changeCount() : 0;
}

void KLDropZoneRule::leftMouseUp()
{
    m_wentFar = false;
    if (m_dragHappening && m_hooks.slideOffscreenLater)
        m_hooks.slideOffscreenLater(kHideAfterReleaseMs);
    m_dragHappening = false;
}

void KLDropZoneRule::leftMouseDragged()
{
    const quint64 count = m_hooks.changeCount();
    if (count != m_changeCount) {
        // A new drag began somewhere on the desktop.
        m_changeCount = count;
        m_dragHappening = true;
    } else if (!m_dragHappening) {
        return;
    }
    const double k = m_hooks.useSmallActiveZone && m_hooks.useSmallActiveZone() ? kSmallZoneScale : 1.0;
    const double d = m_hooks.distanceFromMouse();
    if (d > kFarDistance * k)
        m_wentFar = true;
    if (d > kHideDistance * k) {
        push(d);
        hideDropZone();
    } else if (m_hooks.isOnScreen() && d < kKeepShownDistance) {
        push(d);
    } else {
        if (m_wentFar && d <= m_history[2])
            showDropZoneIfFilesInPasteBoard();
        else
            hideDropZone();
        push(d);
    }
}

void KLDropZoneRule::showDropZoneIfFilesInPasteBoard()
{
    const std::optional<QStringList> files = m_hooks.draggedFiles();
    // The source has not answered yet: the next movement looks again.
    if (!files)
        return;
    if (!files->isEmpty() && files->size() <= kMaxFiles)
        m_hooks.slideOnscreen();
    else
        hideDropZone();
}

void KLDropZoneRule::hideDropZone()
{
    m_hooks.slideOffscreen();
}

void KLDropZoneRule::forgetCurrentDrag()
{
    m_changeCount = m_hooks.changeCount();
}

void KLDropZoneRule::push(double d)
{
    m_history[2] = m_history[1];
    m_history[1] = m_history[0];
    m_history[0] = d;
}
