#include "platform/XPSandboxUtils.h"

#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "util/Logging.h"

#include <QFileInfo>
#include <optional>
#include <sys/stat.h>

namespace XPSandboxUtils {

namespace {
const QString kRootKey = QStringLiteral("KPRootFolderBookmarkData");
}

bool fileSandboxInUse()
{
    return false;
}
bool hasFullDiskAccess()
{
    return true;
}
bool alreadyGrantedAccess()
{
    return true;
}
QUrl rootAccessURL()
{
    return QUrl::fromLocalFile(QStringLiteral("/"));
}
bool fileIsUnderRoot(const QString &)
{
    return true;
}

void prepareNSOpenPanel(OpenPanelConfig *panel)
{
    if (!panel)
        return;
    const QString app = QStringLiteral("Kelso");
    panel->canChooseDirectories = true;
    panel->canChooseFiles = false;
    panel->allowsMultipleSelection = false;
    panel->title = QStringLiteral("Choose Root Folder For %1").arg(app);
    panel->prompt = QStringLiteral("Choose This Folder");
    panel->message = QStringLiteral("Choose the root folder you want %1 to have access to:").arg(app);
}

std::optional<Error> handleUserSelectedURL(const QUrl &url)
{
    if (url.isEmpty() || !url.isLocalFile())
        return Error{QStringLiteral("com.tallow"), -1, QStringLiteral("Cannot select an empty URL")};
    // The path record stands for a bookmark: enough to find the folder again by path or inode.
    const QString path = QFileInfo(url.toLocalFile()).absoluteFilePath();
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        const Error error{QStringLiteral("NSPOSIXErrorDomain"), errno, QString::fromLocal8Bit(strerror(errno))};
        qCWarning(lcApp, "error %s", qUtf8Printable(error.description));
        return error;
    }
    const QVariantMap record{{QStringLiteral("path"), path},
                             {QStringLiteral("device"), qint64(st.st_dev)},
                             {QStringLiteral("inode"), qint64(st.st_ino)}};
    Defaults::standard().setValue(kRootKey, Plist::toBinary(record));
    return std::nullopt;
}

QString rootFolderPath()
{
    const QVariant record = Plist::fromData(Defaults::standard().dataForKey(kRootKey));
    return record.toMap().value(QStringLiteral("path")).toString();
}

} // namespace XPSandboxUtils
