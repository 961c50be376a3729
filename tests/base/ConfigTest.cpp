#include "NerovaConfig.h"
#include "TestInstall.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace {

NerovaConfig readFrom(const TestInstall &install)
{
    QSettings settings(install.configFile(), QSettings::IniFormat);
    return NerovaConfig::read(settings);
}

} // namespace

TEST(NerovaConfigTest, EveryKeyHasItsDefaultWhenTheFileIsMissing)
{
    TestInstall install;
    const NerovaConfig c = readFrom(install);
    EXPECT_EQ(c.server, "");
    EXPECT_EQ(c.deviceId, "");
    EXPECT_EQ(c.checkDeviceInterval, 0);
    EXPECT_TRUE(c.probeEnabled);
    EXPECT_EQ(c.probeInterval, 300);
    EXPECT_TRUE(c.faceEnabled);
    EXPECT_EQ(c.faceInterval, 5);
    EXPECT_EQ(c.faceThreshold, 80);
    EXPECT_FALSE(c.faceBlurEnabled);
    EXPECT_EQ(c.faceBlurThreshold, 80);
    EXPECT_FALSE(c.faceBrightEnabled);
    EXPECT_EQ(c.faceBrightThreshold, 80);
    EXPECT_TRUE(c.faceLeftEye && c.faceRightEye && c.faceNose && c.faceMouth);
    EXPECT_EQ(c.baiduThreshold, 80);
    EXPECT_EQ(c.baiduSearchQuality, "NONE");
    EXPECT_EQ(c.baiduRegisterQuality, "NORMAL");
    EXPECT_FALSE(c.proxyEnabled);
    EXPECT_EQ(c.proxyPort, 0);
    EXPECT_FALSE(c.debugMode);
    EXPECT_EQ(c.tradeUrl, "");
}
