#pragma once
// Thumbnail requests as the tests make them.
#include "thumbs/ThumbnailRequest.h"

inline ThumbnailRequest thumbnailRequest(const QString &path, QSizeF box, bool withFileKey = true)
{
    ThumbnailRequest request;
    request.path = path;
    request.maxSize = box;
    if (withFileKey)
        request.fileToRender = path;
    return request;
}
