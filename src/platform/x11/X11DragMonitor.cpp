#include "platform/x11/X11DragMonitor.h"

#include "util/FileUrls.h"
#include "util/Logging.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <cstdlib>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

namespace {

// Owners for what xcb hands out with malloc.
struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, ConnectionDeleter>;

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    const auto cookie = xcb_intern_atom(c, 0, uint16_t(strlen(name)), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Up to 4 MB of uri-list in one piece; a larger list comes by INCR and is far beyond the 19
// files the zone takes.
constexpr uint32_t kMaxPropertyLongs = 1u << 20;

} // namespace

struct X11DragMonitor::Private {
    // Raw motion and raw release of the left button on the root window, or nothing. Selected
    // only while a drag is on, so that a pointer moving with no drag never wakes Kelso.
    void selectRawEvents(bool on);

    XcbConnection connection;
    xcb_window_t root = XCB_NONE;
    xcb_window_t window = XCB_NONE; // receives the converted selection
    xcb_atom_t xdndSelection = XCB_ATOM_NONE;
    xcb_atom_t uriList = XCB_ATOM_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_atom_t incr = XCB_ATOM_NONE;
    uint8_t xiOpcode = 0;
    uint8_t xfixesFirstEvent = 0;
    QSocketNotifier *notifier = nullptr;
    QTimer answerLimit;

    quint64 changeCount = 0;
    // A drag began and its button has not come up: only then is the pointer worth asking.
    bool armed = false;
    xcb_timestamp_t requestTime = 0;
    std::optional<QStringList> files = QStringList();
    bool failed = false;
};

void X11DragMonitor::Private::selectRawEvents(bool on)
{
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } rawMask;
    // The master devices: one event per movement, whichever physical device (or XTEST, for
    // synthetic input) made it. A pointer warp is no device input and makes none.
    rawMask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    rawMask.head.mask_len = 1;
    rawMask.mask = on ? XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE : 0;
    xcb_input_xi_select_events(connection.get(), root, 1, &rawMask.head);
    xcb_flush(connection.get());
}

std::unique_ptr<X11DragMonitor> X11DragMonitor::create(QObject *parent)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto d = std::make_unique<Private>();
    int screenNumber = 0;
    d->connection.reset(xcb_connect(nullptr, &screenNumber));
    xcb_connection_t *c = d->connection.get();
    if (!c || xcb_connection_has_error(c)) {
        qCWarning(lcPlatform, "drag monitor: cannot open a connection to the X server");
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return nullptr;
    d->root = screens.data->root;

    // XFixes first: the version must be asked before any other XFixes request.
    const xcb_query_extension_reply_t *fixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (!fixes || !fixes->present) {
        qCWarning(lcPlatform, "drag monitor: the X server has no XFixes; the drop zone will not follow drags");
        return nullptr;
    }
    XcbReply<xcb_xfixes_query_version_reply_t> fixesVersion(
        xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
    d->xfixesFirstEvent = fixes->first_event;

    const xcb_query_extension_reply_t *xi = xcb_get_extension_data(c, &xcb_input_id);
    if (!xi || !xi->present) {
        qCWarning(lcPlatform, "drag monitor: the X server has no XInput; the drop zone will not follow drags");
        return nullptr;
    }
    // 2.2: raw events reach us whoever holds a grab.
    XcbReply<xcb_input_xi_query_version_reply_t> xiVersion(
        xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
    if (!xiVersion || (xiVersion->major_version < 2) ||
        (xiVersion->major_version == 2 && xiVersion->minor_version < 2)) {
        qCWarning(lcPlatform, "drag monitor: the X server has no XInput 2.2; the drop zone will not follow drags");
        return nullptr;
    }
    d->xiOpcode = xi->major_opcode;

    d->xdndSelection = internAtom(c, "XdndSelection");
    d->uriList = internAtom(c, "text/uri-list");
    d->property = internAtom(c, "KELSO_DRAGGED_FILES");
    d->incr = internAtom(c, "INCR");

    d->window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, d->window, d->root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);

    xcb_xfixes_select_selection_input(c, d->window, d->xdndSelection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);

    xcb_flush(c);
    if (xcb_connection_has_error(c))
        return nullptr;
    return std::unique_ptr<X11DragMonitor>(new X11DragMonitor(std::move(d), parent));
}

X11DragMonitor::X11DragMonitor(std::unique_ptr<Private> priv, QObject *parent) : QObject(parent), d(std::move(priv))
{
    d->notifier = new QSocketNotifier(xcb_get_file_descriptor(d->connection.get()), QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, &X11DragMonitor::readEvents);
    d->answerLimit.setSingleShot(true);
    d->answerLimit.setInterval(kAnswerLimitMs);
    connect(&d->answerLimit, &QTimer::timeout, this, [this] {
        qCInfo(lcPlatform, "drag monitor: the drag's source did not say what it drags; not a drag of files");
        d->files = QStringList();
        Q_EMIT draggedFilesKnown();
    });
}

X11DragMonitor::~X11DragMonitor() = default;

quint64 X11DragMonitor::changeCount() const
{
    return d->changeCount;
}

std::optional<QStringList> X11DragMonitor::draggedFiles() const
{
    return d->files;
}

QStringList X11DragMonitor::filesFromUriList(const QByteArray &uriList)
{
    QStringList paths;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed(); // also the CR of CR LF
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QString path = FileUrls::localPath(QUrl::fromEncoded(line, QUrl::StrictMode));
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

void X11DragMonitor::readEvents()
{
    xcb_connection_t *c = d->connection.get();
    if (xcb_connection_has_error(c)) {
        if (!d->failed)
            qCWarning(lcPlatform, "drag monitor: the connection to the X server broke; drags are no longer followed");
        d->failed = true;
        d->notifier->setEnabled(false);
        return;
    }
    bool moved = false;
    bool released = false;
    auto handle = [&](xcb_generic_event_t *event) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_GE_GENERIC) {
            auto *ge = reinterpret_cast<xcb_ge_generic_event_t *>(event);
            if (ge->extension != d->xiOpcode)
                return;
            if (ge->event_type == XCB_INPUT_RAW_MOTION) {
                moved = true;
            } else if (ge->event_type == XCB_INPUT_RAW_BUTTON_RELEASE) {
                auto *raw = reinterpret_cast<xcb_input_raw_button_release_event_t *>(event);
                if (raw->detail == 1)
                    released = true;
            }
        } else if (type == d->xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY) {
            auto *notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t *>(event);
            if (notify->selection != d->xdndSelection || notify->owner == XCB_NONE)
                return;
            // A new drag: ask its source for the files, with the time it took the selection.
            ++d->changeCount;
            if (!d->armed)
                d->selectRawEvents(true);
            d->armed = true;
            d->files.reset();
            d->requestTime = notify->selection_timestamp;
            xcb_delete_property(c, d->window, d->property);
            xcb_convert_selection(c, d->window, d->xdndSelection, d->uriList, d->property, d->requestTime);
            xcb_flush(c);
            d->answerLimit.start();
            qCDebug(lcPlatform, "drag monitor: a new drag (owner 0x%x)", notify->owner);
            Q_EMIT dragStarted();
        } else if (type == XCB_SELECTION_NOTIFY) {
            auto *answer = reinterpret_cast<xcb_selection_notify_event_t *>(event);
            if (answer->requestor != d->window || answer->selection != d->xdndSelection ||
                answer->time != d->requestTime)
                return; // an earlier drag's answer
            d->answerLimit.stop();
            QStringList paths;
            if (answer->property != XCB_ATOM_NONE) {
                XcbReply<xcb_get_property_reply_t> value(xcb_get_property_reply(
                    c, xcb_get_property(c, 1, d->window, d->property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyLongs),
                    nullptr));
                if (value && value->type != d->incr && value->bytes_after == 0) {
                    const QByteArray text(static_cast<const char *>(xcb_get_property_value(value.get())),
                                          xcb_get_property_value_length(value.get()));
                    paths = filesFromUriList(text);
                } else if (value) {
                    qCInfo(lcPlatform, "drag monitor: the dragged list is too large to read; not shown");
                }
            }
            d->files = paths;
            qCDebug(lcPlatform, "drag monitor: the drag holds %lld files", qint64(paths.size()));
            Q_EMIT draggedFilesKnown();
        }
    };
    // Everything that arrived; then, after each look at the pointer, what arrived while its
    // reply was awaited (xcb queued it; the socket will not say so again).
    for (bool first = true;; first = false) {
        while (xcb_generic_event_t *event = first ? xcb_poll_for_event(c) : xcb_poll_for_queued_event(c)) {
            handle(event);
            std::free(event);
        }
        // Motion comes in bursts: one look at the pointer per burst.
        if (!moved || !d->armed)
            break;
        moved = false;
        XcbReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, xcb_query_pointer(c, d->root), nullptr));
        qCDebug(lcPlatform, "drag monitor: pointer %d,%d buttons 0x%x", pointer ? pointer->root_x : -1,
                pointer ? pointer->root_y : -1, pointer ? pointer->mask : 0);
        if (pointer && (pointer->mask & XCB_BUTTON_MASK_1)) {
            const QScreen *screen = QGuiApplication::primaryScreen();
            const double ratio = screen ? screen->devicePixelRatio() : 1.0;
            Q_EMIT leftMouseDragged(QPoint(int(pointer->root_x / ratio), int(pointer->root_y / ratio)));
        } else if (pointer) {
            // The button came up before the raw events were selected (a quick flick): the
            // drag is over all the same.
            released = true;
            break;
        }
    }
    if (released) {
        qCDebug(lcPlatform, "drag monitor: left button up");
        d->armed = false;
        d->selectRawEvents(false);
        Q_EMIT leftMouseUp();
    }
}
