// Replies that a hostile or broken network sends, through the real library
// in the plain C host: huge, endless and slow-to-parse answers from the
// store server and from the cloud, a captive portal answering the login,
// and certificates the library must refuse or may accept. The host's loop
// never stalls, the servers manage to write little more than the cap, and
// each failure is the failure of any bad request, with a clear ERROR line.
#include "CascadeFiles.h"
#include "FakeFaceCloud.h"
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

using Answer = FakeStoreServer::Answer;

constexpr long long capBytes = 4 * 1024 * 1024;
// What the sockets on both ends may hold once the library stops reading.
constexpr long long socketSlackBytes = 16 * 1024 * 1024;

// One object whose member name repeats until the reply is just below the cap.
std::string repeatedNames()
{
    std::string text = "{\"a\":0";
    while (text.size() < capBytes - 16)
        text += ",\"a\":1";
    return text + "}";
}

Answer streamed(long long bytes)
{
    Answer answer;
    answer.streamBytes = bytes;
    return answer;
}

class HostileRepliesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString missing = installFaceScene(install.path(), "astronaut.png", scene());
        if (!missing.isEmpty())
            GTEST_SKIP() << "missing " << missing.toStdString();
    }

    QString scene() const { return install.path() + "/scene.png"; }
    QString log() const { return install.logText("nerova.log"); }

    void configure(const FakeStoreServer &store, const FakeFaceCloud &cloud, const QString &serverKeys = {},
                   const QString &cloudKeys = {})
    {
        install.writeConfig(TestInstall::fileLogGroup("nerova")
                            + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\n%2"
                                      "[Nerova]\nCheckDeviceInterval=1\n[Probe]\nProbeEnabled=false\n"
                                      "[Face]\nFaceDevice=vid_0000&pid_0000&mi_00#virtual1\nFaceInterval=1\n")
                                  .arg(store.baseUrl(), serverKeys)
                            + cloud.configGroup() + cloudKeys);
    }

    void launch()
    {
        host = std::make_unique<HostProcess>(HostProcess::Kind::C,
                                             QStringList{"NEROVA_VIRTUAL_CAMERAS=Shop door=" + scene()});
        ASSERT_TRUE(host->isLoaded());
        ASSERT_EQ(host->run("init"), 0);
    }

    // The session callback of one login; busyMs keeps the host's loop busy
    // right after sending it.
    QJsonObject logIn(int busyMs = 0)
    {
        const int sessions = host->lines("callback", "session").size();
        host->send(busyMs > 0 ? QString("login cashier secret\npause %1").arg(busyMs) : QString("login cashier secret"));
        if (busyMs > 0 && host->reply("pause", busyMs + 15000).isEmpty())
            return {};
        if (!host->loopUntil([&] { return host->lines("callback", "session").size() > sessions; }, 20000))
            return {};
        return host->lines("callback", "session").last();
    }

    int longestIterationMs() { return host->reply("longest-iteration").isEmpty() ? -1 : lastLongest(); }
    int lastLongest() { return host->lines("cmd", "longest-iteration").last().value("ms").toInt(-1); }
    void resetLongestIteration()
    {
        host->send("longest-iteration");
        host->reply("longest-iteration");
    }

    // NV_Uninit and its time in milliseconds, the host then ended.
    qint64 uninitMs()
    {
        QElapsedTimer timer;
        timer.start();
        host->send("uninit");
        const bool replied = !host->reply("uninit", 20000).isEmpty();
        const qint64 elapsed = timer.elapsed();
        EXPECT_TRUE(host->finish());
        EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
        return replied ? elapsed : -1;
    }

    TestInstall install;
    std::unique_ptr<HostProcess> host;
};

struct HostileRow
{
    const char *name;
    Answer answer;
    int busyMs;          // the host's loop busy right after the request
    QString logLine; // the ERROR line it gives
};

std::vector<HostileRow> hostileRows()
{
    return {
        {"4 MB of one repeated name", Answer{200, repeatedNames()}, 0,
         "ERROR root - JSON text refused: more than 100000 members and elements"},
        {"endless", streamed(-1), 0, "cut off: Reply larger than 4194304 bytes"},
        {"200 MB", streamed(200LL * 1024 * 1024), 0, "cut off: Reply larger than 4194304 bytes"},
        {"endless, loop busy", streamed(-1), 3000, "cut off: Reply larger than 4194304 bytes"},
        {"200 MB, loop busy", streamed(200LL * 1024 * 1024), 3000, "cut off: Reply larger than 4194304 bytes"},
    };
}

// Login answers: each fails as a bad answer does (a refused JSON reply and
// a captive portal's page are no JSON object: 6107 with what came back; a
// reply cut off is a cancelled request: 6207), without stalling the loop.
TEST_F(HostileRepliesTest, StoreServerRepliesAreBoundedAndParsedInLinearTime)
{
    FakeStoreServer store;
    FakeFaceCloud cloud;
    configure(store, cloud);
    launch();
    std::vector<HostileRow> rows = hostileRows();
    const std::string portal = "<html><body>Sign in to the shop's Wi-Fi</body></html>";
    rows.push_back({"captive portal", Answer{200, portal, "text/html"}, 0,
                    QString("ERROR root - Login answer is not a JSON object (text/html, %1 bytes)").arg(portal.size())});
    for (const HostileRow &row : rows) {
        SCOPED_TRACE(row.name);
        store.queue("/login", row.answer);
        const long long before = store.streamedBytes();
        const int logged = log().count(row.logLine);
        resetLongestIteration();
        const QJsonObject session = logIn(row.busyMs);
        ASSERT_FALSE(session.isEmpty()) << log().toStdString().substr(0, 2000);
        const QString text = session.value("text").toString();
        if (row.answer.streamBytes != 0) {
            EXPECT_EQ(session.value("code").toInt(), 6207);
            EXPECT_EQ(text, "Network error(5)");
        } else {
            EXPECT_EQ(session.value("code").toInt(), 6107);
            const QString contentType = QString::fromStdString(row.answer.contentType);
            EXPECT_EQ(text, QString("Login answer is not a JSON object (%1, %2 bytes)")
                                .arg(contentType)
                                .arg(row.answer.body.size()));
        }
        EXPECT_LT(store.streamedBytes() - before, capBytes + socketSlackBytes);
        EXPECT_EQ(log().count(row.logLine), logged + 1) << row.logLine.toStdString();
        if (row.busyMs == 0) {
            host->send("longest-iteration");
            EXPECT_LT(longestIterationMs(), 1000) << "the host's loop stalled";
        }
        EXPECT_EQ(host->run("start"), 6101) << "no session";
    }
    // The repeated names once more, NV_Uninit right behind the login.
    store.queue("/login", Answer{200, repeatedNames()});
    host->send("login cashier secret");
    EXPECT_GE(uninitMs(), 0);
}

// The cloud's token reply: the face worker reads it on its own thread, so
// the host's loop is untouched, and NV_Uninit ends a request in the middle
// of any of them within the one shared wait.
TEST_F(HostileRepliesTest, CloudRepliesAreBoundedAndParsedInLinearTime)
{
    FakeStoreServer store;
    store.answer("/login", R"({"state":0,"token":"t1","brandId":"B1"})");
    FakeFaceCloud cloud;
    configure(store, cloud);
    for (const HostileRow &row : hostileRows()) {
        SCOPED_TRACE(row.name);
        cloud.answer(FakeFaceCloud::tokenPath, row.answer);
        const long long before = cloud.streamedBytes();
        const size_t tokens = cloud.requestsTo(FakeFaceCloud::tokenPath).size();
        launch();
        ASSERT_EQ(logIn().value("code").toInt(-1), 0);
        const int logged = log().count(row.logLine);
        host->send(row.busyMs > 0 ? QString("start\npause %1").arg(row.busyMs) : QString("start"));
        ASSERT_EQ(host->reply("start").value("result").toInt(-1), 0);
        // Two answers taken whole or cut off: the second request shows the first ended.
        ASSERT_TRUE(host->loopUntil([&] { return log().count(row.logLine) >= logged + 2; }, 30000))
            << log().toStdString().substr(0, 3000);
        EXPECT_TRUE(cloud.requestsTo(FakeFaceCloud::searchPath).empty()) << "no token, no search";
        const qint64 took = uninitMs();
        EXPECT_GE(took, 0);
        EXPECT_LT(took, 3500) << "NV_Uninit waits no longer than the shared deadline";
        const long long asked = static_cast<long long>(cloud.requestsTo(FakeFaceCloud::tokenPath).size() - tokens);
        EXPECT_LT(cloud.streamedBytes() - before, asked * (capBytes + socketSlackBytes));
    }
}

struct TlsRow
{
    const char *name;
    QString serverKeys;
    QString cloudKeys;
    int sessionCode;   // the login to the self-signed store server
    bool cloudReached; // the token request reached the cloud
    const char *logLine;
};

// The cloud has a certificate of a CA the system does not know: refused
// unless verification is off (said at every start) or its CA is named. The
// store server's self-signed certificate is accepted, unless another CA is
// pinned for it or the pinned CA file cannot be read.
TEST_F(HostileRepliesTest, CertificatesAreVerifiedAsConfigured)
{
    FakeStoreServer store(FakeStoreServer::Scheme::Https);
    store.answer("/login", R"({"state":0,"token":"t1","brandId":"B1"})");
    FakeFaceCloud cloud(FakeFaceCloud::Scheme::HttpsFromCa);
    ASSERT_FALSE(cloud.caFile().isEmpty());
    cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("tok"));
    cloud.answer(FakeFaceCloud::searchPath, FakeFaceCloud::errorReply(222207));
    const QString missingCa = install.path() + "/conf/missing-ca.pem";
    const TlsRow rows[] = {
        {"defaults", {}, {}, 0, false, nullptr},
        {"cloud verification off", {}, "TlsVerify=false\n", 0, true,
         "ERROR root - Baidu/TlsVerify is false: the cloud face service's certificate is not verified"},
        {"cloud CA named", {}, "CaFile=" + cloud.caFile() + "\n", 0, true, nullptr},
        {"store pinned to another CA", "CaFile=" + cloud.caFile() + "\n", {}, 6207, false, nullptr},
        {"store CA unreadable", "CaFile=conf/missing-ca.pem\n", {}, 6207, false,
         "ERROR root - CA file "},
    };
    for (const TlsRow &row : rows) {
        SCOPED_TRACE(row.name);
        configure(store, cloud, row.serverKeys, row.cloudKeys);
        const size_t tokens = cloud.requestsTo(FakeFaceCloud::tokenPath).size();
        launch();
        const QJsonObject session = logIn();
        EXPECT_EQ(session.value("code").toInt(-1), row.sessionCode) << session.value("text").toString().toStdString();
        if (row.sessionCode == 0) {
            ASSERT_EQ(host->run("start"), 0);
            if (row.cloudReached) {
                EXPECT_TRUE(host->loopUntil(
                    [&] { return cloud.requestsTo(FakeFaceCloud::tokenPath).size() > tokens; }, 20000))
                    << log().toStdString().substr(0, 3000);
            } else {
                // The handshake fails: Qt's SslHandshakeFailedError.
                EXPECT_FALSE(host->nextCallback("notify", 6207, 20000).isEmpty());
                EXPECT_EQ(host->lines("callback", "notify").last().value("text").toString(), "Network error (6)");
                EXPECT_EQ(cloud.requestsTo(FakeFaceCloud::tokenPath).size(), tokens);
            }
        }
        if (row.logLine) {
            EXPECT_TRUE(log().contains(row.logLine)) << log().toStdString().substr(0, 3000);
        }
        if (QString(row.name) == "store CA unreadable") {
            EXPECT_TRUE(log().contains("CA file " + missingCa + " cannot be read")) << log().toStdString();
        }
        EXPECT_GE(uninitMs(), 0);
    }
}

} // namespace
