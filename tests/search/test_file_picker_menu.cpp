// The file picker menu in its three configurations, offscreen.
#include "fileops/XPFileJobs.h"
#include "search/gui/KLFilePickerMenu.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {
QString freshFolder(const QString &name)
{
    const QString f = KelsoTest::home() + "/" + name;
    QDir(f).removeRecursively();
    QDir().mkpath(f);
    return f;
}
QStringList titles(const QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}
QAction *entry(const QMenu *menu, const QString &title)
{
    for (QAction *a : menu->actions())
        if (a->text() == title)
            return a;
    return nullptr;
}
QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
} // namespace

TEST(FilePickerMenu, MoveToBeepsForANameThatIsTakenAndLeavesBothFiles)
{
    int beeps = 0;
    const QString src = freshFolder("mv-src");
    const QString dst = freshFolder("mv-dst");
    KelsoTest::writeFile(src + "/same.txt", "mine");
    KelsoTest::writeFile(src + "/free.txt", "free");
    KelsoTest::writeFile(dst + "/same.txt", "theirs");

    KLFilePickerMenu picker;
    picker.setBeeper([&] { ++beeps; });
    picker.setFoldersOnly(true);
    picker.setMenuSelector(KLFilePickerMenu::MoveToPath);
    picker.setFilesToMove({src + "/same.txt", src + "/free.txt"});
    QMenu top;
    picker.attach(&top);
    QAction *folder = picker.addItem(dst, &top);
    ASSERT_NE(folder, nullptr);
    ASSERT_NE(folder->menu(), nullptr);
    EXPECT_EQ(KLFilePickerMenu::folderOfMenu(folder->menu()), dst);

    // Opening the folder's submenu lists the folder itself first; choosing it moves the files.
    picker.menuNeedsUpdate(folder->menu());
    QAction *here = folder->menu()->actions().first();
    EXPECT_EQ(here->text(), "mv-dst");
    EXPECT_TRUE(folder->menu()->actions().at(1)->isSeparator());
    EXPECT_EQ(folder->menu()->actions().size(), 2); // foldersOnly: no files listed
    here->trigger();
    ASSERT_TRUE(XPFileJobs::shared().waitUntilIdle(10000));
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(contents(src + "/same.txt"), "mine");
    EXPECT_EQ(contents(dst + "/same.txt"), "theirs");
    EXPECT_EQ(contents(dst + "/free.txt"), "free");
    EXPECT_FALSE(QFileInfo::exists(src + "/free.txt"));
}

TEST(FilePickerMenu, FolderSubmenusFillWhenTheyOpenAndRefillWithoutDuplicates)
{
    const QString f = freshFolder("browse");
    KelsoTest::writeFile(f + "/b.txt");
    QDir().mkpath(f + "/A");
    KLFilePickerMenu picker;
    picker.setMenuSelector(KLFilePickerMenu::AddToCooler);
    QStringList added;
    picker.setCoolerAdder([&](const QStringList &paths) { added += paths; });
    QMenu top;
    QAction *folder = picker.addItem(f, &top);
    QMenu *sub = folder->menu();
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->actions().isEmpty()); // filled only when it opens
    picker.menuNeedsUpdate(sub);
    EXPECT_EQ(titles(sub), (QStringList{"browse", "-", "A", "b.txt"}));
    picker.menuNeedsUpdate(sub);
    EXPECT_EQ(titles(sub), (QStringList{"browse", "-", "A", "b.txt"}));
    ASSERT_NE(entry(sub, "A")->menu(), nullptr);
    EXPECT_EQ(entry(sub, "b.txt")->menu(), nullptr);
    entry(sub, "b.txt")->trigger();
    EXPECT_EQ(added, QStringList{f + "/b.txt"});
}

TEST(FilePickerMenu, TopLevelAndSearchLocation)
{
    KLFilePickerMenu picker;
    picker.setFoldersOnly(true);
    picker.setShowEverywhereItem(true);
    picker.setMenuSelector(KLFilePickerMenu::SetMenuTitle);
    QMenu top;
    top.addAction("stale");
    picker.menuNeedsUpdate(&top); // the top level is emptied and rebuilt
    const QStringList t = titles(&top);
    ASSERT_GE(t.size(), 3);
    EXPECT_EQ(t[0], "Everywhere");
    EXPECT_EQ(t[1], "/");
    EXPECT_FALSE(t.contains("stale"));

    QSignalSpy own(&picker, &KLFilePickerMenu::searchLocationChanged);
    QSignalSpy global(KLFilePickerMenu::notifier(), &KLFilePickerMenu::searchLocationChanged);
    top.actions().at(1)->trigger();
    EXPECT_EQ(picker.lastPickedLocationConstraint(), QUrl::fromLocalFile("/"));
    top.actions().at(0)->trigger();
    EXPECT_TRUE(picker.lastPickedLocationConstraint().isEmpty());
    EXPECT_EQ(own.count(), 2);
    EXPECT_EQ(global.count(), 2);
}
