#pragma once
// A thumbnail request and what comes back from it. The comments give the key of each field in
// the request record the queue was first written around; the names stay so that the render
// steps can be followed by them.
#include "thumbs/KPCGImage.h"

#include <QSizeF>
#include <QString>
#include <functional>
#include <optional>

struct ThumbnailRequest {
    // The file to render (absolute path). Paths beginning with "pal_:" are never rendered.
    QString path;
    // The box in points the thumbnail must fit; a side not above 0 means 1280.
    QSizeF maxSize;
    // "qi_FileToRender": the file whose volume decides whether the slow-volume limit applies.
    QString fileToRender;
    // "highPriority": the request goes ahead of the normal ones in the queue.
    bool highPriority = false;
    // "qi_ScaleFactor": an extra scale on top of the screen's, handed to the thumbnail service.
    std::optional<double> scaleFactor;
    // "qi_DestinationFile": the finished picture is also written there as PNG.
    QString destinationFile;
    // "qi_IconMode": the decorated icon style whatever the border settings say.
    bool forceIconMode = false;
    // The renderer's own: the file is a slow-render cache entry, whose picture already carries
    // its icon-style frame.
    bool isCacheEntry = false;
    // Who asks. Equal requests of one requester are queued once; two requesters asking for the
    // same picture both get it.
    const void *requester = nullptr;

    bool operator==(const ThumbnailRequest &other) const = default;
};

struct ThumbnailResult {
    ThumbnailRequest request; // as it was asked
    // "KPCGImage": the picture; wraps nothing when every way failed (never null when delivered).
    KPCGImageRef image;
    // "qi_SecondsToRender": how long the render took.
    double secondsToRender = 0;
    // "qi_RenderPath": which way gave the picture (Thumbnailer::sourceName()).
    QString renderPath;
    // "qi_Failure": why a decoder or installed thumbnailer gave no picture; empty otherwise.
    QString failure;
    // The thumbnail service's icon-mode option as the render used it.
    bool iconMode = false;
};

using ThumbnailCallback = std::function<void(const ThumbnailResult &result)>;
