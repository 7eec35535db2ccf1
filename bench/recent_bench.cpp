// recent_bench: figures of the recent-files engine, each beside a reference measured in the
// same run. Sections: "watch" (watch setup against inotifywait -r), "record" (one record for a
// folder of 1,000 files against readdir+lstat), "rank" (ranking 151 events of 21 items), "journal" (opening a full
// event journal against reading its file). With no argument every section runs.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int runWatchSetupBench();
int runCollectorRecordBench();
int runCollectorRankBench();
int runJournalOpenBench();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList sections = app.arguments().mid(1);
    if (sections.isEmpty())
        sections = {QStringLiteral("record"), QStringLiteral("rank"), QStringLiteral("journal"),
                    QStringLiteral("watch")};
    int status = 0;
    for (const QString &s : sections) {
        if (s == QLatin1String("watch")) {
            status |= runWatchSetupBench();
        } else if (s == QLatin1String("record")) {
            status |= runCollectorRecordBench();
        } else if (s == QLatin1String("rank")) {
            status |= runCollectorRankBench();
        } else if (s == QLatin1String("journal")) {
            status |= runJournalOpenBench();
        } else {
            std::fprintf(stderr, "recent_bench: unknown section %s\n", qPrintable(s));
            return 2;
        }
    }
    return status;
}
