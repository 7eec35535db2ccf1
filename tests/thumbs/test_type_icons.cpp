// Type icons for cells whose thumbnail is pending: answered at once from memory, looked up on
// the worker, shared per type, and never asking the file itself.
#include "support/TestSupport.h"
#include "thumbs/KLTypeIcons.h"
#include "util/KLProcessFlags.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

// A resolver that records its calls and can be held shut, standing in for the icon theme.
struct RecordingResolver {
    std::mutex lock;
    std::condition_variable cv;
    bool open = true;
    std::atomic<bool> released{false};
    QStringList types;        // MIME type names asked for, in order
    QList<QStringList> names; // icon names offered for each
    std::atomic<int> onMainThread{0};

    KLTypeIcons::Resolver function()
    {
        return [this](const QString &mimeName, const QStringList &iconNames, int size) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                ++onMainThread;
            std::unique_lock guard(lock);
            cv.wait(guard, [this] { return open; });
            types.append(mimeName);
            names.append(iconNames);
            // A picture that tells the type apart: its colour comes from the name's hash.
            QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
            image.fill(QColor::fromRgb(qHash(mimeName) & 0xffffff));
            return image;
        };
    }
    void hold()
    {
        std::lock_guard guard(lock);
        open = false;
    }
    void release()
    {
        {
            std::lock_guard guard(lock);
            open = true;
        }
        released = true;
        cv.notify_all();
    }
    int countOf(const QString &type)
    {
        std::lock_guard guard(lock);
        return int(types.count(type));
    }
};

class TypeIconsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KLTypeIcons::waitForPending();
        KLTypeIcons::clearForTesting();
        KLTypeIcons::setResolverForTesting(resolver.function());
    }
    void TearDown() override
    {
        resolver.release();
        KLTypeIcons::waitForPending();
        KLTypeIcons::setResolverForTesting({});
        KLTypeIcons::clearForTesting();
    }
    RecordingResolver resolver;
};

} // namespace

TEST_F(TypeIconsTest, AnswersAtOnceWhileTheLookUpIsStillRunning)
{
    // The worker's look-up is held shut. A caller that waited for it would not return until
    // the watchdog opens it, which the check below would see.
    resolver.hold();
    std::thread watchdog([this] {
        {
            std::unique_lock guard(resolver.lock);
            resolver.cv.wait_for(guard, std::chrono::seconds(20), [this] { return resolver.open; });
        }
        resolver.release();
    });
    bool exact = true;
    const QImage first = KLTypeIcons::iconForFileName(QStringLiteral("/some/folder/report.pdf"), 64, &exact);
    const bool returnedBeforeRelease = !resolver.released;
    resolver.release();
    watchdog.join();

    EXPECT_TRUE(returnedBeforeRelease) << "the caller waited for the icon look-up";
    EXPECT_FALSE(exact);
    ASSERT_FALSE(first.isNull()) << "a pending cell still gets a generic picture, not a blank";
    EXPECT_EQ(first.size(), QSize(64, 64));

    ASSERT_TRUE(KLTypeIcons::waitForPending());
    const QImage second = KLTypeIcons::iconForFileName(QStringLiteral("/some/folder/report.pdf"), 64, &exact);
    EXPECT_TRUE(exact);
    EXPECT_EQ(second.pixelColor(10, 10), QColor::fromRgb(qHash(QStringLiteral("application/pdf")) & 0xffffff));
    EXPECT_EQ(resolver.onMainThread.load(), 0) << "icons were looked up on the main thread";
}

TEST_F(TypeIconsTest, OnePicturePerTypeAndSizeSharedByAllItsFiles)
{
    for (const QString &name : {QStringLiteral("a.pdf"), QStringLiteral("b.pdf"), QStringLiteral("c.PDF"),
                                QStringLiteral("photo.jpg"), QStringLiteral("other.jpeg")})
        KLTypeIcons::iconForFileName(name, 48);
    ASSERT_TRUE(KLTypeIcons::waitForPending());

    bool exactA = false, exactB = false, exactJ = false;
    const QImage a = KLTypeIcons::iconForFileName(QStringLiteral("a.pdf"), 48, &exactA);
    const QImage b = KLTypeIcons::iconForFileName(QStringLiteral("/elsewhere/b.pdf"), 48, &exactB);
    const QImage j = KLTypeIcons::iconForFileName(QStringLiteral("other.jpeg"), 48, &exactJ);
    ASSERT_TRUE(exactA && exactB && exactJ);
    EXPECT_EQ(a.cacheKey(), b.cacheKey()) << "files of one type share one picture";
    EXPECT_NE(a.cacheKey(), j.cacheKey());
    EXPECT_EQ(resolver.countOf(QStringLiteral("application/pdf")), 1);
    EXPECT_EQ(resolver.countOf(QStringLiteral("image/jpeg")), 1);

    // A file never seen before with a known extension is answered at once.
    bool exactNew = false;
    const QImage fresh = KLTypeIcons::iconForFileName(QStringLiteral("/new/folder/never-seen.pdf"), 48, &exactNew);
    EXPECT_TRUE(exactNew);
    EXPECT_EQ(fresh.cacheKey(), a.cacheKey());

    // Extensions keep their case: C++ and C sources differ only by it.
    KLTypeIcons::iconForFileName(QStringLiteral("prog.c"), 48);
    KLTypeIcons::iconForFileName(QStringLiteral("prog.C"), 48);
    ASSERT_TRUE(KLTypeIcons::waitForPending());
    EXPECT_NE(KLTypeIcons::iconForFileName(QStringLiteral("x.c"), 48).cacheKey(),
              KLTypeIcons::iconForFileName(QStringLiteral("x.C"), 48).cacheKey());

    // Another size is another picture, looked up once more.
    KLTypeIcons::iconForFileName(QStringLiteral("a.pdf"), 96);
    ASSERT_TRUE(KLTypeIcons::waitForPending());
    bool exact96 = false;
    const QImage big = KLTypeIcons::iconForFileName(QStringLiteral("a.pdf"), 96, &exact96);
    EXPECT_TRUE(exact96);
    EXPECT_EQ(big.size(), QSize(96, 96));
    EXPECT_EQ(resolver.countOf(QStringLiteral("application/pdf")), 2);
}

TEST_F(TypeIconsTest, TypeComesFromTheNameNeverFromTheFile)
{
    // A file in a folder that does not exist, and one whose content says otherwise: both are
    // typed by their names alone.
    const QString folder = KelsoTest::home() + QStringLiteral("/type-icons");
    QDir().mkpath(folder);
    KelsoTest::writeFile(folder + QStringLiteral("/looks-like.txt"), QByteArray("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n"));
    KLTypeIcons::iconForFileName(QStringLiteral("/no/such/folder/picture.png"), 32);
    KLTypeIcons::iconForFileName(folder + QStringLiteral("/looks-like.txt"), 32);
    KLTypeIcons::iconForFileName(QStringLiteral("/no/such/folder/no-extension-at-all"), 32);
    ASSERT_TRUE(KLTypeIcons::waitForPending());

    std::lock_guard guard(resolver.lock);
    EXPECT_TRUE(resolver.types.contains(QStringLiteral("image/png")));
    EXPECT_TRUE(resolver.types.contains(QStringLiteral("text/plain")));
    EXPECT_FALSE(resolver.types.contains(QStringLiteral("application/pdf"))) << "the file's content was read";
    // The type's own icon names come first, the generic document last.
    const qsizetype png = resolver.types.indexOf(QStringLiteral("image/png"));
    EXPECT_EQ(resolver.names.at(png).first(), QStringLiteral("image-png"));
    EXPECT_EQ(resolver.names.at(png).last(), QStringLiteral("text-x-generic"));
    // No extension: the default type, offered only the generic icon.
    const qsizetype other = resolver.types.indexOf(QStringLiteral("application/octet-stream"));
    ASSERT_GE(other, 0);
    EXPECT_EQ(resolver.names.at(other), QStringList{QStringLiteral("text-x-generic")});
}

TEST_F(TypeIconsTest, ResultSetsTheRedrawFlagAndPendingLookUpsAreNotRepeated)
{
    KLProcessFlags::takeNeedsRedraw();
    resolver.hold();
    for (int i = 0; i < 20; ++i)
        KLTypeIcons::iconForFileName(QStringLiteral("song.mp3"), 40); // one paint after another
    resolver.release();
    ASSERT_TRUE(KLTypeIcons::waitForPending());
    EXPECT_TRUE(KLProcessFlags::takeNeedsRedraw()) << "nothing would bring the icon on screen";
    EXPECT_EQ(resolver.countOf(QStringLiteral("audio/mpeg")), 1);

    // Once the generic icon has been found by the worker, it stands in for the next new type.
    bool exact = true;
    const QImage standIn = KLTypeIcons::iconForFileName(QStringLiteral("sheet.ods"), 40, &exact);
    EXPECT_FALSE(exact);
    EXPECT_EQ(standIn.pixelColor(5, 5), QColor::fromRgb(qHash(QStringLiteral("application/octet-stream")) & 0xffffff));
}

TEST_F(TypeIconsTest, ThemeLookUpWithoutSeamGivesAPicture)
{
    // The real path: the freedesktop theme, or the picture drawn in code when no theme has it.
    KLTypeIcons::setResolverForTesting({});
    KLTypeIcons::iconForFileName(QStringLiteral("notes.txt"), 48);
    ASSERT_TRUE(KLTypeIcons::waitForPending());
    bool exact = false;
    const QImage icon = KLTypeIcons::iconForFileName(QStringLiteral("notes.txt"), 48, &exact);
    EXPECT_TRUE(exact);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.size(), QSize(48, 48));
    EXPECT_TRUE(KLTypeIcons::iconForFileName(QStringLiteral("x.txt"), 0).isNull());
}
