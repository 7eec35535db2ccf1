// Tag text: cleaning, writing and parsing tag lists, the choice of splitting, merging lists.
#include "tags/TagTextFormat.h"

#include <gtest/gtest.h>

using namespace PimsAdditions;
using L = QStringList;

TEST(TagText, CleaningTrimsBlanksFirstThenDropsLineBreaksThenDecodesBlanks)
{
    EXPECT_EQ(cleanedTag(QStringLiteral("  two\r\nlines ")), QStringLiteral("twolines"));
    // Trimming happens before "%20" is replaced, and is not repeated.
    EXPECT_EQ(cleanedTag(QStringLiteral("%20x")), QStringLiteral(" x"));
    // Only U+0020 is trimmed.
    EXPECT_EQ(cleanedTag(QStringLiteral("\tx ")), QStringLiteral("\tx"));
}

TEST(TagText, WritingQuotesTagsWithBlanksAndParsingGivesThemBack)
{
    EXPECT_EQ(tagFormattedStringOld({}), QString());
    EXPECT_EQ(tagFormattedStringOld(L{"x", "y z"}), QStringLiteral("x \"y z\""));
    EXPECT_EQ(arrayWithTagFormattedStringOld(tagFormattedStringOld(L{"x", "y z"})), (L{"x", "y z"}));
    EXPECT_EQ(formattedTag(QStringLiteral("a\"b")), QStringLiteral("a\"b")) << "quotes are not escaped";
}

TEST(TagText, ParsingBlanksAndQuotes)
{
    EXPECT_EQ(arrayWithTagFormattedStringOld(QStringLiteral("alpha \"two words\" beta")),
              (L{"alpha", "two words", "beta"}));
    EXPECT_EQ(arrayWithTagFormattedStringOld(QStringLiteral("Alpha alpha ALPHA")), L{"Alpha"});
    EXPECT_EQ(arrayWithTagFormattedStringOld(QStringLiteral("&project")), L{"project"});
    EXPECT_EQ(arrayWithTagFormattedStringOld(QStringLiteral("one \"two three")), (L{"one", "two three"}));
    EXPECT_EQ(arrayWithTagFormattedStringOld(QStringLiteral("a   b")), (L{"a", "b"}));
    EXPECT_EQ(arrayWithTagFormattedStringOld(QStringLiteral("\"\" x")), L{"x"}) << "empty quoted item skipped";
    // A word glued to the closing quote is kept, not swallowed.
    EXPECT_EQ(arrayWithTagFormattedStringOld(QStringLiteral("\"a b\"c d")), (L{"a b", "c", "d"}));
}

TEST(TagText, ColonItemsJoinWithTheNextItemOnce)
{
    EXPECT_EQ(componentsSeparatedByBlanksAndQuotes(QStringLiteral("kind: pdf")), L{"kind:pdf"});
    EXPECT_EQ(componentsSeparatedByBlanksAndQuotes(QStringLiteral("a: b: c")), (L{"a:b:", "c"}));
    EXPECT_EQ(componentsSeparatedByBlanksAndQuotes(QStringLiteral("x last:")), (L{"x", "last:"}));
    EXPECT_EQ(componentsSeparatedByBlanksAndQuotes(QStringLiteral("tag: \"two words\"")), L{"tag:two words"});
}

TEST(TagText, ChoosingCommasOrBlanks)
{
    using XPTagText::grepStringForTags;
    EXPECT_EQ(grepStringForTags(QString(), true), L{});
    EXPECT_EQ(grepStringForTags(QStringLiteral("home office"), true), L{"home office"});
    EXPECT_EQ(grepStringForTags(QStringLiteral("home office"), false), (L{"home", "office"}));
    const QString len39 = QStringLiteral("aaaa bbbb cccc dddd eeee ffff gggg hhhhh");
    ASSERT_EQ(len39.size(), 40);
    EXPECT_EQ(grepStringForTags(len39.left(39), true).size(), 1);
    EXPECT_EQ(grepStringForTags(len39, true).size(), 8) << "40 characters are split at blanks";
    EXPECT_EQ(grepStringForTags(QStringLiteral("a,,b"), false), (L{"a", "b"}));
    EXPECT_EQ(grepStringForTags(QStringLiteral("Red, two words ,Blue"), false), (L{"Red", "two words", "Blue"}));
    // A quote means blanks-and-quotes, even with commas in the text.
    EXPECT_EQ(grepStringForTags(QStringLiteral("\"a,b\" c"), true), (L{"a,b", "c"}));
    // Blanks between commas give an empty entry (length is tested before cleaning).
    EXPECT_EQ(grepStringForTags(QStringLiteral("a, ,b"), true), (L{"a", "", "b"}));
    // Exact duplicates go, case variants stay.
    EXPECT_EQ(grepStringForTags(QStringLiteral("x,x,X"), true), (L{"x", "X"}));
}

TEST(TagText, TokenEditingStrings)
{
    using namespace XPTagText;
    EXPECT_EQ(displayStringToUserString(QStringLiteral(" two%20words ")), QStringLiteral("\"two words\""));
    EXPECT_EQ(displayStringToUserString(QStringLiteral("one")), QStringLiteral("one"));
    EXPECT_EQ(userStringToDisplayString(QStringLiteral("\"two words\"")), QStringLiteral("two words"));
    EXPECT_EQ(userStringToDisplayString(QStringLiteral("a\"b")), QStringLiteral("a\"b"));
    EXPECT_TRUE(userStringToDisplayString(QString()).isNull());
    EXPECT_EQ(tagDisplayNamesForEditingStrings({"a", "", "a", "\"b c\""}, false, true), (L{"a", "a", "b c"}));
}

TEST(TagText, MergingListsCaseInsensitively)
{
    EXPECT_EQ(combineArraysSkipDuplicatesCaseInsensitive(L{"Work", "home"}, L{"work", "Play", "a%20b"}),
              (L{"Work", "home", "Play"}));
    EXPECT_EQ(combineArraysSkipDuplicatesCaseInsensitive(L{}, L{}), L{});
    EXPECT_EQ(combineArraysSkipDuplicatesCaseInsensitive(QVariantList{1, QStringLiteral("x")}, QVariantList{}), L{"x"});
    // Composed and decomposed spellings are one key.
    EXPECT_EQ(combineArraysSkipDuplicatesCaseInsensitive(L{"Caf\u00e9"}, L{"CAFE\u0301"}), L{"Caf\u00e9"});

    EXPECT_EQ(indexOfCaseInsensitiveString(L{"a", "Bee"}, QStringLiteral("bEE")), 1);
    EXPECT_EQ(indexOfCaseInsensitiveString(L{"a"}, QStringLiteral("b")), kNotFound);
    EXPECT_TRUE(containsLiteralString(QStringLiteral("a.b"), QStringLiteral(".")));
    EXPECT_FALSE(containsLiteralString(QStringLiteral("ABC"), QStringLiteral("b")));
    EXPECT_EQ(
        stringByReplacingLITERALOccurrencesOfString(QStringLiteral("a.b.c"), QStringLiteral("."), QStringLiteral("*")),
        QStringLiteral("a*b*c"));
}
