#include "platform/x11/X11Display.h"

#include <cstdlib>
#include <xcb/xcb.h>

namespace X11Display {

bool displayAvailable(QString *why)
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    // offscreen/minimal/vnc need no display server.
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    if (display.isEmpty()) {
        if (!wayland.isEmpty() && !platform.startsWith("xcb"))
            return true;
        *why = QStringLiteral("cannot open display: neither DISPLAY nor WAYLAND_DISPLAY is set");
        return false;
    }
    if (!wayland.isEmpty() && platform.startsWith("wayland"))
        return true;
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    const bool ok = c && xcb_connection_has_error(c) == 0;
    if (c)
        xcb_disconnect(c);
    if (!ok)
        *why = QStringLiteral("cannot open display %1").arg(QString::fromLocal8Bit(display));
    return ok;
}

} // namespace X11Display
