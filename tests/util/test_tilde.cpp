// Tilde expansion and abbreviation against the real home folder, with $HOME changed per test.
#include "util/QtTestPrinters.h"
#include "util/Tilde.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

using namespace PimsAdditions;

namespace {

QString userDatabaseHome()
{
    const passwd *pw = getpwuid(getuid());
    return pw ? QString::fromLocal8Bit(pw->pw_dir) : QString();
}

class TildeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_hadHome = qEnvironmentVariableIsSet("HOME");
        m_savedHome = qgetenv("HOME");
    }
    void TearDown() override
    {
        if (m_hadHome)
            setenv("HOME", m_savedHome.constData(), 1);
        else
            unsetenv("HOME");
    }
    static void setHome(const char *value) { setenv("HOME", value, 1); }

private:
    bool m_hadHome = false;
    QByteArray m_savedHome;
};

} // namespace

TEST_F(TildeTest, AbsoluteHomeVariableIsTheHomeFolder)
{
    setHome("/home/user");
    EXPECT_EQ(realHomeDirectory(), "/home/user");
    setHome("/home/user/");
    EXPECT_EQ(realHomeDirectory(), "/home/user") << "a trailing slash is dropped";
}

TEST_F(TildeTest, ExpandsOnlyALeadingTildeWord)
{
    setHome("/srv/people/ann");
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("~"), "/srv/people/ann");
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("~/Documents/a.txt"), "/srv/people/ann/Documents/a.txt");
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("~/"), "/srv/people/ann/");
    // Not a tilde prefix of the current user: left alone.
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("~bob/x"), "~bob/x");
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("/abs/~/x"), "/abs/~/x");
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("a~/b"), "a~/b");
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX(""), "");
}

TEST_F(TildeTest, MissingOrRelativeHomeFallsBackToTheUserDatabase)
{
    const QString dbHome = userDatabaseHome();
    ASSERT_FALSE(dbHome.isEmpty());

    unsetenv("HOME");
    EXPECT_EQ(realHomeDirectory(), dbHome);
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("~/x"), dbHome + "/x");

    setHome("relative/home");
    EXPECT_EQ(realHomeDirectory(), dbHome);

    setHome("");
    EXPECT_EQ(realHomeDirectory(), dbHome);
}

TEST_F(TildeTest, SandboxDataFolderIsNeverTheHome)
{
    const QString dbHome = userDatabaseHome();
    setHome("/home/user/.var/app/com.tallow.Kelso");
    EXPECT_EQ(realHomeDirectory(), dbHome);
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("~/Documents"), dbHome + "/Documents");
}

TEST_F(TildeTest, AbbreviatesTheHomePrefixAtAFolderBoundaryOnly)
{
    setHome("/home/user");
    EXPECT_EQ(stringByAbbreviatingWithTildeInPathSANDBOX("/home/user"), "~");
    EXPECT_EQ(stringByAbbreviatingWithTildeInPathSANDBOX("/home/user/Documents/a b.txt"), "~/Documents/a b.txt");
    EXPECT_EQ(stringByAbbreviatingWithTildeInPathSANDBOX("/home/user2"), "/home/user2");
    EXPECT_EQ(stringByAbbreviatingWithTildeInPathSANDBOX("/home/user2/x"), "/home/user2/x");
    EXPECT_EQ(stringByAbbreviatingWithTildeInPathSANDBOX("/home"), "/home");
    EXPECT_EQ(stringByAbbreviatingWithTildeInPathSANDBOX("/other/home/user/x"), "/other/home/user/x");
}

TEST_F(TildeTest, AbbreviationAndExpansionAreInverse)
{
    setHome("/var/tmp/some home");
    for (const QString &path : {QStringLiteral("/var/tmp/some home"), QStringLiteral("/var/tmp/some home/a/b"),
                                QStringLiteral("/var/tmp/some home/.hidden")}) {
        const QString abbreviated = stringByAbbreviatingWithTildeInPathSANDBOX(path);
        EXPECT_TRUE(abbreviated.startsWith('~')) << qPrintable(abbreviated);
        EXPECT_EQ(stringByExpandingTildeInPathSANDBOX(abbreviated), path);
    }
}

TEST_F(TildeTest, RootHomeDoesNotAbbreviateEveryPath)
{
    setHome("/");
    EXPECT_EQ(realHomeDirectory(), "/");
    EXPECT_EQ(stringByExpandingTildeInPathSANDBOX("~/etc"), "/etc");
    EXPECT_EQ(stringByAbbreviatingWithTildeInPathSANDBOX("/etc/passwd"), "/etc/passwd");
}
