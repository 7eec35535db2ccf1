// Logging areas: which lines show by default, switching one area on, and the line format.
#include "util/Logging.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

namespace {

// Restores the default rules however a test ends.
struct RulesGuard {
    ~RulesGuard() { QLoggingCategory::setFilterRules(QString()); }
};

// Runs `emit` with stderr sent to a file and answers what was written.
template <typename Emit> QString stderrOf(Emit emit)
{
    QTemporaryDir dir;
    const QByteArray path = (dir.path() + QStringLiteral("/stderr")).toLocal8Bit();
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    std::FILE *file = std::fopen(path.constData(), "w");
    ::dup2(::fileno(file), STDERR_FILENO);
    emit();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::fclose(file);
    QFile in(QString::fromLocal8Bit(path));
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    return QString::fromLocal8Bit(in.readAll());
}

} // namespace

TEST(LoggingFormat, LinesNameTheProgramAndTheArea)
{
    EXPECT_EQ(KelsoLog::formatLine("kelso.fsevents", QStringLiteral("cannot watch /x")),
              QStringLiteral("kelso[fsevents]: cannot watch /x"));
    EXPECT_EQ(KelsoLog::formatLine("qt.qpa.xcb", QStringLiteral("no display")),
              QStringLiteral("kelso[qt.qpa.xcb]: no display"));
    EXPECT_EQ(KelsoLog::formatLine("default", QStringLiteral("plain")), QStringLiteral("kelso: plain"));
    EXPECT_EQ(KelsoLog::formatLine(nullptr, QStringLiteral("plain")), QStringLiteral("kelso: plain"));
    // A message that looks like a placeholder stays as it is.
    EXPECT_EQ(KelsoLog::formatLine("kelso.recent", QStringLiteral("%1 and %2")),
              QStringLiteral("kelso[recent]: %1 and %2"));
}

TEST(LoggingAreas, WarningsShowAndChatterIsOffByDefault)
{
    const RulesGuard guard;
    QLoggingCategory::setFilterRules(QString());
    for (const QLoggingCategory *c : {&lcApp(), &lcDBus(), &lcFsEvents(), &lcRecent(), &lcTags(), &lcFileOps(),
                                      &lcPrefs(), &lcPlatform(), &lcThumbs(), &lcBrowser(), &lcCooler()}) {
        EXPECT_TRUE(QByteArray(c->categoryName()).startsWith("kelso.")) << c->categoryName();
        EXPECT_TRUE(c->isWarningEnabled()) << c->categoryName();
        EXPECT_FALSE(c->isInfoEnabled()) << c->categoryName();
        EXPECT_FALSE(c->isDebugEnabled()) << c->categoryName();
    }
    EXPECT_STREQ(lcFsEvents().categoryName(), "kelso.fsevents");
    EXPECT_STREQ(lcCooler().categoryName(), "kelso.cooler");
    // The start-up timings are asked for by their own variable, so their area lets info through.
    EXPECT_TRUE(lcLifecycle().isInfoEnabled());
}

TEST(LoggingAreas, ARuleSwitchesOnOneAreaOnly)
{
    const RulesGuard guard;
    QLoggingCategory::setFilterRules(QStringLiteral("kelso.fsevents.info=true"));
    EXPECT_TRUE(lcFsEvents().isInfoEnabled());
    EXPECT_FALSE(lcFsEvents().isDebugEnabled());
    EXPECT_FALSE(lcRecent().isInfoEnabled());
    EXPECT_FALSE(lcApp().isInfoEnabled());
    QLoggingCategory::setFilterRules(QStringLiteral("kelso.*.debug=true"));
    EXPECT_TRUE(lcRecent().isDebugEnabled());
    EXPECT_TRUE(lcCooler().isDebugEnabled());
}

TEST(LoggingHandler, WritesOneLinePerMessageWithItsArea)
{
    const RulesGuard guard;
    QLoggingCategory::setFilterRules(QString());
    qunsetenv("QT_MESSAGE_PATTERN");
    const QString out = stderrOf([] {
        KelsoLog::installMessageFormat();
        qCWarning(lcRecent, "the recent-items store %s cannot be read", "/tmp/x");
        qCInfo(lcRecent, "chatter that is off");
        qWarning("uncategorised");
        qInstallMessageHandler(nullptr);
    });
    EXPECT_EQ(out,
              QStringLiteral("kelso[recent]: the recent-items store /tmp/x cannot be read\nkelso: uncategorised\n"));
}

TEST(LoggingHandler, AMessagePatternInTheEnvironmentKeepsQtsFormatting)
{
    qputenv("QT_MESSAGE_PATTERN", "%{category}|%{message}");
    qputenv("QT_FORCE_STDERR_LOGGING", "1");
    const QString out = stderrOf([] {
        KelsoLog::installMessageFormat();
        qCWarning(lcTags, "cannot write tags");
    });
    qInstallMessageHandler(nullptr);
    qunsetenv("QT_MESSAGE_PATTERN");
    EXPECT_EQ(out, QStringLiteral("kelso.tags|cannot write tags\n"));
}
