#include "platform/thumbnailer/ThumbnailerEntry.h"

#include <QList>

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

namespace {

struct Piece {
    QString text;
    bool quoted = false;
};

// Splits an Exec value into words, each a run of quoted and unquoted pieces. Inside quotes a
// backslash takes the next character as it is. False when a quote is left open.
bool splitWords(const QString &exec, QList<QList<Piece>> *words)
{
    QList<Piece> word;
    QString cur;
    bool inQuotes = false, inWord = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                cur.append(exec.at(++i));
            } else if (c == QLatin1Char('"')) {
                word.append({cur, true}); // "" is an empty argument of its own
                cur.clear();
                inQuotes = false;
            } else {
                cur.append(c);
            }
            continue;
        }
        if (c == QLatin1Char('"') || c.isSpace()) {
            if (!cur.isEmpty())
                word.append({cur, false});
            cur.clear();
        }
        if (c == QLatin1Char('"')) {
            inQuotes = true;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words->append(word);
            word.clear();
            inWord = false;
        } else {
            cur.append(c);
            inWord = true;
        }
    }
    if (inQuotes)
        return false;
    if (!cur.isEmpty())
        word.append({cur, false});
    if (inWord)
        words->append(word);
    return true;
}

bool isDeprecatedCode(QChar code)
{
    return QStringLiteral("dDnNvm").contains(code);
}

QStringList refuse(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return {};
}

} // namespace

QStringList expandExec(const QString &exec, const QString &input, const QString &uri, const QString &output, int size,
                       QString *error)
{
    QList<QList<Piece>> words;
    if (!splitWords(exec, &words))
        return refuse(error, QStringLiteral("a quote is not closed"));
    QStringList out;
    for (const QList<Piece> &word : std::as_const(words)) {
        // A quoted argument that is one field code and nothing else ("%i") means what the bare
        // code means; any other code inside quotes is refused.
        const bool loneQuotedCode = word.size() == 1 && word.first().quoted && word.first().text.size() == 2 &&
                                    word.first().text.at(0) == QLatin1Char('%');
        QString arg;
        bool keep = false; // false: the word was only removed codes, and gives no argument
        for (const Piece &piece : word) {
            keep = keep || (piece.quoted && piece.text.isEmpty());
            for (qsizetype i = 0; i < piece.text.size(); ++i) {
                const QChar c = piece.text.at(i);
                if (c != QLatin1Char('%')) {
                    arg.append(c);
                    keep = true;
                    continue;
                }
                if (i + 1 >= piece.text.size())
                    return refuse(error, QStringLiteral("a % sign ends an argument without a field code"));
                const QChar code = piece.text.at(++i);
                if (code == QLatin1Char('%')) {
                    arg.append(QLatin1Char('%'));
                    keep = true;
                    continue;
                }
                if (piece.quoted && !loneQuotedCode)
                    return refuse(
                        error,
                        QStringLiteral("the field code %1 is inside a quoted argument").arg(QLatin1Char('%') + code));
                if (isDeprecatedCode(code))
                    continue;
                if (code == QLatin1Char('i'))
                    arg.append(input);
                else if (code == QLatin1Char('u'))
                    arg.append(uri);
                else if (code == QLatin1Char('o'))
                    arg.append(output);
                else if (code == QLatin1Char('s'))
                    arg.append(QString::number(size));
                else
                    return refuse(error,
                                  QStringLiteral("it holds the unknown field code %1").arg(QLatin1Char('%') + code));
                keep = true;
            }
        }
        if (keep)
            out.append(arg);
    }
    if (out.isEmpty())
        return refuse(error, QStringLiteral("it names no command"));
    return out;
}

} // namespace Thumbnailer
