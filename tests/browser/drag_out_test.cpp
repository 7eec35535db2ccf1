// Dragging cells out of a grid: recognising a drop on a file manager's Trash from what it left
// on the disk (the file gone, a record in the home trash), the panes dropping those items
// without trashing or asking again, the window stepping aside during the drag, and what
// happens to the window when the drag is over.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "platform/Defaults.h"
#include "platform/Mounts.h"
#include "platform/Workspace.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Test discovery runs this program at build time without the test's environment; without a
// display Qt would abort, so the offscreen platform is chosen here as well.
const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

using Fate = Workspace::MovedPathFate;

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray dataHome()
{
    return native(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

QByteArray trashFolder()
{
    return native(Workspace::homeTrashFolder());
}

bool exists(const QByteArray &nativePath)
{
    struct stat st;
    return ::lstat(nativePath.constData(), &st) == 0;
}

// Creates a file by its raw name (which need not be UTF-8), with its folder.
void makeNativeFile(const QByteArray &path)
{
    QDir().mkpath(QFile::decodeName(path.left(path.lastIndexOf('/'))));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
}

QByteArray now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1();
}

QByteArray record(const QByteArray &pathValue, const QByteArray &date = now())
{
    return "[Trash Info]\nPath=" + pathValue + "\nDeletionDate=" + date + "\n";
}

// What a file manager does when a file is dropped on its Trash: writes the record under a
// free name, then renames the file into files/ under the same name.
void fileManagerTrashes(const QByteArray &path, const QByteArray &trashName, const QByteArray &info)
{
    const QByteArray trash = trashFolder();
    QDir().mkpath(QFile::decodeName(trash + "/files"));
    QDir().mkpath(QFile::decodeName(trash + "/info"));
    const QByteArray infoPath = trash + "/info/" + trashName + ".trashinfo";
    const int fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << infoPath.constData();
    ASSERT_EQ(::write(fd, info.constData(), size_t(info.size())), info.size());
    ::close(fd);
    ASSERT_EQ(::rename(path.constData(), (trash + "/files/" + trashName).constData()), 0) << path.constData();
}

void fileManagerTrashes(const QString &path, const QString &trashName)
{
    fileManagerTrashes(native(path), native(trashName), record(QUrl::toPercentEncoding(path, "/")));
}

// What a file manager does when a file is dropped on an ordinary folder.
void fileManagerMoves(const QString &path, const QString &folder)
{
    QDir().mkpath(folder);
    ASSERT_TRUE(QFile::rename(path, folder + QLatin1Char('/') + path.section(QLatin1Char('/'), -1)));
}

int trashRecordCount()
{
    return int(QDir(QFile::decodeName(trashFolder() + "/info")).entryList(QDir::Files).size());
}

QString makeFile(const QString &relative)
{
    const QString p = KelsoTest::home() + QLatin1Char('/') + relative;
    KelsoTest::writeFile(p);
    return p;
}

// ---- recognising the trash ------------------------------------------------------------------

// A file on another volume goes to that volume's trash, whose record holds the path relative
// to the volume's top folder. The volume here is a folder that a test mount table calls one.
TEST(TrashRecognitionTest, AFileInItsVolumesTrashIsRecognisedByItsRelativeRecord)
{
    const QDateTime started = QDateTime::currentDateTime();
    const QString volume = KelsoTest::home() + QStringLiteral("/volume");
    const QString onVolume = makeFile(QStringLiteral("volume/docs/a b.txt"));
    const QString alsoGone = makeFile(QStringLiteral("volume/docs/deleted.txt"));
    const QString mountInfo = KelsoTest::home() + QStringLiteral("/mountinfo");
    KelsoTest::writeFile(mountInfo, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                    "40 22 8:17 / " +
                                        QFile::encodeName(volume) + " rw - ext4 /dev/sdb1 rw\n");
    Mounts::setMountInfoPathForTesting(mountInfo);
    const QByteArray trash = QFile::encodeName(volume) + "/.Trash-" + QByteArray::number(::getuid());
    QDir().mkpath(QFile::decodeName(trash + "/files"));
    QDir().mkpath(QFile::decodeName(trash + "/info"));
    KelsoTest::writeFile(QFile::decodeName(trash + "/info/a b.txt.trashinfo"), record("docs/a%20b.txt"));
    ASSERT_TRUE(QFile::rename(onVolume, QFile::decodeName(trash + "/files/a b.txt")));
    ASSERT_TRUE(QFile::remove(alsoGone));

    const QList<Fate> fates = Workspace::fatesOfMovedPaths(QStringList{onVolume, alsoGone}, started);
    Mounts::setMountInfoPathForTesting({});
    EXPECT_EQ(fates, (QList<Fate>{Fate::InTrash, Fate::GoneElsewhere}));

    // Read as relative to another top folder, the same record names another path.
    EXPECT_EQ(Workspace::fatesOfMovedPathsIn({QFile::encodeName(onVolume)}, started,
                                             [&](const QByteArray &) {
                                                 return QList<Workspace::TrashLocation>{{trash, "/elsewhere"}};
                                             }),
              QList<Fate>{Fate::GoneElsewhere});
}

TEST(TrashRecognitionTest, AFileInTheHomeTrashWithItsRecordIsRecognised)
{
    const QDateTime started = QDateTime::currentDateTime();
    const QString ours = makeFile(QStringLiteral("recog/by kelso.txt"));
    const QString theirs = makeFile(QStringLiteral("recog/by file manager.txt"));
    const QString elsewhere = makeFile(QStringLiteral("recog/moved.txt"));
    const QString staying = makeFile(QStringLiteral("recog/staying.txt"));
    // Trashed the freedesktop way by our own code, and by a file manager under a name of its
    // own choosing (a name was taken).
    ASSERT_TRUE(Workspace::moveToTrash(ours));
    fileManagerTrashes(theirs, QStringLiteral("by file manager.2.txt"));
    fileManagerMoves(elsewhere, KelsoTest::home() + QStringLiteral("/recog/Archive"));

    const QList<Fate> fates = Workspace::fatesOfMovedPaths(QStringList{ours, theirs, elsewhere, staying}, started);
    EXPECT_EQ(fates, (QList<Fate>{Fate::InTrash, Fate::InTrash, Fate::GoneElsewhere, Fate::StillThere}));
}

TEST(TrashRecognitionTest, NamesWithSpacesPercentSignsAndBytesThatAreNotUtf8)
{
    const QDateTime started = QDateTime::currentDateTime();
    const QByteArray folder = native(KelsoTest::home()) + "/odd names";
    const QByteArray spaced = folder + "/a  b c.txt";
    const QByteArray percent = folder + "/100% done %41.txt";
    const QByteArray latin1 = folder + "/caf\xe9.txt";     // "café" in Latin-1: not UTF-8
    const QByteArray latin1Twin = folder + "/caf\xe8.txt"; // another invalid name
    for (const QByteArray &p : {spaced, percent, latin1, latin1Twin})
        makeNativeFile(p);
    fileManagerTrashes(spaced, "a  b c.txt", record(spaced.toPercentEncoding("/")));
    // "%" itself is written as %25; "%41" in the name must not be read as "A".
    fileManagerTrashes(percent, "100% done %41.txt", record(percent.toPercentEncoding("/")));
    // The record holds the raw byte E9 as %E9, as file managers write it.
    ASSERT_TRUE(latin1.toPercentEncoding("/").endsWith("/caf%E9.txt"));
    fileManagerTrashes(latin1, "caf\xe9.txt", record(latin1.toPercentEncoding("/")));
    // The twin is gone too, but the only record for a "caf?" name is the E9 one: decoding both
    // to text would turn each invalid byte into the same replacement character and match.
    ASSERT_EQ(::rename(latin1Twin.constData(), (folder + "/../moved-twin").constData()), 0);

    const QList<Fate> fates =
        Workspace::fatesOfMovedPaths(QList<QByteArray>{spaced, percent, latin1, latin1Twin}, started);
    EXPECT_EQ(fates, (QList<Fate>{Fate::InTrash, Fate::InTrash, Fate::InTrash, Fate::GoneElsewhere}));
}

TEST(TrashRecognitionTest, RecordsThatDoNotNameThePathExactlyDoNotCount)
{
    const QDateTime started = QDateTime::currentDateTime();
    const QString base = KelsoTest::home() + QStringLiteral("/mismatch");
    // Each case: a file "report.txt" in a folder of its own, gone into the trash with a record
    // made from this template, where @ stands for the file's encoded path.
    struct Case {
        const char *what;
        QByteArray info;
        bool malformed; // the record itself is refused (else it names another path)
    };
    const QList<Case> cases = {
        {"another file's path", record("@.bak"), false},
        {"a prefix of the path", record("@/../report"), false},
        {"the folder", record("@/.."), false},
        {"no group line", "Path=@\nDeletionDate=" + now() + "\n", true},
        {"another group first", "[Desktop Entry]\n[Trash Info]\nPath=@\nDeletionDate=" + now() + "\n", true},
        {"Path outside the group", "[Trash Info]\nDeletionDate=" + now() + "\n[Other]\nPath=@\n", true},
        {"a stray percent sign", record("@%"), true},
        {"a cut-off escape", record("@%4"), true},
        {"a bad escape", record("@%zz"), true},
        {"an encoded NUL", record("@%00"), true},
        {"no deletion date", "[Trash Info]\nPath=@\n", true},
        {"a deletion date that is no date", record("@", "yesterday afternoon"), true},
        {"an empty path", record(""), true},
        {"a relative path climbing out", record("../../@"), true},
        {"binary garbage first", QByteArray("\x00\x01\xff", 3) + record("@"), true},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString file = base + QStringLiteral("/%1/report.txt").arg(++n);
        KelsoTest::writeFile(file);
        const QByteArray info = QByteArray(c.info).replace("@", native(file).toPercentEncoding("/"));
        fileManagerTrashes(native(file), native(QStringLiteral("report.%1.txt").arg(n)), info);
        EXPECT_EQ(Workspace::fatesOfMovedPaths(QStringList{file}, started), QList<Fate>{Fate::GoneElsewhere});
        const auto parsed = Workspace::parseTrashInfo(info);
        if (c.malformed) {
            EXPECT_FALSE(parsed.has_value());
        } else {
            ASSERT_TRUE(parsed.has_value());
            EXPECT_NE(parsed->path, native(file));
        }
    }
    // The same template with the exact path is recognised (the cases above fail for their own
    // reason, not for the way the files were trashed).
    const QString file = base + QStringLiteral("/good/report.txt");
    KelsoTest::writeFile(file);
    fileManagerTrashes(native(file), "report.good.txt", record(native(file).toPercentEncoding("/")));
    EXPECT_EQ(Workspace::fatesOfMovedPaths(QStringList{file}, started), QList<Fate>{Fate::InTrash});
}

TEST(TrashRecognitionTest, AnOldRecordOrOneWithoutItsFileIsNotThisDrop)
{
    const QString p = makeFile(QStringLiteral("stale/notes.txt"));
    // Last week a file of this name was trashed; today the new one is moved somewhere else.
    const QByteArray lastWeek =
        QDateTime::currentDateTime().addDays(-7).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1();
    {
        const QString old = makeFile(QStringLiteral("stale-old/notes.txt"));
        fileManagerTrashes(native(old), "notes.txt", record(QUrl::toPercentEncoding(p, "/"), lastWeek));
    }
    const QDateTime started = QDateTime::currentDateTime();
    fileManagerMoves(p, KelsoTest::home() + QStringLiteral("/stale/Elsewhere"));
    EXPECT_EQ(Workspace::fatesOfMovedPaths(QStringList{p}, started), QList<Fate>{Fate::GoneElsewhere});
    // Without a start time any date counts.
    EXPECT_EQ(Workspace::fatesOfMovedPaths(QStringList{p}, QDateTime()), QList<Fate>{Fate::InTrash});

    // A record whose trashed file is missing (the user emptied files/ by hand) does not count.
    const QString q = makeFile(QStringLiteral("stale/orphan.txt"));
    fileManagerTrashes(q, QStringLiteral("orphan.txt"));
    ASSERT_TRUE(QFile::remove(QFile::decodeName(trashFolder()) + QStringLiteral("/files/orphan.txt")));
    EXPECT_EQ(Workspace::fatesOfMovedPaths(QStringList{q}, started), QList<Fate>{Fate::GoneElsewhere});
}

TEST(TrashRecognitionTest, RecordParsing)
{
    // Relative paths are relative to the folder holding the trash; unencoded bytes are taken
    // as they stand; blanks around "=" and a Windows line end are tolerated.
    auto parsed =
        Workspace::parseTrashInfo("[Trash Info]\r\nPath = docs/a%20b.txt\r\nDeletionDate = 2026-12-07T10:11:12\r\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->path, QByteArray("docs/a b.txt"));
    EXPECT_EQ(parsed->deletionDate, QDateTime(QDate(2026, 12, 7), QTime(10, 11, 12)));
    parsed = Workspace::parseTrashInfo(record("/home/u/plain name.txt", "2026-01-02T03:04:05"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->path, QByteArray("/home/u/plain name.txt"));
    // A folder recorded with a trailing slash is the folder.
    parsed = Workspace::parseTrashInfo(record("/home/u/Folder/", "2026-01-02T03:04:05"));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->path, QByteArray("/home/u/Folder"));
    EXPECT_FALSE(Workspace::parseTrashInfo(QByteArray()));
    EXPECT_FALSE(Workspace::parseTrashInfo(record("/a%2", "2026-01-02T03:04:05")));
    EXPECT_FALSE(Workspace::parseTrashInfo(record("/a", "2026-13-02T03:04:05")));

    // A relative record is found in the trash as the path below $XDG_DATA_HOME.
    const QDateTime started = QDateTime::currentDateTime();
    const QByteArray inside = dataHome() + "/Shelf/kept.txt";
    makeNativeFile(inside);
    fileManagerTrashes(inside, "kept.txt", record("Shelf/kept.txt"));
    EXPECT_EQ(Workspace::fatesOfMovedPaths(QList<QByteArray>{inside}, started), QList<Fate>{Fate::InTrash});
}

// ---- the panes --------------------------------------------------------------------------------

class FakeSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    QList<KLItemPtr> removed;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override { return top; }
    QList<KLItemPtr> recentFilesInDirectory(const QString &) override { return {}; }
    void removeItems(const QList<KLItemPtr> &items) override
    {
        removed += items;
        for (const auto &r : items)
            top.removeIf([&](const KLItemPtr &i) { return *i == *r; });
    }
    bool writeState() override { return true; }
    void shutdown() override {}
};

class DragOutPaneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
        // Trashing with confirmation is what a delete-key removal would do; a drop that the
        // file manager trashed must ask nothing.
        Defaults::standard().setBool(QStringLiteral("KPDONTWarnAboutTrashingFiles"), false);
        services.trashAlertPresenter = [this](const KLTrashWarning &) {
            ++alerts;
            return true;
        };
    }

    // Runs the check and waits for its answer.
    static std::optional<QStringList> check(KLImageBrowserViewDelegate &pane, const QList<KLItemPtr> &items,
                                            const QDateTime &started, int timeoutMs = 3000)
    {
        auto answer = std::make_shared<std::optional<QStringList>>();
        pane.checkDragOutWentToTrash(
            items, started, [answer](const QList<KLItemPtr> &trashed) { *answer = KLItem::pathsForItems(trashed); },
            timeoutMs);
        KelsoTest::waitFor([&] { return answer->has_value(); }, 20000);
        return *answer;
    }

    // Handed to each pane; a confirmation would be counted here.
    KLServices services;
    int alerts = 0;
};

TEST_F(DragOutPaneTest, TheRecentPaneDropsWhatTheFileManagerTrashed)
{
    auto source = std::make_unique<FakeSource>();
    FakeSource *src = source.get();
    KLKelsoImageBrowserDelegate pane(std::move(source));
    pane.setServices(&services);
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        files.append(makeFile(QStringLiteral("recent-drop/file %1.txt").arg(i)));
        src->top.append(KLItem::create(files.last()));
    }
    pane.updateChangedFiles();
    ASSERT_EQ(pane.numberOfItems(), 4);
    const QList<KLItemPtr> dragged = {pane.itemAtIndex(1), pane.itemAtIndex(2)};
    const QDateTime started = QDateTime::currentDateTime();
    fileManagerTrashes(files[1], QStringLiteral("file 1.txt"));
    fileManagerTrashes(files[2], QStringLiteral("file 2.txt"));
    const int records = trashRecordCount();

    const auto answer = check(pane, dragged, started);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, (QStringList{files[1], files[2]}));
    EXPECT_EQ(pane.currentItemPaths(), (QStringList{files[0], files[3]}));
    EXPECT_EQ(KLItem::pathsForItems(src->removed), (QStringList{files[1], files[2]})) << "the collector forgets them";
    EXPECT_EQ(alerts, 0) << "no confirmation: the files are already in the trash";
    EXPECT_EQ(trashRecordCount(), records) << "nothing trashed a second time";
    EXPECT_TRUE(exists(trashFolder() + "/files/file 1.txt"));
    EXPECT_TRUE(QFile::exists(files[0]) && QFile::exists(files[3]));
}

TEST_F(DragOutPaneTest, TheCoolerDropsWhatTheFileManagerTrashedAndKeepsWhatMovedElsewhere)
{
    KLCoolerImageBrowserDelegate pane(KelsoTest::home() + QStringLiteral("/stores/cooler-drop.plist"));
    pane.setServices(&services);
    const QString a = makeFile(QStringLiteral("cooler-drop/a.txt"));
    const QString b = makeFile(QStringLiteral("cooler-drop/b.txt"));
    const QString c = makeFile(QStringLiteral("cooler-drop/c.txt"));
    pane.addPaths({a, b, c}, 0);
    const QList<KLItemPtr> dragged = pane.items();

    // A move to an ordinary folder is no drop on the trash: the items stay.
    QDateTime started = QDateTime::currentDateTime();
    fileManagerMoves(a, KelsoTest::home() + QStringLiteral("/cooler-drop/Folder"));
    auto answer = check(pane, {dragged[0]}, started);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->isEmpty());
    EXPECT_EQ(pane.numberOfItems(), 3);

    started = QDateTime::currentDateTime();
    fileManagerTrashes(b, QStringLiteral("b.txt"));
    fileManagerTrashes(c, QStringLiteral("c.txt"));
    answer = check(pane, {dragged[1], dragged[2]}, started);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, (QStringList{b, c}));
    EXPECT_EQ(pane.currentItemPaths(), QStringList{a});
    EXPECT_EQ(alerts, 0);
    EXPECT_TRUE(exists(trashFolder() + "/files/b.txt") && exists(trashFolder() + "/files/c.txt"));
}

TEST_F(DragOutPaneTest, ThePaneCopesWithChangesWhileTheCheckRuns)
{
    // The list is refreshed with fresh items at the same paths before the answer comes.
    auto source = std::make_unique<FakeSource>();
    FakeSource *src = source.get();
    KLKelsoImageBrowserDelegate recent(std::move(source));
    const QString x = makeFile(QStringLiteral("meanwhile/x.txt"));
    const QString y = makeFile(QStringLiteral("meanwhile/y.txt"));
    src->top = {KLItem::create(x), KLItem::create(y)};
    recent.updateChangedFiles();
    const QList<KLItemPtr> dragged = {recent.itemAtIndex(0)};
    const QDateTime started = QDateTime::currentDateTime();
    fileManagerTrashes(x, QStringLiteral("x.txt"));
    std::optional<QStringList> answer;
    recent.checkDragOutWentToTrash(dragged, started,
                                   [&](const QList<KLItemPtr> &t) { answer = KLItem::pathsForItems(t); });
    src->top = {KLItem::create(y), KLItem::create(x)};
    recent.updateChangedFiles();
    ASSERT_NE(recent.itemAtIndex(1).get(), dragged[0].get());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return answer.has_value(); }, 20000));
    EXPECT_EQ(recent.currentItemPaths(), QStringList{y});

    // The Cooler lost the item meanwhile: nothing to do, nothing breaks.
    KLCoolerImageBrowserDelegate cooler(KelsoTest::home() + QStringLiteral("/stores/cooler-meanwhile.plist"));
    cooler.setServices(&services);
    const QString z = makeFile(QStringLiteral("meanwhile/z.txt"));
    cooler.addPaths({z, y}, 0);
    const QList<KLItemPtr> draggedZ = {cooler.itemAtIndex(0)};
    fileManagerTrashes(z, QStringLiteral("z.txt"));
    answer.reset();
    cooler.checkDragOutWentToTrash(draggedZ, started,
                                   [&](const QList<KLItemPtr> &t) { answer = KLItem::pathsForItems(t); });
    cooler.imageBrowserRemoveKLItems(draggedZ, false);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return answer.has_value(); }, 20000));
    EXPECT_EQ(*answer, QStringList{z});
    EXPECT_EQ(cooler.currentItemPaths(), QStringList{y});

    // The pane is gone before the answer: no answer, no crash.
    bool called = false;
    {
        KLCoolerImageBrowserDelegate gone(KelsoTest::home() + QStringLiteral("/stores/cooler-gone.plist"));
        gone.addPaths({y}, 0);
        gone.checkDragOutWentToTrash(gone.items(), started, [&](const QList<KLItemPtr> &) { called = true; });
        EXPECT_EQ(gone.pendingTrashDropChecks(), 1);
    }
    QTest::qWait(300);
    EXPECT_FALSE(called);
}

TEST_F(DragOutPaneTest, TheCheckWaitsForAFileManagerThatIsStillWorking)
{
    KLCoolerImageBrowserDelegate pane(KelsoTest::home() + QStringLiteral("/stores/cooler-slow.plist"));
    pane.setServices(&services);
    const QString slow = makeFile(QStringLiteral("slow/slow.txt"));
    const QString kept = makeFile(QStringLiteral("slow/kept.txt"));
    pane.addPaths({slow, kept}, 0);
    const QDateTime started = QDateTime::currentDateTime();
    std::optional<QStringList> answer;
    pane.checkDragOutWentToTrash(
        {pane.itemAtIndex(0)}, started, [&](const QList<KLItemPtr> &t) { answer = KLItem::pathsForItems(t); }, 15000);
    // The file is still in place for a while; the check keeps looking.
    QTest::qWait(400);
    EXPECT_FALSE(answer.has_value());
    EXPECT_EQ(pane.pendingTrashDropChecks(), 1);
    fileManagerTrashes(slow, QStringLiteral("slow.txt"));
    ASSERT_TRUE(KelsoTest::waitFor([&] { return answer.has_value(); }, 20000));
    EXPECT_EQ(*answer, QStringList{slow});
    EXPECT_EQ(pane.currentItemPaths(), QStringList{kept});

    // A file that never leaves: after the time limit the answer is "not the trash".
    answer.reset();
    pane.checkDragOutWentToTrash(
        {pane.itemAtIndex(0)}, started, [&](const QList<KLItemPtr> &t) { answer = KLItem::pathsForItems(t); }, 300);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return answer.has_value(); }, 20000));
    EXPECT_TRUE(answer->isEmpty());
    EXPECT_EQ(pane.currentItemPaths(), QStringList{kept});
    EXPECT_EQ(pane.pendingTrashDropChecks(), 0);
}

// ---- the window during and after the drag ---------------------------------------------------

TEST(DragOutWindowTest, TheWindowStepsAsideElevenPixelsOutNotTen)
{
    const QRect frame(100, 200, 300, 50); // x 100…399, y 200…249
    using KLDragOut::shouldStepAside;
    const int y = 220;
    const int x = 250;
    // Left and right.
    EXPECT_FALSE(shouldStepAside(true, frame, QPoint(90, y)));
    EXPECT_TRUE(shouldStepAside(true, frame, QPoint(89, y)));
    EXPECT_FALSE(shouldStepAside(true, frame, QPoint(409, y)));
    EXPECT_TRUE(shouldStepAside(true, frame, QPoint(410, y)));
    // Top and bottom.
    EXPECT_FALSE(shouldStepAside(true, frame, QPoint(x, 190)));
    EXPECT_TRUE(shouldStepAside(true, frame, QPoint(x, 189)));
    EXPECT_FALSE(shouldStepAside(true, frame, QPoint(x, 259)));
    EXPECT_TRUE(shouldStepAside(true, frame, QPoint(x, 260)));
    // Corners: within the grown frame on both axes, or not.
    EXPECT_FALSE(shouldStepAside(true, frame, QPoint(90, 190)));
    EXPECT_TRUE(shouldStepAside(true, frame, QPoint(89, 190)));
    EXPECT_FALSE(shouldStepAside(true, frame, QPoint(250, 220)));
    // A window that is not showing has nothing to step aside from.
    EXPECT_FALSE(shouldStepAside(false, frame, QPoint(2000, 2000)));
}

TEST(DragOutWindowTest, EndOfDragDecisionTable)
{
    using KLDragOut::endOfDragAction;
    using A = KLDragOut::EndAction;
    const QList<Qt::DropAction> accepted = {Qt::CopyAction, Qt::MoveAction, Qt::LinkAction};
    // Visible and fully opaque: nothing, whatever the drop.
    for (Qt::DropAction r : accepted + QList<Qt::DropAction>{Qt::IgnoreAction}) {
        for (bool dz : {false, true})
            EXPECT_EQ(endOfDragAction(true, 1.0, r, dz), A::Nothing) << int(r) << dz;
    }
    // Stepped aside (ordered out), or half faded, or visible but transparent.
    const QList<std::pair<bool, double>> away = {{false, 1.0}, {false, 0.0}, {true, 0.5}, {true, 0.0}};
    for (const auto &[visible, opacity] : away) {
        for (Qt::DropAction r : accepted) {
            EXPECT_EQ(endOfDragAction(visible, opacity, r, false), A::HideApplication) << visible << opacity << int(r);
            EXPECT_EQ(endOfDragAction(visible, opacity, r, true), A::BringBack) << "the drop zone took it";
        }
        EXPECT_EQ(endOfDragAction(visible, opacity, Qt::IgnoreAction, false), A::BringBack) << "refused";
        EXPECT_EQ(endOfDragAction(visible, opacity, Qt::IgnoreAction, true), A::BringBack);
    }
}

class MainWindowDragTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
        Defaults::standard().setBool(QStringLiteral("KLFadeIn"), false);
        Defaults::standard().setBool(QStringLiteral("KPDONTWarnAboutTrashingFiles"), false);
        services.trashAlertPresenter = [this](const KLTrashWarning &) {
            ++alerts;
            return true;
        };
        auto source = std::make_unique<FakeSource>();
        src = source.get();
        KLMainWindowController::Options options;
        options.recentSource = std::move(source);
        options.coolerStorePath =
            KelsoTest::home() +
            QStringLiteral("/stores/%1.plist").arg(::testing::UnitTest::GetInstance()->current_test_info()->name());
        options.services = &services;
        controller = std::make_unique<KLMainWindowController>(std::move(options));
    }
    void TearDown() override
    {
        Defaults::standard().setBool(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), false);
        Defaults::standard().setBool(QStringLiteral("KLFadeIn"), false);
    }
    KLCustomWindow *window() const { return controller->window(); }

    // Handed to the controller, which it outlives.
    KLServices services;
    FakeSource *src = nullptr;
    std::unique_ptr<KLMainWindowController> controller;
    int alerts = 0;
};

TEST_F(MainWindowDragTest, StepsAsideOncePastTheMargin)
{
    controller->showWindow(true);
    ASSERT_TRUE(window()->isVisible());
    const QRect frame = window()->frameGeometry();
    KLImageBrowserView *grid = controller->kelsoBrowser();
    grid->draggingSessionMoved(QPoint(frame.right() + 10, frame.center().y()));
    EXPECT_TRUE(window()->isVisible()) << "10 pixels out is still near the window";
    grid->draggingSessionMoved(QPoint(frame.center().x(), frame.top() - 11));
    EXPECT_FALSE(window()->isVisible()) << "11 pixels out: out of the way";
}

TEST_F(MainWindowDragTest, TheWindowAfterTheDrop)
{
    KLImageBrowserView *grid = controller->kelsoBrowser();
    QSignalSpy hides(controller.get(), &KLMainWindowController::applicationHideRequested);
    const QDateTime started = QDateTime::currentDateTime();
    // Dropped while the window still shows: nothing changes.
    controller->showWindow(true);
    grid->draggingSessionEnded(Qt::CopyAction, false, {}, {}, started);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(hides.size(), 0);
    // Stepped aside, then dropped onto another program: the application hides.
    controller->orderOut();
    ASSERT_FALSE(window()->isVisible());
    grid->draggingSessionEnded(Qt::CopyAction, false, {}, {}, started);
    EXPECT_EQ(hides.size(), 1);
    EXPECT_FALSE(window()->isVisible());
    // Stepped aside and refused: the window comes back.
    grid->draggingSessionEnded(Qt::IgnoreAction, false, {}, {}, started);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_DOUBLE_EQ(window()->windowOpacity(), 1.0);
    EXPECT_EQ(hides.size(), 1);
    // Stepped aside and taken by the drop zone: the window comes back too.
    services.dropZoneQuery = [] { return true; };
    controller->orderOut();
    grid->draggingSessionEnded(Qt::CopyAction, false, {}, {}, started);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(hides.size(), 1);
}

TEST_F(MainWindowDragTest, ATrashDropLeavesTheCoolerAloneAndAFolderMoveFeedsIt)
{
    Defaults::standard().setBool(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), true);
    const QString trashed = makeFile(QStringLiteral("window-drop/trashed.txt"));
    const QString moved = makeFile(QStringLiteral("window-drop/moved.txt"));
    src->top = {KLItem::create(trashed), KLItem::create(moved)};
    KLKelsoImageBrowserDelegate *recent = controller->kelsoDelegate();
    recent->updateChangedFiles();
    ASSERT_EQ(recent->numberOfItems(), 2);
    KLImageBrowserView *grid = controller->kelsoBrowser();
    controller->showWindow(true);

    // Onto the file manager's Trash: a move that put the file in the trash.
    QDateTime started = QDateTime::currentDateTime();
    const KLItemPtr first = recent->itemAtIndex(0);
    fileManagerTrashes(trashed, QStringLiteral("trashed.txt"));
    grid->draggingSessionEnded(Qt::MoveAction, false, {first}, {QUrl::fromLocalFile(trashed)}, started);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !recent->hasItemAtPath(trashed); }, 20000));
    ASSERT_TRUE(KelsoTest::waitFor([&] { return recent->pendingTrashDropChecks() == 0; }, 20000));
    EXPECT_FALSE(controller->coolerDelegate()->hasItemAtPath(trashed)) << "a trashed file does not join the Cooler";
    EXPECT_EQ(alerts, 0);

    // Onto an ordinary folder: a move too, but the file joins the Cooler as any drag out does.
    started = QDateTime::currentDateTime();
    const KLItemPtr second = recent->itemAtIndex(0);
    ASSERT_EQ(second->lastKnownPath(), moved);
    fileManagerMoves(moved, KelsoTest::home() + QStringLiteral("/window-drop/Folder"));
    grid->draggingSessionEnded(Qt::MoveAction, false, {second}, {QUrl::fromLocalFile(moved)}, started);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return controller->coolerDelegate()->hasItemAtPath(moved); }, 20000));
    EXPECT_TRUE(recent->hasItemAtPath(moved));
}

} // namespace
