// Reading the configuration values: defaults, Qt's conversion rules, the
// store-server addresses and the device-check period.
#include "BaseFixture.h"
#include "NerovaConfig.h"

#include <QSettings>

#include <gtest/gtest.h>

namespace {

NerovaConfig readFrom(const TestInstall &install)
{
    QSettings settings(install.configFile(), QSettings::IniFormat);
    return NerovaConfig::read(settings);
}

NerovaConfig readText(const QString &text)
{
    TestInstall install;
    install.writeConfig(text);
    return readFrom(install);
}

void expectDefaults(const NerovaConfig &c)
{
    EXPECT_EQ(c.server, "");
    EXPECT_EQ(c.deviceId, "");
    EXPECT_EQ(c.checkDeviceInterval, 0);
    EXPECT_TRUE(c.probeEnabled);
    EXPECT_EQ(c.probeDevice, "");
    EXPECT_EQ(c.probeInterval, 300);
    EXPECT_EQ(c.probeUrl, "");
    EXPECT_TRUE(c.faceEnabled);
    EXPECT_EQ(c.faceDevice, "");
    EXPECT_EQ(c.faceInterval, 5);
    EXPECT_EQ(c.faceThreshold, 80);
    EXPECT_FALSE(c.faceBlurEnabled);
    EXPECT_EQ(c.faceBlurThreshold, 80);
    EXPECT_FALSE(c.faceBrightEnabled);
    EXPECT_EQ(c.faceBrightThreshold, 80);
    EXPECT_TRUE(c.faceLeftEye);
    EXPECT_TRUE(c.faceRightEye);
    EXPECT_TRUE(c.faceNose);
    EXPECT_TRUE(c.faceMouth);
    EXPECT_FALSE(c.oncePerVisit);
    EXPECT_EQ(c.visitGap, 10);
    EXPECT_TRUE(c.motionGate);
    EXPECT_EQ(c.motionGatePeriod, 60);
    EXPECT_EQ(c.statsInterval, 3600);
    EXPECT_EQ(c.quotaPause, 3600);
    EXPECT_EQ(c.baiduThreshold, 80);
    EXPECT_EQ(c.baiduSearchQuality, "NONE");
    EXPECT_EQ(c.baiduRegisterQuality, "NORMAL");
    EXPECT_EQ(c.faceTokenServer, "");
    EXPECT_EQ(c.faceAddUrl, "");
    EXPECT_EQ(c.faceSearchUrl, "");
    EXPECT_EQ(c.baiduGroup, "");
    EXPECT_EQ(c.uidUrl, "");
    EXPECT_EQ(c.addUserUrl, "");
    EXPECT_EQ(c.tradeUrl, "");
    EXPECT_FALSE(c.proxyEnabled);
    EXPECT_EQ(c.proxyHost, "");
    EXPECT_EQ(c.proxyPort, 0);
    EXPECT_FALSE(c.debugMode);
}

} // namespace

TEST(NerovaConfigDefaults, EveryKeyHasItsDefaultWhenTheFileIsMissing)
{
    TestInstall install;
    expectDefaults(readFrom(install));
}

TEST(NerovaConfigDefaults, EveryKeyHasItsDefaultWhenItsSectionsHoldOtherKeys)
{
    expectDefaults(readText("[Nerova]\nOther=1\n[Server]\n[Probe]\nprobeinterval=7\n[Face]\n"
                            "[Baidu]\nX=y\n[Log]\nlog4j.rootLogger=INFO\n"));
}

// A key spelled in another letter case is another key.
TEST(NerovaConfigDefaults, KeysAndSectionsAreCaseSensitive)
{
    const NerovaConfig c = readText("[Face]\nfaceThreshold=10\nFACEINTERVAL=9\n[face]\nFaceThreshold=11\n");
    EXPECT_EQ(c.faceThreshold, 80);
    EXPECT_EQ(c.faceInterval, 5);
}

TEST(NerovaConfigDefaults, EveryKeyIsReadFromItsSection)
{
    const NerovaConfig c = readText(
        "[Nerova]\nDeviceId=S-17\nCheckDeviceInterval=4\nProxyEnabled=true\nProxyHost=proxy.local\n"
        "ProxyPort=3128\nDebugMode=true\n"
        "[Probe]\nProbeEnabled=false\nProbeDevice=1027-24577\nProbeInterval=60\n"
        "[Face]\nFaceEnabled=false\nFaceDevice=vid_046d&pid_0825&mi_00#1-2\nFaceInterval=2\n"
        "FaceThreshold=61\nFaceBlurEnabled=true\nFaceBlurThreshold=62\nFaceBrightEnabled=true\n"
        "FaceBrightThreshold=63\nFaceLeftEye=false\nFaceRightEye=false\nFaceNose=false\nFaceMouth=false\n"
        "OncePerVisit=true\nVisitGap=4\nMotionGate=false\nMotionGatePeriod=9\nStatsInterval=30\n"
        "[Baidu]\nFaceTokenServer=https://t/token\nFaceSearchUrl=https://t/search\nFaceAddUrl=https://t/add\n"
        "BaiduGroup=store\nBaiduThreshold=64\nBaiduSearchQuality=LOW\nBaiduRegisterQuality=HIGH\nQuotaPause=120\n");
    EXPECT_EQ(c.deviceId, "S-17");
    EXPECT_EQ(c.checkDeviceInterval, 4);
    EXPECT_TRUE(c.proxyEnabled);
    EXPECT_EQ(c.proxyHost, "proxy.local");
    EXPECT_EQ(c.proxyPort, 3128);
    EXPECT_TRUE(c.debugMode);
    EXPECT_FALSE(c.probeEnabled);
    EXPECT_EQ(c.probeDevice, "1027-24577");
    EXPECT_EQ(c.probeInterval, 60);
    EXPECT_FALSE(c.faceEnabled);
    EXPECT_EQ(c.faceDevice, "vid_046d&pid_0825&mi_00#1-2");
    EXPECT_EQ(c.faceInterval, 2);
    EXPECT_EQ(c.faceThreshold, 61);
    EXPECT_TRUE(c.faceBlurEnabled);
    EXPECT_EQ(c.faceBlurThreshold, 62);
    EXPECT_TRUE(c.faceBrightEnabled);
    EXPECT_EQ(c.faceBrightThreshold, 63);
    EXPECT_FALSE(c.faceLeftEye || c.faceRightEye || c.faceNose || c.faceMouth);
    EXPECT_TRUE(c.oncePerVisit);
    EXPECT_EQ(c.visitGap, 4);
    EXPECT_FALSE(c.motionGate);
    EXPECT_EQ(c.motionGatePeriod, 9);
    EXPECT_EQ(c.statsInterval, 30);
    EXPECT_EQ(c.quotaPause, 120);
    EXPECT_EQ(c.faceTokenServer, "https://t/token");
    EXPECT_EQ(c.faceSearchUrl, "https://t/search");
    EXPECT_EQ(c.faceAddUrl, "https://t/add");
    EXPECT_EQ(c.baiduGroup, "store");
    EXPECT_EQ(c.baiduThreshold, 64);
    EXPECT_EQ(c.baiduSearchQuality, "LOW");
    EXPECT_EQ(c.baiduRegisterQuality, "HIGH");
}

// A key that is present takes Qt's conversion of its text, not the default:
// keys whose default is true and 80 show the difference.
struct ConversionCase
{
    const char *raw;
    bool boolean;
    int integer;
};

class NerovaConfigConversion : public ::testing::TestWithParam<ConversionCase>
{
};

TEST_P(NerovaConfigConversion, FollowsQtsRules)
{
    const ConversionCase &param = GetParam();
    const NerovaConfig c = readText(QString("[Face]\nFaceLeftEye=%1\nFaceThreshold=%1\n").arg(param.raw));
    EXPECT_EQ(c.faceLeftEye, param.boolean) << param.raw;
    EXPECT_EQ(c.faceThreshold, param.integer) << param.raw;
}

INSTANTIATE_TEST_SUITE_P(Values, NerovaConfigConversion,
                         ::testing::Values(ConversionCase{"FALSE", false, 0}, ConversionCase{"False", false, 0},
                                           ConversionCase{"0", false, 0}, ConversionCase{"", false, 0},
                                           ConversionCase{"\"\"", false, 0}, ConversionCase{"yes", true, 0},
                                           ConversionCase{"no", true, 0}, ConversionCase{"12abc", true, 0},
                                           ConversionCase{" 7 ", true, 7}, ConversionCase{"\" 7 \"", true, 7},
                                           ConversionCase{"-3", true, -3}, ConversionCase{"7.5", true, 0},
                                           ConversionCase{"0x10", true, 0}, ConversionCase{"TRUE", true, 0},
                                           ConversionCase{"1,2", true, 0}));

TEST(NerovaConfigAddresses, StoreServerPathsFollowTheServerBaseDirectly)
{
    const NerovaConfig c = readText("[Server]\nServer=https://store.example:8443\nTradeUrl=/api/trade\n"
                                    "UIdUrl=/api/uid\nAddUserUrl=api/user\nProbeUrl=/api/probe?v=2\n");
    EXPECT_EQ(c.server, "https://store.example:8443");
    EXPECT_EQ(c.tradeUrl, "https://store.example:8443/api/trade");
    EXPECT_EQ(c.uidUrl, "https://store.example:8443/api/uid");
    EXPECT_EQ(c.addUserUrl, "https://store.example:8443api/user");
    EXPECT_EQ(c.probeUrl, "https://store.example:8443/api/probe?v=2");
}

TEST(NerovaConfigAddresses, AnAbsentPathGivesTheServerBase)
{
    const NerovaConfig c = readText("[Server]\nServer=http://127.0.0.1:9000\nUIdUrl=/uid\n");
    EXPECT_EQ(c.tradeUrl, "http://127.0.0.1:9000");
    EXPECT_EQ(c.addUserUrl, "http://127.0.0.1:9000");
    EXPECT_EQ(c.probeUrl, "http://127.0.0.1:9000");
    EXPECT_EQ(c.uidUrl, "http://127.0.0.1:9000/uid");
}

TEST(NerovaConfigAddresses, CloudAddressesAreNotPrefixed)
{
    const NerovaConfig c = readText("[Server]\nServer=http://s\n[Baidu]\nFaceSearchUrl=http://cloud/search\n");
    EXPECT_EQ(c.faceSearchUrl, "http://cloud/search");
}

// QSettings hands an unquoted value with commas over as a list; the text is
// its parts joined again, so a query string with commas survives.
TEST(NerovaConfigText, UnquotedCommasKeepTheText)
{
    const NerovaConfig c = readText("[Server]\nServer=http://s\nTradeUrl=/trade?fields=a,b,c\n"
                                    "[Baidu]\nBaiduGroup=north,south\nBaiduSearchQuality=\"LOW, HIGH\"\n");
    EXPECT_EQ(c.tradeUrl, "http://s/trade?fields=a,b,c");
    EXPECT_EQ(c.baiduGroup, "north,south");
    EXPECT_EQ(c.baiduSearchQuality, "LOW, HIGH");
}

TEST(NerovaConfigText, NonAsciiTextInQtsEscapeFormIsRead)
{
    const NerovaConfig c = readText("[Nerova]\nDeviceId=\\x95e8\\x5e97-1\n");
    EXPECT_EQ(c.deviceId, QString::fromUtf8("\u95e8\u5e97-1"));
}

TEST(NerovaConfigDeviceCheck, AMissingOrZeroIntervalChecksOnceASecond)
{
    EXPECT_EQ(readText("[Nerova]\nDeviceId=1\n").deviceCheckPeriodMs(), 1000);
    EXPECT_EQ(readText("[Nerova]\nCheckDeviceInterval=0\n").deviceCheckPeriodMs(), 1000);
    EXPECT_EQ(readText("[Nerova]\nCheckDeviceInterval=-5\n").deviceCheckPeriodMs(), 1000);
    EXPECT_EQ(readText("[Nerova]\nCheckDeviceInterval=abc\n").deviceCheckPeriodMs(), 1000);
    EXPECT_EQ(readText("[Nerova]\nCheckDeviceInterval=1\n").deviceCheckPeriodMs(), 1000);
    EXPECT_EQ(readText("[Nerova]\nCheckDeviceInterval=30\n").deviceCheckPeriodMs(), 30000);
}
