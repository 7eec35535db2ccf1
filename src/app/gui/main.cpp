#include "app/gui/KLGuiMain.h"

int main(int argc, char **argv)
{
    return KLGuiMain::run(argc, argv);
}
