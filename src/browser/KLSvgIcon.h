#pragma once
// Icons from Kelso's own SVG resources, drawn through QSvgRenderer at the size asked for when
// asked for. A QIcon made from an ".svg" file would look up and load the SVG icon-engine plugin
// first, and rendering every size up front would do the same work for sizes never shown:
// both cost start-up time for two small pictures.
#include <QIcon>
#include <QString>

namespace KLSvgIcon {
// An icon drawing the picture on demand; a null icon when the file is missing or not SVG.
QIcon fromFile(const QString &svgPath);
} // namespace KLSvgIcon
