// The face worker through the real library in the example hosts, with a
// virtual camera showing a real image: the device check's notices as the
// camera comes and goes, stopping and ending while the loop runs, a host
// that ends the library from inside the camera notices, what the worker
// keeps across a stop, and a C++ host whose face callback throws.
#include "CascadeFiles.h"
#include "FaceHostFixture.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class FaceWorkerTest : public FaceHostFixture
{
protected:
    void SetUp() override
    {
        FaceHostFixture::SetUp();
        if (IsSkipped())
            return;
        astronaut = sharedImage("astronaut.png");
        if (astronaut.isEmpty())
            GTEST_SKIP() << "missing ../shared/data/images/astronaut.png";
        ASSERT_TRUE(QFile::copy(astronaut, scene()));
        configure(virtualCamera);
    }

    QString scene() const { return install.path() + "/scene.png"; }

    void configure(const QString &faceDevice, int faceInterval = 600, const QString &faceKeys = QString())
    {
        FaceHostFixture::configure(faceDevice, faceInterval, faceKeys);
    }

    std::unique_ptr<HostProcess> startedHost(HostProcess::Kind kind = HostProcess::Kind::C,
                                             const QString &initCommand = "init")
    {
        return FaceHostFixture::startedHost(scene(), kind, initCommand);
    }

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

// The face leaves the scene: the host hears it once, and may end the
// library from inside that notice.
TEST_F(FaceWorkerTest, FaceGoneNoticeComesOnceAndTheHostMayEndTheLibraryInIt)
{
    const QString baboon = sharedImage("baboon.jpg");
    if (baboon.isEmpty())
        GTEST_SKIP() << "missing ../shared/data/images/baboon.jpg";
    knowTheVisitor();
    configure(virtualCamera, 3);
    auto host = startedHost();
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(host->loopUntil([&] { return !faceTexts(*host).isEmpty(); }, 30000)) << log().toStdString();
    // The loop now waits its interval; the next frame has no face.
    QFile::remove(scene());
    ASSERT_TRUE(QFile::copy(baboon, scene()));
    EXPECT_EQ(host->run("on face 0 uninit"), 0);
    ASSERT_TRUE(host->loopUntil([&] { return !host->lines("cmd", "uninit").isEmpty(); }, 30000));
    const QStringList texts = faceTexts(*host);
    EXPECT_EQ(texts.count(QString()), 1);
    EXPECT_EQ(texts.last(), QString()) << "the empty text comes after the visitor records";
    EXPECT_TRUE(texts.first().contains("\"type\": \"Member\""));
    EXPECT_TRUE(host->loopUntil([&] { return log().contains("StartFace Exit"); }));
    EXPECT_EQ(host->run("start"), 6001) << "the library has ended";
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
}

// After a passing face the loop waits ten minutes: stop and end still
// return at once.
TEST_F(FaceWorkerTest, StopEndsTheIntervalWait)
{
    knowTheVisitor();
    auto host = startedHost();
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(host->loopUntil([&] { return log().contains("Face result: "); }, 30000)) << log().toStdString();
    EXPECT_TRUE(log().contains("Used classifier: haarcascade_frontalface_alt"));
    EXPECT_EQ(host->run("stop"), 0);
    EXPECT_TRUE(host->loopUntil([&] { return log().contains("StartFace Exit"); }, 3000));
    EXPECT_EQ(host->run("uninit"), 0);
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

// The cloud token and the network state the host was told belong to the
// worker: a stop and a start fetch no new token and do not repeat a
// failure already reported, and a recovery during the stop is reported.
TEST_F(FaceWorkerTest, StopAndStartKeepTheTokenAndTheNetworkState)
{
    configure(virtualCamera, 1, "FaceThreshold=0\n");
    cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("tok"));
    FakeStoreServer::Answer dropped;
    dropped.drop = true;
    cloud.answer(FakeFaceCloud::searchPath, dropped);
    auto host = startedHost();
    auto searches = [&] { return cloud.requestsTo(FakeFaceCloud::searchPath).size(); };
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6207, 20000)) << log().toStdString();

    EXPECT_EQ(host->run("stop"), 0);
    EXPECT_EQ(host->run("start"), 0);
    const size_t before = searches();
    ASSERT_TRUE(host->loopUntil([&] { return searches() >= before + 2; }, 20000));
    EXPECT_EQ(notices(*host, 6207), 1) << "a failure already reported";

    EXPECT_EQ(host->run("stop"), 0);
    knowTheVisitor();
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6206, 20000)) << log().toStdString();
    EXPECT_EQ(cloud.requestsTo(FakeFaceCloud::tokenPath).size(), 1u);
    EXPECT_EQ(notices(*host, 6207), 1);
    EXPECT_EQ(host->run("uninit"), 0);
    endHost(*host);
}

// A C++ host's face callback throws: the library logs it, goes on to the
// next cycle, and the host ends normally.
TEST_F(FaceWorkerTest, ExceptionFromAHostsFaceCallbackIsLoggedAndTheLoopGoesOn)
{
    configure(virtualCamera, 1);
    knowTheVisitor();
    auto host = startedHost(HostProcess::Kind::Qt, "init-throwing");
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(host->loopUntil([&] { return faceTexts(*host).size() >= 2; }, 30000)) << log().toStdString();
    const QString told = "Face loop: the host's face callback failed; the loop goes on";
    EXPECT_TRUE(log().contains(told)) << log().toStdString();
    EXPECT_EQ(host->run("uninit"), 0);
    endHost(*host);
    EXPECT_TRUE(host->errorOutput().contains("nerova: ERROR " + told));
}

} // namespace
