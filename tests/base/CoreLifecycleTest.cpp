// The core object in-process: the proxy taken from the configuration once,
// the answers of Start and Stop in each state, and the lines it logs.
#include "BaseFixture.h"
#include "HNerovaCore.h"

#include <QNetworkProxy>
#include <QSysInfo>

namespace {

void NV_CALL onSession(int, const wchar_t *) {}
void NV_CALL onFace(const wchar_t *) {}
void NV_CALL onNotify(int, const wchar_t *) {}

class CoreLifecycleTest : public BaseFixture
{
protected:
    CoreLifecycleTest() { QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy)); }
    ~CoreLifecycleTest() override { QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::NoProxy)); }

    std::unique_ptr<HNerovaCore> makeCore(const QString &config = TestInstall::fileLogGroup())
    {
        install.writeConfig(config);
        return std::make_unique<HNerovaCore>(onSession, onFace, onNotify);
    }
};

} // namespace

TEST_F(CoreLifecycleTest, TheProxyIsSetFromTheConfigurationAtConstruction)
{
    const auto core = makeCore("[Nerova]\nProxyEnabled=true\nProxyHost=127.0.0.1\nProxyPort=70000\n");
    const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
    EXPECT_EQ(proxy.type(), QNetworkProxy::HttpProxy);
    EXPECT_EQ(proxy.hostName(), "127.0.0.1");
    EXPECT_EQ(proxy.port(), 70000 % 65536);
}

TEST_F(CoreLifecycleTest, AnAbsentProxyPortIsPortZero)
{
    const auto core = makeCore("[Nerova]\nProxyEnabled=true\nProxyHost=127.0.0.1\n");
    EXPECT_EQ(QNetworkProxy::applicationProxy().type(), QNetworkProxy::HttpProxy);
    EXPECT_EQ(QNetworkProxy::applicationProxy().port(), 0);
}

TEST_F(CoreLifecycleTest, WithoutProxyEnabledTheApplicationProxyIsLeftAlone)
{
    const auto core = makeCore("[Nerova]\nProxyEnabled=false\nProxyHost=127.0.0.1\nProxyPort=3128\n");
    EXPECT_EQ(QNetworkProxy::applicationProxy().type(), QNetworkProxy::NoProxy);
}

TEST_F(CoreLifecycleTest, LaterEditsLeaveTheProxyAlone)
{
    const auto core = makeCore("[Nerova]\nProxyEnabled=true\nProxyHost=127.0.0.1\nProxyPort=3128\n");
    ASSERT_EQ(core->Initialise(), NV_OK);
    install.replaceConfig("[Nerova]\nProxyEnabled=true\nProxyHost=127.0.0.2\nProxyPort=18080\n");
    ASSERT_TRUE(waitUntil([&] { return core->base().config()->proxyPort == 18080; }));
    EXPECT_EQ(QNetworkProxy::applicationProxy().hostName(), "127.0.0.1");
    EXPECT_EQ(QNetworkProxy::applicationProxy().port(), 3128);
}

TEST_F(CoreLifecycleTest, StartAndStopAnswer6001BeforeInitialise)
{
    const auto core = makeCore();
    core->base().setSession("token", "brand");
    EXPECT_EQ(core->Start(), NV_ERR_NOT_INIT);
    EXPECT_EQ(core->Stop(), NV_ERR_NOT_INIT);
    EXPECT_FALSE(core->isStarted());
    EXPECT_EQ(logLines(), QStringList());
}

TEST_F(CoreLifecycleTest, StartWithoutATokenAnswers6101AndLogsNothing)
{
    const auto core = makeCore();
    ASSERT_EQ(core->Initialise(), NV_OK);
    const int linesBefore = logLines().size();
    EXPECT_EQ(core->Start(), NV_ERR_NO_SESSION);
    EXPECT_FALSE(core->isStarted());
    EXPECT_EQ(logLines().size(), linesBefore);
}

TEST_F(CoreLifecycleTest, StartAndStopLogTheirLinesEveryTime)
{
    // Without a probe device check, whose lines would come in between.
    const auto core = makeCore(TestInstall::fileLogGroup() + "[Probe]\nProbeEnabled=false\n");
    ASSERT_EQ(core->Initialise(), NV_OK);
    core->base().setSession("token", "brand");
    EXPECT_EQ(core->Start(), NV_OK);
    EXPECT_TRUE(core->isStarted());
    EXPECT_EQ(core->Start(), NV_OK);
    EXPECT_EQ(core->Stop(), NV_OK);
    EXPECT_FALSE(core->isStarted());
    EXPECT_EQ(logLines().filter(" working"), QStringList({"Start working", "Start working", "Stop working"}));
}

TEST_F(CoreLifecycleTest, StopWhenNotStartedStillLogsStopWorking)
{
    const auto core = makeCore();
    ASSERT_EQ(core->Initialise(), NV_OK);
    EXPECT_EQ(core->Stop(), NV_OK);
    EXPECT_EQ(core->Stop(), NV_OK);
    EXPECT_EQ(logLines().filter(" working"), QStringList({"Stop working", "Stop working"}));
}

TEST_F(CoreLifecycleTest, DestroyingAnInitialisedCoreStopsIt)
{
    auto core = makeCore();
    ASSERT_EQ(core->Initialise(), NV_OK);
    core.reset();
    EXPECT_EQ(logLines().mid(3), QStringList({"Stop working"}));
}

TEST_F(CoreLifecycleTest, InitialiseLogsSuccessThenTheOperatingSystem)
{
    const auto core = makeCore();
    EXPECT_EQ(core->Initialise(), NV_OK);
    EXPECT_TRUE(core->isInitialised());
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "Init success");
    // Then the face worker, in an installation without cascade files.
    EXPECT_EQ(lines[2].count(','), 15);
    EXPECT_TRUE(lines[2].startsWith("Failed to load classifier: No face classifier,No eyepair_big classifier,"));
    EXPECT_TRUE(lines[1].startsWith("WindowsVersion: 0, buildAbi: " + QSysInfo::buildAbi() + ", buildCpuArchitecture: "))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(", kernelType: " + QSysInfo::kernelType() + ", "));
    EXPECT_TRUE(lines[1].contains(", machineHostName: " + QSysInfo::machineHostName() + ", "));
    EXPECT_TRUE(lines[1].contains(", prettyProductName: " + QSysInfo::prettyProductName() + "productType: "));
    EXPECT_TRUE(lines[1].endsWith(", productVersion: " + QSysInfo::productVersion() + ", Windows Version: 0"));

    EXPECT_EQ(core->Initialise(), NV_OK);
    EXPECT_EQ(logLines().mid(3), QStringList({"SDK init already"}));
}

// The core's own lines go to the logger "default" until the Log group names
// one; the workers' lines go through the base's logger.
TEST_F(CoreLifecycleTest, TheCoreLogsThroughItsOwnLogger)
{
    const auto core = makeCore();
    EXPECT_EQ(core->loggerName(), "default");
    ASSERT_EQ(core->Initialise(), NV_OK);
    EXPECT_TRUE(install.logText("nerova.log").startsWith("INFO default - Init success\nINFO root - WindowsVersion: "));
}

TEST_F(CoreLifecycleTest, TheCoreRereadsItsAddressesAfterAnEdit)
{
    const auto core = makeCore("[Server]\nServer=http://127.0.0.1:8000\n[Nerova]\nDeviceId=S1\n");
    EXPECT_EQ(core->loginUrl(), "http://127.0.0.1:8000");
    EXPECT_EQ(core->storeNumber(), "S1");
    ASSERT_EQ(core->Initialise(), NV_OK);
    install.writeConfig("[Server]\nServer=http://127.0.0.1:8001\nLoginUrl=/login\n[Nerova]\nDeviceId=S2\n");
    ASSERT_TRUE(waitUntil([&] { return core->storeNumber() == "S2"; }));
    EXPECT_EQ(core->loginUrl(), "http://127.0.0.1:8001/login");
}
