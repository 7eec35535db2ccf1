#include "platform/typeregistry/TypeRegistry.h"

#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>

namespace TypeRegistry {

namespace {

const QString kMimePrefix = QStringLiteral("org.freedesktop.mime.");
const QString kDynPrefix = QStringLiteral("dyn.ext.");

struct Entry {
    const char *uti;
    const char *mime;    // empty for abstract types
    const char *parents; // declared conformance, blank-separated
};

// The identifiers Kelso names, with the MIME type each stands for. The first row of a MIME type
// wins when several identifiers share one (the later ones are reachable by identifier only).
const Entry kTable[] = {
    // abstract roots
    {"public.item", "", ""},
    {"public.content", "", "public.item"},
    {"public.data", "application/octet-stream", "public.item"},
    {"public.composite-content", "", "public.content"},
    {"public.directory", "", "public.item"},
    {"public.folder", "inode/directory", "public.directory"},
    {"public.volume", "inode/mount-point", "public.folder"},
    {"public.symlink", "inode/symlink", "public.item"},
    {"com.apple.package", "", "public.directory"},
    {"com.apple.bundle", "", "public.directory"},
    {"com.apple.application-bundle", "", "com.apple.package com.apple.bundle"},
    {"public.image", "", "public.data public.content"},
    {"public.audiovisual-content", "", "public.data public.content"},
    {"public.movie", "", "public.audiovisual-content"},
    {"public.audio", "", "public.audiovisual-content"},
    {"public.text", "", "public.data public.content"},
    {"public.source-code", "", "public.plain-text"},
    {"public.script", "", "public.source-code"},
    {"public.presentation", "", "public.composite-content"},
    {"public.spreadsheet", "", "public.content"},
    {"public.archive", "", "public.data"},
    {"public.executable", "", "public.data"},
    {"public.font", "", "public.data public.content"},
    {"public.disk-image", "", "public.archive"},
    // images
    {"public.jpeg", "image/jpeg", "public.image"},
    {"public.png", "image/png", "public.image"},
    {"com.compuserve.gif", "image/gif", "public.image"},
    {"public.tiff", "image/tiff", "public.image"},
    {"com.microsoft.bmp", "image/bmp", "public.image"},
    {"org.webmproject.webp", "image/webp", "public.image"},
    {"public.heic", "image/heif", "public.image"},
    {"public.svg-image", "image/svg+xml", "public.image public.xml"},
    {"com.adobe.photoshop-image", "image/vnd.adobe.photoshop", "public.image"},
    {"com.microsoft.ico", "image/vnd.microsoft.icon", "public.image"},
    {"com.adobe.pdf", "application/pdf", "public.data public.composite-content"},
    {"public.pdf", "application/pdf", "public.data public.composite-content"},
    // movies and audio
    {"public.mpeg-4", "video/mp4", "public.movie"},
    {"com.apple.quicktime-movie", "video/quicktime", "public.movie"},
    {"public.avi", "video/x-msvideo", "public.movie"},
    {"public.mpeg", "video/mpeg", "public.movie"},
    {"org.matroska.mkv", "video/x-matroska", "public.movie"},
    {"org.webmproject.webm", "video/webm", "public.movie"},
    {"public.mp3", "audio/mpeg", "public.audio"},
    {"public.mpeg-4-audio", "audio/mp4", "public.audio"},
    {"com.microsoft.waveform-audio", "audio/x-wav", "public.audio"},
    {"org.xiph.flac", "audio/flac", "public.audio"},
    {"public.aiff-audio", "audio/x-aiff", "public.audio"},
    // text
    {"public.plain-text", "text/plain", "public.text"},
    {"public.rtf", "application/rtf", "public.text"},
    {"public.html", "text/html", "public.text"},
    {"public.xml", "application/xml", "public.text"},
    {"public.json", "application/json", "public.text"},
    {"public.comma-separated-values-text", "text/csv", "public.plain-text"},
    {"net.daringfireball.markdown", "text/markdown", "public.plain-text"},
    {"public.c-source", "text/x-csrc", "public.source-code"},
    {"public.c-header", "text/x-chdr", "public.source-code"},
    {"public.c-plus-plus-source", "text/x-c++src", "public.source-code"},
    {"public.c-plus-plus-header", "text/x-c++hdr", "public.source-code"},
    {"public.objective-c-source", "text/x-objcsrc", "public.source-code"},
    {"com.sun.java-source", "text/x-java", "public.source-code"},
    {"com.netscape.javascript-source", "application/javascript", "public.source-code"},
    {"public.python-script", "text/x-python3", "public.script"},
    {"public.python-script", "text/x-python", "public.script"},
    {"public.shell-script", "application/x-shellscript", "public.script"},
    {"public.perl-script", "application/x-perl", "public.script"},
    {"public.ruby-script", "application/x-ruby", "public.script"},
    {"org.golang.go-source", "text/x-go", "public.source-code"},
    {"org.rust-lang.rust-source", "text/rust", "public.source-code"},
    {"public.make-source", "text/x-makefile", "public.source-code"},
    {"public.vcard", "text/vcard", "public.text"},
    {"public.calendar-event", "text/calendar", "public.text"},
    // documents
    {"com.microsoft.word.doc", "application/msword", "public.data public.composite-content"},
    {"org.openxmlformats.wordprocessingml.document",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
     "public.zip-archive public.composite-content"},
    {"com.microsoft.excel.xls", "application/vnd.ms-excel", "public.data public.spreadsheet"},
    {"org.openxmlformats.spreadsheetml.sheet", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
     "public.zip-archive public.spreadsheet"},
    {"com.microsoft.powerpoint.ppt", "application/vnd.ms-powerpoint", "public.data public.presentation"},
    {"org.openxmlformats.presentationml.presentation",
     "application/vnd.openxmlformats-officedocument.presentationml.presentation",
     "public.zip-archive public.presentation"},
    {"org.oasis-open.opendocument.text", "application/vnd.oasis.opendocument.text",
     "public.zip-archive public.composite-content"},
    {"org.oasis-open.opendocument.spreadsheet", "application/vnd.oasis.opendocument.spreadsheet",
     "public.zip-archive public.spreadsheet"},
    {"org.oasis-open.opendocument.presentation", "application/vnd.oasis.opendocument.presentation",
     "public.zip-archive public.presentation"},
    {"com.apple.iwork.pages.pages", "application/vnd.apple.pages", "public.composite-content public.data"},
    {"com.apple.iwork.numbers.numbers", "application/vnd.apple.numbers", "public.spreadsheet public.data"},
    {"com.apple.iwork.keynote.key", "application/vnd.apple.keynote", "public.presentation public.data"},
    // archives and programs
    {"public.zip-archive", "application/zip", "public.archive"},
    {"org.gnu.gnu-zip-archive", "application/gzip", "public.archive"},
    {"public.tar-archive", "application/x-tar", "public.archive"},
    {"org.7-zip.7-zip-archive", "application/x-7z-compressed", "public.archive"},
    {"com.apple.disk-image-udif", "application/x-apple-diskimage", "public.disk-image"},
    {"public.iso-image", "application/x-cd-image", "public.disk-image"},
    {"public.unix-executable", "application/x-executable", "public.executable"},
    {"com.apple.mach-o-binary", "application/x-sharedlib", "public.executable"},
    {"org.freedesktop.desktop-entry", "application/x-desktop", "public.text"},
    {"public.truetype-ttf-font", "font/ttf", "public.font"},
    {"public.opentype-font", "font/otf", "public.font"},
};

// Package extensions (folders shown as one document) and the identifiers they stand for.
const QHash<QString, QString> &packageTypes()
{
    static const QHash<QString, QString> types = {
        {QStringLiteral("app"), QStringLiteral("com.apple.application-bundle")},
        {QStringLiteral("bundle"), QStringLiteral("com.apple.bundle")},
        {QStringLiteral("framework"), QStringLiteral("com.apple.bundle")},
        {QStringLiteral("plugin"), QStringLiteral("com.apple.bundle")},
        {QStringLiteral("kext"), QStringLiteral("com.apple.bundle")},
        {QStringLiteral("rtfd"), QStringLiteral("com.apple.rtfd")},
        {QStringLiteral("pages"), QStringLiteral("com.apple.iwork.pages.pages")},
        {QStringLiteral("numbers"), QStringLiteral("com.apple.iwork.numbers.numbers")},
        {QStringLiteral("key"), QStringLiteral("com.apple.iwork.keynote.key")},
        {QStringLiteral("photoslibrary"), QStringLiteral("com.apple.photos.library")},
        {QStringLiteral("aplibrary"), QStringLiteral("com.apple.package")},
        {QStringLiteral("sparsebundle"), QStringLiteral("com.apple.disk-image-sparsebundle")},
        {QStringLiteral("xcodeproj"), QStringLiteral("com.apple.xcode.project")},
        {QStringLiteral("xcworkspace"), QStringLiteral("com.apple.dt.document.workspace")},
    };
    return types;
}

struct Tables {
    QHash<QString, QString> mimeToUti;
    QHash<QString, QString> utiToMime;
    QHash<QString, QStringList> parents;
    Tables()
    {
        for (const Entry &e : kTable) {
            const QString uti = QString::fromLatin1(e.uti);
            const QString mime = QString::fromLatin1(e.mime);
            if (!mime.isEmpty()) {
                if (!mimeToUti.contains(mime))
                    mimeToUti.insert(mime, uti);
                if (!utiToMime.contains(uti))
                    utiToMime.insert(uti, mime);
            }
            if (!parents.contains(uti))
                parents.insert(uti, QString::fromLatin1(e.parents).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
        // Package identifiers that have no row of their own are packages.
        for (const QString &uti : packageTypes()) {
            if (!parents.contains(uti))
                parents.insert(uti, {QStringLiteral("com.apple.package")});
        }
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

const QMimeDatabase &mimeDb()
{
    static const QMimeDatabase db;
    return db;
}

bool isDirectoryType(const QString &uti)
{
    return conformsTo(uti, QStringLiteral("public.directory"));
}

} // namespace

bool isPackageExtension(const QString &extension)
{
    return packageTypes().contains(extension.toLower());
}

bool isDynamic(const QString &uti)
{
    return uti.startsWith(QLatin1String("dyn."));
}

QString dynamicUTIForExtension(const QString &extension)
{
    if (extension.isEmpty())
        return {};
    QString out = kDynPrefix;
    const QByteArray utf8 = extension.toLower().toUtf8();
    for (const char c : utf8) {
        const uchar u = uchar(c);
        if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
            out.append(QLatin1Char(c));
        else
            out.append(QStringLiteral("-%1").arg(u, 2, 16, QLatin1Char('0')));
    }
    return out;
}

QString utiForMimeType(const QString &mimeName)
{
    if (mimeName.isEmpty())
        return {};
    const Tables &t = tables();
    auto it = t.mimeToUti.constFind(mimeName);
    if (it != t.mimeToUti.cend())
        return it.value();
    const QMimeType mt = mimeDb().mimeTypeForName(mimeName);
    if (!mt.isValid())
        return {};
    it = t.mimeToUti.constFind(mt.name()); // an alias of a table type
    if (it != t.mimeToUti.cend())
        return it.value();
    return kMimePrefix + QString(mt.name()).replace(QLatin1Char('/'), QLatin1Char('.'));
}

QString mimeTypeForUTI(const QString &uti)
{
    const Tables &t = tables();
    auto it = t.utiToMime.constFind(uti);
    if (it != t.utiToMime.cend())
        return it.value();
    if (uti.startsWith(kMimePrefix)) {
        QString rest = uti.mid(kMimePrefix.size());
        const int dot = rest.indexOf(QLatin1Char('.'));
        if (dot > 0) {
            rest[dot] = QLatin1Char('/');
            if (mimeDb().mimeTypeForName(rest).isValid())
                return rest;
        }
    }
    return {};
}

bool utiForFile(const QString &path, QString *uti, QString *error)
{
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink())) {
        if (error)
            *error = QStringLiteral("no such file");
        return false;
    }
    if (info.isDir()) {
        const QString ext = info.suffix().toLower();
        const QString pkg = packageTypes().value(ext);
        *uti = pkg.isEmpty() ? QStringLiteral("public.folder") : pkg;
        return true;
    }
    if (!info.isReadable() && !info.isSymLink()) {
        // Content cannot be read: classify by name only.
        *uti = utiForMimeType(mimeDb().mimeTypeForFile(info, QMimeDatabase::MatchExtension).name());
        return true;
    }
    *uti = utiForMimeType(mimeDb().mimeTypeForFile(info).name());
    return true;
}

QStringList allUTIsForExtension(const QString &extension, bool isDirectory)
{
    QStringList out;
    if (extension.isEmpty())
        return out;
    if (isDirectory) {
        const QString pkg = packageTypes().value(extension.toLower());
        if (!pkg.isEmpty())
            out.append(pkg);
        return out;
    }
    const QList<QMimeType> types = mimeDb().mimeTypesForFileName(QStringLiteral("x.") + extension);
    for (const QMimeType &mt : types) {
        const QString uti = utiForMimeType(mt.name());
        if (!uti.isEmpty() && !out.contains(uti) && !isDirectoryType(uti))
            out.append(uti);
    }
    return out;
}

QString preferredUTIForExtension(const QString &extension)
{
    if (extension.isEmpty())
        return {};
    const QList<QMimeType> types = mimeDb().mimeTypesForFileName(QStringLiteral("x.") + extension);
    if (!types.isEmpty())
        return utiForMimeType(types.first().name());
    return dynamicUTIForExtension(extension);
}

QString preferredExtensionForUTI(const QString &uti)
{
    if (uti.startsWith(kDynPrefix)) {
        const QString enc = uti.mid(kDynPrefix.size());
        QByteArray bytes;
        for (int i = 0; i < enc.size(); ++i) {
            if (enc.at(i) == QLatin1Char('-') && i + 2 < enc.size()) {
                bool ok = false;
                const int v = enc.mid(i + 1, 2).toInt(&ok, 16);
                if (!ok)
                    return {};
                bytes.append(char(v));
                i += 2;
            } else {
                bytes.append(enc.at(i).toLatin1());
            }
        }
        return QString::fromUtf8(bytes);
    }
    for (auto it = packageTypes().cbegin(); it != packageTypes().cend(); ++it) {
        if (it.value() == uti)
            return it.key();
    }
    const QString mime = mimeTypeForUTI(uti);
    if (mime.isEmpty())
        return {};
    return mimeDb().mimeTypeForName(mime).preferredSuffix();
}

bool conformsTo(const QString &uti, const QString &parent)
{
    if (uti.isEmpty() || parent.isEmpty())
        return false;
    if (uti == parent || parent == QLatin1String("public.item"))
        return true;
    if (isDynamic(uti))
        return parent == QLatin1String("public.data");
    const Tables &t = tables();
    QSet<QString> seen;
    QStringList todo{uti};
    while (!todo.isEmpty()) {
        const QString u = todo.takeLast();
        if (u == parent)
            return true;
        if (seen.contains(u))
            continue;
        seen.insert(u);
        todo.append(t.parents.value(u));
        const QString mime = mimeTypeForUTI(u);
        if (mime.isEmpty())
            continue;
        const QMimeType mt = mimeDb().mimeTypeForName(mime);
        for (const QString &p : mt.parentMimeTypes())
            todo.append(utiForMimeType(p));
        const QString media = mime.section(QLatin1Char('/'), 0, 0);
        if (media == QLatin1String("image"))
            todo.append(QStringLiteral("public.image"));
        else if (media == QLatin1String("video"))
            todo.append(QStringLiteral("public.movie"));
        else if (media == QLatin1String("audio"))
            todo.append(QStringLiteral("public.audio"));
        else if (media == QLatin1String("text"))
            todo.append(QStringLiteral("public.text"));
        if (media != QLatin1String("inode"))
            todo.append(QStringLiteral("public.data"));
    }
    return false;
}

QStringList iconNamesForUTI(const QString &uti)
{
    QStringList out;
    if (conformsTo(uti, QStringLiteral("public.folder")) || uti == QLatin1String("public.directory"))
        return {QStringLiteral("folder"), QStringLiteral("inode-directory")};
    if (conformsTo(uti, QStringLiteral("com.apple.application-bundle")))
        return {QStringLiteral("application-x-executable"), QStringLiteral("application-x-generic")};
    if (conformsTo(uti, QStringLiteral("com.apple.package")))
        return {QStringLiteral("package-x-generic")};
    const QString mime = mimeTypeForUTI(uti);
    if (!mime.isEmpty()) {
        const QMimeType mt = mimeDb().mimeTypeForName(mime);
        out << mt.iconName() << mt.genericIconName();
        for (const QString &a : mt.allAncestors()) {
            const QMimeType at = mimeDb().mimeTypeForName(a);
            out << at.iconName() << at.genericIconName();
        }
    }
    if (conformsTo(uti, QStringLiteral("public.image")))
        out << QStringLiteral("image-x-generic");
    else if (conformsTo(uti, QStringLiteral("public.movie")))
        out << QStringLiteral("video-x-generic");
    else if (conformsTo(uti, QStringLiteral("public.audio")))
        out << QStringLiteral("audio-x-generic");
    else if (conformsTo(uti, QStringLiteral("public.presentation")))
        out << QStringLiteral("x-office-presentation");
    else if (conformsTo(uti, QStringLiteral("public.spreadsheet")))
        out << QStringLiteral("x-office-spreadsheet");
    else if (conformsTo(uti, QStringLiteral("public.text")))
        out << QStringLiteral("text-x-generic");
    out.removeDuplicates();
    out.removeAll(QString());
    // Generic octet-stream icons say nothing; keep them last.
    for (const QString &generic :
         {QStringLiteral("application-octet-stream"), QStringLiteral("application-x-generic")}) {
        if (out.removeAll(generic))
            out.append(generic);
    }
    return out;
}

} // namespace TypeRegistry
