#include "util/KLProcessFlags.h"

#include <atomic>

namespace KLProcessFlags {

namespace {
std::atomic<bool> g_redraw{false};
std::atomic<bool> g_shuttingDown{false};
} // namespace

void setNeedsRedraw()
{
    g_redraw.store(true, std::memory_order_relaxed);
}
bool takeNeedsRedraw()
{
    return g_redraw.exchange(false);
}
void setShuttingDown(bool value)
{
    g_shuttingDown.store(value);
}
bool isShuttingDown()
{
    return g_shuttingDown.load();
}

} // namespace KLProcessFlags
