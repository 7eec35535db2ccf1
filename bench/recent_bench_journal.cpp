// "journal": opening a full event journal (the counter and the records the next start replays
// from), against reading the same file into memory. This is the work a start does before the
// event stream runs.
#include "platform/fsevents/EventJournal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int runJournalOpenBench()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const int records = KLFSEvents::EventJournal::kDefaultMaxRecords;
    {
        KLFSEvents::EventJournal journal(dir.path());
        journal.open();
        std::vector<KLFSEvents::JournalRecord> batch;
        for (int i = 0; i < records; ++i) {
            KLFSEvents::JournalRecord r;
            r.flags = 0x100;
            r.time = 1.8e9 + i;
            r.path = QByteArray("/home/someone/Documents/Projects/kelso-") + QByteArray::number(i % 997) +
                     "/notes/draft-" + QByteArray::number(i) + ".txt";
            batch.push_back(std::move(r));
            if (batch.size() == 500)
                journal.append(batch), batch.clear();
        }
        journal.writeStopMark(1.8e9 + records);
    }
    const QString path = dir.path() + QStringLiteral("/fsevents.journal");
    const qint64 size = QFile(path).size();
    std::vector<double> openMs, readMs;
    for (int run = 0; run < 9; ++run) {
        QElapsedTimer t;
        t.start();
        {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                return 1;
            volatile qsizetype n = f.readAll().size();
            (void)n;
        }
        readMs.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        {
            KLFSEvents::EventJournal journal(dir.path());
            journal.open();
        }
        openMs.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("== journal: opening a journal of %d records (%.1f MB), median of 9\n", records, size / 1e6);
    std::printf("   read the file:     %7.2f ms\n", medianOf(readMs));
    std::printf("   open the journal:  %7.2f ms  (%.1fx reading it)\n", medianOf(openMs),
                medianOf(openMs) / std::max(0.001, medianOf(readMs)));
    return 0;
}
