// The face worker through the real library in the plain C host, with a
// virtual camera showing a real image: the device check's notices as the
// camera comes and goes, stopping and ending while the loop runs, and a
// host that ends the library from inside the camera notices.
#include "CascadeFiles.h"
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "TestInstall.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

const char virtualCamera[] = "vid_0000&pid_0000&mi_00#virtual1";

class FaceWorkerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString missing = installCascades(install.path());
        if (!missing.isEmpty())
            GTEST_SKIP() << "missing " << missing.toStdString();
        astronaut = sharedImage("astronaut.png");
        if (astronaut.isEmpty())
            GTEST_SKIP() << "missing ../shared/data/images/astronaut.png";
        ASSERT_TRUE(store.isRunning());
        store.answer("/login", R"({"state":0,"msg":"ok","token":"t1","brandId":"B1","brandLabelList":[]})");
        ASSERT_TRUE(QFile::copy(astronaut, scene()));
        configure(virtualCamera);
    }

    QString scene() const { return install.path() + "/scene.png"; }
    QString log() const { return install.logText("nerova.log"); }

    void configure(const QString &faceDevice)
    {
        install.writeConfig(TestInstall::fileLogGroup("nerova")
                            + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\n"
                                      "[Nerova]\nCheckDeviceInterval=1\n"
                                      "[Face]\nFaceDevice=%2\nFaceInterval=600\n")
                                  .arg(store.baseUrl(), faceDevice));
    }

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

    int notices(HostProcess &host, int code)
    {
        int count = 0;
        for (const QJsonObject &line : host.lines("callback", "notify"))
            count += line.value("code").toInt() == code ? 1 : 0;
        return count;
    }

    bool awaitNotice(HostProcess &host, int code, int timeoutMs = 8000)
    {
        const int before = notices(host, code);
        return host.loopUntil([&] { return notices(host, code) > before; }, timeoutMs);
    }

    TestInstall install;
    FakeStoreServer store;
    QString astronaut;
};

TEST_F(FaceWorkerTest, CameraIsReportedWhileThereMissingOnceRemovedAndBackWhenItReturns)
{
    auto host = startedHost();
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6201)) << log().toStdString();
    EXPECT_EQ(notices(*host, 6202), 0);
    EXPECT_TRUE(log().contains(QString("Camera: \\\\?\\usb#%1&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
                                       "\\global, Shop door, 0")
                                   .arg(virtualCamera)))
        << log().toStdString();
    EXPECT_FALSE(log().contains("Failed to load classifier"));

    QFile::remove(scene());
    ASSERT_TRUE(awaitNotice(*host, 6202));
    EXPECT_TRUE(log().contains(QString("No face device") + virtualCamera));
    ASSERT_TRUE(QFile::copy(astronaut, scene()));
    ASSERT_TRUE(awaitNotice(*host, 6201));

    EXPECT_EQ(host->run("stop"), 0);
    EXPECT_TRUE(host->loopUntil([&] { return log().contains("StartFace Exit"); }));
    const int ready = notices(*host, 6201);
    EXPECT_EQ(host->run("loop 2500"), 0);
    EXPECT_EQ(notices(*host, 6201), ready) << "no device check after a stop";
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6201));
    EXPECT_EQ(host->run("uninit"), 0);
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
}

// The loop is waiting (the camera open, no cloud token yet): stop and end
// return at once, and the loop has ended before the library goes.
TEST_F(FaceWorkerTest, StopAndUninitWhileTheLoopWaits)
{
    auto host = startedHost();
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6201));
    EXPECT_EQ(host->run("stop"), 0);
    EXPECT_EQ(host->run("uninit"), 0);
    EXPECT_EQ(log().count("StartFace Exit"), 1) << log().toStdString();
    // Started and ended again at once, before the first device check.
    EXPECT_EQ(host->run("init"), 0);
    EXPECT_EQ(host->run("login cashier secret"), 0);
    EXPECT_TRUE(host->loopUntil([&] { return host->lines("callback", "session").size() == 2; }));
    EXPECT_EQ(host->run("start"), 0);
    EXPECT_EQ(host->run("uninit"), 0);
    EXPECT_EQ(log().count("StartFace Exit"), 2) << log().toStdString();
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
}

// A host that leaves without NV_Stop or NV_Uninit: the loop ends before
// the process takes its libraries down.
TEST_F(FaceWorkerTest, HostExitsWhileTheLoopRuns)
{
    auto host = startedHost();
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6201));
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
    EXPECT_EQ(log().count("StartFace Exit"), 1);
}

TEST_F(FaceWorkerTest, HostEndsTheLibraryInsideTheCameraNotices)
{
    for (const int code : {6201, 6202}) {
        if (code == 6202)
            configure("no such camera");
        auto host = startedHost();
        EXPECT_EQ(host->run(QString("on notify %1 uninit").arg(code)), 0);
        EXPECT_EQ(host->run("start"), 0);
        EXPECT_TRUE(host->loopUntil([&] { return !host->lines("cmd", "uninit").isEmpty(); }, 8000)) << code;
        EXPECT_EQ(host->run("loop 1500"), 0);
        EXPECT_EQ(host->run("start"), 6001) << "the library has ended";
        ASSERT_TRUE(host->finish());
        EXPECT_TRUE(host->exitedCleanly()) << code << host->errorOutput().toStdString();
        EXPECT_EQ(log().count("StartFace Exit"), code == 6201 ? 1 : 2);
    }
}

} // namespace
