// An installation set up wrongly, as a host and an installer meet it
// through the real library in the plain C host: instead of going silent,
// the library says what is wrong on the standard error, in the log and
// through the host's callbacks, and a host that ends the library from
// inside such a callback goes on running.
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

const char acceptedLogin[] = R"({"state":0,"token":"tok","brandId":"B1"})";

class MisconfigurationTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(store.isRunning()); }

    void configure(const QString &paths, const QString &more = QString())
    {
        install.writeConfig(TestInstall::fileLogGroup("nerova") + "[Server]\nServer=" + store.baseUrl() + "\n" + paths
                            + "[Nerova]\nDeviceId=S1\n" + more);
    }
    QString log() const { return install.logText("nerova.log"); }

    // The host ends the library from inside the failure it hears, then
    // starts it again.
    static void expectUninitInsideAndUsableAfter(HostProcess &host)
    {
        EXPECT_EQ(host.reply("uninit").value("result").toInt(-1), 0);
        EXPECT_EQ(host.run("init"), 0);
        EXPECT_EQ(host.run("uninit"), 0);
        ASSERT_TRUE(host.finish());
        EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    }

    FakeStoreServer store;
    TestInstall install;
};

// The host runs outside any installation and NEROVA_HOME is not set.
TEST_F(MisconfigurationTest, WithoutAConfigurationTheLibrarySaysWhereItLookedAndTheLoginEndsIn6207)
{
    HostProcess host(HostProcess::Kind::C, {"-NEROVA_HOME"});
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("on session 6207 uninit"), 0);
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("login cashier secret"), 0);
    const QString text = host.nextCallback("session", 6207).value("text").toString();
    EXPECT_TRUE(text.contains("/conf/default.ini does not exist") && text.contains("NEROVA_HOME")) << text.toStdString();
    expectUninitInsideAndUsableAfter(host);
    const QString stderrText = host.errorOutput();
    EXPECT_TRUE(stderrText.contains("nerova: ERROR No configuration: ")) << stderrText.toStdString();
    EXPECT_TRUE(stderrText.contains("(NEROVA_HOME is not set): set NEROVA_HOME to the installation directory"))
        << stderrText.toStdString();
    EXPECT_TRUE(store.requests().empty());
}

// The login address begins with the trade address, so the dispatch takes
// the login answer for a trade answer.
TEST_F(MisconfigurationTest, ALoginAnswerTakenForATradeAnswerEndsIn6207)
{
    store.answer("/api/login", acceptedLogin);
    configure("LoginUrl=/api/login\nTradeUrl=/api\n");
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("on session 6207 uninit"), 0);
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("login cashier secret"), 0);
    const QString text = host.nextCallback("session", 6207).value("text").toString();
    EXPECT_TRUE(text.startsWith("Login answer taken for a trade answer: the login address " + store.baseUrl()
                                + "/api/login begins with the trade address " + store.baseUrl() + "/api,"))
        << text.toStdString();
    expectUninitInsideAndUsableAfter(host);
    EXPECT_EQ(host.lines("callback", "session").size(), 1) << "the login never completes";
    EXPECT_TRUE(host.errorOutput().contains("nerova: ERROR Login answer taken for a trade answer"));
    EXPECT_TRUE(log().contains("ERROR root - Login answer taken for a trade answer")) << log().toStdString();
}

TEST_F(MisconfigurationTest, InitOnAnotherThreadIsRefusedWithAClearLine)
{
    configure("LoginUrl=/login\nTradeUrl=/trade\n");
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.run("init-thread"), 6003);
    EXPECT_EQ(host.run("start"), 6001) << "nothing was created";
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("uninit"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    const QString line = "NV_Init called on another thread than the one that loaded the library: refused with 6003";
    EXPECT_TRUE(host.errorOutput().contains("nerova: ERROR " + line)) << host.errorOutput().toStdString();
    EXPECT_TRUE(log().contains("ERROR root - " + line)) << log().toStdString();
    EXPECT_EQ(log().count("Init success"), 1);
}

// Two problems an installer finds only in the log: a host whose trade
// text is no JSON object, and feature switches on without the licensed
// feature cascades (this installation has none).
TEST_F(MisconfigurationTest, ATradeTextThatIsNoObjectAndUnscorableFeaturesAreLogged)
{
    store.answer("/login", acceptedLogin);
    store.answer("/trade", R"({"state":0})");
    configure("LoginUrl=/login\nTradeUrl=/trade\n", "[Probe]\nProbeEnabled=false\n");
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("login cashier secret"), 0);
    ASSERT_FALSE(host.nextCallback("session", 0).isEmpty());
    EXPECT_EQ(host.run("start"), 0);
    EXPECT_EQ(host.run("report [1,2]"), 0);
    ASSERT_TRUE(host.loopUntil([&] { return store.requestsTo("/trade").size() == 1; }));
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(store.requestsTo("/trade").front().body)).object(),
              QJsonObject({{"mac", "S1"}}));
    EXPECT_EQ(host.run("stop"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();

    EXPECT_TRUE(log().contains("ERROR root - Trade text is not a JSON object (a JSON array): the report is sent with "
                               "only \"mac\". The host passed: [1,2]"))
        << log().toStdString();
    EXPECT_TRUE(log().contains("ERROR root - Cannot score left eye, right eye, nose, mouth: switched on, but "
                               "data/haarcascades/haarcascade_mcs_lefteye.xml"))
        << log().toStdString();
    EXPECT_TRUE(log().contains("A face scores at most 0 of 100, below Face/FaceThreshold 80: no face passes"));
}

} // namespace
