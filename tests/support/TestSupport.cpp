#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cstdlib>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace KelsoTest {

namespace {
QString g_home;
}

void isolateHome()
{
    // Not under /tmp or /var and not in a hidden folder: the recent-files rules ignore
    // everything in system roots and hidden folders, so a test home there would see nothing.
    QByteArray base = qgetenv("KELSO_TEST_TMPDIR");
    if (base.isEmpty()) {
        const passwd *pw = getpwuid(getuid());
        base = QByteArray(pw && pw->pw_dir ? pw->pw_dir : "/root") + "/kelso-test-homes";
    }
    mkdir(base.constData(), 0700);
    QByteArray tmpl = base + "/home-XXXXXX";
    char *made = mkdtemp(tmpl.data());
    if (!made) {
        fprintf(stderr, "cannot create a test home under %s\n", base.constData());
        abort();
    }
    g_home = QString::fromLocal8Bit(made);
    const QByteArray h = made;
    setenv("HOME", h.constData(), 1);
    setenv("XDG_CONFIG_HOME", (h + "/.config").constData(), 1);
    setenv("XDG_DATA_HOME", (h + "/.local/share").constData(), 1);
    setenv("XDG_CACHE_HOME", (h + "/.cache").constData(), 1);
    setenv("XDG_STATE_HOME", (h + "/.local/state").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (h + "/.run").constData(), 1);
    QDir().mkpath(QString::fromLocal8Bit(h + "/.run"));
    QFile::setPermissions(QString::fromLocal8Bit(h + "/.run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    std::atexit([] {
        if (!g_home.isEmpty() && qgetenv("KELSO_KEEP_TEST_HOME").isEmpty())
            QDir(g_home).removeRecursively();
    });
}

QString home()
{
    return g_home;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
    ASSERT_EQ(f.write(content), content.size());
}

QStringList makeFiles(const QString &folder, int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i) {
        const QString p = QStringLiteral("%1/%2/file%3.txt").arg(home(), folder).arg(i);
        writeFile(p);
        out.append(p);
    }
    return out;
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace KelsoTest
