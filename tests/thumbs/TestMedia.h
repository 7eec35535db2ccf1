#pragma once
// Test pictures made at test time: JPEG with an EXIF orientation, GIF (Qt cannot write GIF, so
// a tiny encoder with uncompressed LZW codes), and the usual Qt writers.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QString>

namespace ThumbsTestMedia {

// Top half `top`, bottom half `bottom`: the orientation of a thumbnail shows which way the
// picture was turned.
inline QImage twoTone(int w, int h, QColor top, QColor bottom)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(bottom);
    for (int y = 0; y < h / 2; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = top.rgb();
    }
    return img;
}

inline QByteArray encode(const QImage &img, const char *format, int quality = -1)
{
    QByteArray out;
    QBuffer buf(&out);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format, quality);
    return out;
}

// A JPEG whose EXIF orientation tag says `orientation` (6: turn 90° clockwise to show it).
inline QByteArray jpegWithOrientation(const QImage &img, int orientation)
{
    const QByteArray jpg = encode(img, "jpeg", 90);
    QByteArray exif("Exif\0\0", 6);
    exif += QByteArray("MM\0\x2a\0\0\0\x08", 8);       // big-endian TIFF header, IFD at 8
    exif += QByteArray("\0\x01", 2);                   // one entry
    exif += QByteArray("\x01\x12\0\x03\0\0\0\x01", 8); // Orientation, SHORT, count 1
    exif += char(0);
    exif += char(orientation);
    exif += QByteArray("\0\0", 2);
    exif += QByteArray("\0\0\0\0", 4); // no next IFD
    const int len = exif.size() + 2;
    QByteArray app1("\xff\xe1", 2);
    app1 += char(len >> 8);
    app1 += char(len & 0xff);
    app1 += exif;
    return jpg.left(2) + app1 + jpg.mid(2);
}

// A two-colour GIF (palette `c0`, `c1`); pixel (x, y) takes c1 when `second(x, y)`.
template <typename F> QByteArray gif(int w, int h, QColor c0, QColor c1, F second)
{
    QByteArray out("GIF89a");
    auto u16 = [&](int v) {
        out += char(v & 0xff);
        out += char((v >> 8) & 0xff);
    };
    u16(w);
    u16(h);
    out += char(0x80); // global colour table of 2 entries
    out += char(0);
    out += char(0);
    for (QColor c : {c0, c1}) {
        out += char(c.red());
        out += char(c.green());
        out += char(c.blue());
    }
    out += char(0x2c);
    u16(0);
    u16(0);
    u16(w);
    u16(h);
    out += char(0);
    out += char(2); // LZW minimum code size
    // Codes of 3 bits: clear (4) before every two pixels keeps the table from growing.
    QByteArray codes;
    quint32 acc = 0;
    int bits = 0;
    auto put = [&](int code) {
        acc |= quint32(code) << bits;
        bits += 3;
        while (bits >= 8) {
            codes += char(acc & 0xff);
            acc >>= 8;
            bits -= 8;
        }
    };
    int n = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (n % 2 == 0)
                put(4);
            put(second(x, y) ? 1 : 0);
            ++n;
        }
    }
    put(5);
    if (bits > 0)
        codes += char(acc & 0xff);
    for (int i = 0; i < codes.size(); i += 255) {
        const QByteArray block = codes.mid(i, 255);
        out += char(block.size());
        out += block;
    }
    out += char(0);
    out += char(0x3b);
    return out;
}

} // namespace ThumbsTestMedia
