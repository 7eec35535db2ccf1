#pragma once
// Decides the process role before any application object exists: help/version/usage, a
// command-line client (QCoreApplication, never opens a display), a hand-over to the running
// instance, or the GUI itself.
namespace KLGuiMain {
int run(int argc, char **argv);
}
