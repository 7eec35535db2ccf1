#pragma once
// The global pointer and the drag selection on X11, for the drop zone.
//
// - Pointer: XInput2 raw motion and raw button release, selected on the root window of a
//   connection of our own (raw events reach every client that asks, whoever grabbed the
//   pointer, which a drag source always does), and only from the start of a drag to the
//   release of the button: a pointer moving with no drag never wakes Kelso. During a drag,
//   each burst of motion asks the pointer for its position and buttons (xcb_query_pointer).
//   Nothing polls.
// - Drag selection: each new owner of XdndSelection (an XFixes notification) is a new drag
//   and bumps the change count. Sources keep the selection after the drop (Qt never gives it
//   up), so a drag ends at the raw release of the left button.
// - Dragged files: at each new owner the selection is converted to text/uri-list with the
//   notification's selection timestamp (sources refuse CurrentTime). The answer arrives on
//   the same connection; nothing waits for it. A source that has not answered within
//   kAnswerLimitMs counts as a drag of no files.
//
// On Wayland, or a server without XInput 2.2 or XFixes, create() answers none: there is no
// global pointer to follow there.
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <memory>
#include <optional>

class X11DragMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kAnswerLimitMs = 300;

    // The monitor of this desktop, or none (not X11, an extension missing, no connection).
    static std::unique_ptr<X11DragMonitor> create(QObject *parent = nullptr);
    ~X11DragMonitor() override;

    // Bumped by each new owner of the drag selection.
    quint64 changeCount() const;
    // The current drag's local files (file URLs only); none while its source has not
    // answered; empty for a drag of no files, a source that did not answer in time, or a list
    // too large to come in one piece.
    std::optional<QStringList> draggedFiles() const;

    // The paths of the file URLs in a text/uri-list (comments, blank lines and other schemes
    // skipped; CR LF or LF line ends; percent escapes decoded).
    static QStringList filesFromUriList(const QByteArray &uriList);

Q_SIGNALS:
    // The pointer moved with the left button held while a drag was on; Qt's global
    // coordinates.
    void leftMouseDragged(const QPoint &globalPos);
    // The left button went up anywhere on the desktop.
    void leftMouseUp();
    // A new drag began somewhere on the desktop (the change count went up).
    void dragStarted();
    // draggedFiles() became known for the current drag.
    void draggedFilesKnown();

private:
    struct Private;
    explicit X11DragMonitor(std::unique_ptr<Private> d, QObject *parent);
    void readEvents();
    std::unique_ptr<Private> d;
};
