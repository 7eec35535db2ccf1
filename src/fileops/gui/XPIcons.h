#pragma once
// Small icons for menu entries: a file's icon from the icon theme (by its MIME type) and an
// application's icon from its desktop entry, both 16 × 16.
#include <QIcon>
#include <QString>
#include <QStringList>

namespace XPIcons {
inline constexpr int kMenuIconSize = 16;
// The theme icon of the file's type (folders get the folder icon), scaled to 16 × 16; a null
// icon when the theme has none.
QIcon iconForPath(const QString &path);
// The first theme icon of `names` that exists, else `file`; scaled to 16 × 16.
QIcon iconForApplication(const QStringList &names, const QString &file);
// A transparent 16 × 16 image, for entries that must line up with iconed ones.
QIcon emptyIcon();
} // namespace XPIcons
