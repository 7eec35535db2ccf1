#include "cooler/KLCoolerArguments.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <sys/stat.h>

namespace KLCoolerArguments {

namespace {

// An argument as the error message quotes it: a megabyte of text is cut short.
QString quoted(const QString &argument)
{
    constexpr int kShown = 80;
    QString shown = argument.size() > kShown ? argument.left(kShown) + QChar(0x2026) : argument;
    shown.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('\'') + shown + QLatin1Char('\'');
}

QString bad(int position, const QString &argument, const QString &why)
{
    return QStringLiteral("argument %1 %2: %3").arg(position).arg(why, quoted(argument));
}

bool looksLikeUri(const QString &argument)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return scheme.match(argument).hasMatch();
}

bool exists(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

Checked check(const QStringList &arguments, Need need)
{
    Checked out;
    if (arguments.size() > kMaxPathsPerCall) {
        out.error =
            QStringLiteral("too many paths in one call: %1 (at most %2)").arg(arguments.size()).arg(kMaxPathsPerCall);
        return out;
    }
    out.paths.reserve(arguments.size());
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const int position = i + 1;
        if (argument.isEmpty()) {
            out.error = bad(position, argument, QStringLiteral("is empty"));
            break;
        }
        QString path = argument;
        if (!argument.startsWith(QLatin1Char('/')) && looksLikeUri(argument)) {
            const QUrl url(argument);
            const bool localHost = url.host().isEmpty() || url.host() == QLatin1String("localhost");
            if (!url.isValid() || !url.isLocalFile() || !localHost) {
                out.error = bad(position, argument, QStringLiteral("is not a local file"));
                break;
            }
            path = url.toLocalFile();
        }
        if (!path.startsWith(QLatin1Char('/'))) {
            out.error = bad(position, argument, QStringLiteral("is not an absolute path"));
            break;
        }
        if (QFile::encodeName(path).size() >= kMaxPathBytes) {
            out.error = bad(position, argument, QStringLiteral("is longer than %1 bytes").arg(kMaxPathBytes - 1));
            break;
        }
        path = QDir::cleanPath(path);
        if (need == Need::ExistingFile && !exists(path)) {
            out.error = bad(position, argument, QStringLiteral("names no existing file"));
            break;
        }
        out.paths.append(path);
    }
    if (!out.error.isEmpty())
        out.paths.clear();
    return out;
}

} // namespace KLCoolerArguments
