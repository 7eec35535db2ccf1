#pragma once
// Decoders of untrusted files run outside Kelso's process.
//
// Design note. A picture of a file Kelso did not make (a download, an attachment) is decoded by
// a worker process: the same program started with `--thumbnail-worker` (the role is chosen in
// main() before any application object exists; the worker makes an offscreen QGuiApplication,
// never opens a display). Workers are kept alive and reused: Kelso talks to each over a
// socket pair, one job at a time, so a thumbnail costs a round trip, not a process start.
//
// Each job has a time limit (ChildProcesses::jobTimeLimitMs) and each worker an address-space
// limit (ChildProcesses::memoryLimitBytes). A worker that crashes, hangs past the limit, runs out
// of memory or answers nonsense is killed (never waited for) and forgotten; the next job gets a
// new one. The caller then draws the file's icon and records the file in the failure cache.
//
// Wire format (host byte order, both ends are the same binary):
//   worker → Kelso at start: "KLWR"
//   request: magic "KLRQ", job, box width, box height, path length, path bytes
//   reply:   magic "KLRP", status (0 picture, 1 failed, 2 declined, 3 text), reason length,
//            width, height, bytes per line, QImage format, then the reason (UTF-8) and the
//            pixel rows; with status 3 the reason bytes are the text (UTF-8, up to 4 MiB).
#include <QImage>
#include <QSize>
#include <QString>

namespace DecoderWorkers {

enum class Job : quint32 {
    Image = 1,       // any image format Qt reads, scaled into the box while decoding
    SingleImage = 2, // the fast path: exactly one image, longer side at most box.width()
    PdfPage = 3,     // the first page of a PDF
    Svg = 4,
    PdfText = 5, // the text of a PDF, at most box.width() characters (for the metadata index)
};

struct Outcome {
    QImage image;
    QString text;             // PdfText: the text (null when there is none)
    QString failure;          // one line: why there is no picture
    bool fileAtFault = false; // the file made the decoder fail, crash, hang or refuse it (as
                              // opposed to Kelso quitting or a worker that could not start)
};

// Runs `job` in a worker; safe from any thread, several at once (one worker each).
Outcome run(Job job, const QString &path, QSize box);

// The decoding itself, as the worker does it.
Outcome decodeHere(Job job, const QString &path, QSize box);

// The worker role: -1 unless argv[1] is "--thumbnail-worker"; otherwise serves jobs on
// descriptor 3 until Kelso closes it and answers the exit status. Call first thing in main().
int runIfWorker(int argc, char **argv);

// The program started as worker (default: this very program, /proc/self/exe).
void setProgram(const QByteArray &path);
// Workers started since the process began (tests, bench).
int workersStarted();
// Pids of the workers alive now (idle or busy).
QList<qint64> workerPids();
// At quit: kills every worker and installed thumbnailer at once; later jobs fail at once.
void stopAll();

} // namespace DecoderWorkers
