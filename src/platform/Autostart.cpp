#include "platform/Autostart.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace Autostart {

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

QString programOfExec(const QString &exec)
{
    const QString s = exec.trimmed();
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
    return s.section(QLatin1Char(' '), 0, 0);
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
            else if (inEntry && line.startsWith(QLatin1String("Exec=")))
                exec = line.mid(5);
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

    QString exec = programPath;
    if (exec.contains(QLatin1Char(' ')) || exec.contains(QLatin1Char('"')))
        exec = QLatin1Char('"') + QString(exec).replace(QLatin1Char('"'), QStringLiteral("\\\"")) +
               QLatin1Char('"');
    QSaveFile out(candidate);
    if (!out.open(QIODevice::WriteOnly)) {
        if (error)
            *error = out.errorString();
        return false;
    }
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
