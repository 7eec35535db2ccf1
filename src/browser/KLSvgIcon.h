#pragma once
// Icons from Kelso's own SVG resources, rendered straight through QSvgRenderer into pixmaps of
// the sizes a tray or window manager asks for. A QIcon made from an ".svg" file would look up
// and load the SVG icon-engine plugin first, which costs start-up time for two small pictures.
#include <QIcon>
#include <QString>
#include <initializer_list>

namespace KLSvgIcon {
// An icon holding the picture at each side length (device-independent pixels); a null icon
// when the file is missing or not SVG.
QIcon fromFile(const QString &svgPath, std::initializer_list<int> sides);
} // namespace KLSvgIcon
