#pragma once

// Whether the caller runs on the process's main thread, the one that runs main() and owns the
// application object. Unlike asking the application object for its thread, this never reads
// that object: a worker that asks while the program ends (and the object is being destroyed)
// gets its answer instead of a crash.
namespace MainThread {

bool isCurrent();

} // namespace MainThread
