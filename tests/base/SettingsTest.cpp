// What the library and the wizard share: timer periods from configured
// seconds, and the installation directory resolved once.
#include "InstallDir.h"
#include "NerovaConfig.h"
#include "TimerPeriod.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(SettingsTest, SecondsBecomeTimerPeriodsWithoutOverflow)
{
    constexpr int longest = std::numeric_limits<int>::max();
    EXPECT_EQ(timerPeriodMs(5), 5000);
    EXPECT_EQ(timerPeriodMs(0), 0);
    EXPECT_EQ(timerPeriodMs(-3), 0);
    EXPECT_EQ(timerPeriodMs(2147483), 2147483000);
    EXPECT_EQ(timerPeriodMs(2147484), longest);
    EXPECT_EQ(timerPeriodMs(std::numeric_limits<qint64>::max()), longest);
    EXPECT_EQ(timerPeriodMs(0, 1000), 1000);

    NerovaConfig config;
    config.checkDeviceInterval = std::numeric_limits<int>::max();
    EXPECT_EQ(config.deviceCheckPeriodMs(), longest);
    config.checkDeviceInterval = -1;
    EXPECT_EQ(config.deviceCheckPeriodMs(), 1000);
}

// A host may change its current directory (into the installation, say); a
// relative NEROVA_HOME must still name the same directory afterwards.
TEST(SettingsTest, ARelativeInstallationDirectoryIsResolvedOnce)
{
    QTemporaryDir parent;
    ASSERT_TRUE(QDir(parent.path()).mkpath("inst/inst"));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(parent.path());
    qputenv("NEROVA_HOME", "inst");
    const QString first = InstallDir::path();
    QDir::setCurrent(first);
    const QString second = InstallDir::path();
    QDir::setCurrent(previous);
    qunsetenv("NEROVA_HOME");
    EXPECT_EQ(first, QDir(parent.path()).canonicalPath() + "/inst");
    EXPECT_EQ(second, first);
}

} // namespace
