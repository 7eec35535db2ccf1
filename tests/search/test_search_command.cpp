// `kelso search`: its arguments, the merged JSON it prints (from the index, read-only), the
// result subtitles, and the crawl status it reads back from the index.
#include "platform/mdindex/MdCrawler.h"
#include "platform/mdindex/MdStore.h"
#include "search/KLSearchCommand.h"
#include "search/KLSearchRun.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using KLSearchCommand::Arguments;

namespace {

bool parse(const QStringList &args, Arguments *a, QString *error)
{
    return KLSearchCommand::parseArguments(args, a, error);
}

QStringList jsonPaths(const QByteArray &json)
{
    QStringList out;
    for (const QJsonValue &v : QJsonDocument::fromJson(json).array())
        out.append(v.toObject().value(QStringLiteral("path")).toString());
    return out;
}

} // namespace

TEST(SearchCommandArguments, OptionsValuesAndTheText)
{
    Arguments a;
    QString error;
    const QString folder = KelsoTest::home();
    ASSERT_TRUE(parse({"--json", "--kind", "pdf", "--time", "today", "--in", folder, "q3", "plan"}, &a, &error))
        << error.toStdString();
    EXPECT_TRUE(a.json);
    EXPECT_EQ(a.criteria.kindIndex, 1);
    EXPECT_EQ(a.criteria.timeIndex, 1);
    EXPECT_EQ(a.folder, QDir::cleanPath(folder));
    EXPECT_EQ(a.criteria.text, QStringLiteral("q3 plan"));
    // "--" lets a text start with dashes; "~" is the home folder.
    ASSERT_TRUE(parse({"--in", "~", "--", "--weird"}, &a, &error));
    EXPECT_EQ(a.criteria.text, QStringLiteral("--weird"));
    EXPECT_EQ(a.folder, QDir::cleanPath(KelsoTest::home()));
    // A kind and a place alone are a search ("All" with a picked place).
    ASSERT_TRUE(parse({"--kind", "Images"}, &a, &error));
    ASSERT_TRUE(parse({"--status"}, &a, &error));
    EXPECT_TRUE(a.status);
}

TEST(SearchCommandArguments, BadInputIsAUsageErrorThatSaysWhy)
{
    Arguments a;
    QString error;
    EXPECT_FALSE(parse({}, &a, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nothing to search")));
    EXPECT_FALSE(parse({"   "}, &a, &error));
    EXPECT_FALSE(parse({"--kind"}, &a, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("--kind needs a value")));
    EXPECT_FALSE(parse({"--kind", "zip", "x"}, &a, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("\"PDF\""))); // lists the kinds
    EXPECT_FALSE(parse({"--time", "tomorrow", "x"}, &a, &error));
    EXPECT_FALSE(parse({"--in", KelsoTest::home() + "/no-such-folder", "x"}, &a, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("not a folder")));
    EXPECT_FALSE(parse({"--frobnicate", "x"}, &a, &error));
    EXPECT_FALSE(parse({"--status", "x"}, &a, &error));
    EXPECT_EQ(runSearchCommand({"--kind", "zip", "x"}), 2);
}

TEST(SearchCommand, MergedResultsFromTheIndexNamesFirstThenContentWovenIn)
{
    QTemporaryDir tmp(KelsoTest::home() + QStringLiteral("/cmd-XXXXXX"));
    const QString db = tmp.path() + QStringLiteral("/index.sqlite3");
    QByteArray json;
    QString error;
    // No index yet: a clear failure, not an empty list.
    EXPECT_FALSE(KLSearchCommand::searchJson({QStringLiteral("x"), 0, 0}, QString(), db, &json, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("no index")));
    {
        MdIndex::Store store;
        ASSERT_TRUE(store.open(db, MdIndex::Store::Mode::ReadWrite, &error));
        ASSERT_TRUE(store.begin());
        auto add = [&](const QString &path, const QString &text) {
            MdIndex::FileRecord r;
            r.path = path;
            r.name = r.displayName = path.section(QLatin1Char('/'), -1);
            r.modifiedMs = 1700000000000;
            r.id = store.upsertStat(r, 1);
            ASSERT_NE(r.id, 0);
            ASSERT_TRUE(store.updateDetails(r));
            if (!text.isEmpty()) {
                ASSERT_TRUE(store.setText(r.id, text));
            }
        };
        // Content matches come first in index order, so the merge must move them back. The
        // names match "*harvest*" (the name query) but no word of them starts with "harvest"
        // (the name-or-content query).
        for (int i = 0; i < 3; ++i)
            add(QStringLiteral("/h/notes%1.txt").arg(i), QStringLiteral("the harvest report"));
        for (int i = 0; i < 7; ++i)
            add(QStringLiteral("/h/preharvest%1.txt").arg(i), QString());
        add(QStringLiteral("/h/sub/preharvest-sub.txt"), QString());
        ASSERT_TRUE(store.commit());
    }
    ASSERT_TRUE(KLSearchCommand::searchJson({QStringLiteral("harvest"), 0, 0}, QString(), db, &json, &error))
        << error.toStdString();
    const QStringList paths = jsonPaths(json);
    ASSERT_EQ(paths.size(), 11);
    // The name query gives preharvest0…6, sub; the name-or-content query notes0…2.
    EXPECT_EQ(paths,
              (QStringList{"/h/preharvest0.txt", "/h/preharvest1.txt", "/h/preharvest2.txt", "/h/preharvest3.txt",
                           "/h/preharvest4.txt", "/h/preharvest5.txt", "/h/notes0.txt", "/h/preharvest6.txt",
                           "/h/notes1.txt", "/h/sub/preharvest-sub.txt", "/h/notes2.txt"}));
    const QJsonObject first = QJsonDocument::fromJson(json).array().at(0).toObject();
    EXPECT_EQ(first.value(QStringLiteral("title")).toString(), QStringLiteral("preharvest0.txt"));
    EXPECT_EQ(first.value(QStringLiteral("subtitle")).toString(), QStringLiteral("/h"));
    EXPECT_EQ(first.value(QStringLiteral("time")).toInteger(), 1700000000);

    // The place limits both queries.
    ASSERT_TRUE(
        KLSearchCommand::searchJson({QStringLiteral("harvest"), 0, 0}, QStringLiteral("/h/sub"), db, &json, &error));
    EXPECT_EQ(jsonPaths(json), QStringList{"/h/sub/preharvest-sub.txt"});

    QVariantMap status;
    ASSERT_TRUE(KLSearchRun::statusFromIndex(db, &status, &error));
    EXPECT_EQ(status.value(QStringLiteral("indexed")).toLongLong(), 11);
    EXPECT_TRUE(KLSearchRun::renderStatus(status).contains(QStringLiteral("entries in the index: 11")));
}

TEST(SearchCommand, SubtitlesAbbreviateHomeAndDropTheVolumePrefix)
{
    const QString home = QDir::homePath();
    EXPECT_EQ(KLSearchRun::subtitleForPath(home + QStringLiteral("/Documents/a.txt")), QStringLiteral("~/Documents"));
    const QString user = QString::fromLocal8Bit(qgetenv("USER"));
    if (!user.isEmpty()) {
        EXPECT_EQ(KLSearchRun::subtitleForPath(QStringLiteral("/media/%1/Backup/Docs/a.txt").arg(user)),
                  QStringLiteral("Backup/Docs"));
        EXPECT_EQ(KLSearchRun::subtitleForPath(QStringLiteral("/run/media/%1/Stick/b").arg(user)),
                  QStringLiteral("Stick"));
    }
    EXPECT_EQ(KLSearchRun::subtitleForPath(QStringLiteral("/srv/x/y")), QStringLiteral("/srv/x"));
}
