#include "FaceHostFixture.h"

#include "CascadeFiles.h"

void FaceHostFixture::SetUp()
{
    const QString missing = installCascades(install.path());
    if (!missing.isEmpty())
        GTEST_SKIP() << "missing " << missing.toStdString();
    ASSERT_TRUE(store.isRunning());
    ASSERT_TRUE(cloud.isRunning());
    store.answer("/login", R"({"state":0,"msg":"ok","token":"t1","brandId":"B1","brandLabelList":[]})");
}

void FaceHostFixture::configure(const QString &faceDevice, int faceInterval, const QString &faceKeys)
{
    install.writeConfig(TestInstall::fileLogGroup("nerova")
                        + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\nUIdUrl=/uid\n"
                                  "AddUserUrl=/user\n[Nerova]\nCheckDeviceInterval=1\n"
                                  "[Face]\nFaceDevice=%2\nFaceInterval=%3\n%4")
                              .arg(store.baseUrl(), faceDevice, QString::number(faceInterval), faceKeys)
                        + cloud.configGroup());
}

void FaceHostFixture::knowTheVisitor()
{
    cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("tok"));
    cloud.answer(FakeFaceCloud::searchPath, FakeFaceCloud::searchReply("known-7", 95.0));
    store.answer("/user", R"({"state":0,"userInfo":{"name":"Ann"},"type":"Member"})");
}

std::unique_ptr<HostProcess> FaceHostFixture::startedHost(const QString &cameraSource, HostProcess::Kind kind,
                                                          const QString &initCommand)
{
    auto host = std::make_unique<HostProcess>(kind, QStringList{"NEROVA_VIRTUAL_CAMERAS=Shop door=" + cameraSource});
    EXPECT_TRUE(host->isLoaded());
    EXPECT_EQ(host->run(initCommand), 0);
    EXPECT_EQ(host->run("login cashier secret"), 0);
    EXPECT_TRUE(host->loopUntil([&] { return !host->lines("callback", "session").isEmpty(); }));
    return host;
}

int FaceHostFixture::notices(HostProcess &host, int code)
{
    int count = 0;
    for (const QJsonObject &line : host.lines("callback", "notify"))
        count += line.value("code").toInt() == code ? 1 : 0;
    return count;
}

bool FaceHostFixture::awaitNotice(HostProcess &host, int code, int timeoutMs)
{
    const int before = notices(host, code);
    return host.loopUntil([&] { return notices(host, code) > before; }, timeoutMs);
}

QStringList FaceHostFixture::faceTexts(HostProcess &host)
{
    QStringList texts;
    for (const QJsonObject &line : host.lines("callback", "face"))
        texts.append(line.value("text").toString());
    return texts;
}

int FaceHostFixture::longestIterationMs(HostProcess &host)
{
    host.send("longest-iteration");
    return host.reply("longest-iteration").value("ms").toInt(-1);
}

void FaceHostFixture::endHost(HostProcess &host)
{
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
}
