#pragma once
// The logging category of the thumbnail queue, renderer and cache: "kelso.thumbs", warnings
// and worse by default (QT_LOGGING_RULES="kelso.thumbs.debug=true" shows the rest).
#include <QLoggingCategory>

inline const QLoggingCategory &lcThumbs()
{
    static const QLoggingCategory category("kelso.thumbs", QtWarningMsg);
    return category;
}
