#include "thumbs/ThumbnailCommand.h"

#include "platform/StoreFile.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "thumbs/KPQuickLook.h"
#include "thumbs/ThumbnailRenderer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

int usage(const QString &why)
{
    std::fprintf(stderr, "kelso thumbnail: %s\nUsage: kelso thumbnail FILE --size N --output OUT.png [--icon-mode]\n",
                 qPrintable(why));
    return 2;
}

int fail(const QString &why)
{
    std::fprintf(stderr, "kelso thumbnail: %s\n", qPrintable(why));
    return 1;
}

} // namespace

int runThumbnailCommand(const QStringList &args)
{
    QString file, output;
    int size = 0;
    bool iconMode = false, haveSize = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--size")) {
            if (++i >= args.size())
                return usage(QStringLiteral("--size needs a number"));
            bool ok = false;
            size = args.at(i).toInt(&ok);
            if (!ok || size <= 0 || size > 4096)
                return usage(QStringLiteral("size must be a whole number from 1 to 4096"));
            haveSize = true;
        } else if (a == QLatin1String("--output")) {
            if (++i >= args.size())
                return usage(QStringLiteral("--output needs a file name"));
            output = args.at(i);
        } else if (a == QLatin1String("--icon-mode")) {
            iconMode = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(QStringLiteral("unknown option '%1'").arg(a));
        } else if (file.isEmpty()) {
            file = a;
        } else {
            return usage(QStringLiteral("one file at a time"));
        }
    }
    if (file.isEmpty())
        return usage(QStringLiteral("no file given"));
    if (!haveSize)
        return usage(QStringLiteral("--size is required"));
    if (output.isEmpty())
        return usage(QStringLiteral("--output is required"));
    const QFileInfo info(file);
    struct stat st;
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        // A path over PATH_MAX exists but cannot be reached: say that, not "does not exist".
        return fail(errno == ENOENT
                        ? QStringLiteral("'%1' does not exist").arg(file)
                        : QStringLiteral("'%1': %2").arg(file, QString::fromLocal8Bit(std::strerror(errno))));
    const QString path = QDir::cleanPath(info.absoluteFilePath());

    ThumbnailRenderer::updateCachedPrefs();
    ThumbnailRequest request;
    request.path = path;
    request.maxSize = QSizeF(size, size);
    request.fileToRender = path;
    request.forceIconMode = iconMode;
    ThumbnailResult result;
    // The tool says in its own one line what went wrong; the renderer's log lines (and Qt's
    // warnings about a damaged file) stay out of its output meanwhile.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QImage image = ThumbnailRenderer::kpThumbnailImageCreateSync(request, &result);
    // Cache writes queued by the render finish before the tool exits.
    KPQuickLook::waitUntilAllOperationsAreFinished(30000);
    qInstallMessageHandler(previous);
    // A file that made its decoder fail, crash, hang or refuse it is reported, not papered
    // over with its icon.
    const QString failure = result.failure;
    if (!failure.isEmpty())
        return fail(QStringLiteral("no thumbnail of '%1': %2").arg(path, failure));
    if (image.isNull())
        return fail(QStringLiteral("no thumbnail and no icon for '%1'").arg(path));

    QSaveFile out(output);
    QString why;
    if (!StoreFile::open(out, false, &why))
        return fail(QStringLiteral("cannot write '%1': %2").arg(output, why));
    QImageWriter writer(&out, "png");
    Thumbnailer::setFastPngCompression(writer);
    if (!writer.write(image) || !out.commit())
        return fail(QStringLiteral("cannot write '%1'").arg(output));
    std::fprintf(stderr, "%s\n", qPrintable(result.renderPath));
    return 0;
}
