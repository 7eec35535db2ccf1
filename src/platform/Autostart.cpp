#include "platform/Autostart.h"

#include "platform/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace Autostart {

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

namespace {
// Desktop-entry string values escape "\s", "\n", "\t", "\r" and "\\"; that is undone before the
// Exec quoting rules apply. Unknown escapes are kept as they are.
QString unescapeStringValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 >= value.size()) {
            out += value[i];
            continue;
        }
        const QChar e = value[++i];
        if (e == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (e == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (e == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (e == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (e == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(e);
    }
    return out;
}

// The Exec value for a program path: quoted when it holds a reserved character, with '"', '`',
// '$' and '\\' escaped inside the quotes, and then the string-value escaping of backslashes.
QString execValueForProgram(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);
    if (!needsQuotes)
        return program;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    QString escaped;
    for (const QChar c : quoted) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            escaped += QStringLiteral("\\t");
        else
            escaped += c;
    }
    return escaped;
}
} // namespace

QString programOfExec(const QString &exec)
{
    const QString s = unescapeStringValue(exec).trimmed();
    if (s.startsWith(QLatin1Char('"'))) {
        QString out;
        for (qsizetype i = 1; i < s.size(); ++i) {
            if (s[i] == QLatin1Char('\\') && i + 1 < s.size()) {
                out += s[++i];
            } else if (s[i] == QLatin1Char('"')) {
                return out;
            } else {
                out += s[i];
            }
        }
        return out;
    }
    const qsizetype end = s.indexOf(QRegularExpression(QStringLiteral("[ \t]")));
    return end < 0 ? s : s.left(end);
}

QList<Entry> entries()
{
    QList<Entry> out;
    const QDir dir(folder());
    const QStringList files = dir.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        bool inEntry = false;
        QString exec;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.startsWith(QLatin1Char('[')))
                inEntry = line == QLatin1String("[Desktop Entry]");
            else if (inEntry && line.startsWith(QLatin1String("Exec"))) {
                // "Exec=…", also with blanks around "=" (allowed); "Exec[xx]=…" is another key.
                const qsizetype eq = line.indexOf(QLatin1Char('='));
                if (eq > 0 && line.left(eq).trimmed() == QLatin1String("Exec"))
                    exec = line.mid(eq + 1).trimmed();
            }
        }
        if (!exec.isEmpty())
            out.append({file.fileName(), programOfExec(exec)});
    }
    return out;
}

bool addEntry(const QString &fileName, const QString &programPath, QString *error)
{
    QDir dir(folder());
    if (!dir.mkpath(QStringLiteral("."))) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(dir.path());
        return false;
    }
    QString base = fileName;
    base.chop(QStringLiteral(".desktop").size());
    QString candidate = dir.filePath(fileName);
    for (int n = 1; QFile::exists(candidate) && n < 1000; ++n)
        candidate = dir.filePath(base + QLatin1Char(' ') + QString::number(n) + QStringLiteral(".desktop"));

    const QString exec = execValueForProgram(programPath);
    QSaveFile out(candidate);
    if (!StoreFile::open(out, false, error))
        return false;
    QTextStream ts(&out);
    ts << "[Desktop Entry]\n"
       << "Type=Application\n"
       << "Name=Kelso\n"
       << "Comment=Recent files at your fingertips\n"
       << "Exec=" << exec << "\n"
       << "Icon=kelso\n"
       << "Terminal=false\n"
       << "X-GNOME-Autostart-enabled=true\n"
       << "X-GNOME-Autostart-Delay=3\n";
    ts.flush();
    if (!out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

bool removeEntry(const Entry &entry)
{
    return QFile::remove(entry.file);
}

} // namespace Autostart
