#include "platform/thumbnailer/ThumbnailerEntry.h"

namespace Thumbnailer {

ThumbnailerEntry parseThumbnailerEntry(const QByteArray &content)
{
    ThumbnailerEntry entry;
    QString group;
    for (const QByteArray &raw : content.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            group = line;
            continue;
        }
        if (group != QLatin1String("[Thumbnailer Entry]"))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("TryExec"))
            entry.tryExec = value;
        else if (key == QLatin1String("MimeType"))
            entry.mimeTypes = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    return entry;
}

QStringList expandExec(const QString &exec, const QString &input, const QString &uri, const QString &output, int size)
{
    QStringList words;
    QString cur;
    bool inQuotes = false, haveWord = false;
    for (int i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                cur.append(exec.at(++i));
            } else if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else {
                cur.append(c);
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            inQuotes = true;
            haveWord = true;
        } else if (c.isSpace()) {
            if (haveWord || !cur.isEmpty())
                words.append(cur);
            cur.clear();
            haveWord = false;
        } else {
            cur.append(c);
        }
    }
    if (haveWord || !cur.isEmpty())
        words.append(cur);
    QStringList out;
    for (const QString &w : words) {
        QString r;
        for (int i = 0; i < w.size(); ++i) {
            if (w.at(i) == QLatin1Char('%') && i + 1 < w.size()) {
                const QChar code = w.at(++i);
                if (code == QLatin1Char('i'))
                    r += input;
                else if (code == QLatin1Char('u'))
                    r += uri;
                else if (code == QLatin1Char('o'))
                    r += output;
                else if (code == QLatin1Char('s'))
                    r += QString::number(size);
                else if (code == QLatin1Char('%'))
                    r += QLatin1Char('%');
                // unknown codes are dropped
            } else {
                r += w.at(i);
            }
        }
        out.append(r);
    }
    return out;
}

} // namespace Thumbnailer
