#include "prefs/KLSettingsWatch.h"

#include "platform/Defaults.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMetaObject>
#include <QTimer>

KLSettingsWatch::KLSettingsWatch(Defaults &defaults, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_watcher(new QFileSystemWatcher(this)), m_settle(new QTimer(this))
{
    m_pool.setMaxThreadCount(1);
    m_pool.setObjectName(QStringLiteral("kelso-prefs-watch"));
    m_settle->setSingleShot(true);
    m_settle->setInterval(kSettleMs);
    connect(m_settle, &QTimer::timeout, this, &KLSettingsWatch::lookSoon);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &KLSettingsWatch::noticed);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &KLSettingsWatch::noticed);
    rewatch();
}

KLSettingsWatch::~KLSettingsWatch()
{
    m_pool.waitForDone();
}

void KLSettingsWatch::rewatch()
{
    const QFileInfo file(m_defaults.filePath());
    // On a first start the folder may not exist yet: watch the nearest folder that does, whose
    // change (the folder being made) brings the watch one step closer.
    QString folder = file.absolutePath();
    while (!QFileInfo(folder).isDir() && folder != QFileInfo(folder).absolutePath())
        folder = QFileInfo(folder).absolutePath();
    const QStringList watched = m_watcher->directories();
    if (!watched.contains(folder))
        m_watcher->addPath(folder);
    // Folders watched on the way there are let go once the settings folder exists.
    for (const QString &other : watched)
        if (other != folder)
            m_watcher->removePath(other);
    // A file replaced by rename is a new file: the watch on the old one ended with it.
    if (!m_watcher->files().contains(file.absoluteFilePath()) && file.exists())
        m_watcher->addPath(file.absoluteFilePath());
}

void KLSettingsWatch::noticed()
{
    rewatch();
    // Also when the file was already written before the watch reached its folder: the look
    // reads whatever is there now.
    m_settle->start();
}

void KLSettingsWatch::lookSoon()
{
    m_pool.start([this] {
        m_defaults.reloadIfChanged();
        QMetaObject::invokeMethod(this, &KLSettingsWatch::looked, Qt::QueuedConnection);
    });
}

void KLSettingsWatch::waitForLook()
{
    m_pool.waitForDone();
}
