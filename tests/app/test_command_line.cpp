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
