// The search bar's query text: term splitting, each condition, the two complete queries, the
// "nothing to search" test, the pop-up tables against the type registry, and the merge.
#include "platform/mdindex/MdQuery.h"
#include "platform/typeregistry/TypeRegistry.h"
#include "search/KLSearchQueryText.h"

#include <gtest/gtest.h>

using namespace KLSearchQueryText;

namespace {
QStringList split(const char *s)
{
    return readSpaceAndQuoteDelimitedStringIntoArray(QString::fromUtf8(s));
}
} // namespace

TEST(SearchTerms, BlanksQuotesAndColonJoins)
{
    EXPECT_EQ(split("report q3"), (QStringList{"report", "q3"}));
    EXPECT_EQ(split("  report   q3  "), (QStringList{"report", "q3"}));
    EXPECT_EQ(split("report \"q3 plan\""), (QStringList{"report", "q3 plan"}));
    EXPECT_EQ(split("\"q3  plan\" x"), (QStringList{"q3  plan", "x"}));
    // An unclosed quote runs to the end of the text.
    EXPECT_EQ(split("a \"b c"), (QStringList{"a", "b c"}));
    EXPECT_EQ(split("kind: pdf"), (QStringList{"kind:pdf"}));
    EXPECT_EQ(split("a: b: c"), (QStringList{"a:b:c"}));
    EXPECT_EQ(split("last:"), (QStringList{"last:"}));
    // Text right after a closing quote is a term, not lost.
    EXPECT_EQ(split("\"a b\"c"), (QStringList{"a b", "c"}));
    // Nothing to search for: no terms, so no condition matching every name.
    EXPECT_TRUE(split("").isEmpty());
    EXPECT_TRUE(split("   ").isEmpty());
    EXPECT_TRUE(split("\"\"").isEmpty());
    EXPECT_TRUE(split("\t\n").isEmpty());
    EXPECT_EQ(trimWhiteStuff(QStringLiteral("\n\t x y \r\n")), QStringLiteral("x y"));
}

TEST(SearchQueryText, NameAndNameOrContentConditionsAsWritten)
{
    EXPECT_EQ(addFileNameSearch({}, QStringLiteral("r")), QStringLiteral("( kMDItemDisplayName == \"r*\"cdw )"));
    EXPECT_EQ(addFileNameSearch({}, QStringLiteral("re")), QStringLiteral("( kMDItemDisplayName == \"*re*\"cd )"));
    EXPECT_EQ(addAllSearch({}, QStringLiteral("r")), QStringLiteral("( kMDItemDisplayName == \"r*\"cd )"));
    EXPECT_EQ(addAllSearch({}, QStringLiteral("re x")),
              QStringLiteral("( * == \"re*\"cdw || kMDItemTextContent == \"re*\"cdw ) && "
                             "( kMDItemDisplayName == \"x*\"cd )"));
    // The placeholder and an empty field add nothing; the text so far is kept.
    EXPECT_EQ(addFileNameSearch(QStringLiteral("Q"), allPlaceholder()), QStringLiteral("Q"));
    EXPECT_EQ(addAllSearch(QStringLiteral("Q"), QString()), QStringLiteral("Q"));
    EXPECT_EQ(addFileNameSearch(QStringLiteral("Q"), QStringLiteral("ab")),
              QStringLiteral("Q && ( kMDItemDisplayName == \"*ab*\"cd )"));
}

TEST(SearchQueryText, KindTimeAndSystemConditions)
{
    EXPECT_EQ(addFileTypeQuery({}, 0), QString());
    EXPECT_EQ(addFileTypeQuery(QStringLiteral("Q"), 99), QStringLiteral("Q"));
    EXPECT_EQ(addFileTypeQuery({}, 1), QStringLiteral("((kMDItemContentTypeTree == \"com.adobe.pdf\"))"));
    EXPECT_EQ(addFileTypeQuery(QStringLiteral("Q"), 5),
              QStringLiteral("Q && ((kMDItemContentTypeTree == \"com.microsoft.excel.xls\") || "
                             "(kMDItemContentTypeTree == \"org.openxmlformats.spreadsheetml.sheet\"))"));
    EXPECT_EQ(addDateQuery({}, 0), QString());
    EXPECT_EQ(addDateQuery({}, 4), QStringLiteral("((kMDItemContentModificationDate > $time.this_week(-1)) || "
                                                  "(kMDItemLastUsedDate > $time.this_week(-1)))"));
    EXPECT_EQ(addNoSystemFiles({}), QStringLiteral("(kMDItemSupportFileType != MDSystemFile)"));
    EXPECT_EQ(addNoSystemFiles(QStringLiteral("Q")), QStringLiteral("Q && (kMDItemSupportFileType != MDSystemFile)"));
}

TEST(SearchQueryText, TheWorkedExampleAndTimeOnly)
{
    Criteria c{QStringLiteral("report \"q3 plan\""), 4, 1};
    EXPECT_EQ(nameQuery(c),
              QStringLiteral(
                  "( kMDItemDisplayName == \"*report*\"cd ) && ( kMDItemDisplayName == \"*q3 plan*\"cd ) && "
                  "((kMDItemContentTypeTree == \"com.microsoft.word.doc\") || (kMDItemContentTypeTree == "
                  "\"org.openxmlformats.wordprocessingml.document\")) && ((kMDItemContentModificationDate > "
                  "$time.today) || (kMDItemLastUsedDate > $time.today)) && (kMDItemSupportFileType != MDSystemFile)"));
    // Only "Today": both queries are the time and system conditions alone.
    Criteria today{QString(), 0, 1};
    const QString expected = QStringLiteral("((kMDItemContentModificationDate > $time.today) || "
                                            "(kMDItemLastUsedDate > $time.today)) && "
                                            "(kMDItemSupportFileType != MDSystemFile)");
    EXPECT_EQ(nameQuery(today), expected);
    EXPECT_EQ(allQuery(today), expected);
}

TEST(SearchQueryText, EveryBuiltQueryParses)
{
    const QStringList texts = {
        QString(),        QStringLiteral("a"),        QStringLiteral("report \"q3 plan\""), QStringLiteral("kind: pdf"),
        allPlaceholder(), QStringLiteral("Ünïcødé ß")};
    for (const QString &text : texts)
        for (int kind = 0; kind < kinds().size(); ++kind)
            for (int time = 0; time < times().size(); ++time) {
                const Criteria c{text, kind, time};
                for (const QString &q : {nameQuery(c), allQuery(c)}) {
                    const MdIndex::ParsedQuery parsed = MdIndex::parseQuery(q);
                    EXPECT_TRUE(parsed.ok()) << q.toStdString() << ": " << parsed.error.toStdString();
                }
            }
}

TEST(SearchQueryText, PopUpTablesAndTheirIdentifiers)
{
    ASSERT_EQ(kinds().size(), 15);
    ASSERT_EQ(times().size(), 7);
    EXPECT_EQ(kinds().at(0).label, QStringLiteral("Any Kind"));
    EXPECT_TRUE(kinds().at(0).contentTypes.isEmpty());
    EXPECT_EQ(kinds().at(14).label, QStringLiteral("Folders"));
    EXPECT_EQ(times().at(6).expression, QStringLiteral("$time.this_year"));
    // Each concrete identifier is one the type registry knows, so files of that type carry it in
    // their type tree.
    for (const KindEntry &k : kinds())
        for (const QString &type : k.contentTypes)
            if (!type.endsWith(QLatin1Char('*'))) {
                EXPECT_TRUE(TypeRegistry::conformsTo(type, type) && !TypeRegistry::isDynamic(type))
                    << type.toStdString();
            }
    EXPECT_EQ(TypeRegistry::utiForMimeType(QStringLiteral("application/pdf")), QStringLiteral("com.adobe.pdf"));
    EXPECT_TRUE(TypeRegistry::conformsTo(TypeRegistry::utiForMimeType(QStringLiteral("image/gif")),
                                         kinds().at(2).contentTypes.at(0)));
    // Command-line names.
    EXPECT_EQ(kindIndexForName(QStringLiteral("pdf")), 1);
    EXPECT_EQ(kindIndexForName(QStringLiteral("source-code")), 12);
    EXPECT_EQ(kindIndexForName(QStringLiteral("14")), 14);
    EXPECT_EQ(kindIndexForName(QStringLiteral("15")), -1);
    EXPECT_EQ(kindIndexForName(QStringLiteral("zip")), -1);
    EXPECT_EQ(timeIndexForName(QStringLiteral("yesterday-today")), 2);
    EXPECT_EQ(timeIndexForName(QStringLiteral("Last 2 Weeks")), 4);
    EXPECT_EQ(timeIndexForName(QString()), -1);
}

TEST(SearchQueryText, NoSearchOnlyWhenEverythingIsAtItsStart)
{
    EXPECT_TRUE(isNoSearch({}, false));
    EXPECT_TRUE(isNoSearch({QStringLiteral("  "), 0, 0}, false));
    EXPECT_FALSE(isNoSearch({}, true));
    EXPECT_FALSE(isNoSearch({QStringLiteral("x"), 0, 0}, false));
    EXPECT_FALSE(isNoSearch({QString(), 1, 0}, false));
    EXPECT_FALSE(isNoSearch({QString(), 0, 6}, false));
}

TEST(SearchMerge, FiveNamesThenAlternatingWithoutDuplicatesOrEmptyPaths)
{
    const QStringList names = {"n0", "n1", "n2", "n3", "n4", "n5", "n6", "n7"};
    const QStringList contents = {"c0", "n6", "", "c3", "c4", "c5"};
    EXPECT_EQ(mergeResults(names, contents),
              (QStringList{"n0", "n1", "n2", "n3", "n4", "n5", "c0", "n6", "n7", "c3", "c4", "c5"}));
    // Fewer than five names: the content list follows at once.
    EXPECT_EQ(mergeResults(QStringList{"a", "b"}, QStringList{"b", "c"}), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(mergeResults(QStringList{}, QStringList{"c", "c", "d"}), (QStringList{"c", "d"}));
    EXPECT_TRUE(mergeResults(QStringList{}, QStringList{}).isEmpty());
    // A file in both lists stays at its name position when that comes first.
    EXPECT_EQ(mergeResults(QStringList{"x", "y"}, QStringList{"y"}), (QStringList{"x", "y"}));

    struct Rec {
        QString path;
        int from;
    };
    const QList<Rec> merged =
        mergeResults<Rec>({{"p", 1}, {"q", 1}}, {{"q", 2}, {"r", 2}}, [](const Rec &r) { return r.path; });
    ASSERT_EQ(merged.size(), 3);
    EXPECT_EQ(merged.at(1).from, 1);
    EXPECT_EQ(merged.at(2).path, QStringLiteral("r"));
}
