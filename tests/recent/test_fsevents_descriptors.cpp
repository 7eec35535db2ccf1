// The event stream lets go of every descriptor it opened (the inotify or fanotify group, the
// volumes' folders, the journal) once it stops and goes, with each backend the machine allows.
#include "recent/FileSystemEventStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <ostream>

// Readable parameter names in test listings.
void PrintTo(const QString &s, std::ostream *os)
{
    *os << s.toStdString();
}

namespace {

int openDescriptors()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

class FsEventDescriptors : public ::testing::TestWithParam<QString>
{
};

} // namespace

TEST_P(FsEventDescriptors, NoneIsLeftOpenAfterTheStreamGoes)
{
    const QString root = KelsoTest::home() + QStringLiteral("/fd-") + GetParam();
    for (int i = 0; i < 5; ++i)
        QDir().mkpath(root + QStringLiteral("/f%1/g").arg(i));
    // A first stream opens what stays open for the process's life (the mount table, Qt's
    // own event notifiers), so that the count below measures only one stream's own.
    {
        FileSystemEventStream warmUp(KelsoTest::home() + QStringLiteral("/.state-fd-warm"));
        warmUp.setBackendPreference(GetParam());
        ASSERT_TRUE(warmUp.start({root}));
    }
    const int before = openDescriptors();
    for (int round = 0; round < 3; ++round) {
        FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-fd-") + GetParam());
        stream.setBackendPreference(GetParam());
        ASSERT_TRUE(stream.start({root}));
        EXPECT_GT(openDescriptors(), before) << "a running stream holds descriptors";
        EXPECT_TRUE(stream.stop());
        // Started again after a stop: the first group and its marks are let go of.
        ASSERT_TRUE(stream.start({root, KelsoTest::home()}));
    }
    EXPECT_EQ(openDescriptors(), before);
}

INSTANTIATE_TEST_SUITE_P(Backends, FsEventDescriptors,
                         ::testing::Values(QStringLiteral("inotify"), QStringLiteral("fanotify")),
                         [](const ::testing::TestParamInfo<QString> &param) { return param.param.toStdString(); });
