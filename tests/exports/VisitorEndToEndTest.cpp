// A visitor's whole road through the real library in the plain C host: a
// virtual camera showing a real face, the cloud face service and the
// store's member service (both fakes), and the host's face callback.
#include "CascadeFiles.h"
#include "FakeFaceCloud.h"
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QFile>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

const char virtualCamera[] = "vid_0000&pid_0000&mi_00#virtual1";

class VisitorEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString missing = installCascades(install.path());
        if (!missing.isEmpty())
            GTEST_SKIP() << "missing " << missing.toStdString();
        for (const char *image : {"astronaut.png", "baboon.jpg"}) {
            if (sharedImage(image).isEmpty())
                GTEST_SKIP() << "missing ../shared/data/images/" << image;
        }
        ASSERT_TRUE(store.isRunning());
        ASSERT_TRUE(cloud.isRunning());
        ASSERT_TRUE(QFile::copy(sharedImage("astronaut.png"), scene()));
        store.answer("/login", R"({"state":0,"msg":"ok","token":"t 1","brandId":"B1","brandLabelList":[]})");
        store.answer("/uid", R"({"state":0,"uid":"V-42"})");
        store.answer("/user", R"({"state":0,"userInfo":{"name":"Visitor","userType":"Member"}})");
        cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("24.cloud"));
        cloud.answer(FakeFaceCloud::addPath, FakeFaceCloud::addReply());
        install.writeConfig(TestInstall::fileLogGroup("nerova")
                            + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\nUIdUrl=/uid\n"
                                      "AddUserUrl=/user\n[Nerova]\nDeviceId=STORE-9\nCheckDeviceInterval=1\n"
                                      "[Face]\nFaceDevice=%2\nFaceInterval=1\nFaceThreshold=0\n")
                                  .arg(store.baseUrl(), virtualCamera)
                            + cloud.configGroup("store-9", 80));
    }

    QString scene() const { return install.path() + "/scene.png"; }
    QString log() const { return install.logText("nerova.log"); }

    std::unique_ptr<HostProcess> startedHost()
    {
        auto host = std::make_unique<HostProcess>(
            HostProcess::Kind::C, QStringList{"NEROVA_VIRTUAL_CAMERAS=Shop door=" + scene()});
        EXPECT_TRUE(host->isLoaded());
        EXPECT_EQ(host->run("init"), 0);
        EXPECT_EQ(host->run("login cashier secret"), 0);
        EXPECT_TRUE(host->loopUntil([&] { return !host->lines("callback", "session").isEmpty(); }));
        return host;
    }

    static QList<QJsonObject> faces(HostProcess &host) { return host.lines("callback", "face"); }

    void endHost(HostProcess &host)
    {
        ASSERT_TRUE(host.finish());
        EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    }

    TestInstall install;
    FakeStoreServer store;
    FakeFaceCloud cloud;
};

bool isPng(const QByteArray &bytes, int leastSide)
{
    if (!bytes.startsWith("\x89PNG\r\n\x1a\n") || bytes.size() < 24)
        return false;
    auto bigEndian = [&](int offset) {
        return (uchar(bytes[offset]) << 24) | (uchar(bytes[offset + 1]) << 16) | (uchar(bytes[offset + 2]) << 8)
            | uchar(bytes[offset + 3]);
    };
    return bigEndian(16) >= leastSide && bigEndian(20) >= leastSide;
}

// A new face: token, search without a match, a uid, the face added under
// it, the uid reported, the record at the host. The same face again scores
// at the threshold and goes straight to the report. Then the face leaves.
TEST_F(VisitorEndToEndTest, NewVisitorKnownVisitorAndTheFaceLeaving)
{
    cloud.queue(FakeFaceCloud::searchPath, {200, FakeFaceCloud::searchReply("someone-else", 35.5)});
    cloud.answer(FakeFaceCloud::searchPath, FakeFaceCloud::searchReply("V-42", 80.0));
    auto host = startedHost();
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(host->loopUntil([&] { return faces(*host).size() >= 2; }, 60000)) << log().toStdString();

    bool cameraReady = false;
    for (const QJsonObject &notice : host->lines("callback", "notify"))
        cameraReady = cameraReady || notice.value("code").toInt() == 6201;
    EXPECT_TRUE(cameraReady);
    ASSERT_EQ(cloud.requestsTo(FakeFaceCloud::tokenPath).size(), 1u);
    ASSERT_GE(cloud.requestsTo(FakeFaceCloud::searchPath).size(), 2u);
    ASSERT_EQ(store.requestsTo("/uid").size(), 1u);
    EXPECT_EQ(store.requestsTo("/uid")[0].query, "token=t%201");
    const auto adds = cloud.requestsTo(FakeFaceCloud::addPath);
    ASSERT_EQ(adds.size(), 1u);
    const QJsonObject added = QJsonDocument::fromJson(QByteArray::fromStdString(adds[0].body)).object();
    EXPECT_EQ(added.value("user_id").toString(), "V-42");
    EXPECT_EQ(added.value("group_id").toString(), "store-9");
    const auto users = store.requestsTo("/user");
    ASSERT_GE(users.size(), 2u);
    for (const auto &user : users)
        EXPECT_EQ(user.body, "{\n    \"mac\": \"STORE-9\",\n    \"uid\": \"V-42\"\n}\n");

    const QJsonObject visitor = QJsonDocument::fromJson(faces(*host)[0].value("text").toString().toUtf8()).object();
    EXPECT_EQ(visitor.value("type").toString(), "Member");
    EXPECT_EQ(visitor.value("name").toString(), "Visitor");
    const QByteArray image = visitor.value("image").toString().toLatin1();
    EXPECT_TRUE(isPng(QByteArray::fromBase64(image), 80)) << "a PNG crop of at least the least face size";
    EXPECT_EQ(added.value("image").toString().toLatin1(), image);

    // The face leaves: one empty text, however many cycles follow.
    const QString baboon = scene() + ".new";
    ASSERT_TRUE(QFile::copy(sharedImage("baboon.jpg"), baboon));
    ASSERT_EQ(std::rename(baboon.toLocal8Bit().constData(), scene().toLocal8Bit().constData()), 0);
    ASSERT_TRUE(host->loopUntil([&] { return faces(*host).last().value("text").toString().isEmpty(); }, 20000));
    const int seen = faces(*host).size();
    EXPECT_EQ(host->run("loop 3000"), 0);
    EXPECT_EQ(faces(*host).size(), seen) << "exactly one empty face callback";
    EXPECT_EQ(host->run("uninit"), 0);
    endHost(*host);
}

// The member service refuses the session token: the session has ended
// (logout first) when the host hears 6106, and a host that ends the library
// inside that callback comes to no harm.
TEST_F(VisitorEndToEndTest, RefusedTokenEndsTheSessionBeforeTheHostHearsOfIt)
{
    cloud.answer(FakeFaceCloud::searchPath, FakeFaceCloud::searchReply("V-7", 95));
    store.answer("/user", R"({"state":"401","msg":"token expired"})");
    auto host = startedHost();
    EXPECT_EQ(host->run("on session 6106 start"), 0);
    EXPECT_EQ(host->run("on session 6106 uninit"), 0);
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(host->loopUntil([&] { return !host->lines("cmd", "uninit").isEmpty(); }, 60000))
        << log().toStdString();

    const QList<QJsonObject> sessions = host->lines("callback", "session");
    ASSERT_EQ(sessions.size(), 2);
    EXPECT_EQ(sessions[1].value("code").toInt(), 6106);
    EXPECT_EQ(sessions[1].value("text").toString(), "Invalid token");
    const QList<QJsonObject> starts = host->lines("cmd", "start");
    ASSERT_EQ(starts.size(), 2);
    EXPECT_EQ(starts[1].value("result").toInt(), 6101) << "logged out before 6106";
    EXPECT_EQ(host->lines("cmd", "uninit")[0].value("result").toInt(), 0);
    EXPECT_TRUE(faces(*host).isEmpty());
    EXPECT_EQ(host->run("loop 1500"), 0);
    EXPECT_EQ(host->run("start"), 6001) << "the library has ended";
    EXPECT_EQ(log().count("StartFace Exit"), 1);
    endHost(*host);
}

} // namespace
