#include "browser/search/KLSearchBrowserCell.h"

#include <QApplication>

namespace {
QFont resultFont()
{
    QFont f = QApplication::font();
    f.setPointSizeF(11);
    return f;
}
} // namespace

KLSearchBrowserCell::KLSearchBrowserCell(KLImageBrowserView *view) : KLImageBrowserCell(view)
{
    setTextStyles(resultTitleStyle(), resultSubtitleStyle(), resultTitleStyle());
}

KLCellTextStyle KLSearchBrowserCell::resultTitleStyle()
{
    return {resultFont(), Qt::white};
}

KLCellTextStyle KLSearchBrowserCell::resultSubtitleStyle()
{
    // Grey 0.6 at full opacity.
    return {resultFont(), QColor::fromRgbF(0.6f, 0.6f, 0.6f, 1.0f)};
}
