#pragma once

// Names threads so that `ps -L`, top, /proc/PID/task/*/comm and a debugger say what each one
// does. Linux keeps 15 bytes of a name: every Kelso name fits ("kelso-fsevents").
//
// A QThread, and each thread of a QThreadPool, takes its objectName when it starts (Qt passes
// it on), so those are named with setObjectName; this is for std::thread and raw threads.

namespace ThreadNames {

// Names the calling thread. Longer names are cut at 15 bytes.
void setCurrent(const char *name);

} // namespace ThreadNames
