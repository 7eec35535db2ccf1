// What changes when a QGuiApplication exists (the real program): numbers on badges, SVG text
// through QtSvg in-process. Runs with its own main on the offscreen platform.
#include "TestMedia.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "support/TestSupport.h"
#include "thumbs/KLItemImages.h"
#include "thumbs/KPImageUtils.h"
#include "thumbs/KPQuickLook.h"

#include <QDir>
#include <QGuiApplication>
#include <gtest/gtest.h>

TEST(ThumbsWithGui, BadgeCarriesItsNumber)
{
    QImage plain(172, 172, QImage::Format_ARGB32_Premultiplied);
    plain.fill(Qt::transparent);
    QImage five = plain.copy(), thousands = plain.copy();
    KLItemImages::drawBadgeWithNumber(5, &five, 35);
    KLItemImages::drawBadgeWithNumber(1234, &thousands, 35);
    // The bare badge picture, drawn where the badge goes, shows what the number adds.
    const QImage badge = KPImageUtils::imageNamed(QStringLiteral("badgeSmall"), QSizeF(35, 35));
    ASSERT_EQ(badge.size(), QSize(35, 35));
    int whiteInside = 0;
    for (int y = 172 - 35 + 8; y < 172 - 8; ++y)
        for (int x = 172 - 35 + 8; x < 172 - 8; ++x) {
            const QRgb p = five.pixel(x, y);
            if (qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200)
                ++whiteInside;
        }
    EXPECT_GT(whiteInside, 5) << "no white digit inside the badge";
    // A four-digit count uses the wider picture: it reaches further left.
    EXPECT_EQ(qAlpha(five.pixel(172 - 50, 172 - 17)), 0);
    EXPECT_GT(qAlpha(thousands.pixel(172 - 50, 172 - 17)), 0);
}

TEST(ThumbsWithGui, SvgTextRendersInProcess)
{
    const QString d = KelsoTest::home() + QStringLiteral("/gui");
    QDir().mkpath(d);
    KelsoTest::writeFile(
        d + QStringLiteral("/label.svg"),
        "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='100'>"
        "<rect width='200' height='100' fill='#ff0000'/><text x='10' y='60' font-size='40'>Hi</text></svg>");
    Thumbnailer::Request req;
    req.path = d + QStringLiteral("/label.svg");
    req.box = QSize(172, 172);
    const Thumbnailer::Result r = Thumbnailer::create(req);
    EXPECT_EQ(r.source, Thumbnailer::Source::Decoder);
    EXPECT_EQ(r.image.size(), QSize(172, 86));
}

int main(int argc, char **argv)
{
    if (const int worker = DecoderWorkers::runIfWorker(argc, argv); worker >= 0)
        return worker;
    KelsoTest::isolateHome();
    // Test discovery runs the program without the test environment: never look for a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    KPQuickLook::initializeGlobals();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
