#pragma once
// Helpers for the tag tests: scratch folders, the immutable flag (the tests run as root, where
// permission bits do not stop a write), and reading attributes with the system's own tools.
#include "platform/Defaults.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUuid>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TagTest {

// A fresh folder under the test home (ext4 here).
inline QString freshFolder(const QString &name)
{
    const QString dir = KelsoTest::home() + QStringLiteral("/") + name + QStringLiteral("-") +
                        QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(dir);
    return dir;
}

// A fresh folder on tmpfs (/dev/shm), which takes user attributes up to the full 4096 bytes.
inline QString freshShmFolder()
{
    const QString dir = QStringLiteral("/dev/shm/kelso-tags-test-") + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(dir);
    return dir;
}

inline QString makeFile(const QString &dir, const QString &name, const QByteArray &content = "x")
{
    const QString path = dir + QLatin1Char('/') + name;
    KelsoTest::writeFile(path, content);
    return path;
}

// Sets or clears the immutable flag; false when the file system or the process cannot.
inline bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// Clears the immutable flag when the scope ends, so the test home can be removed.
struct ImmutableGuard {
    QString path;
    bool active = false;
    explicit ImmutableGuard(const QString &p) : path(p) { active = setImmutable(path, true); }
    ~ImmutableGuard()
    {
        if (active)
            setImmutable(path, false);
    }
};

// Runs a program and answers its standard output (empty on failure).
inline QByteArray run(const QString &program, const QStringList &args, const QByteArray &input = {},
                      int *exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(30000))
        return {};
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// The value of an attribute as getfattr prints it (text form), or empty when it has none.
inline QByteArray getfattrValue(const QString &path, const QString &name)
{
    int code = 0;
    const QByteArray out =
        run(QStringLiteral("getfattr"),
            {QStringLiteral("--only-values"), QStringLiteral("-h"), QStringLiteral("-n"), name, path}, {}, &code);
    return code == 0 ? out : QByteArray();
}

// Picks the tag store for the process ("system" or "lumitag").
inline void useTagStore(const QString &store)
{
    Defaults::standard().setValue(QStringLiteral("KLTagStore"), store);
}

} // namespace TagTest
