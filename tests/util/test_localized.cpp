// Localised texts: placeholder replacement and the ".strings" table reader.
#include "util/Localized.h"
#include "util/QtTestPrinters.h"

#include <QFile>
#include <QHash>
#include <gtest/gtest.h>

using KLLocalization::parseStringsTable;
using KLLocalization::substitute;

TEST(LocalizedTest, NumberedPlaceholdersAreReplacedAtEveryOccurrence)
{
    EXPECT_EQ(substitute("%1 of %2, again %1 and %2", {"3", "7"}), "3 of 7, again 3 and 7");
    EXPECT_EQ(substitute("%4%3%2%1%4", {"a", "b", "c", "d"}), "dcbad");
    // "%12" is "%1" followed by "2": placeholders are replaced literally.
    EXPECT_EQ(substitute("%12", {"x"}), "x2");
}

TEST(LocalizedTest, PlaceholdersWithoutAValueStay)
{
    EXPECT_EQ(substitute("%1 and %3", {"one"}), "one and %3");
    EXPECT_EQ(substitute("100%", {"x"}), "100%");
}

TEST(LocalizedTest, ValuesAreNotScannedForPlaceholdersAgain)
{
    // A file name may well contain "%2" or "%AppName"; it is shown as it is.
    EXPECT_EQ(substitute("Moved %1 to %2", {"50%2 off.pdf", "/tmp"}), "Moved 50%2 off.pdf to /tmp");
    EXPECT_EQ(substitute("Open %1", {"%AppName.txt"}), "Open %AppName.txt");
}

TEST(LocalizedTest, AppNameBecomesKelso)
{
    EXPECT_EQ(substitute("Welcome to %AppName. %AppName starts at login.", {}),
              "Welcome to Kelso. Kelso starts at login.");
    EXPECT_EQ(KLLocalized("A test sentence about %AppName"), "A test sentence about Kelso");
}

TEST(LocalizedTest, MissingKeyIsItsOwnText)
{
    const QString key = QStringLiteral("No table has this sentence, %1 times %2");
    EXPECT_EQ(KLLocalized(key, {"3", "4"}), "No table has this sentence, 3 times 4");
    EXPECT_EQ(KLLocalized("XPSomeIdentifierWithoutText"), "XPSomeIdentifierWithoutText");
}

TEST(LocalizedTest, StringsTableEscapesAndComments)
{
    const QByteArray table = R"(/* A block comment
   over two lines with "quotes" = "not an entry"; */
"plain" = "Plain text";
// a line comment "x" = "y";
"quote" = "He said \"hi\"";
"backslash" = "a\\b";
"lines" = "one\ntwo\tthree";
"spaced"   =   "value with = and ; inside"  ;
"Unicode ✓" = "Grüße ✓";
"Open %AppName" = "Open %AppName now";
)";
    const QHash<QString, QString> t = parseStringsTable(table);
    EXPECT_EQ(t.value("plain"), "Plain text");
    EXPECT_EQ(t.value("quote"), "He said \"hi\"");
    EXPECT_EQ(t.value("backslash"), "a\\b");
    EXPECT_EQ(t.value("lines"), "one\ntwo\tthree");
    EXPECT_EQ(t.value("spaced"), "value with = and ; inside");
    EXPECT_EQ(t.value(QString::fromUtf8("Unicode ✓")), QString::fromUtf8("Grüße ✓"));
    EXPECT_EQ(t.value("Open %AppName"), "Open %AppName now");
    EXPECT_FALSE(t.contains("x"));
    EXPECT_FALSE(t.contains("quotes"));
    EXPECT_EQ(t.size(), 7);
}

TEST(LocalizedTest, BrokenLinesAreSkippedAndTheRestIsRead)
{
    const QByteArray table = "\"first\" = \"1\";\n"
                             "\"no value\" = ;\n"
                             "garbage without quotes\n"
                             "\"no equals\" \"x\";\n"
                             "\"second\" = \"2\";\n"
                             "\"unterminated = \"x\";\n"
                             "\"third\" = \"3\";\n"
                             "\"at the end\" = \"never closed";
    const QHash<QString, QString> t = parseStringsTable(table);
    EXPECT_EQ(t.value("first"), "1");
    EXPECT_EQ(t.value("second"), "2");
    EXPECT_EQ(t.value("third"), "3");
    EXPECT_FALSE(t.contains("no value"));
    EXPECT_FALSE(t.contains("no equals"));
    EXPECT_FALSE(t.contains("at the end"));
}

TEST(LocalizedTest, TheEnglishTableIsBuiltIntoTheProgramAndEveryEntryParses)
{
    // A static library drops resources that nothing references; the table must still be there.
    QFile file(QStringLiteral(":/strings/Localizable.strings"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    const QHash<QString, QString> table = parseStringsTable(data);
    // Each line that starts an entry yields that key: a typo would silently drop the text.
    for (const QByteArray &raw : data.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (!line.startsWith('"'))
            continue;
        const QHash<QString, QString> one = parseStringsTable(raw);
        if (one.isEmpty() && !line.contains(';'))
            continue; // the start of an entry over several lines
        ASSERT_EQ(one.size(), 1) << "unparsable entry: " << line.toStdString();
        const QString key = one.keys().first();
        EXPECT_TRUE(table.contains(key)) << key.toStdString();
        EXPECT_EQ(KLLocalized(key), substitute(table.value(key), {})) << key.toStdString();
    }
}

TEST(LocalizedTest, EmptyAndCommentOnlyTables)
{
    EXPECT_TRUE(parseStringsTable("").isEmpty());
    EXPECT_TRUE(parseStringsTable("/* nothing */ // here\n").isEmpty());
    EXPECT_TRUE(parseStringsTable("/* never closed").isEmpty());
}
