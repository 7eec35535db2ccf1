#pragma once
// The pictures an item draws besides its thumbnail: the stack picture (the folder's icon with a
// count badge), the badge itself, and the missing-file picture. The badge backgrounds
// ("badgeSmall", "badge3digits", "badge4digits", "badge5digits") and "missingMedia" are drawn
// in code and registered as named images of KPImageUtils, so they are cached like any icon.
//
// The number on a badge needs fonts, which Qt only has with a QGuiApplication; without one the
// badge is drawn without its number. Safe on any thread.
#include <QImage>
#include <QSize>
#include <QString>

namespace KLItemImages {

// Registers the named pictures (done on first use of any function here).
void registerImages();

// The name of the badge picture for a count: below 100 "badgeSmall", below 1,000
// "badge3digits", below 10,000 "badge4digits", else "badge5digits".
QString badgeNameForNumber(long long number);
// The badge picture's own size.
QSize badgeSize(const QString &name);
// Draws the badge for `number` at the bottom-right corner of `image`, scaled to `height`;
// nothing for number ≤ 0.
void drawBadgeWithNumber(long long number, QImage *image, int height);
// The folder's icon scaled to `size`, with the badge (height 35) for `count`.
QImage folderImage(const QString &path, long long count, QSize size);
// The shared missing-file picture at 172 × 172, made once.
QImage missingMediaImage();

} // namespace KLItemImages
