#pragma once
// The messages between Kelso and its decoder workers (format: DecoderWorkers.h), and reads and
// writes on a socket with a deadline. Internal to platform/thumbnailer.
#include "platform/thumbnailer/DecoderWorkers.h"

#include <QByteArray>
#include <chrono>

namespace WorkerWire {

constexpr quint32 kHello = 0x52574c4b;   // "KLWR"
constexpr quint32 kRequest = 0x51524c4b; // "KLRQ"
constexpr quint32 kReply = 0x50524c4b;   // "KLRP"
// Largest picture a worker may send back (any side, and all pixel bytes).
constexpr int kMaxSide = 16384;
constexpr qint64 kMaxBytes = qint64(512) << 20;

enum class Io { Done, TimedOut, Closed, Garbled };
using Deadline = std::chrono::steady_clock::time_point;

// Reads exactly `size` bytes; with Deadline::max() it waits as long as it takes.
Io readFully(int fd, void *buffer, size_t size, Deadline deadline);
// Writes everything (never raises SIGPIPE); false when the other end is gone.
bool writeFully(int fd, const void *buffer, size_t size);

QByteArray encodeRequest(DecoderWorkers::Job job, const QString &path, QSize box);
struct Request {
    DecoderWorkers::Job job = DecoderWorkers::Job::Image;
    QString path;
    QSize box;
};
Io readRequest(int fd, Request *request);

struct Reply {
    QImage image;
    QString text; // not null: a text answer (status 3)
    QString failure;
    bool declined = false; // not a failure: the job does not apply to this file
};
bool writeReply(int fd, const Reply &reply);
Io readReply(int fd, Deadline deadline, Reply *reply);

} // namespace WorkerWire
