#pragma once
#include <QStringList>

// `kelso thumbnail FILE --size N --output OUT.png [--icon-mode]`: renders one thumbnail through
// the renderer and its caches, writes it as PNG and names on stderr the way that produced it
// (freedesktop-cache, kelso-cache, decoder, thumbnailer, icon).
int runThumbnailCommand(const QStringList &args);
