#pragma once
// KLSearchBrowserCell: the cells of the search results grid. They paint as the panes' cells do
// (picture, title, subtitle), with the results' own text styles: titles in white, the folder
// line in a light grey, both in the 11-point system font.
#include "browser/KLImageBrowserCell.h"

class KLSearchBrowserCell : public KLImageBrowserCell
{
    Q_OBJECT
public:
    explicit KLSearchBrowserCell(KLImageBrowserView *view);

    static KLCellTextStyle resultTitleStyle();
    static KLCellTextStyle resultSubtitleStyle();
};
