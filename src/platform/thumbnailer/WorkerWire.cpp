#include "platform/thumbnailer/WorkerWire.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace WorkerWire {

namespace {

struct RequestHead {
    quint32 magic;
    quint32 job;
    qint32 width;
    qint32 height;
    quint32 pathLength;
};

struct ReplyHead {
    quint32 magic;
    quint32 status;
    quint32 reasonLength;
    qint32 width;
    qint32 height;
    qint32 bytesPerLine;
    qint32 format;
};

constexpr quint32 kMaxPath = 65536;
constexpr quint32 kMaxReason = 4096;
constexpr quint32 kMaxText = 4u << 20;

} // namespace

Io readFully(int fd, void *buffer, size_t size, Deadline deadline)
{
    char *p = static_cast<char *>(buffer);
    size_t done = 0;
    while (done < size) {
        int waitMs = -1;
        if (deadline != Deadline::max()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return Io::TimedOut;
            waitMs = int(std::min<qint64>(left.count() + 1, 1 << 30));
        }
        struct pollfd pfd {
            fd, POLLIN, 0
        };
        const int ready = ::poll(&pfd, 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return Io::Closed;
        }
        if (ready == 0)
            continue; // the deadline check above decides
        const ssize_t n = ::read(fd, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Io::Closed;
        }
        if (n == 0)
            return Io::Closed;
        done += size_t(n);
    }
    return Io::Done;
}

bool writeFully(int fd, const void *buffer, size_t size)
{
    const char *p = static_cast<const char *>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, p + done, size - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

QByteArray encodeRequest(DecoderWorkers::Job job, const QString &path, QSize box)
{
    const QByteArray native = QFile::encodeName(path);
    RequestHead head{kRequest, quint32(job), box.width(), box.height(), quint32(native.size())};
    QByteArray out(reinterpret_cast<const char *>(&head), sizeof head);
    out += native;
    return out;
}

Io readRequest(int fd, Request *request)
{
    RequestHead head;
    Io io = readFully(fd, &head, sizeof head, Deadline::max());
    if (io != Io::Done)
        return io;
    if (head.magic != kRequest || head.pathLength == 0 || head.pathLength > kMaxPath || head.job < 1 || head.job > 5)
        return Io::Garbled;
    QByteArray native(int(head.pathLength), Qt::Uninitialized);
    io = readFully(fd, native.data(), size_t(native.size()), Deadline::max());
    if (io != Io::Done)
        return io;
    request->job = DecoderWorkers::Job(head.job);
    request->path = QFile::decodeName(native);
    request->box = QSize(head.width, head.height);
    return Io::Done;
}

bool writeReply(int fd, const Reply &reply)
{
    if (!reply.text.isNull()) {
        QByteArray text = reply.text.toUtf8();
        if (text.size() > qsizetype(kMaxText)) {
            text.truncate(qsizetype(kMaxText));
            while (!text.isEmpty() && (uchar(text.back()) & 0xC0) == 0x80)
                text.chop(1); // a cut character goes whole
            if (!text.isEmpty() && uchar(text.back()) >= 0xC0)
                text.chop(1);
        }
        const ReplyHead head{kReply, 3u, quint32(text.size()), 0, 0, 0, 0};
        return writeFully(fd, &head, sizeof head) && writeFully(fd, text.constData(), size_t(text.size()));
    }
    const QByteArray reason = reply.failure.toUtf8().left(int(kMaxReason));
    const QImage &img = reply.image;
    const bool ok = !img.isNull();
    ReplyHead head{kReply,
                   ok ? 0u : (reply.declined ? 2u : 1u),
                   quint32(reason.size()),
                   ok ? img.width() : 0,
                   ok ? img.height() : 0,
                   ok ? int(img.bytesPerLine()) : 0,
                   ok ? int(img.format()) : 0};
    if (!writeFully(fd, &head, sizeof head) || !writeFully(fd, reason.constData(), size_t(reason.size())))
        return false;
    return !ok || writeFully(fd, img.constBits(), size_t(img.sizeInBytes()));
}

Io readReply(int fd, Deadline deadline, Reply *reply)
{
    ReplyHead head;
    Io io = readFully(fd, &head, sizeof head, deadline);
    if (io != Io::Done)
        return io;
    if (head.magic != kReply || head.status > 3 || head.reasonLength > (head.status == 3 ? kMaxText : kMaxReason))
        return Io::Garbled;
    QByteArray reason(int(head.reasonLength), Qt::Uninitialized);
    io = readFully(fd, reason.data(), size_t(reason.size()), deadline);
    if (io != Io::Done)
        return io;
    if (head.status == 3) {
        reply->text = QString::fromUtf8(reason);
        if (reply->text.isNull())
            reply->text = QLatin1String("");
        return Io::Done;
    }
    reply->failure = QString::fromUtf8(reason);
    reply->declined = head.status == 2;
    if (head.status != 0)
        return Io::Done;
    // Everything the worker says about the picture is checked before Kelso allocates for it.
    if (head.width < 1 || head.height < 1 || head.width > kMaxSide || head.height > kMaxSide ||
        head.format <= QImage::Format_Invalid || head.format >= QImage::NImageFormats)
        return Io::Garbled;
    const auto format = QImage::Format(head.format);
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qint64 minLine = (qint64(head.width) * depth + 7) / 8;
    const qint64 bytes = qint64(head.bytesPerLine) * head.height;
    if (depth <= 0 || head.bytesPerLine < minLine || bytes > kMaxBytes)
        return Io::Garbled;
    QImage img(head.width, head.height, format);
    if (img.isNull())
        return Io::Garbled;
    if (img.bytesPerLine() == head.bytesPerLine) {
        io = readFully(fd, img.bits(), size_t(bytes), deadline);
    } else {
        QByteArray line(head.bytesPerLine, Qt::Uninitialized);
        for (int y = 0; y < head.height && io == Io::Done; ++y) {
            io = readFully(fd, line.data(), size_t(line.size()), deadline);
            std::memcpy(img.scanLine(y), line.constData(), size_t(std::min<qint64>(minLine, img.bytesPerLine())));
        }
    }
    if (io != Io::Done)
        return io;
    reply->image = img;
    return Io::Done;
}

} // namespace WorkerWire
