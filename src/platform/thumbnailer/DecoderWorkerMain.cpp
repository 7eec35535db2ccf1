// The worker's side: `kelso --thumbnail-worker` decodes one file per request, on descriptor 3.
#include "platform/thumbnailer/DecoderWorkers.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "platform/thumbnailer/WorkerWire.h"

#include <QGuiApplication>
#include <QStringList>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace DecoderWorkers {

namespace {

constexpr int kSocket = 3;

// Qt's decoders report damage only as warnings; the worker keeps those of the current job.
QStringList g_jobMessages;

void keepMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (g_jobMessages.size() < 20)
        g_jobMessages.append(message);
}

// A JPEG cut short decodes "successfully", the missing part grey; libjpeg says so only in a
// warning: "Premature end of JPEG file", or, since Qt's reader ends a short file with an end
// marker, "Corrupt JPEG data: premature end of data segment". (Other "Corrupt JPEG data"
// warnings, such as extraneous bytes before a marker, are common in camera files and harmless.)
bool fileWasCutShort()
{
    for (const QString &m : std::as_const(g_jobMessages)) {
        if (m.contains(QLatin1String("premature end"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QImage sendable(const QImage &img)
{
    // Indexed and one-bit pictures carry a colour table the wire does not: send plain pixels.
    switch (img.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        return img.convertToFormat(img.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    default:
        return img;
    }
}

} // namespace

Outcome decodeHere(Job job, const QString &path, QSize box)
{
    Outcome out;
    QString why;
    switch (job) {
    case Job::Image:
        out.image = Thumbnailer::decodeImageFile(path, box, &why);
        break;
    case Job::SingleImage:
        out.image = Thumbnailer::fastImageThumbnail(path, box.width(), &why);
        break;
    case Job::PdfPage:
        out.image = Thumbnailer::renderPdfFirstPage(path, box);
        break;
    case Job::Svg:
        out.image = Thumbnailer::renderSvg(path, box);
        break;
    case Job::PdfText:
        out.text = Thumbnailer::pdfText(path, box.width());
        if (out.text.isNull()) {
            out.fileAtFault = true;
            out.failure = QStringLiteral("the PDF's text cannot be read");
        }
        return out;
    }
    if (out.image.isNull()) {
        // The fast path declines files that are not one plain image, without blame.
        out.fileAtFault = job != Job::SingleImage || !why.isEmpty();
        if (out.fileAtFault)
            out.failure = why.isEmpty() ? QStringLiteral("the file cannot be decoded") : why;
    }
    return out;
}

int runIfWorker(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--thumbnail-worker") != 0)
        return -1;
    int limitMs = 4000;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--time-limit") == 0)
            limitMs = std::max(100, std::atoi(argv[i + 1]));
    }
    if (::fcntl(kSocket, F_GETFD) < 0)
        return 2; // started by hand, not by Kelso
    ::signal(SIGPIPE, SIG_IGN);
    // An offscreen GUI application: fonts for text in SVG files, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QT_ACCESSIBILITY");
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    qInstallMessageHandler(keepMessage);
    QGuiApplication app(argc, argv);
    if (!WorkerWire::writeFully(kSocket, &WorkerWire::kHello, sizeof WorkerWire::kHello))
        return 1;
    for (;;) {
        WorkerWire::Request request;
        const WorkerWire::Io io = WorkerWire::readRequest(kSocket, &request);
        if (io == WorkerWire::Io::Closed)
            return 0; // Kelso is done with this worker, or gone
        if (io != WorkerWire::Io::Done)
            return 1;
        g_jobMessages.clear();
        // Kelso kills a job that takes too long; should Kelso itself be gone, the alarm ends the
        // job a little later all the same.
        ::alarm(unsigned(limitMs / 1000 + 2));
        Outcome out = decodeHere(request.job, request.path, request.box);
        ::alarm(0);
        if (!out.image.isNull() && fileWasCutShort()) {
            out.image = QImage();
            out.failure = QStringLiteral("the file is cut short");
            out.fileAtFault = true;
        }
        if (!WorkerWire::writeReply(kSocket, {sendable(out.image), out.text, out.failure,
                                              out.image.isNull() && out.text.isNull() && !out.fileAtFault}))
            return 0;
    }
}

} // namespace DecoderWorkers
