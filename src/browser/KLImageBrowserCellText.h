#pragma once
// The words a grid cell carries besides its title: the tool tip (full name, folder, date,
// size, tags, rating), the accessible description read by screen readers (date, kind, stack
// count, missing state, tags, rating).
//
// Everything is built from facts the item has cached (KLItem reads tags and ratings on its
// worker thread with the other file facts), so none of this touches the disk.
#include "recent/KLItem.h"

#include <QString>
#include <QStringList>
#include <optional>

struct KLCellFacts {
    QString name;   // the file's full name
    QString folder; // its folder, "~/…" under the home folder
    QString date;   // as the cell's subtitle gives it
    std::optional<quint64> size;
    bool isFolder = false;
    int stackCount = 0; // above 0: a stack of that many items
    bool missing = false;
    QStringList tags;
    double rating = 0; // 0: not rated
};

namespace KLCellText {
// The facts of an item, from its caches (memory only).
KLCellFacts factsForItem(const KLItemPtr &item);

// "Folder", "PDF file", "File" (by the name's extension; the file is never examined).
QString kindText(const KLCellFacts &facts);
// "3 stars", "1 star", "3.5 stars"; empty when not rated.
QString ratingText(double rating);
// Stars rounded to the nearest whole one (a half rounds up), clamped to 0…5.
int wholeStars(double rating);

// A name as one line: a newline or carriage return shows as "↵", a tab as "→", other control
// characters as "\uFFFD", so that a name holding them neither breaks the cell's line nor hides
// them (symbols the usual fonts carry; the Control Pictures block is missing from DejaVu Sans).
QString oneLine(const QString &text);

// One line per fact; lines without a value are left out.
QString toolTip(const KLCellFacts &facts);
// One sentence of comma-separated parts, for screen readers.
QString accessibleDescription(const KLCellFacts &facts);

} // namespace KLCellText
