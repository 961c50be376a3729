// The camera feed with a real MJPEG-over-HTTP camera and real image files:
// the frame handed out is the scene of now, a camera that stalls at
// opening or mid-stream is given up within its time-out, and the feed
// goes within a few seconds whatever the camera does.
#include "CameraFeed.h"
#include "CascadeFiles.h"
#include "MjpegCamera.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// Hang guards, not performance figures: the time-outs are 3 s.
const int giveUpGuardMs = 8000;
const int endGuardMs = 5000;

CameraInfo virtualCamera(const QString &source)
{
    CameraInfo camera;
    camera.captureTarget = source;
    camera.isVirtual = true;
    return camera;
}

bool within(int milliseconds, const std::function<bool()> &condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QThread::msleep(10);
    }
    return true;
}

double distance(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() ? cv::norm(a, b, cv::NORM_L1) : 1e30;
}

class CameraFeedTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!scenes.found())
            GTEST_SKIP() << CameraScenes::missing;
        ASSERT_TRUE(camera.isRunning() && camera.show(scenes.empty));
    }

    bool openedWithin(CameraFeed &feed, int milliseconds)
    {
        return within(milliseconds, [&] { return feed.state() == CameraFeed::State::Open; });
    }

    // The frame taken is nearer the scene shown than the other one.
    bool showsScene(const cv::Mat &frame, const QString &shownImage, const QString &otherImage)
    {
        MjpegCamera reference;
        reference.show(otherImage);
        const cv::Mat other = reference.shown();
        reference.show(shownImage);
        return distance(frame, reference.shown()) < distance(frame, other);
    }

    CameraScenes scenes;
    const QString &face = scenes.face;
    const QString &empty = scenes.empty;
    MjpegCamera camera{10};
    std::atomic<bool> stop{false};
    cv::Mat frame;
};

// The scene changes while nobody asks for frames: the next frame taken
// shows the new scene, not one queued by the stream. When the stream stops
// sending, the frame request ends with the camera gone.
TEST_F(CameraFeedTest, LiveStreamGivesTheSceneOfNowAndIsGivenUpWhenItStalls)
{
    CameraFeed feed;
    feed.open(virtualCamera(camera.url()));
    ASSERT_TRUE(openedWithin(feed, giveUpGuardMs));
    ASSERT_EQ(feed.takeFrame(frame, stop), CameraFeed::Frame::Taken);
    EXPECT_TRUE(showsScene(frame, empty, face));

    ASSERT_TRUE(camera.show(face));
    QThread::msleep(2500);
    ASSERT_EQ(feed.takeFrame(frame, stop), CameraFeed::Frame::Taken);
    EXPECT_EQ(frame.size(), cv::Size(640, 480));
    EXPECT_TRUE(showsScene(frame, face, empty)) << "a frame of now, not one queued 2.5 s ago";

    camera.stallFrames(true);
    QElapsedTimer stalled;
    stalled.start();
    EXPECT_EQ(feed.takeFrame(frame, stop), CameraFeed::Frame::Gone);
    EXPECT_LT(stalled.elapsed(), giveUpGuardMs);
    EXPECT_EQ(feed.state(), CameraFeed::State::Closed);

    camera.stallFrames(false);
    feed.open(virtualCamera(camera.url()));
    ASSERT_TRUE(openedWithin(feed, giveUpGuardMs)) << "the camera opens again once it sends";
    stop = true;
    EXPECT_EQ(feed.takeFrame(frame, stop), CameraFeed::Frame::Stopped);
}

// Opening a camera that accepts the connection and never answers fails
// within the opening time-out; meanwhile the feed tells "opening" at once,
// and it ends within a few seconds even while stuck in the opening or in
// a read.
TEST_F(CameraFeedTest, StalledCameraFailsToOpenAndNeverHoldsUpTheFeedsEnd)
{
    auto feed = std::make_unique<CameraFeed>();
    auto timeToEnd = [&] {
        QElapsedTimer ending;
        ending.start();
        feed = std::make_unique<CameraFeed>();
        return ending.elapsed();
    };
    camera.stallAtOpening(true);
    feed->open(virtualCamera(camera.url()));
    EXPECT_EQ(feed->state(), CameraFeed::State::Opening);
    EXPECT_TRUE(within(giveUpGuardMs, [&] { return feed->state() == CameraFeed::State::Failed; }));
    feed->open(virtualCamera(camera.url()));
    QThread::msleep(200);
    EXPECT_LT(timeToEnd(), endGuardMs) << "stuck in an opening";

    camera.stallAtOpening(false);
    feed->open(virtualCamera(camera.url()));
    ASSERT_TRUE(openedWithin(*feed, giveUpGuardMs));
    camera.stallFrames(true);
    QThread::msleep(300);
    EXPECT_LT(timeToEnd(), endGuardMs) << "stuck in a read";
}

// A still image gives its frame on request, as often as asked; a removed
// file reads as a closed camera, which then fails to open.
TEST_F(CameraFeedTest, StillImageIsReadOnRequestAndClosesOnceRemoved)
{
    QTemporaryDir dir;
    const QString scene = dir.path() + "/scene.png";
    ASSERT_TRUE(QFile::copy(face, scene));
    CameraFeed feed;
    feed.open(virtualCamera(scene));
    ASSERT_TRUE(openedWithin(feed, giveUpGuardMs));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(feed.takeFrame(frame, stop), CameraFeed::Frame::Taken);
    EXPECT_EQ(frame.size(), cv::Size(512, 512));
    QFile::remove(scene);
    EXPECT_EQ(feed.state(), CameraFeed::State::Closed);
    EXPECT_EQ(feed.takeFrame(frame, stop), CameraFeed::Frame::Gone);
    feed.open(virtualCamera(scene));
    EXPECT_TRUE(within(giveUpGuardMs, [&] { return feed.state() == CameraFeed::State::Failed; }));
}

} // namespace
