// Helper process for the defaults tests: opens the store on a file, sets KEY to VALUE-1 …
// VALUE-ROUNDS (synchronizing after each), and exits 0 when every write reached the file.
//   defaults_writer FILE KEY ROUNDS
#include "platform/Defaults.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: defaults_writer FILE KEY ROUNDS\n");
        return 2;
    }
    Defaults defaults(args[1]);
    const int rounds = args[3].toInt();
    for (int i = 1; i <= rounds; ++i) {
        defaults.setInteger(args[2], i);
        if (!defaults.synchronize()) {
            std::fprintf(stderr, "synchronize failed\n");
            return 1;
        }
    }
    return 0;
}
