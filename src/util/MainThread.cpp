#include "util/MainThread.h"

#include <thread>

namespace MainThread {
namespace {

// Static initialisation runs on the main thread, before main().
const std::thread::id g_mainThread = std::this_thread::get_id();

} // namespace

bool isCurrent()
{
    return std::this_thread::get_id() == g_mainThread;
}

} // namespace MainThread
