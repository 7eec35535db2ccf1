#pragma once
// KLSearchBrowserView: the grid of search results. It is the panes' grid (keys, context menu,
// preview, drags out that step the window aside) with what differs for results:
// - Return or Enter opens the tag editor for the selected results (never the file);
// - results are not the program's list: Delete, Backspace, F2 and Ctrl+Z do nothing here;
// - a drag offers copying only while KLAlwaysCopyOnDrag is on (no move, so no file manager
//   can take the file away or trash it), every operation otherwise;
// - when a drag ends, the dragged files may join the Cooler (also after a drop on a Trash),
//   and the window hides itself or comes back as after a drag out of a pane.
#include "browser/KLImageBrowserView.h"

class KLSearchBrowserView : public KLImageBrowserView
{
    Q_OBJECT
public:
    explicit KLSearchBrowserView(QWidget *parent = nullptr);

    // The operation mask a drag from the results offers (copy bit only when always copying).
    static unsigned sourceOperationMask(bool alwaysCopy);
    Qt::DropActions offeredDragActions(bool alwaysCopy) const override;
    void draggingSessionEnded(Qt::DropAction result, bool droppedInKelso, const QList<KLItemPtr> &dragged,
                              const QList<QUrl> &urls, const QDateTime &started) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
