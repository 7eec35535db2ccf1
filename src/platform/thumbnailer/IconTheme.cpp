#include "platform/thumbnailer/IconTheme.h"

#include "platform/thumbnailer/Thumbnailer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QThread>
#include <climits>
#include <mutex>

namespace IconTheme {

namespace {

struct ThemeDir {
    QString path; // relative, e.g. "48x48/mimetypes"
    int size = 0;
    int scale = 1;
    int minSize = 0;
    int maxSize = 0;
    int threshold = 2;
    enum Type { Fixed, Scalable, Threshold } type = Threshold;
};

struct Theme {
    QString name;
    QStringList bases; // existing "<icon dir>/<name>" folders
    QStringList inherits;
    QList<ThemeDir> dirs;
};

std::mutex g_mutex;
QString g_override;
QString g_chosen;
QHash<QString, Theme> g_themes;        // by name; a name that was not found has no bases
QHash<QString, QString> g_lookupCache; // "names|size" → file ("" = none)

QStringList iconBaseFolders()
{
    QStringList out;
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    out << QDir::homePath() + QStringLiteral("/.icons") << dataHome + QStringLiteral("/icons");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &d : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        out << d + QStringLiteral("/icons");
    if (!out.contains(QStringLiteral("/usr/share/icons")))
        out << QStringLiteral("/usr/share/icons");
    return out;
}

// Minimal reader of index.theme (desktop-entry syntax: [groups], key=value).
QHash<QString, QHash<QString, QString>> readIni(const QString &file)
{
    QHash<QString, QHash<QString, QString>> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    QString group;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            out[group].insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return out;
}

const Theme &loadThemeLocked(const QString &name)
{
    auto it = g_themes.find(name);
    if (it != g_themes.end())
        return it.value();
    Theme theme;
    theme.name = name;
    QString indexFile;
    for (const QString &base : iconBaseFolders()) {
        const QString dir = base + QLatin1Char('/') + name;
        if (QFileInfo(dir).isDir()) {
            theme.bases << dir;
            if (indexFile.isEmpty() && QFileInfo::exists(dir + QStringLiteral("/index.theme")))
                indexFile = dir + QStringLiteral("/index.theme");
        }
    }
    if (!indexFile.isEmpty()) {
        const auto ini = readIni(indexFile);
        const auto head = ini.value(QStringLiteral("Icon Theme"));
        theme.inherits = head.value(QStringLiteral("Inherits")).split(QLatin1Char(','), Qt::SkipEmptyParts);
        QStringList dirNames = head.value(QStringLiteral("Directories")).split(QLatin1Char(','), Qt::SkipEmptyParts);
        dirNames += head.value(QStringLiteral("ScaledDirectories")).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &dn : dirNames) {
            const auto g = ini.value(dn.trimmed());
            ThemeDir d;
            d.path = dn.trimmed();
            d.size = g.value(QStringLiteral("Size")).toInt();
            if (d.size <= 0)
                continue;
            d.scale = qMax(1, g.value(QStringLiteral("Scale"), QStringLiteral("1")).toInt());
            d.minSize = g.value(QStringLiteral("MinSize"), QString::number(d.size)).toInt();
            d.maxSize = g.value(QStringLiteral("MaxSize"), QString::number(d.size)).toInt();
            d.threshold = g.value(QStringLiteral("Threshold"), QStringLiteral("2")).toInt();
            const QString type = g.value(QStringLiteral("Type"), QStringLiteral("Threshold"));
            d.type = type == QLatin1String("Fixed")      ? ThemeDir::Fixed
                     : type == QLatin1String("Scalable") ? ThemeDir::Scalable
                                                         : ThemeDir::Threshold;
            // Symbolic icons are single-colour glyphs meant for recolouring; never use them as
            // file pictures.
            if (d.path.contains(QLatin1String("symbolic")))
                continue;
            theme.dirs.append(d);
        }
    }
    return g_themes.insert(name, theme).value();
}

int sizeDistance(const ThemeDir &d, int size)
{
    switch (d.type) {
    case ThemeDir::Fixed:
        return std::abs(d.size * d.scale - size);
    case ThemeDir::Scalable:
        if (size < d.minSize * d.scale)
            return d.minSize * d.scale - size;
        if (size > d.maxSize * d.scale)
            return size - d.maxSize * d.scale;
        return 0;
    case ThemeDir::Threshold:
        if (size < (d.size - d.threshold) * d.scale)
            return d.minSize * d.scale - size;
        if (size > (d.size + d.threshold) * d.scale)
            return size - d.maxSize * d.scale;
        return 0;
    }
    return INT_MAX;
}

QString findInThemeLocked(const Theme &theme, const QString &name, int size)
{
    static const char *exts[] = {".png", ".svg"};
    QString best;
    int bestDistance = INT_MAX;
    for (const ThemeDir &d : theme.dirs) {
        const int dist = sizeDistance(d, size);
        // Prefer larger pictures on a tie: scaling down looks better than scaling up.
        if (dist > bestDistance)
            continue;
        for (const QString &base : theme.bases) {
            for (const char *ext : exts) {
                const QString file = base + QLatin1Char('/') + d.path + QLatin1Char('/') + name + QLatin1String(ext);
                if (QFileInfo::exists(file)) {
                    if (dist < bestDistance || (dist == bestDistance && d.type == ThemeDir::Scalable)) {
                        best = file;
                        bestDistance = dist;
                    }
                    break;
                }
            }
        }
        if (bestDistance == 0 && !best.isEmpty() && best.endsWith(QLatin1String(".svg")))
            break;
    }
    return best;
}

QString chooseThemeLocked()
{
    if (!g_override.isEmpty())
        return g_override;
    if (!g_chosen.isEmpty())
        return g_chosen;
    QString name;
    // The desktop's theme is only known to a GUI application, and QIcon may only be asked on
    // its thread.
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) && QThread::currentThread() == qApp->thread()) {
        name = QIcon::themeName();
        if (name == QLatin1String("hicolor"))
            name.clear();
    }
    if (name.isEmpty()) {
        QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (configHome.isEmpty())
            configHome = QDir::homePath() + QStringLiteral("/.config");
        for (const QString &f : {configHome + QStringLiteral("/gtk-4.0/settings.ini"),
                                 configHome + QStringLiteral("/gtk-3.0/settings.ini")}) {
            const QString v = readIni(f).value(QStringLiteral("Settings")).value(QStringLiteral("gtk-icon-theme-name"));
            if (!v.isEmpty()) {
                name = v;
                break;
            }
        }
    }
    if (name.isEmpty() || loadThemeLocked(name).bases.isEmpty())
        name = QStringLiteral("Adwaita");
    g_chosen = name;
    return name;
}

QString findIconFileLocked(const QStringList &names, int size)
{
    QStringList chain;
    QStringList todo{chooseThemeLocked()};
    while (!todo.isEmpty()) {
        const QString t = todo.takeFirst();
        if (chain.contains(t))
            continue;
        chain << t;
        todo += loadThemeLocked(t).inherits;
    }
    chain.removeAll(QStringLiteral("hicolor"));
    chain << QStringLiteral("hicolor");
    // The icon-theme standard's order: every name in the first theme, then in the next one.
    for (const QString &t : chain) {
        const Theme &theme = loadThemeLocked(t);
        if (theme.bases.isEmpty())
            continue;
        for (const QString &name : names) {
            if (name.isEmpty() || name.contains(QLatin1Char('/')))
                continue;
            const QString f = findInThemeLocked(theme, name, size);
            if (!f.isEmpty())
                return f;
        }
    }
    for (const QString &name : names) {
        for (const char *ext : {".png", ".svg"}) {
            const QString f = QStringLiteral("/usr/share/pixmaps/") + name + QLatin1String(ext);
            if (!name.isEmpty() && QFileInfo::exists(f))
                return f;
        }
    }
    return {};
}

} // namespace

QString themeName()
{
    std::lock_guard lock(g_mutex);
    return chooseThemeLocked();
}

void setThemeName(const QString &name)
{
    std::lock_guard lock(g_mutex);
    g_override = name;
    g_chosen.clear();
    g_lookupCache.clear();
}

QString findIconFile(const QStringList &names, int size)
{
    const QString key = names.join(QLatin1Char(',')) + QLatin1Char('|') + QString::number(size);
    std::lock_guard lock(g_mutex);
    auto it = g_lookupCache.constFind(key);
    if (it != g_lookupCache.cend())
        return it.value();
    const QString f = findIconFileLocked(names, size);
    if (g_lookupCache.size() > 4000)
        g_lookupCache.clear();
    g_lookupCache.insert(key, f);
    return f;
}

QImage loadIconFile(const QString &file, int size)
{
    if (file.isEmpty() || size <= 0)
        return {};
    QImage canvas(size, size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    if (file.endsWith(QLatin1String(".svg")) || file.endsWith(QLatin1String(".svgz"))) {
        if (!Thumbnailer::svgRenderableHere(file))
            return {};
        QSvgRenderer renderer(file);
        if (!renderer.isValid())
            return {};
        QSizeF s = renderer.defaultSize();
        if (s.isEmpty())
            s = QSizeF(size, size);
        s.scale(size, size, Qt::KeepAspectRatio);
        QPainter p(&canvas);
        renderer.render(&p, QRectF((size - s.width()) / 2, (size - s.height()) / 2, s.width(), s.height()));
        return canvas;
    }
    QImageReader reader(file);
    QSize s = reader.size();
    if (s.isValid() && !s.isEmpty()) {
        s.scale(size, size, Qt::KeepAspectRatio);
        if (s.width() < reader.size().width())
            reader.setScaledSize(s);
    }
    QImage img = reader.read();
    if (img.isNull())
        return {};
    if (img.width() > size || img.height() > size)
        img = img.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    else if (img.width() < size && img.height() < size)
        img = img.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QPoint((size - img.width()) / 2, (size - img.height()) / 2), img);
    return canvas;
}

QImage icon(const QStringList &names, int size)
{
    return loadIconFile(findIconFile(names, size), size);
}

QImage builtInDocumentIcon(int size)
{
    if (size <= 0)
        return {};
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size * 0.70, h = size * 0.88;
    const qreal x = (size - w) / 2, y = (size - h) / 2;
    const qreal fold = w * 0.28;
    QPainterPath page;
    page.moveTo(x, y);
    page.lineTo(x + w - fold, y);
    page.lineTo(x + w, y + fold);
    page.lineTo(x + w, y + h);
    page.lineTo(x, y + h);
    page.closeSubpath();
    p.setPen(QPen(QColor(120, 120, 120), qMax(1.0, size / 64.0)));
    p.setBrush(QColor(250, 250, 250));
    p.drawPath(page);
    QPainterPath corner;
    corner.moveTo(x + w - fold, y);
    corner.lineTo(x + w - fold, y + fold);
    corner.lineTo(x + w, y + fold);
    p.setBrush(QColor(220, 220, 220));
    p.drawPath(corner);
    return img;
}

QImage builtInFolderIcon(int size)
{
    if (size <= 0)
        return {};
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size * 0.9, h = size * 0.68;
    const qreal x = (size - w) / 2, y = (size - h) / 2 + size * 0.04;
    p.setPen(QPen(QColor(60, 110, 170), qMax(1.0, size / 64.0)));
    p.setBrush(QColor(110, 160, 220));
    p.drawRoundedRect(QRectF(x, y - size * 0.08, w * 0.42, size * 0.16), size * 0.03, size * 0.03);
    p.setBrush(QColor(140, 185, 235));
    p.drawRoundedRect(QRectF(x, y, w, h), size * 0.04, size * 0.04);
    return img;
}

} // namespace IconTheme
