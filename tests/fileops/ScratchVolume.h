#pragma once
// A file system of its own, mounted in the test home, for moves across file systems: tmpfs by
// default (user attributes, like ext4), ramfs for a volume without user attributes. Mounting
// needs root or CAP_SYS_ADMIN (the tests run as root in CI); where it is refused, `why()` says
// so and the tests that need it skip with that message.
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QUuid>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

class ScratchVolume
{
public:
    explicit ScratchVolume(const QString &name, const char *type = "tmpfs", const char *options = "size=64m")
    {
        m_path = KelsoTest::home() + QStringLiteral("/") + name + QStringLiteral("-") +
                 QUuid::createUuid().toString(QUuid::Id128).left(8);
        QDir().mkpath(m_path);
        if (::mount(type, QFile::encodeName(m_path).constData(), type, 0, options) == 0) {
            m_mounted = true;
        } else {
            m_why = QStringLiteral("cannot mount a %1 at %2 (%3); the cross-file-system cases need root")
                        .arg(QLatin1String(type), m_path, QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
    ~ScratchVolume()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
        QDir().rmdir(m_path);
    }
    ScratchVolume(const ScratchVolume &) = delete;
    ScratchVolume &operator=(const ScratchVolume &) = delete;

    bool mounted() const { return m_mounted; }
    QString path() const { return m_path; }
    QString why() const { return m_why; }

    // Remounts it read-only (nothing on it can be removed, renamed or trashed).
    bool makeReadOnly()
    {
        return m_mounted &&
               ::mount(nullptr, QFile::encodeName(m_path).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QString m_path;
    QString m_why;
    bool m_mounted = false;
};
