#include "browser/search/KLSearchBrowserView.h"

#include "browser/KLImageBrowserViewDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/search/KLSearchBrowserCell.h"

#include <QKeyEvent>
#include <QPointer>

KLSearchBrowserView::KLSearchBrowserView(QWidget *parent) : KLImageBrowserView(parent)
{
    setCell(new KLSearchBrowserCell(this));
}

unsigned KLSearchBrowserView::sourceOperationMask(bool alwaysCopy)
{
    return alwaysCopy ? KLDragOperation::Copy : KLDragOperation::Every;
}

Qt::DropActions KLSearchBrowserView::offeredDragActions(bool alwaysCopy) const
{
    return KLDragOperation::dropActionsForMask(sourceOperationMask(alwaysCopy));
}

void KLSearchBrowserView::draggingSessionEnded(Qt::DropAction result, bool, const QList<KLItemPtr> &,
                                               const QList<QUrl> &urls, const QDateTime &)
{
    KLImageBrowserViewDelegate *results = pane();
    QPointer<KLMainWindowController> controller = results ? results->mainWindowController() : nullptr;
    placeWindowAfterDrag(result, controller);
    // Results leave nothing to tidy after a drop on a Trash; the files may join the Cooler
    // whatever the target was.
    if (controller)
        controller->autoAddToCooler(urls);
}

void KLSearchBrowserView::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
    case Qt::Key_F2:
        event->accept();
        return;
    case Qt::Key_Z:
        if (mods == Qt::ControlModifier) {
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    KLImageBrowserView::keyPressEvent(event);
}
