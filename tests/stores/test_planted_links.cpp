// Symbolic links planted where Kelso keeps a store must never make it write through them:
// a link at the store's path (to a file, a folder, or nowhere), a link in place of Kelso's
// folder, and links next to the store (the settings lock, the index's -wal and -shm files).
// Each writer is run against each case; the file the link points at must be left as it was.
#include "cooler/KLCoolerStore.h"
#include "platform/Autostart.h"
#include "platform/Defaults.h"
#include "platform/StoreFile.h"
#include "platform/fsevents/EventJournal.h"
#include "platform/mdindex/MdStore.h"
#include "recent/KLRecentFiles.h"
#include "support/TestSupport.h"
#include "thumbs/SlowRenderCache.h"
#include "thumbs/ThumbnailCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QStandardPaths>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int counter = 0;

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool isLink(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

mode_t modeOf(const QString &path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

void plantLink(const QString &target, const QString &at)
{
    QDir().mkpath(QFileInfo(at).absolutePath());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0) << qPrintable(at);
}

// One store writer: where its store lives, and a write of new content to it.
struct Writer {
    const char *name;
    std::function<QString(const QString &folder)> storePath;
    std::function<bool(const QString &path)> write;
    bool privateFolder; // lives in one of Kelso's own folders
};

bool writeRecent(const QString &path)
{
    Defaults defaults(KelsoTest::home() + QStringLiteral("/recent-settings-%1.plist").arg(counter));
    KLRecentFiles::Options o;
    o.defaults = &defaults;
    o.storePath = path;
    o.useDefaultStream = false;
    o.startStream = false;
    o.startOpenedFilesQuery = false;
    o.primeListingCache = false;
    KLRecentFiles recent(o);
    return recent.writeState();
}

bool writeCooler(const QString &path)
{
    const QString item = KelsoTest::home() + QStringLiteral("/cooler-item.txt");
    KelsoTest::writeFile(item);
    return KLCoolerStore::write(path, {KLItem::create(item, false)});
}

bool writeDefaults(const QString &path)
{
    Defaults defaults(path);
    defaults.setString(QStringLiteral("key"), QStringLiteral("new"));
    return defaults.synchronize();
}

bool writeJournal(const QString &path)
{
    KLFSEvents::EventJournal journal(QFileInfo(path).absolutePath(), QFileInfo(path).fileName());
    if (!journal.open())
        return false;
    std::vector<KLFSEvents::JournalRecord> records(1);
    records[0].path = "/tmp/x";
    journal.append(records);
    return true;
}

bool writeIndex(const QString &path)
{
    MdIndex::Store store;
    QString error;
    return store.open(path, MdIndex::Store::Mode::ReadWrite, &error);
}

bool writeSlowRenderCache(const QString &path)
{
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(Qt::red);
    KPQuickLookCacher(image, path).main();
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           readBytes(path).startsWith("\x89PNG");
}

const std::vector<Writer> &writers()
{
    static const std::vector<Writer> all = {
        {"recent", [](const QString &f) { return f + QStringLiteral("/recentItems.plist"); }, writeRecent, true},
        {"cooler", [](const QString &f) { return f + QStringLiteral("/coolerItems.plist"); }, writeCooler, true},
        {"settings", [](const QString &f) { return f + QStringLiteral("/com.tallow.kelso.plist"); }, writeDefaults,
         false},
        {"shared tags", [](const QString &f) { return f + QStringLiteral("/com.lumitag.shared.plist"); }, writeDefaults,
         false},
        {"journal", [](const QString &f) { return f + QStringLiteral("/fsevents.journal"); }, writeJournal, true},
        {"index", [](const QString &f) { return f + QStringLiteral("/index.sqlite3"); }, writeIndex, true},
        {"thumbnail cache", [](const QString &f) { return f + QStringLiteral("/abc_xxUc_64.png"); },
         writeSlowRenderCache, true},
    };
    return all;
}

class PlantedLinks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        base = KelsoTest::home() + QStringLiteral("/links-") + QString::number(++counter);
        storeFolder = base + QStringLiteral("/Kelso");
        elsewhere = base + QStringLiteral("/elsewhere");
        QDir().mkpath(storeFolder);
        QDir().mkpath(elsewhere);
        victim = elsewhere + QStringLiteral("/victim.txt");
        KelsoTest::writeFile(victim, "the user's own file");
        ::chmod(QFile::encodeName(victim).constData(), 0644);
    }
    void expectVictimUntouched(const char *writer)
    {
        EXPECT_EQ(readBytes(victim), QByteArray("the user's own file")) << writer;
        EXPECT_EQ(modeOf(victim), mode_t(0644)) << writer;
    }
    QStringList entriesElsewhere() const
    {
        return QDir(elsewhere).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    QString base, storeFolder, elsewhere, victim;
};

TEST_F(PlantedLinks, LinkAtTheStorePathToAFileIsRefusedAndTheFileKept)
{
    for (const Writer &w : writers()) {
        SetUp();
        const QString store = w.storePath(storeFolder);
        plantLink(victim, store);
        // Either the write is refused, or a reader found the link's target unreadable and
        // moved the link itself aside first: never is the target replaced.
        if (w.write(store)) {
            EXPECT_FALSE(isLink(store)) << w.name << " wrote while the link was there";
        }
        expectVictimUntouched(w.name);
    }
}

TEST_F(PlantedLinks, DanglingLinkAtTheStorePathCreatesNothing)
{
    for (const Writer &w : writers()) {
        SetUp();
        const QString store = w.storePath(storeFolder);
        const QString target = elsewhere + QStringLiteral("/made-by-kelso");
        plantLink(target, store);
        EXPECT_FALSE(w.write(store)) << w.name;
        EXPECT_FALSE(QFileInfo::exists(target)) << w.name << " wrote through a dangling link";
        expectVictimUntouched(w.name);
    }
}

TEST_F(PlantedLinks, LinkAtTheStorePathToAFolderWritesNothingInIt)
{
    for (const Writer &w : writers()) {
        SetUp();
        const QString store = w.storePath(storeFolder);
        plantLink(elsewhere, store);
        EXPECT_FALSE(w.write(store)) << w.name;
        EXPECT_EQ(entriesElsewhere(), QStringList{QStringLiteral("victim.txt")}) << w.name;
        expectVictimUntouched(w.name);
    }
}

TEST_F(PlantedLinks, KelsosFolderReplacedByALinkIsNotWrittenThrough)
{
    for (const Writer &w : writers()) {
        if (!w.privateFolder)
            continue; // the settings live in the user's config folder, which may be a link
        SetUp();
        QDir(storeFolder).removeRecursively();
        plantLink(elsewhere, storeFolder);
        // The victim sits where the store would be, seen through the link.
        const QString store = w.storePath(storeFolder);
        QFile::copy(victim, w.storePath(elsewhere));
        EXPECT_FALSE(w.write(store)) << w.name;
        EXPECT_EQ(entriesElsewhere().size(), 2) << w.name << ": " << qPrintable(entriesElsewhere().join(' '));
        EXPECT_EQ(readBytes(w.storePath(elsewhere)), QByteArray("the user's own file")) << w.name;
    }
}

TEST_F(PlantedLinks, LinksNextToTheStoreAreNotFollowed)
{
    // The settings lock and the index's side files are opened by name next to the store.
    const QString settings = storeFolder + QStringLiteral("/com.tallow.kelso.plist");
    plantLink(victim, settings + QStringLiteral(".lock"));
    writeDefaults(settings);
    expectVictimUntouched("settings lock");

    const QString index = storeFolder + QStringLiteral("/index.sqlite3");
    const QString danglingTarget = elsewhere + QStringLiteral("/made-by-sqlite");
    plantLink(victim, index + QStringLiteral("-wal"));
    plantLink(danglingTarget, index + QStringLiteral("-shm"));
    MdIndex::Store store;
    QString error;
    store.open(index, MdIndex::Store::Mode::ReadWrite, &error);
    store.close();
    expectVictimUntouched("index side files");
    EXPECT_FALSE(QFileInfo::exists(danglingTarget));
}

TEST_F(PlantedLinks, AStoreIsWrittenWhenNoLinkIsThereAndIsPrivate)
{
    // The same writers do write (so the refusals above are about the links) and make 0600 files.
    for (const Writer &w : writers()) {
        SetUp();
        const QString store = w.storePath(storeFolder);
        EXPECT_TRUE(w.write(store)) << w.name;
        EXPECT_EQ(modeOf(store), mode_t(0600)) << w.name;
    }
}

TEST_F(PlantedLinks, AWideStoreLeftByAnOlderVersionBecomesPrivateOnItsNextWrite)
{
    for (const char *name : {"recent", "cooler", "settings"}) {
        SetUp();
        const Writer &w = *std::find_if(writers().begin(), writers().end(),
                                        [&](const Writer &x) { return qstrcmp(x.name, name) == 0; });
        const QString store = w.storePath(storeFolder);
        ASSERT_TRUE(w.write(store)) << name;
        ::chmod(QFile::encodeName(store).constData(), 0644);
        ASSERT_TRUE(w.write(store)) << name;
        EXPECT_EQ(modeOf(store), mode_t(0600)) << name;
    }
}

TEST_F(PlantedLinks, TheIndexSideFilesAndTheJournalFolderArePrivateToo)
{
    const QString index = storeFolder + QStringLiteral("/index.sqlite3");
    MdIndex::Store store;
    QString error;
    ASSERT_TRUE(store.open(index, MdIndex::Store::Mode::ReadWrite, &error)) << qPrintable(error);
    for (const char *suffix : {"", "-wal", "-shm"}) {
        const QString file = index + QLatin1String(suffix);
        if (QFileInfo::exists(file)) {
            EXPECT_EQ(modeOf(file), mode_t(0600)) << qPrintable(file);
        }
    }
    store.close();

    // A state folder left open by an older version is closed when the journal opens.
    const QString state = base + QStringLiteral("/state/Kelso");
    QDir().mkpath(state);
    ::chmod(QFile::encodeName(state).constData(), 0755);
    KLFSEvents::EventJournal journal(state);
    ASSERT_TRUE(journal.open());
    EXPECT_EQ(modeOf(state), mode_t(0700));
    EXPECT_EQ(modeOf(journal.path()), mode_t(0600));
}

// ---- the helper itself -------------------------------------------------------------------

TEST_F(PlantedLinks, PrivateFolderIsCreated0700AndAnOpenOneTightened)
{
    const QString fresh = base + QStringLiteral("/a/b/Kelso");
    ASSERT_TRUE(StoreFile::preparePrivateFolder(fresh));
    EXPECT_EQ(modeOf(fresh), mode_t(0700));
    EXPECT_EQ(modeOf(base + QStringLiteral("/a")), mode_t(0700)) << "missing parents are made private too";

    ::chmod(QFile::encodeName(storeFolder).constData(), 0755);
    ASSERT_TRUE(StoreFile::preparePrivateFolder(storeFolder));
    EXPECT_EQ(modeOf(storeFolder), mode_t(0700));
}

TEST_F(PlantedLinks, PrivateFolderThatIsALinkOrAFileIsRefused)
{
    const QString link = base + QStringLiteral("/LinkedKelso");
    plantLink(elsewhere, link);
    ::chmod(QFile::encodeName(elsewhere).constData(), 0755);
    QString why;
    EXPECT_FALSE(StoreFile::preparePrivateFolder(link, &why));
    EXPECT_TRUE(why.contains(QLatin1String("symbolic link"))) << qPrintable(why);
    EXPECT_EQ(modeOf(elsewhere), mode_t(0755)) << "the link's target keeps its mode";

    EXPECT_FALSE(StoreFile::preparePrivateFolder(victim, &why));
    expectVictimUntouched("folder that is a file");
}

TEST_F(PlantedLinks, TighteningAModeNeverFollowsALink)
{
    const QString store = storeFolder + QStringLiteral("/coolerItems.plist");
    plantLink(victim, store);
    StoreFile::tightenMode(store);
    expectVictimUntouched("tightenMode");

    const QString own = storeFolder + QStringLiteral("/recentItems.plist");
    KelsoTest::writeFile(own);
    ::chmod(QFile::encodeName(own).constData(), 0664);
    StoreFile::tightenMode(own);
    EXPECT_EQ(modeOf(own), mode_t(0600));
}

TEST_F(PlantedLinks, AppendNeverFollowsALink)
{
    const QString journal = storeFolder + QStringLiteral("/fsevents.journal");
    plantLink(victim, journal);
    EXPECT_LT(StoreFile::openForAppend(journal), 0);
    expectVictimUntouched("append");
}

TEST_F(PlantedLinks, AutostartEntryIsNeverWrittenThroughADanglingLink)
{
    const QString folder = Autostart::folder();
    const QString target = elsewhere + QStringLiteral("/made-by-kelso.desktop");
    QFile::remove(folder + QStringLiteral("/kelso.desktop"));
    plantLink(target, folder + QStringLiteral("/kelso.desktop"));
    QString error;
    EXPECT_FALSE(Autostart::addEntry(QStringLiteral("kelso.desktop"), QStringLiteral("/usr/bin/kelso"), &error));
    EXPECT_TRUE(error.contains(QLatin1String("symbolic link"))) << qPrintable(error);
    EXPECT_FALSE(QFileInfo::exists(target));
    QFile::remove(folder + QStringLiteral("/kelso.desktop"));
}

TEST_F(PlantedLinks, ThumbnailToolNeverWritesThroughALinkAtItsOutput)
{
    const QString picture = base + QStringLiteral("/picture.png");
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(picture));
    const QString output = storeFolder + QStringLiteral("/out.png");
    plantLink(victim, output);
    EXPECT_NE(runThumbnailCommand(
                  {picture, QStringLiteral("--size"), QStringLiteral("16"), QStringLiteral("--output"), output}),
              0);
    expectVictimUntouched("thumbnail tool");

    const QString dangling = storeFolder + QStringLiteral("/dangling.png");
    const QString target = elsewhere + QStringLiteral("/made-by-kelso.png");
    plantLink(target, dangling);
    EXPECT_NE(runThumbnailCommand(
                  {picture, QStringLiteral("--size"), QStringLiteral("16"), QStringLiteral("--output"), dangling}),
              0);
    EXPECT_FALSE(QFileInfo::exists(target));

    // And it does write a plain path.
    EXPECT_EQ(runThumbnailCommand({picture, QStringLiteral("--size"), QStringLiteral("16"), QStringLiteral("--output"),
                                   storeFolder + QStringLiteral("/plain.png")}),
              0);
}

} // namespace
