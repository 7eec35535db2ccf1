#include "browser/KLPreviewPanel.h"

#include "util/Localized.h"

#include "browser/KLImageBrowserCell.h"
#include "thumbs/KPQuickLook.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

namespace {
const char *kPreviewer = "org.gnome.NautilusPreviewer";
const char *kPreviewerPath = "/org/gnome/NautilusPreviewer";

// Space or Escape closes Kelso's own preview window, as Space opened it.
class PreviewWindow : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Escape) {
            hide();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};
} // namespace

KLPreviewPanel &KLPreviewPanel::shared()
{
    static KLPreviewPanel *panel = new KLPreviewPanel;
    return *panel;
}

bool KLPreviewPanel::desktopPreviewerAvailable()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(QString::fromLatin1(kPreviewer)).value();
}

bool KLPreviewPanel::isOpen() const
{
    return m_desktopOpen || (m_window && m_window->isVisible());
}

void KLPreviewPanel::close()
{
    if (m_window)
        m_window->hide();
    if (m_desktopOpen) {
        QDBusMessage msg =
            QDBusMessage::createMethodCall(QString::fromLatin1(kPreviewer), QString::fromLatin1(kPreviewerPath),
                                           QString::fromLatin1(kPreviewer), QStringLiteral("Close"));
        QDBusConnection::sessionBus().asyncCall(msg);
        m_desktopOpen = false;
    }
    m_shownPath.clear();
}

void KLPreviewPanel::showPanel(const QList<KLItemPtr> &items, QWidget *parentWindow)
{
    if (items.isEmpty())
        return;
    const KLItemPtr item = items.first();
    // Space again on the shown file closes the panel.
    if (isOpen() && item->lastKnownPath() == m_shownPath) {
        close();
        return;
    }
    if (showWithDesktopPreviewer(item, parentWindow))
        return;
    showOwnWindow(item);
}

void KLPreviewPanel::updateController(const QList<KLItemPtr> &items)
{
    if (!isOpen() || items.isEmpty())
        return;
    if (items.first()->lastKnownPath() == m_shownPath)
        return;
    if (m_desktopOpen)
        showWithDesktopPreviewer(items.first(), nullptr);
    else
        showOwnWindow(items.first());
}

bool KLPreviewPanel::showWithDesktopPreviewer(const KLItemPtr &item, QWidget *parentWindow)
{
    if (!desktopPreviewerAvailable())
        return false;
    QDBusMessage msg =
        QDBusMessage::createMethodCall(QString::fromLatin1(kPreviewer), QString::fromLatin1(kPreviewerPath),
                                       QString::fromLatin1(kPreviewer), QStringLiteral("ShowFile"));
    const int xid = parentWindow ? int(parentWindow->winId()) : 0;
    msg << QUrl::fromLocalFile(item->lastKnownPath()).toString() << xid << false;
    QDBusConnection::sessionBus().asyncCall(msg);
    m_desktopOpen = true;
    m_shownPath = item->lastKnownPath();
    return true;
}

void KLPreviewPanel::showOwnWindow(const KLItemPtr &item)
{
    if (!m_window) {
        m_window = new PreviewWindow(nullptr);
        // Like a preview panel: it never takes the keyboard, so the arrows and Space keep
        // working in the grid.
        m_window->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
        m_window->setAttribute(Qt::WA_ShowWithoutActivating);
        m_window->setObjectName(QStringLiteral("KLPreviewWindow"));
        auto *layout = new QVBoxLayout(m_window);
        m_picture = new QLabel(m_window);
        m_picture->setAlignment(Qt::AlignCenter);
        m_picture->setMinimumSize(400, 400);
        m_name = new QLabel(m_window);
        m_name->setAlignment(Qt::AlignCenter);
        m_name->setWordWrap(true);
        QFont f = m_name->font();
        f.setPointSizeF(13);
        f.setBold(true);
        m_name->setFont(f);
        layout->addWidget(m_picture, 1);
        layout->addWidget(m_name);
        m_window->resize(480, 500);
    }
    m_shownPath = item->lastKnownPath();
    m_window->setWindowTitle(item->displayName());
    m_name->setText(item->displayName());
    m_picture->setAccessibleName(KLLocalized(QStringLiteral("KLPreviewPicture"), {item->displayName()}));
    // The largest picture in memory; the renderer's cache fills it in when it is asked for.
    QImage picture = KLImageBrowserCell::pictureForItem(item);
    if (picture.isNull())
        picture = KLImageBrowserCell::placeholderForItem(item, 256);
    if (picture.isNull())
        m_picture->setText(item->lastKnownPath());
    else
        m_picture->setPixmap(
            QPixmap::fromImage(picture.scaled(400, 400, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    // The large picture is rendered on the thumbnail queue and replaces the small one when it
    // arrives, if this file is still the one shown.
    const QString path = item->lastKnownPath();
    QPointer<QLabel> label = m_picture;
    ThumbnailRequest request;
    request.path = path;
    request.maxSize = QSizeF(400, 400);
    request.fileToRender = path;
    request.highPriority = true;
    request.requester = this;
    KPQuickLook::thumbnailImageCreate(
        request,
        [this, path, label](const ThumbnailResult &result) {
            if (!label || !result.image || m_shownPath != path)
                return;
            const QImage large = result.image->peekImage();
            if (!large.isNull())
                label->setPixmap(
                    QPixmap::fromImage(large.scaled(400, 400, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        },
        true);
    // At the left screen edge, as the panel moves there.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_window->move(area.x(), area.y() + (area.height() - m_window->height()) / 2);
    }
    m_window->show();
    m_window->raise();
}
