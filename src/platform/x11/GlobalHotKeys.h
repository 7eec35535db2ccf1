#pragma once
// Chooses the global hot-key backend for the running desktop: a key grab on the X server when
// Qt runs on xcb, the GlobalShortcuts portal on Wayland where the desktop offers it, and
// otherwise a backend that only names keys (from the default layout) and registers nothing.
#include "platform/GlobalHotKeyBackend.h"

#include <memory>

namespace GlobalHotKeys {
std::unique_ptr<GlobalHotKeyBackend> create(QObject *parent = nullptr);
} // namespace GlobalHotKeys
