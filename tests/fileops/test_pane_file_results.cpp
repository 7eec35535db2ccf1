// What the panes and the collector make of Kelso's own file operations: a file that could not
// be trashed keeps its item and is named in one message; a file Kelso moved (Move To, filing)
// is followed by its item at once, never shown as missing.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLRecentSource.h"
#include "fileops/ScratchVolume.h"
#include "fileops/XPFileJobs.h"
#include "fileops/XPRename.h"
#include "platform/Defaults.h"
#include "recent/KLRecentFiles.h"
#include "search/KLFilePicker.h"
#include "support/TestSupport.h"
#include "tags/XPFiledDocuments.h"
#include "util/KLTime.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QString freshFolder(const QString &name)
{
    const QString dir = KelsoTest::home() + QStringLiteral("/") + name + QStringLiteral("-") +
                        QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(dir);
    return dir;
}

// A recent-files source whose ranked list is the test's.
class ListSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override { return top; }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &items) override
    {
        for (const auto &r : items)
            top.removeIf([&](const KLItemPtr &i) { return *i == *r; });
    }
    bool writeState() override { return true; }
    void shutdown() override {}
};

// Where a file cannot be trashed: a read-only volume (root ignores folder permissions), or, for
// a user without the right to mount, a folder without write permission.
struct UntrashableFolder {
    ScratchVolume volume{QStringLiteral("read-only")};
    QString folder;
    QString file;
    QString skip;
    UntrashableFolder()
    {
        if (volume.mounted()) {
            folder = volume.path();
            file = folder + QStringLiteral("/Locked.txt");
            KelsoTest::writeFile(file, "locked");
            if (!volume.makeReadOnly())
                skip = QStringLiteral("cannot remount the test volume read-only");
        } else if (::geteuid() != 0) {
            folder = freshFolder(QStringLiteral("read-only"));
            file = folder + QStringLiteral("/Locked.txt");
            KelsoTest::writeFile(file, "locked");
            ::chmod(QFile::encodeName(folder).constData(), 0555);
        } else {
            skip = volume.why();
        }
    }
    ~UntrashableFolder()
    {
        if (!volume.mounted() && !folder.isEmpty())
            ::chmod(QFile::encodeName(folder).constData(), 0755);
    }
};

class PaneFileResults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
        services.trashAlertPresenter = [](const KLTrashWarning &) { return true; };
        services.fileFailurePresenter = [this](const KLFileFailureReport &report, QWidget *) {
            reports.append(report);
        };
    }
    // Handed to each pane that trashes or files.
    KLServices services;
    QList<KLFileFailureReport> reports;
};

} // namespace

TEST_F(PaneFileResults, AFileThatCannotBeTrashedStaysInTheCoolerAndIsNamedOnce)
{
    UntrashableFolder locked;
    if (!locked.skip.isEmpty())
        GTEST_SKIP() << qPrintable(locked.skip);
    const QString folder = freshFolder(QStringLiteral("trash-ok"));
    const QString fine = folder + QStringLiteral("/Fine.txt");
    KelsoTest::writeFile(fine, "fine");

    KLCoolerImageBrowserDelegate pane(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    pane.setServices(&services);
    pane.addPaths({fine, locked.file}, 0);
    ASSERT_EQ(pane.numberOfItems(), 2);
    pane.imageBrowserRemoveKLItems(pane.items(), true);
    ASSERT_TRUE(XPFileJobs::shared().waitUntilIdle(10000));

    EXPECT_FALSE(QFileInfo::exists(fine)) << "the file that could go went to the trash";
    EXPECT_TRUE(QFileInfo::exists(locked.file));
    ASSERT_EQ(pane.numberOfItems(), 1) << "only the trashed item leaves";
    EXPECT_EQ(pane.itemAtIndex(0)->lastKnownPath(), locked.file);
    ASSERT_EQ(reports.size(), 1) << "one message";
    ASSERT_EQ(reports[0].failures.size(), 1);
    EXPECT_EQ(reports[0].failures[0].path, locked.file);
    EXPECT_TRUE(reports[0].message.contains(QStringLiteral("Locked.txt"))) << qPrintable(reports[0].message);
    EXPECT_FALSE(reports[0].failures[0].why.isEmpty());
}

TEST_F(PaneFileResults, AFileThatCannotBeTrashedStaysInTheRecentPane)
{
    UntrashableFolder locked;
    if (!locked.skip.isEmpty())
        GTEST_SKIP() << qPrintable(locked.skip);
    const QString other = freshFolder(QStringLiteral("locked-too")) + QStringLiteral("/Other.txt");
    KelsoTest::writeFile(other, "other");
    auto source = std::make_unique<ListSource>();
    ListSource *list = source.get();
    list->top = {KLItem::create(locked.file), KLItem::create(other)};
    KLKelsoImageBrowserDelegate pane(std::move(source));
    pane.setServices(&services);
    pane.checkForChangedFiles();
    ASSERT_EQ(pane.numberOfItems(), 2);
    pane.imageBrowserRemoveKLItems({pane.itemAtIndex(0)}, true);
    ASSERT_TRUE(XPFileJobs::shared().waitUntilIdle(10000));
    EXPECT_EQ(pane.numberOfItems(), 2);
    EXPECT_EQ(list->top.size(), 2) << "the collector keeps it too";
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].message.contains(QStringLiteral("Locked.txt")));
}

TEST_F(PaneFileResults, MoveToTakesTheItemsAlongAtOnce)
{
    const QString from = freshFolder(QStringLiteral("from"));
    const QString to = freshFolder(QStringLiteral("to"));
    const QString file = from + QStringLiteral("/Notes.txt");
    KelsoTest::writeFile(file, "notes");
    const QString folder = from + QStringLiteral("/Album");
    KelsoTest::writeFile(folder + QStringLiteral("/photo.jpg"), "jpg");

    KLCoolerImageBrowserDelegate cooler(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    cooler.addPaths({file, folder + QStringLiteral("/photo.jpg")}, 0);
    auto source = std::make_unique<ListSource>();
    source->top = {KLItem::create(file)};
    KLKelsoImageBrowserDelegate recent(std::move(source));
    recent.checkForChangedFiles();
    const KLItemPtr shown = recent.itemAtIndex(0);
    shown->calculateCache();
    const KLTime before = shown->timeOfFile();

    // "Move To" of the file and of the folder holding the other one.
    EXPECT_EQ(KLFilePicker::moveFilesToFolder({file, folder}, to, {}), 2);
    QApplication::processEvents();

    EXPECT_EQ(shown->lastKnownPath(), to + QStringLiteral("/Notes.txt")) << "the recent cell follows";
    EXPECT_TRUE(cooler.hasItemAtPath(to + QStringLiteral("/Notes.txt")));
    EXPECT_TRUE(cooler.hasItemAtPath(to + QStringLiteral("/Album/photo.jpg"))) << "items inside a moved folder follow";
    EXPECT_FALSE(cooler.hasItemAtPath(file));
    // Its facts are those of the file at its new place: never the 1904 placeholder.
    EXPECT_TRUE(shown->fileExists());
    shown->calculateCache();
    EXPECT_TRUE(shown->fileExists());
    EXPECT_EQ(shown->timeOfFile(), before);
    EXPECT_NE(shown->timeOfFile(), KLItem::kUnknownFileTime);
    EXPECT_FALSE(shown->useMissingItemImage());
    EXPECT_TRUE(cooler.reloadPending()) << "the grid is redrawn with the new folder";
}

TEST_F(PaneFileResults, FilingTakesTheItemAlongAndReportsWhatFailed)
{
    const QString root = freshFolder(QStringLiteral("filed"));
    Defaults::standard().setValue(XPFiledDocuments::kFiledDocumentsPathKey, root);
    XPFiledDocuments::forgetRoot();
    const QString from = freshFolder(QStringLiteral("to-file"));
    const QString file = from + QStringLiteral("/Letter.txt");
    KelsoTest::writeFile(file, "letter");
    const QString link = from + QStringLiteral("/Link.txt");
    ASSERT_TRUE(QFile::link(file, link));

    KLCoolerImageBrowserDelegate cooler(freshFolder(QStringLiteral("store")) + QStringLiteral("/cooler.plist"));
    cooler.setServices(&services);
    cooler.addPaths({file}, 0);
    cooler.setSelectionsFiledDocs({file, link, from + QStringLiteral("/missing.txt")});
    ASSERT_TRUE(XPFileJobs::shared().waitUntilIdle(10000));
    QApplication::processEvents();
    Defaults::standard().removeObjectForKey(XPFiledDocuments::kFiledDocumentsPathKey);
    XPFiledDocuments::forgetRoot();

    const QDate d = QDate::currentDate();
    const QString filed = root + QStringLiteral("/%1/%2/%3/Letter.txt").arg(d.year()).arg(d.month()).arg(d.day());
    EXPECT_TRUE(QFileInfo::exists(filed));
    ASSERT_EQ(cooler.numberOfItems(), 1);
    EXPECT_EQ(cooler.itemAtIndex(0)->lastKnownPath(), filed);
    ASSERT_EQ(reports.size(), 1) << "one message for the link without its mark and the missing file";
    EXPECT_EQ(reports[0].failures.size(), 2);
}

TEST_F(PaneFileResults, TheCollectorFollowsKelsosMoves)
{
    const QString from = freshFolder(QStringLiteral("collector-from"));
    const QString to = freshFolder(QStringLiteral("collector-to"));
    const QString file = from + QStringLiteral("/Draft.txt");
    KelsoTest::writeFile(file, "draft");
    KLRecentFiles::Options options;
    options.useDefaultStream = false;
    options.startOpenedFilesQuery = false;
    options.primeListingCache = false;
    options.storePath = freshFolder(QStringLiteral("collector-store")) + QStringLiteral("/recent.plist");
    KLRecentFiles collector(options);
    KLRecentEvent event;
    event.files = {KLItem::create(file)};
    event.date = KLTimeUtil::now();
    event.path = from;
    collector.setPastEventsForTesting({event});

    QString why;
    ASSERT_TRUE(XPFileUtils::moveItemWithoutReplacing(file, to + QStringLiteral("/Draft.txt"), &why))
        << qPrintable(why);
    QApplication::processEvents();
    const QList<KLRecentEvent> events = collector.pastEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].files.value(0)->lastKnownPath(), to + QStringLiteral("/Draft.txt"));
    const QList<KLItemPtr> ranked = collector.recentFiles({});
    ASSERT_EQ(ranked.size(), 1);
    EXPECT_EQ(ranked[0]->lastKnownPath(), to + QStringLiteral("/Draft.txt"));
}
