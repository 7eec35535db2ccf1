#include "platform/mdindex/MdRecord.h"

#include "platform/Plist.h"
#include "platform/Xattr.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "platform/typeregistry/TypeRegistry.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMimeDatabase>
#include <QStringDecoder>
#include <climits>

Q_DECLARE_LOGGING_CATEGORY(lcMdIndex)

namespace MdIndex {
namespace {

// The parents a kind or tag search names; the tree lists those the type conforms to.
const char *const kTreeRoots[] = {"public.item",         "public.data",        "public.content",
                                  "public.text",         "public.plain-text",  "public.source-code",
                                  "public.image",        "public.movie",       "public.audio",
                                  "public.presentation", "public.spreadsheet", "public.folder",
                                  "public.directory",    "com.adobe.pdf",      "public.rtf",
                                  "public.jpeg",         "public.png",         "public.composite-content",
                                  "public.archive",      "public.html",        "public.xml",
                                  "public.script"};

} // namespace

void readAttributes(FileRecord *r)
{
    QByteArray value;
    int err = 0;
    r->tags.clear();
    if (Xattr::get(r->path, QStringLiteral("xdg.tags"), &value, &err, 8192)) {
        for (const QString &t : QString::fromUtf8(value).split(QLatin1Char(',')))
            if (!t.trimmed().isEmpty())
                r->tags.append(t.trimmed());
    }
    r->rating = 0;
    if (Xattr::get(r->path, QStringLiteral("baloo.rating"), &value, &err, 64)) {
        bool ok = false;
        const int tenths = value.trimmed().toInt(&ok);
        if (ok && tenths > 0)
            r->rating = qMin(tenths, 10) / 2.0;
    }
    // The filing mark: a property list holding a boolean, as the attribute store writes it.
    r->managed = -1;
    if (Xattr::get(r->path, QStringLiteral("com.apple.metadata:kMDItemLTManaged"), &value, &err, 4096)) {
        const QVariant mark = Plist::fromData(value);
        if (mark.isValid())
            r->managed = mark.toBool() ? 1 : 0;
    }
}

void readTypeAndAttributes(FileRecord *r)
{
    QString uti;
    if (!TypeRegistry::utiForFile(r->path, &uti))
        uti.clear();
    r->contentType = uti;
    r->mimeType = TypeRegistry::mimeTypeForUTI(uti);
    r->contentTypeTree = {uti};
    for (const char *root : kTreeRoots) {
        const QString parent = QString::fromLatin1(root);
        if (parent != uti && TypeRegistry::conformsTo(uti, parent))
            r->contentTypeTree.append(parent);
    }
    readAttributes(r);
}

bool readText(const FileRecord &r, qint64 capBytes, QString *text)
{
    if (r.isFolder || r.size <= 0)
        return false;
    if (TypeRegistry::conformsTo(r.contentType, QStringLiteral("com.adobe.pdf"))) {
        // A decoder worker reads it: a PDF that makes the extractor loop or crash is cut off
        // by the worker's time limit and costs only that file's text.
        const DecoderWorkers::Outcome out =
            DecoderWorkers::run(DecoderWorkers::Job::PdfText, r.path, QSize(int(qMin<qint64>(capBytes, INT_MAX)), 1));
        if (out.text.isEmpty()) {
            if (!out.failure.isEmpty())
                qCInfo(lcMdIndex) << "index: no text from" << r.path << "-" << out.failure;
            return false;
        }
        *text = out.text;
        return true;
    }
    if (!TypeRegistry::conformsTo(r.contentType, QStringLiteral("public.text")))
        return false;
    QFile f(r.path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = f.read(capBytes);
    // Cut at a character boundary when the cap split one.
    if (bytes.size() == capBytes)
        while (!bytes.isEmpty() && (uchar(bytes.back()) & 0xC0) == 0x80)
            bytes.chop(1);
    if (bytes.size() == capBytes && !bytes.isEmpty() && uchar(bytes.back()) >= 0xC0)
        bytes.chop(1);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder.decode(bytes);
    return !decoder.hasError() && !text->isEmpty();
}

} // namespace MdIndex
