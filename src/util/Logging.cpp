#include "util/Logging.h"

#include <cstdio>
#include <cstring>

Q_LOGGING_CATEGORY(lcApp, "kelso.app", QtWarningMsg)
// Its lines are written only when KELSO_TRACE_LIFECYCLE asks for them, so they need no rule too.
Q_LOGGING_CATEGORY(lcLifecycle, "kelso.lifecycle", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDBus, "kelso.dbus", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFsEvents, "kelso.fsevents", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecent, "kelso.recent", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTags, "kelso.tags", QtWarningMsg)
Q_LOGGING_CATEGORY(lcFileOps, "kelso.fileops", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPrefs, "kelso.prefs", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPlatform, "kelso.platform", QtWarningMsg)
Q_LOGGING_CATEGORY(lcThumbs, "kelso.thumbs", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBrowser, "kelso.browser", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCooler, "kelso.cooler", QtWarningMsg)

namespace KelsoLog {

namespace {

void writeLine(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = formatLine(context.category, message).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

QString formatLine(const char *category, const QString &message)
{
    static constexpr char kOwn[] = "kelso.";
    if (!category || !*category || std::strcmp(category, "default") == 0)
        return QStringLiteral("kelso: ") + message;
    const char *area = std::strncmp(category, kOwn, sizeof kOwn - 1) == 0 ? category + sizeof kOwn - 1 : category;
    return QStringLiteral("kelso[%1]: ").arg(QString::fromUtf8(area)) + message;
}

void installMessageFormat()
{
    if (qEnvironmentVariableIsSet("QT_MESSAGE_PATTERN"))
        return;
    qInstallMessageHandler(writeLine);
}

} // namespace KelsoLog
