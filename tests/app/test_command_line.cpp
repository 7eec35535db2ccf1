// The command line: roles, control words, files made absolute, "--", and usage errors.
#include "app/KLCommandLine.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {
const QStringList kTools = {"recent", "cooler", "tags", "rate", "file", "managed", "thumbnail", "search"};

class CommandLineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_savedCwd = QDir::currentPath();
        m_dir = KelsoTest::home() + "/cmdline";
        QDir().mkpath(m_dir);
        ASSERT_TRUE(QDir::setCurrent(m_dir));
    }
    void TearDown() override { QDir::setCurrent(m_savedCwd); }
    QString m_dir;

private:
    QString m_savedCwd;
};
} // namespace

TEST_F(CommandLineTest, NoWordsStartsTheProgram)
{
    const KLCommand cmd = KLCommandLine::parse({}, kTools);
    EXPECT_EQ(cmd.kind, KLCommand::Gui);
    EXPECT_TRUE(cmd.args.isEmpty());
}

TEST_F(CommandLineTest, HelpVersionAndControlWords)
{
    EXPECT_EQ(KLCommandLine::parse({"--help"}, kTools).kind, KLCommand::Help);
    EXPECT_EQ(KLCommandLine::parse({"-h"}, kTools).kind, KLCommand::Help);
    EXPECT_EQ(KLCommandLine::parse({"--version"}, kTools).kind, KLCommand::Version);
    for (const QString word : {"show", "hide", "toggle", "quit"}) {
        const KLCommand cmd = KLCommandLine::parse({word}, kTools);
        EXPECT_EQ(cmd.kind, KLCommand::Control) << qPrintable(word);
        EXPECT_EQ(cmd.name, word);
        const KLCommand extra = KLCommandLine::parse({word, "now"}, kTools);
        EXPECT_EQ(extra.kind, KLCommand::UsageError) << qPrintable(word);
        EXPECT_FALSE(extra.error.isEmpty());
    }
    EXPECT_FALSE(KLCommandLine::usageText().isEmpty());
}

TEST_F(CommandLineTest, ToolWordsKeepTheirArguments)
{
    const KLCommand cmd = KLCommandLine::parse({"recent", "--json", "--folder", "x"}, kTools);
    EXPECT_EQ(cmd.kind, KLCommand::Tool);
    EXPECT_EQ(cmd.name, "recent");
    EXPECT_EQ(cmd.args, (QStringList{"--json", "--folder", "x"}));
    EXPECT_EQ(KLCommandLine::parse({"recent"}, {}).kind, KLCommand::UsageError)
        << "a tool word that is not registered is an unknown word";
}

TEST_F(CommandLineTest, UnknownOptionsAndWordsAreUsageErrors)
{
    for (const QStringList &words :
         {QStringList{"--bogus"}, QStringList{"-x"}, QStringList{"frobnicate"}, QStringList{"Show"}, QStringList{""}}) {
        const KLCommand cmd = KLCommandLine::parse(words, kTools);
        EXPECT_EQ(cmd.kind, KLCommand::UsageError) << qPrintable(words.join(' '));
        EXPECT_FALSE(cmd.error.isEmpty());
    }
    // One bad word among files spoils the whole line: nothing is handed over half.
    KelsoTest::writeFile(m_dir + "/real.txt");
    const KLCommand mixed = KLCommandLine::parse({"real.txt", "missing.txt"}, kTools);
    EXPECT_EQ(mixed.kind, KLCommand::UsageError);
    EXPECT_TRUE(mixed.error.contains("missing.txt"));
}

TEST_F(CommandLineTest, FilesBecomeCleanAbsolutePaths)
{
    KelsoTest::writeFile(m_dir + "/a.txt");
    KelsoTest::writeFile(m_dir + "/sub/b c.pdf");
    QDir().mkpath(m_dir + "/folder");
    const KLCommand cmd =
        KLCommandLine::parse({"a.txt", "./sub/../sub/b c.pdf", m_dir + "/folder/", m_dir + "/a.txt"}, kTools);
    ASSERT_EQ(cmd.kind, KLCommand::Gui) << qPrintable(cmd.error);
    EXPECT_EQ(cmd.args, (QStringList{m_dir + "/a.txt", m_dir + "/sub/b c.pdf", m_dir + "/folder", m_dir + "/a.txt"}));
}

TEST_F(CommandLineTest, DoubleDashEndsOptionsAndCommandWords)
{
    KelsoTest::writeFile(m_dir + "/-x");
    KelsoTest::writeFile(m_dir + "/show");
    const KLCommand cmd = KLCommandLine::parse({"--", "-x", "show"}, kTools);
    ASSERT_EQ(cmd.kind, KLCommand::Gui) << qPrintable(cmd.error);
    EXPECT_EQ(cmd.args, (QStringList{m_dir + "/-x", m_dir + "/show"}));
    EXPECT_EQ(KLCommandLine::parse({"show"}, kTools).kind, KLCommand::Control) << "without \"--\" it is the command";
    const KLCommand only = KLCommandLine::parse({"--"}, kTools);
    EXPECT_EQ(only.kind, KLCommand::Gui);
    EXPECT_TRUE(only.args.isEmpty());
    // A second "--" after the first is a file name.
    EXPECT_EQ(KLCommandLine::parse({"--", "--"}, kTools).kind, KLCommand::UsageError);
}

TEST_F(CommandLineTest, DanglingSymlinksAreStillFiles)
{
    ASSERT_TRUE(QFile::link(m_dir + "/gone", m_dir + "/dangling"));
    const KLCommand cmd = KLCommandLine::parse({"dangling"}, kTools);
    ASSERT_EQ(cmd.kind, KLCommand::Gui) << qPrintable(cmd.error);
    EXPECT_EQ(cmd.args, QStringList{m_dir + "/dangling"});
}

TEST(CommandLineWords, NamesThatAreNotUtf8AreRefusedAndTheOtherFilesStay)
{
    const QByteArray latin1("caf\xe9.txt");
    // A list of files goes on without the refused name.
    KLDecodedArguments d = KLCommandLine::decodeArguments({"cooler", "add", latin1, "/home/u/ok.txt"});
    EXPECT_EQ(d.words, QStringList({"cooler", "add", "/home/u/ok.txt"}));
    ASSERT_EQ(d.refused.size(), 1);
    EXPECT_TRUE(d.refused[0].startsWith("caf"));
    EXPECT_TRUE(d.runRest);
    d = KLCommandLine::decodeArguments({"tags", "--json", latin1, "b.txt"});
    EXPECT_TRUE(d.runRest);
    d = KLCommandLine::decodeArguments({latin1, "b.txt"}); // files handed to Kelso
    EXPECT_EQ(d.words, QStringList({"b.txt"}));
    EXPECT_TRUE(d.runRest);
    // Nothing left to do: only options, or the refused name was the only file.
    EXPECT_FALSE(KLCommandLine::decodeArguments({"tags", "--json", latin1}).runRest);
    EXPECT_FALSE(KLCommandLine::decodeArguments({"tags", "add", "x", latin1}).runRest);
    EXPECT_FALSE(KLCommandLine::decodeArguments({latin1}).runRest);
    // Not in a list of files: a folder, a tag text, a thumbnail's file.
    EXPECT_FALSE(KLCommandLine::decodeArguments({"recent", "--folder", latin1}).runRest);
    EXPECT_FALSE(KLCommandLine::decodeArguments({"tags", "add", latin1, "b.txt"}).runRest);
    EXPECT_FALSE(KLCommandLine::decodeArguments({"thumbnail", latin1, "--size", "64"}).runRest);
    EXPECT_FALSE(KLCommandLine::decodeArguments({"search", "--in", latin1, "x"}).runRest);
    // UTF-8 words, newlines included, pass untouched.
    d = KLCommandLine::decodeArguments({"file", "two\nlines.txt", "caf\xc3\xa9.txt"});
    EXPECT_TRUE(d.refused.isEmpty());
    EXPECT_EQ(d.words, QStringList({"file", "two\nlines.txt", QString::fromUtf8("caf\xc3\xa9.txt")}));
}
