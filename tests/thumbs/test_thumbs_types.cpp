// File types, interning, icons and the image helpers.
#include "platform/thumbnailer/IconTheme.h"
#include "platform/typeregistry/TypeRegistry.h"
#include "support/TestSupport.h"
#include "thumbs/KLItemImages.h"
#include "thumbs/KPFileType.h"
#include "thumbs/KPImageUtils.h"
#include "thumbs/KPPool.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QThread>
#include <QtConcurrent>
#include <gtest/gtest.h>

namespace {

QString base()
{
    const QString b = KelsoTest::home() + QStringLiteral("/types");
    QDir().mkpath(b);
    return b;
}

} // namespace

TEST(Crc64, MatchesTheEcma182CheckValue)
{
    EXPECT_EQ(KPImageUtils::crc64(QByteArray("123456789")), 0x6C40DF5F0B497347ULL);
    EXPECT_EQ(KPImageUtils::crc64(QByteArray()), 0ULL);
    // Chained calls equal one call over the whole buffer.
    const quint64 first = KPImageUtils::crc64("12345", 5);
    EXPECT_EQ(KPImageUtils::crc64("6789", 4, first), 0x6C40DF5F0B497347ULL);
    EXPECT_NE(KPImageUtils::crc64(QByteArray("123456788")), 0x6C40DF5F0B497347ULL);
}

TEST(KPPool, EqualStringsShareOneCanonicalObject)
{
    const QString a = QStringLiteral("/home/someone/Documents/") + QString::number(42);
    const QString b = QStringLiteral("/home/someone/Documents/") + QString::number(42);
    ASSERT_NE(a.constData(), b.constData());
    const QString pa = KPPool::pooledString(a);
    const QString pb = KPPool::pooledString(b);
    EXPECT_EQ(pa.constData(), pb.constData());
    EXPECT_TRUE(KPPool::isPooledString(pa));
    EXPECT_FALSE(KPPool::isPooledString(b));
    EXPECT_TRUE(KPPool::isPooledString(QString()));
    EXPECT_TRUE(KPPool::pooledString(QString()).isNull());

    const QStringList list = KPPool::pooledArrayOfStrings({b, QStringLiteral("other") + QString::number(7)});
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list.at(0).constData(), pa.constData());
    EXPECT_TRUE(KPPool::isPooledString(list.at(1)));
}

TEST(KPPool, InterningFromManyThreadsGivesOneObject)
{
    QList<QFuture<const QChar *>> futures;
    for (int i = 0; i < 8; ++i) {
        futures.append(QtConcurrent::run([] {
            const QChar *last = nullptr;
            for (int k = 0; k < 2000; ++k)
                last = KPPool::pooledString(QStringLiteral("shared-key-") + QString::number(k % 50)).constData();
            return last; // k = 1999 interned "shared-key-49" last
        }));
    }
    const QChar *expected = KPPool::pooledString(QStringLiteral("shared-key-49")).constData();
    for (auto &f : futures)
        EXPECT_EQ(f.result(), expected);
}

TEST(KPDictionary, FindsValuesUnderEqualButDistinctKeys)
{
    KPDictionary<QString> d;
    const QString key = QStringLiteral("ext-") + QString::number(1);
    d.setValue(QStringLiteral("value"), key);
    const QString other = QStringLiteral("ext-") + QString::number(1);
    ASSERT_NE(other.constData(), key.constData());
    EXPECT_EQ(d.valueForKey(other), QStringLiteral("value"));
    EXPECT_TRUE(d.valueExistsForKey(other));
    EXPECT_FALSE(d.valueExistsForKey(QStringLiteral("never-seen-key")));
    // A none value or key is ignored.
    d.setValue(QString(), QStringLiteral("k2"));
    d.setValue(QStringLiteral("v"), QString());
    EXPECT_EQ(d.count(), 1);
    d.setValue(QStringLiteral("value2"), other); // replaces: same canonical key
    EXPECT_EQ(d.count(), 1);
    EXPECT_EQ(d.valueForKey(key), QStringLiteral("value2"));
    d.removeValueForKey(QStringLiteral("ext-1"));
    EXPECT_EQ(d.count(), 0);
}

TEST(TypeRegistry, MapsTableTypesAndConformance)
{
    EXPECT_EQ(TypeRegistry::utiForMimeType(QStringLiteral("image/jpeg")), QStringLiteral("public.jpeg"));
    EXPECT_EQ(TypeRegistry::mimeTypeForUTI(QStringLiteral("public.png")), QStringLiteral("image/png"));
    EXPECT_TRUE(TypeRegistry::conformsTo(QStringLiteral("public.jpeg"), QStringLiteral("public.image")));
    EXPECT_TRUE(TypeRegistry::conformsTo(QStringLiteral("public.jpeg"), QStringLiteral("public.data")));
    EXPECT_FALSE(TypeRegistry::conformsTo(QStringLiteral("public.jpeg"), QStringLiteral("public.movie")));
    EXPECT_TRUE(TypeRegistry::conformsTo(QStringLiteral("public.mpeg-4"), QStringLiteral("public.movie")));
    EXPECT_TRUE(TypeRegistry::conformsTo(QStringLiteral("public.folder"), QStringLiteral("public.directory")));
    EXPECT_FALSE(TypeRegistry::conformsTo(QStringLiteral("public.folder"), QStringLiteral("public.data")));
    // Through shared-mime-info parents: C source is plain text.
    EXPECT_TRUE(TypeRegistry::conformsTo(QStringLiteral("public.c-source"), QStringLiteral("public.plain-text")));
    // A MIME type outside the table still gets a stable identifier with its media class.
    const QString cr2 = TypeRegistry::utiForMimeType(QStringLiteral("image/x-canon-cr2"));
    EXPECT_EQ(cr2, QStringLiteral("org.freedesktop.mime.image.x-canon-cr2"));
    EXPECT_EQ(TypeRegistry::mimeTypeForUTI(cr2), QStringLiteral("image/x-canon-cr2"));
    EXPECT_TRUE(TypeRegistry::conformsTo(cr2, QStringLiteral("public.image")));
}

TEST(TypeRegistry, UnknownExtensionsGetStableDynamicIdentifiers)
{
    const QString a = TypeRegistry::preferredUTIForExtension(QStringLiteral("kelsoq"));
    EXPECT_TRUE(a.startsWith(QStringLiteral("dyn.")));
    EXPECT_EQ(a, TypeRegistry::preferredUTIForExtension(QStringLiteral("kelsoq")));
    EXPECT_EQ(a, TypeRegistry::preferredUTIForExtension(QStringLiteral("KELSOQ")));
    EXPECT_EQ(TypeRegistry::preferredExtensionForUTI(a), QStringLiteral("kelsoq"));
    const QString odd = TypeRegistry::dynamicUTIForExtension(QStringLiteral("tar-x.ü"));
    EXPECT_EQ(TypeRegistry::preferredExtensionForUTI(odd), QStringLiteral("tar-x.ü"));
    EXPECT_TRUE(TypeRegistry::allUTIsForExtension(QStringLiteral("kelsoq"), false).isEmpty());
    EXPECT_TRUE(TypeRegistry::preferredUTIForExtension(QString()).isEmpty());
    EXPECT_EQ(TypeRegistry::preferredUTIForExtension(QStringLiteral("pdf")), QStringLiteral("com.adobe.pdf"));
    EXPECT_TRUE(TypeRegistry::conformsTo(a, QStringLiteral("public.data")));
    EXPECT_FALSE(TypeRegistry::conformsTo(a, QStringLiteral("public.image")));
}

TEST(TypeRegistry, PackageFoldersByExtensionInAnyCase)
{
    EXPECT_TRUE(TypeRegistry::isPackageExtension(QStringLiteral("app")));
    EXPECT_TRUE(TypeRegistry::isPackageExtension(QStringLiteral("RTFD")));
    EXPECT_TRUE(TypeRegistry::isPackageExtension(QStringLiteral("xcworkspace")));
    EXPECT_FALSE(TypeRegistry::isPackageExtension(QStringLiteral("pdf")));
    EXPECT_FALSE(TypeRegistry::isPackageExtension(QStringLiteral("d")));
    EXPECT_FALSE(TypeRegistry::isPackageExtension(QString()));

    const QString folder = base() + QStringLiteral("/packages");
    for (const char *name : {"Kelso.App", "Notes.rtfd", "Plain.d", "plain"})
        ASSERT_TRUE(QDir().mkpath(folder + QLatin1Char('/') + QLatin1String(name)));
    QString uti;
    ASSERT_TRUE(TypeRegistry::utiForFile(folder + QStringLiteral("/Kelso.App"), &uti));
    EXPECT_EQ(uti, QStringLiteral("com.apple.application-bundle"));
    ASSERT_TRUE(TypeRegistry::utiForFile(folder + QStringLiteral("/Notes.rtfd"), &uti));
    EXPECT_EQ(uti, QStringLiteral("com.apple.rtfd"));
    EXPECT_TRUE(TypeRegistry::conformsTo(uti, QStringLiteral("com.apple.package")));
    ASSERT_TRUE(TypeRegistry::utiForFile(folder + QStringLiteral("/Plain.d"), &uti));
    EXPECT_EQ(uti, QStringLiteral("public.folder"));
    ASSERT_TRUE(TypeRegistry::utiForFile(folder + QStringLiteral("/plain"), &uti));
    EXPECT_EQ(uti, QStringLiteral("public.folder"));
}

TEST(KPFileType, BestIdentifierForStoringExtension)
{
    using KPFileType::bestUTIForStoringExtension;
    const QString jpeg = QStringLiteral("public.jpeg");
    const QString dynXyz = TypeRegistry::dynamicUTIForExtension(QStringLiteral("xyz"));
    const QString dynAbc = TypeRegistry::dynamicUTIForExtension(QStringLiteral("abc"));
    EXPECT_TRUE(bestUTIForStoringExtension(QString(), jpeg, jpeg).isEmpty());
    EXPECT_TRUE(bestUTIForStoringExtension(QStringLiteral("jpg"), QString(), QString()).isEmpty());
    EXPECT_EQ(bestUTIForStoringExtension(QStringLiteral("jpg"), QString(), jpeg), jpeg);  // t real
    EXPECT_EQ(bestUTIForStoringExtension(QStringLiteral("xyz"), dynXyz, dynXyz), dynXyz); // t == x
    EXPECT_EQ(bestUTIForStoringExtension(QStringLiteral("xyz"), QStringLiteral("public.data"), dynXyz),
              QStringLiteral("public.data")); // x real
    EXPECT_TRUE(bestUTIForStoringExtension(QStringLiteral("xyz"), QString(), dynXyz).isEmpty());
    EXPECT_EQ(bestUTIForStoringExtension(QStringLiteral("ABC"), dynXyz, dynAbc), dynXyz); // both dynamic, t's ext == e
    EXPECT_TRUE(bestUTIForStoringExtension(QStringLiteral("def"), dynXyz, dynAbc).isEmpty());
    // Long or blank-holding extensions are never remembered unless the file's type is real.
    EXPECT_TRUE(bestUTIForStoringExtension(QStringLiteral("fifteen-chars-x"), QStringLiteral("public.data"), QString())
                    .isEmpty());
    EXPECT_TRUE(bestUTIForStoringExtension(QStringLiteral("a b"), QStringLiteral("public.data"), QString()).isEmpty());
    EXPECT_EQ(bestUTIForStoringExtension(QStringLiteral("fourteen-chars"), QStringLiteral("public.data"), QString()),
              QStringLiteral("public.data"));
}

TEST(KPFileType, ClassifiesAndCachesCheaply)
{
    EXPECT_EQ(KPFileType::utiForFile(QString()), QStringLiteral("kUTI_NO_FILE"));

    // Generated cache files are not examined at all (the file does not even exist).
    const qsizetype before = KPFileType::fileExaminations();
    const QString cachePath = base() + QStringLiteral("/Library/Caches/x/blob.abcdefghijklmnopqrst");
    EXPECT_EQ(KPFileType::utiForFile(cachePath), QStringLiteral("public.data"));
    EXPECT_EQ(KPFileType::fileExaminations(), before);

    // photo.JPG: not an image by the case-sensitive list, but by its type.
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(base() + QStringLiteral("/photo.JPG"), "jpeg"));
    EXPECT_TRUE(KPFileType::isImage(base() + QStringLiteral("/photo.JPG")));
    EXPECT_FALSE(KPFileType::isMovie(base() + QStringLiteral("/photo.JPG")));
    // The list answers without looking at the file.
    EXPECT_TRUE(KPFileType::isImage(base() + QStringLiteral("/nothing-here.jpg")));
    EXPECT_TRUE(KPFileType::isMovie(base() + QStringLiteral("/nothing-here.mp4")));

    // A second file with a well-known extension comes from the by-extension cache.
    KelsoTest::writeFile(base() + QStringLiteral("/one.pdf"), "%PDF-1.4\n");
    KelsoTest::writeFile(base() + QStringLiteral("/two.pdf"), "%PDF-1.4\n");
    EXPECT_EQ(KPFileType::utiForFile(base() + QStringLiteral("/one.pdf")), QStringLiteral("com.adobe.pdf"));
    const qsizetype afterFirst = KPFileType::fileExaminations();
    EXPECT_EQ(KPFileType::utiForFile(base() + QStringLiteral("/two.pdf")), QStringLiteral("com.adobe.pdf"));
    EXPECT_EQ(KPFileType::fileExaminations(), afterFirst);

    // Folders, and a file that vanished (the extension's type, nothing remembered for the path).
    EXPECT_EQ(KPFileType::utiForFile(base()), QStringLiteral("public.folder"));
    const qsizetype paths = KPFileType::pathCacheCount();
    EXPECT_EQ(KPFileType::utiForFile(base() + QStringLiteral("/gone.kelsoz")),
              TypeRegistry::dynamicUTIForExtension(QStringLiteral("kelsoz")));
    EXPECT_EQ(KPFileType::pathCacheCount(), paths);
}

TEST(KPImageUtils, ScalingCutsExtremeShapesAndRefusesHugeBitmaps)
{
    QImage tall(100, 2000, QImage::Format_RGB32);
    tall.fill(Qt::blue);
    // Marks the rows that must survive the cut.
    for (int y = 0; y < 1000; ++y)
        tall.setPixel(0, y, qRgb(255, 0, 0));
    const QImage cutOnly = KPImageUtils::newResizedImage(tall, 0, 0, 0);
    EXPECT_EQ(cutOnly.size(), QSize(100, 1000));
    EXPECT_EQ(qRed(cutOnly.pixel(0, 999)), 255);
    EXPECT_EQ(KPImageUtils::newResizedImage(tall, 0, 50, 50).size(), QSize(5, 50));

    QImage wide(3000, 100, QImage::Format_RGB32);
    wide.fill(Qt::green);
    EXPECT_EQ(KPImageUtils::newResizedImage(wide, 0, 0, 0).size(), QSize(1000, 100));

    QImage small(40, 30, QImage::Format_ARGB32);
    small.fill(Qt::yellow);
    const QImage same = KPImageUtils::newResizedImage(small, 0, 172, 172);
    EXPECT_EQ(same.cacheKey(), small.cacheKey()); // unchanged, the very same image

    QImage photo(4000, 3000, QImage::Format_RGB32);
    photo.fill(Qt::gray);
    const QImage thumb = KPImageUtils::newResizedImage(photo, 0, 172, 172);
    EXPECT_EQ(thumb.size(), QSize(172, 129));
    EXPECT_EQ(thumb.format(), QImage::Format_ARGB32_Premultiplied);

    // 6000 × 5000 into 5900 × 5900 would make 29 million pixels: refused, the original answered.
    QImage huge(6000, 5000, QImage::Format_Grayscale8);
    ASSERT_FALSE(huge.isNull());
    huge.fill(0);
    const QImage refused = KPImageUtils::newResizedImage(huge, 0, 5900, 5900);
    EXPECT_EQ(refused.size(), QSize(6000, 5000));
    EXPECT_TRUE(KPImageUtils::newResizedImage(QImage(), 0, 10, 10).isNull());
}

TEST(KPImageUtils, EncodesPngAndJpeg)
{
    QImage img(64, 48, QImage::Format_ARGB32);
    img.fill(QColor(10, 200, 30, 128));
    const QByteArray png = KPImageUtils::dataForCGImage(img, false, 1.0);
    ASSERT_TRUE(png.startsWith("\x89PNG"));
    QImage back;
    ASSERT_TRUE(back.loadFromData(png, "png"));
    EXPECT_EQ(back.size(), img.size());
    // Compressed for real (a plain picture shrinks far below its 3 bytes per pixel).
    QImage plain(256, 256, QImage::Format_RGB32);
    plain.fill(Qt::darkBlue);
    EXPECT_LT(KPImageUtils::dataForCGImage(plain, false, 1.0).size(), 256 * 256 * 3 / 20);
    const QByteArray jpg = KPImageUtils::dataForCGImage(img, true, 0.5);
    EXPECT_TRUE(jpg.startsWith("\xff\xd8"));
    EXPECT_TRUE(KPImageUtils::dataForCGImage(QImage(), false, 1).isEmpty());
    EXPECT_EQ(KPImageUtils::makeOptimalDestinationRect(QSizeF(400, 200), QSizeF(100, 100)), QSizeF(100, 50));
    EXPECT_EQ(KPImageUtils::makeOptimalDestinationRect(QSizeF(40, 20), QSizeF(100, 100)), QSizeF(40, 20));
    EXPECT_FALSE(KPImageUtils::tiffData(img, QSizeF(32, 32)).isEmpty());
    EXPECT_TRUE(KPImageUtils::tiffData(img, QSizeF(0, 0)).isEmpty());
}

TEST(KPImageUtils, IdenticalIconsShareOneBitmap)
{
    KelsoTest::writeFile(base() + QStringLiteral("/notes-a.txt"), "hello");
    KelsoTest::writeFile(base() + QStringLiteral("/notes-b.txt"), "world");
    KelsoTest::writeFile(base() + QStringLiteral("/sheet.pdf"), "%PDF-1.4\n");
    const KPCGImageRef a = KPImageUtils::newCGIconForFile(base() + QStringLiteral("/notes-a.txt"), QSizeF(64, 64));
    const KPCGImageRef b = KPImageUtils::newCGIconForFile(base() + QStringLiteral("/notes-b.txt"), QSizeF(64, 64));
    const KPCGImageRef c = KPImageUtils::newCGIconForFile(base() + QStringLiteral("/sheet.pdf"), QSizeF(64, 64));
    ASSERT_FALSE(a->isNull());
    ASSERT_FALSE(c->isNull());
    EXPECT_EQ(a->size(), QSize(64, 64));
    EXPECT_NE(a.get(), b.get());                                     // two cache entries…
    EXPECT_EQ(a->peekImage().cacheKey(), b->peekImage().cacheKey()); // …one bitmap
    EXPECT_NE(a->peekImage().cacheKey(), c->peekImage().cacheKey());
    // The image cache answers the same entry the second time.
    EXPECT_EQ(KPImageUtils::newCGIconForFile(base() + QStringLiteral("/notes-a.txt"), QSizeF(64, 64)).get(), a.get());
    // Type icons: the same for the identifier as for a file of it.
    const QImage t = KPImageUtils::iconForFileType(QStringLiteral("public.plain-text"), QSizeF(64, 64));
    EXPECT_EQ(t.cacheKey(), a->peekImage().cacheKey());
    // Even an unknown type and a failing theme give a picture.
    EXPECT_FALSE(KPImageUtils::iconForFileType(QStringLiteral("dyn.ext.kelsoq"), QSizeF(32, 32)).isNull());
    EXPECT_FALSE(KPImageUtils::iconForFileType(QStringLiteral("public.folder"), QSizeF(32, 32)).isNull());
    EXPECT_EQ(KPImageUtils::imageCacheKey(QString(), QSizeF(172.5, 64), 2), QStringLiteral("null2064172"));
    EXPECT_EQ(KPImageUtils::imageCacheKey(QStringLiteral("/a"), QSizeF(172, 172), 1), QStringLiteral("/a1172172"));
}

TEST(IconTheme, FindsThemeIconsAndFallsBack)
{
    const QString f =
        IconTheme::findIconFile({QStringLiteral("no-such-icon-kelso"), QStringLiteral("text-x-generic")}, 48);
    if (f.isEmpty())
        GTEST_SKIP() << "no icon theme installed";
    EXPECT_TRUE(f.contains(QStringLiteral("text-x-generic")));
    const QImage img = IconTheme::loadIconFile(f, 48);
    EXPECT_EQ(img.size(), QSize(48, 48));
    EXPECT_TRUE(IconTheme::icon({QStringLiteral("no-such-icon-kelso")}, 48).isNull());
    const QImage doc = IconTheme::builtInDocumentIcon(48);
    EXPECT_EQ(doc.size(), QSize(48, 48));
    EXPECT_GT(qAlpha(doc.pixel(24, 24)), 200);
    EXPECT_EQ(qAlpha(doc.pixel(0, 0)), 0);
}

TEST(KLItemImages, BadgePicturesByCountAndStackPicture)
{
    EXPECT_EQ(KLItemImages::badgeNameForNumber(99), QStringLiteral("badgeSmall"));
    EXPECT_EQ(KLItemImages::badgeNameForNumber(100), QStringLiteral("badge3digits"));
    EXPECT_EQ(KLItemImages::badgeNameForNumber(9999), QStringLiteral("badge4digits"));
    EXPECT_EQ(KLItemImages::badgeNameForNumber(10000), QStringLiteral("badge5digits"));

    QImage blank(172, 172, QImage::Format_ARGB32_Premultiplied);
    blank.fill(Qt::transparent);
    QImage none = blank.copy();
    KLItemImages::drawBadgeWithNumber(0, &none, 35);
    EXPECT_EQ(none, blank);
    QImage badged = blank.copy();
    KLItemImages::drawBadgeWithNumber(5, &badged, 35);
    // Drawn at the bottom-right corner, 35 pixels high; the top-left stays empty.
    EXPECT_GT(qAlpha(badged.pixel(172 - 18, 172 - 18)), 200);
    EXPECT_EQ(qAlpha(badged.pixel(172 - 18, 172 - 40)), 0);
    EXPECT_EQ(qAlpha(badged.pixel(10, 10)), 0);

    const QImage stack = KLItemImages::folderImage(base(), 12, QSize(172, 172));
    EXPECT_EQ(stack.size(), QSize(172, 172));
    EXPECT_GT(qAlpha(stack.pixel(86, 86)), 0);
    const QImage missing = KLItemImages::missingMediaImage();
    EXPECT_EQ(missing.size(), QSize(172, 172));
    EXPECT_EQ(KLItemImages::missingMediaImage().cacheKey(), missing.cacheKey());
}

TEST(KPCGImage, CropsWithABottomLeftOriginAndStampsUse)
{
    QImage img(10, 20, QImage::Format_RGB32);
    img.fill(Qt::blue);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            img.setPixel(x, y, qRgb(255, 0, 0)); // the top-left corner in Qt's coordinates
    auto a = std::make_shared<KPCGImage>(img);
    EXPECT_EQ(a->ramFootprint(), 10 * 20 * 4);
    a->cropToRect(QRect(0, 15, 5, 5)); // 15 up from the bottom: the top-left corner
    ASSERT_EQ(a->size(), QSize(5, 5));
    EXPECT_EQ(a->peekImage().pixel(2, 2), qRgb(255, 0, 0));
    a->cropToRect(QRect(3, 3, 10, 10)); // does not fit: the image stays
    EXPECT_EQ(a->size(), QSize(5, 5));

    auto b = std::make_shared<KPCGImage>(img);
    EXPECT_EQ(a->lastUsedTime(), 0.0);
    a->imageRef();
    QThread::msleep(5);
    b->imageRef();
    EXPECT_GT(a->lastUsedTime(), 0.0);
    QList<KPCGImageRef> list{b, a};
    std::sort(list.begin(), list.end(), KPCGImage::sortByLastUsedTime);
    EXPECT_EQ(list.first().get(), a.get());
    EXPECT_TRUE(KPCGImage::initWithJPEGPath(QStringLiteral("/nonexistent/x.jpg"))->isNull());
}
