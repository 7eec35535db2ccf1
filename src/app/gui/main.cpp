#include "app/gui/KLGuiMain.h"
#include "platform/thumbnailer/DecoderWorkers.h"

int main(int argc, char **argv)
{
    // The decoder-worker role is decided before anything else: no application object, no
    // display, no settings of the user's.
    const int worker = DecoderWorkers::runIfWorker(argc, argv);
    if (worker >= 0)
        return worker;
    return KLGuiMain::run(argc, argv);
}
