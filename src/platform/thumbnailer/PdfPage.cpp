// The first page of a PDF through QtPdf, built as a module of its own. QtPdf and what it pulls
// in (QtNetwork, Kerberos, proxy and compression libraries) take a millisecond or two to load,
// which every start of Kelso would pay although many sessions never render a PDF; the
// thumbnailer loads this module the first time it meets one.
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QSize>
#include <QString>

extern "C" Q_DECL_EXPORT bool kelsoRenderPdfFirstPage(const QString &path, const QSize &box, QImage *out)
{
    if (!out)
        return false;
    QPdfDocument doc;
    if (doc.load(path) != QPdfDocument::Error::None || doc.pageCount() < 1)
        return false;
    const QSizeF points = doc.pagePointSize(0);
    if (points.isEmpty())
        return false;
    QSize target = points.toSize().expandedTo(QSize(1, 1));
    target = target.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    const QImage page = doc.render(0, target);
    if (page.isNull())
        return false;
    // Pages without a background would come out transparent: paper is white.
    QImage paper(page.size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter p(&paper);
    p.drawImage(0, 0, page);
    p.end();
    *out = paper;
    return true;
}

// The text of the pages in order (a line break between pages), cut at `capChars` characters.
extern "C" Q_DECL_EXPORT bool kelsoPdfText(const QString &path, qint64 capChars, QString *out)
{
    if (!out)
        return false;
    QPdfDocument doc;
    if (doc.load(path) != QPdfDocument::Error::None)
        return false;
    QString text;
    for (int page = 0; page < doc.pageCount() && text.size() < capChars; ++page) {
        if (!text.isEmpty())
            text.append(QLatin1Char('\n'));
        text.append(doc.getAllText(page).text());
    }
    if (text.size() > capChars) {
        text.truncate(capChars);
        if (!text.isEmpty() && text.back().isHighSurrogate())
            text.chop(1);
    }
    *out = text;
    return true;
}
