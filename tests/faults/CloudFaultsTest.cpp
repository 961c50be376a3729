// The cloud face service failing under a running face worker, through the
// real library in the plain C host with a virtual camera showing a real
// face: down, garbled, refusing the access token, silent. While it fails no
// visitor comes; once it answers again the visitor reaches the host. The
// camera vanishing and coming back, and a host that ends the library from
// inside a visitor record and inside the network notice, end the run.
#include "CascadeFiles.h"
#include "FakeFaceCloud.h"
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

using Answer = FakeStoreServer::Answer;

class CloudFaultsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString missing = installFaceScene(install.path(), "astronaut.png", scene());
        if (!missing.isEmpty())
            GTEST_SKIP() << "missing " << missing.toStdString();
        store.answer("/login", R"({"state":0,"msg":"ok","token":"t1","brandId":"B1","brandLabelList":[]})");
        store.answer("/user", R"({"state":0,"userInfo":{"name":"Ann"},"type":"Member"})");
        cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("tok"));
        cloud.answer(FakeFaceCloud::searchPath, known);
        install.writeConfig(TestInstall::fileLogGroup("nerova")
                            + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\nAddUserUrl=/user\n"
                                      "[Nerova]\nCheckDeviceInterval=1\n[Probe]\nProbeEnabled=false\n"
                                      "[Face]\nFaceDevice=vid_0000&pid_0000&mi_00#virtual1\nFaceInterval=1\n"
                                      "FaceThreshold=0\n")
                                  .arg(store.baseUrl())
                            + cloud.configGroup());
    }

    QString scene() const { return install.path() + "/scene.png"; }
    QString log() const { return install.logText("nerova.log"); }

    void startHost()
    {
        host = std::make_unique<HostProcess>(HostProcess::Kind::C,
                                             QStringList{"NEROVA_VIRTUAL_CAMERAS=Shop door=" + scene()});
        ASSERT_TRUE(host->isLoaded());
        startLibrary();
    }
    void startLibrary()
    {
        const int sessions = host->lines("callback", "session").size();
        ASSERT_EQ(host->run("init"), 0);
        ASSERT_EQ(host->run("login cashier secret"), 0);
        ASSERT_TRUE(host->loopUntil([&] { return host->lines("callback", "session").size() > sessions; }));
        ASSERT_EQ(host->run("start"), 0);
    }

    int visitors()
    {
        int count = 0;
        for (const QJsonObject &line : host->lines("callback", "face"))
            count += line.value("text").toString().contains("\"Member\"");
        return count;
    }
    bool visitorAfter(int seen, int timeoutMs = 20000)
    {
        return host->loopUntil([&] { return visitors() > seen; }, timeoutMs);
    }
    QStringList notices(int code)
    {
        QStringList texts;
        for (const QJsonObject &line : host->lines("callback", "notify"))
            if (line.value("code").toInt() == code)
                texts.append(line.value("text").toString());
        return texts;
    }
    size_t searches() const { return cloud.requestsTo(FakeFaceCloud::searchPath).size(); }

    TestInstall install;
    FakeStoreServer store;
    FakeFaceCloud cloud;
    const std::string known = FakeFaceCloud::searchReply("known-7", 95.0);
    std::unique_ptr<HostProcess> host;
};

struct CloudFault
{
    const char *name;
    Answer search;
    const char *notice; // the network notice the host gets, if any
};

TEST_F(CloudFaultsTest, VisitorsReachTheHostOnceTheCloudAnswersAgain)
{
    // Down from the start: one network notice, no visitor.
    cloud.down();
    startHost();
    ASSERT_TRUE(host->loopUntil([&] { return !notices(6207).isEmpty(); }, 10000)) << log().toStdString();
    EXPECT_EQ(notices(6207), QStringList{"Network error (1)"});
    ASSERT_TRUE(cloud.up());
    ASSERT_TRUE(visitorAfter(0)) << log().toStdString();
    EXPECT_EQ(notices(6207).size(), 1);
    EXPECT_EQ(notices(6206), QStringList{"Network ready"});

    Answer silent;
    silent.never = true;
    const CloudFault faults[] = {
        {"garbage", Answer{200, "\x01garbage{"}, nullptr},
        {"refusing the token", Answer{200, FakeFaceCloud::errorReply(110)}, nullptr},
        {"silent", silent, "Network error (timeout)"},
    };
    for (const CloudFault &fault : faults) {
        SCOPED_TRACE(fault.name);
        const size_t tokens = cloud.requestsTo(FakeFaceCloud::tokenPath).size();
        cloud.answer(FakeFaceCloud::searchPath, fault.search);
        const size_t before = searches();
        ASSERT_TRUE(host->loopUntil([&] { return searches() > before; }, 10000));
        const int seen = visitors();
        if (fault.notice)
            ASSERT_TRUE(host->loopUntil([&] { return notices(6207).size() == 2; }, 20000));
        else
            host->run("loop 1500");
        EXPECT_EQ(visitors(), seen) << "no visitor while the cloud fails";
        cloud.answer(FakeFaceCloud::searchPath, known);
        ASSERT_TRUE(visitorAfter(seen)) << log().toStdString();
        if (fault.notice) {
            EXPECT_EQ(notices(6207).last(), fault.notice);
        }
        if (std::string(fault.name) == "refusing the token") {
            EXPECT_GT(cloud.requestsTo(FakeFaceCloud::tokenPath).size(), tokens) << "a fresh token";
        }
    }

    // The camera vanishes and comes back: the visitors come again.
    QFile::remove(scene());
    const int missing = notices(6202).size();
    ASSERT_TRUE(host->loopUntil([&] { return notices(6202).size() > missing; }, 10000));
    const int seen = visitors();
    ASSERT_TRUE(QFile::copy(sharedImage("astronaut.png"), scene()));
    ASSERT_TRUE(visitorAfter(seen)) << log().toStdString();

    // NV_Uninit inside a visitor record, then inside the network notice
    // that the loop's thread sends.
    ASSERT_EQ(host->run("on face * uninit"), 0);
    ASSERT_FALSE(host->reply("uninit", 20000).isEmpty());
    EXPECT_EQ(host->run("start"), 6001) << "the library has ended";
    startLibrary();
    ASSERT_EQ(host->run("on notify 6207 uninit"), 0);
    cloud.down();
    ASSERT_FALSE(host->reply("uninit", 20000).isEmpty()) << log().toStdString();
    EXPECT_EQ(host->run("start"), 6001) << "the library has ended";
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
}

} // namespace
