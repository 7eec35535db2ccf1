// The query language: parsing (good and bad text, precedence, values, modifiers, $time) and
// what each condition means for a file.
#include "platform/mdindex/MdSearch.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace MdIndex;

namespace {

FileRecord file(const QString &name)
{
    FileRecord r;
    r.id = 1;
    r.name = r.displayName = name;
    r.path = QStringLiteral("/home/u/") + name;
    r.size = 1000;
    r.modifiedMs = QDateTime(QDate(2026, 12, 7), QTime(10, 0)).toMSecsSinceEpoch();
    return r;
}

bool eval(const QString &query, const FileRecord &r)
{
    const ParsedQuery q = parseQuery(query, QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    EXPECT_TRUE(q.ok()) << query.toStdString() << ": " << q.error.toStdString();
    if (!q.ok())
        return false;
    Store unopened;
    return Searcher(unopened).matches(*q.root, r);
}

} // namespace

TEST(MdQueryParse, BadTextGivesAClearErrorAndNoTree)
{
    const char *bad[] = {"",
                         "   ",
                         "kMDItemFSName",
                         "kMDItemFSName ==",
                         "kMDItemFSName == \"abc",
                         "(kMDItemFSName == \"a\"",
                         "kMDItemFSName == \"a\" &&",
                         "kMDItemFSName == \"a\"x",
                         "kMDItemFSName = \"a\"",
                         "&& kMDItemFSName == \"a\"",
                         "kMDItemFSName == \"a\")",
                         "kMDItemLastUsedDate > $time.tomorrow",
                         "kMDItemLastUsedDate > $time",
                         "tag:",
                         "starrating:>=many",
                         "== \"a\""};
    for (const char *text : bad) {
        const ParsedQuery q = parseQuery(QString::fromUtf8(text));
        EXPECT_FALSE(q.ok()) << text;
        EXPECT_TRUE(q.error.startsWith(QLatin1String("query error"))) << text << " -> " << q.error.toStdString();
    }
}

TEST(MdQueryParse, DeepNestingIsRefusedNotACrash)
{
    const QString deep = QString(100000, QLatin1Char('(')) + QStringLiteral("kMDItemFSName == \"a\"") +
                         QString(100000, QLatin1Char(')'));
    const ParsedQuery q = parseQuery(deep);
    EXPECT_FALSE(q.ok());
    EXPECT_TRUE(q.error.contains(QLatin1String("nested")));
}

TEST(MdQueryParse, AndBindsTighterThanOrAndParenthesesOverride)
{
    const ParsedQuery q =
        parseQuery(QStringLiteral("kMDItemFSName == \"a\" || kMDItemFSName == \"b\" && kMDItemFSSize > 5"));
    ASSERT_TRUE(q.ok()) << q.error.toStdString();
    EXPECT_EQ(q.root->kind, QueryNode::Kind::Or);
    EXPECT_EQ(q.root->right->kind, QueryNode::Kind::And);
    // "a" of size 1000 matches through the left side; "b" only when the size holds.
    FileRecord b = file(QStringLiteral("b"));
    b.size = 1;
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName == \"a\" || kMDItemFSName == \"b\" && kMDItemFSSize > 5"),
                     file(QStringLiteral("a"))));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemFSName == \"a\" || kMDItemFSName == \"b\" && kMDItemFSSize > 5"), b));
    EXPECT_FALSE(eval(QStringLiteral("(kMDItemFSName == \"a\" || kMDItemFSName == \"b\") && kMDItemFSSize > 5"), b));
    EXPECT_TRUE(eval(QStringLiteral("(kMDItemFSName == \"a\" || kMDItemFSName == \"b\") && kMDItemFSSize < 5"), b));
}

TEST(MdQueryEval, WildcardsAndEscapes)
{
    const FileRecord r = file(QStringLiteral("Report 2026.pdf"));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName == \"Report*\""), r));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName == \"*2026.pdf\""), r));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName == \"Report ????.pdf\""), r));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemFSName == \"Report ???.pdf\""), r));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemFSName == \"Report\""), r)); // whole value without a wildcard
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName == \"*port*\""), r));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemFSName == \"Rep\\*\""), r)); // an escaped star is a star
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName == \"a\\*b\""), file(QStringLiteral("a*b"))));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemFSName == \"a\\*b\""), file(QStringLiteral("axxb"))));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName == \"say \\\"hi\\\"\""), file(QStringLiteral("say \"hi\""))));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemFSName != \"*.txt\""), r));
}

TEST(MdQueryEval, CaseDiacriticAndWordModifiers)
{
    const FileRecord r = file(QStringLiteral("Café Menu.txt"));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemDisplayName == \"*cafe*\""), r));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemDisplayName == \"*cafe*\"c"), r));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemDisplayName == \"*Cafe*\"d"), r));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemDisplayName == \"*cafe*\"d"), r));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemDisplayName == \"*cafe*\"cd"), r));
    EXPECT_TRUE(eval(QStringLiteral("kMDItemDisplayName == \"*CAFÉ*\"c"), r));
    // w: the pattern matches from the start of any word.
    EXPECT_TRUE(eval(QStringLiteral("kMDItemDisplayName == \"m*\"cdw"), r));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemDisplayName == \"m*\"cd"), r));
    EXPECT_FALSE(eval(QStringLiteral("kMDItemDisplayName == \"e*\"cdw"), r)); // "e" starts no word
    EXPECT_TRUE(eval(QStringLiteral("kMDItemDisplayName == \"r*\"cdw"), file(QStringLiteral("annualReport"))));
    EXPECT_FALSE(parseQuery(QStringLiteral("kMDItemDisplayName == \"a\"cx")).ok());
}

TEST(MdQueryEval, AnyTextAttributeCoversNamesAndTags)
{
    FileRecord r = file(QStringLiteral("notes.txt"));
    r.tags = {QStringLiteral("Project Blue")};
    EXPECT_TRUE(eval(QStringLiteral("* == \"blue*\"cdw"), r));
    EXPECT_TRUE(eval(QStringLiteral("* == \"note*\"cdw"), r));
    EXPECT_FALSE(eval(QStringLiteral("* == \"red*\"cdw"), r));
}

TEST(MdQueryEval, NumbersDatesAndAbsentValues)
{
    FileRecord r = file(QStringLiteral("a.txt"));
    r.rating = 3;
    for (const char *yes : {"kMDItemFSSize == 1000", "kMDItemFSSize >= 1000", "kMDItemFSSize <= 1000",
                            "kMDItemFSSize != 999", "kMDItemFSSize > 999.5", "kMDItemStarRating >= 3",
                            "kMDItemContentModificationDate > $time.today", "kMDItemFSContentChangeDate < $time.now",
                            "kMDItemLastUsedDate != $time.today", "kMDItemSupportFileType != MDSystemFile",
                            "kMDItemSupportFileType != 'MDSystemFile'", "kMDItemNobodyKnows != \"x\""})
        EXPECT_TRUE(eval(QString::fromUtf8(yes), r)) << yes;
    for (const char *no : {"kMDItemFSSize < 1000", "kMDItemFSSize > 1000", "kMDItemStarRating > 3",
                           "kMDItemContentModificationDate > $time.now",
                           "kMDItemLastUsedDate > $time.this_year(-10)", // never used: no value
                           "kMDItemNobodyKnows == \"x\"", "kMDItemFSSize == \"big\""})
        EXPECT_FALSE(eval(QString::fromUtf8(no), r)) << no;
    r.lastUsedMs = r.modifiedMs;
    EXPECT_TRUE(eval(
        QStringLiteral("(kMDItemLastUsedDate > $time.now(-10800)) && (kMDItemSupportFileType != 'MDSystemFile')"), r));
}

TEST(MdQueryTime, EveryFormInLocalTime)
{
    const QDateTime now(QDate(2026, 12, 9), QTime(15, 30)); // a Wednesday
    auto at = [&](const char *name, int n) {
        qint64 ms = 0;
        EXPECT_TRUE(timeExpression(QString::fromLatin1(name), n, now, &ms)) << name;
        return QDateTime::fromMSecsSinceEpoch(ms);
    };
    EXPECT_EQ(at("now", 0), now);
    EXPECT_EQ(at("now", -60), now.addSecs(-60));
    EXPECT_EQ(at("today", 0), QDateTime(QDate(2026, 12, 9), QTime(0, 0)));
    EXPECT_EQ(at("today", -2), QDateTime(QDate(2026, 12, 7), QTime(0, 0)));
    EXPECT_EQ(at("yesterday", 0), QDateTime(QDate(2026, 12, 8), QTime(0, 0)));
    const QDate weekStart = at("this_week", 0).date();
    EXPECT_EQ(weekStart.dayOfWeek(), QLocale().firstDayOfWeek());
    EXPECT_LE(weekStart.daysTo(now.date()), 6);
    EXPECT_EQ(at("this_week", -1).date(), weekStart.addDays(-7));
    EXPECT_EQ(at("this_month", 0), QDateTime(QDate(2026, 12, 1), QTime(0, 0)));
    EXPECT_EQ(at("this_month", -12), QDateTime(QDate(2025, 12, 1), QTime(0, 0)));
    EXPECT_EQ(at("this_year", 1), QDateTime(QDate(2027, 1, 1), QTime(0, 0)));
    qint64 ms = 0;
    EXPECT_FALSE(timeExpression(QStringLiteral("someday"), 0, now, &ms));
    // In a query, with blanks inside the offset.
    const ParsedQuery q = parseQuery(QStringLiteral("kMDItemLastUsedDate > $time.today( -1 )"), now);
    ASSERT_TRUE(q.ok()) << q.error.toStdString();
    EXPECT_EQ(q.root->value.dateMs, QDateTime(QDate(2026, 12, 8), QTime(0, 0)).toMSecsSinceEpoch());
}

TEST(MdQueryParse, TheSearchBarsQueryParses)
{
    const QString text = QStringLiteral(
        "( kMDItemDisplayName == \"*report*\"cd ) && ( kMDItemDisplayName == \"*q3 plan*\"cd ) && "
        "((kMDItemContentTypeTree == \"com.microsoft.word.doc\") || (kMDItemContentTypeTree == "
        "\"org.openxmlformats.wordprocessingml.document\")) && ((kMDItemContentModificationDate > $time.today) || "
        "(kMDItemLastUsedDate > $time.today)) && (kMDItemSupportFileType != MDSystemFile)");
    ASSERT_TRUE(parseQuery(text).ok()) << parseQuery(text).error.toStdString();
    FileRecord r = file(QStringLiteral("Report Q3 Plan.docx"));
    r.contentType = QStringLiteral("org.openxmlformats.wordprocessingml.document");
    r.contentTypeTree = {r.contentType};
    r.modifiedMs = QDateTime::currentMSecsSinceEpoch();
    Store unopened;
    EXPECT_TRUE(Searcher(unopened).matches(*parseQuery(text).root, r));
    r.name = r.displayName = QStringLiteral("Report Q4 Plan.docx");
    EXPECT_FALSE(Searcher(unopened).matches(*parseQuery(text).root, r));
}

TEST(MdQueryParse, TagSearchShortForm)
{
    FileRecord r = file(QStringLiteral("a.txt"));
    r.tags = {QStringLiteral("Work"), QStringLiteral("two words")};
    r.rating = 3;
    EXPECT_TRUE(eval(QStringLiteral(" tag: work tag: \"two words\" starrating:>=3"), r));
    EXPECT_FALSE(eval(QStringLiteral(" tag: work tag: \"two words\" starrating:>=3.5"), r));
    EXPECT_FALSE(eval(QStringLiteral(" tag: work tag: two"), r)); // "two" is not a tag of its own
    EXPECT_TRUE(eval(QStringLiteral("tag: WORK"), r));
    EXPECT_FALSE(parseQuery(QStringLiteral("tag: \"open")).ok());
}
