#include "util/Localized.h"

#include <QFile>
#include <QHash>
#include <mutex>

namespace KLLocalization {

namespace {
// Reads one quoted string starting at text[i] == '"'; handles \" \\ \n \t escapes.
bool readQuoted(const QString &text, qsizetype &i, QString *out)
{
    if (i >= text.size() || text[i] != QLatin1Char('"'))
        return false;
    ++i;
    QString value;
    while (i < text.size()) {
        const QChar c = text[i++];
        if (c == QLatin1Char('"')) {
            *out = value;
            return true;
        }
        if (c == QLatin1Char('\\') && i < text.size()) {
            const QChar e = text[i++];
            if (e == QLatin1Char('n'))
                value += QLatin1Char('\n');
            else if (e == QLatin1Char('t'))
                value += QLatin1Char('\t');
            else
                value += e;
        } else {
            value += c;
        }
    }
    return false;
}

void skipBlanksAndComments(const QString &text, qsizetype &i)
{
    while (i < text.size()) {
        if (text[i].isSpace()) {
            ++i;
        } else if (text.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? text.size() : end + 2;
        } else if (text.mid(i, 2) == QLatin1String("//")) {
            const qsizetype end = text.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? text.size() : end + 1;
        } else {
            break;
        }
    }
}
} // namespace

QHash<QString, QString> parseStringsTable(const QByteArray &data)
{
    QHash<QString, QString> table;
    const QString text = QString::fromUtf8(data);
    qsizetype i = 0;
    while (i < text.size()) {
        skipBlanksAndComments(text, i);
        if (i >= text.size())
            break;
        QString key, value;
        bool ok = readQuoted(text, i, &key);
        if (ok) {
            skipBlanksAndComments(text, i);
            ok = i < text.size() && text[i] == QLatin1Char('=');
            ++i;
            skipBlanksAndComments(text, i);
            ok = ok && readQuoted(text, i, &value);
            skipBlanksAndComments(text, i);
            if (ok && i < text.size() && text[i] == QLatin1Char(';'))
                ++i;
        }
        if (ok) {
            table.insert(key, value);
        } else {
            // Skip to the end of the broken entry and go on.
            const qsizetype end = text.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? text.size() : end + 1;
        }
    }
    return table;
}

QString substitute(QString text, const QStringList &args)
{
    // One pass over the text: a value that itself holds "%2" or "%AppName" (a file name, say)
    // is inserted as it is and never scanned again.
    static const QLatin1String appName("%AppName");
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('%') && i + 1 < text.size()) {
            const QChar next = text[i + 1];
            const int n = next.unicode() - '1';
            if (n >= 0 && n < 4 && n < args.size()) {
                out += args[n];
                ++i;
                continue;
            }
            if (QStringView(text).mid(i).startsWith(appName)) {
                out += QLatin1String("Kelso");
                i += appName.size() - 1;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace KLLocalization

namespace {
const QHash<QString, QString> &table()
{
    static QHash<QString, QString> strings;
    static std::once_flag once;
    std::call_once(once, [] {
        QFile file(QStringLiteral(":/strings/Localizable.strings"));
        if (file.open(QIODevice::ReadOnly))
            strings = KLLocalization::parseStringsTable(file.readAll());
    });
    return strings;
}
} // namespace

QString KLLocalized(const QString &key, const QStringList &args)
{
    return KLLocalization::substitute(table().value(key, key), args);
}

QString KLLocalized(const QString &key)
{
    return KLLocalized(key, {});
}
