#pragma once
// What Qt does not tell about the X11 desktop. Elsewhere the questions answer their safe
// default.

namespace X11Compositor {

// Whether a compositing manager runs (owns _NET_WM_CM_S<screen>). Without one a window that
// moves in small steps leaves trails and costs redraws: animate only with one.
bool running();

} // namespace X11Compositor
