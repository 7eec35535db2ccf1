#pragma once
// Small files that attack a decoder, made at test time (the SVG must name its own path).
#include "TestMedia.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

namespace HostileFiles {

// An SVG whose <image> names the file itself: QtSvg loads it again for the image, and again…
// until the stack overflows.
inline QByteArray selfReferencingSvg(const QString &ownPath)
{
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
                          "width='64' height='64'><image xlink:href='%1' width='64' height='64'/></svg>")
        .arg(ownPath)
        .toUtf8();
}

// A PDF whose page tree holds itself (with a cross-reference table, so the renderer trusts the
// structure instead of rebuilding it): looking for the first page never ends.
inline QByteArray loopingPdf()
{
    const QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [2 0 R] /Count 1 >>"};
    QByteArray out("%PDF-1.4\n");
    QList<int> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const int xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int o : offsets)
        out += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

// PNG's CRC-32 (reflected polynomial 0xEDB88320).
inline quint32 crc32(const QByteArray &data)
{
    quint32 c = 0xffffffffu;
    for (const char ch : data) {
        c ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xffffffffu;
}

inline QByteArray pngChunk(const char *type, const QByteArray &data)
{
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), out.data());
    const QByteArray body = QByteArray(type, 4) + data;
    out += body;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(crc32(body), crc.data());
    return out + crc;
}

// A PNG that announces `side` × `side` pixels (RGB) in a few hundred bytes: decoding it would
// take side² × 4 bytes.
inline QByteArray pngBomb(quint32 side = 30000)
{
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(side, ihdr.data());
    qToBigEndian<quint32>(side, ihdr.data() + 4);
    ihdr[8] = 8; // bit depth
    ihdr[9] = 2; // RGB
    // Rows of zeros (filter byte + pixels), compressed: the first few rows only.
    const QByteArray rows(int((side * 3 + 1) * 4), '\0');
    QByteArray z = qCompress(rows, 9).mid(4); // qCompress prefixes the length
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", z) +
           pngChunk("IEND", QByteArray());
}

// A photo-like JPEG cut off in the middle of its picture data.
inline QByteArray truncatedJpeg()
{
    QImage img(800, 600, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb((x * 7 + y) & 255, (y * 5) & 255, (x ^ y) & 255));
    const QByteArray whole = ThumbsTestMedia::encode(img, "jpeg", 90);
    return whole.left(whole.size() * 6 / 10);
}

} // namespace HostileFiles
