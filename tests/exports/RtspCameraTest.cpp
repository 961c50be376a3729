// A network camera over RTSP (GStreamer's RTSP server sending H.264 at
// 640 x 480, 10 frames a second) through the real library in the plain C
// host: the server frozen and the server gone are each told (6202) and
// survived (6201 once it answers again), a face after the outage reaches
// the host, and the decoder's messages go to the library's log: the host's
// standard error holds only the library's own "nerova: " lines.
#include "CascadeFiles.h"
#include "FaceHostFixture.h"
#include "RtspCamera.h"
#include "SceneCanvas.h"

#include <QFile>

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

namespace {

// A read gives up after 3 s, an opening after 3 s; the device check runs
// every second.
const int outageToldMs = 15000;
const int backMs = 20000;

class RtspCameraTest : public FaceHostFixture
{
protected:
    void SetUp() override
    {
        FaceHostFixture::SetUp();
        if (IsSkipped())
            return;
        if (RtspCamera::program().isEmpty())
            GTEST_SKIP() << "the RTSP camera (GStreamer's RTSP server) was not built";
        if (sharedImage("astronaut.png").isEmpty() || sharedImage("fruits.jpg").isEmpty())
            GTEST_SKIP() << "missing ../shared/data/images/astronaut.png or fruits.jpg";
        ASSERT_TRUE(show("fruits.jpg"));
        ASSERT_TRUE(camera.start());
    }

    QString scene() const { return install.path() + "/scene.png"; }
    bool show(const char *image)
    {
        const QString next = install.path() + "/next.png";
        const cv::Mat frame = onCanvas(cv::imread(sharedImage(image).toStdString()), cv::Size(640, 480));
        return cv::imwrite(next.toStdString(), frame) && (QFile::remove(scene()) || true)
            && QFile::rename(next, scene());
    }

    RtspCamera camera{install.path() + "/scene.png"};
};

TEST_F(RtspCameraTest, FrozenAndVanishedServerAreSurvivedWithoutDecoderLinesOnStandardError)
{
    configure(virtualCamera, 2, "FaceThreshold=0\n");
    knowTheVisitor();
    auto host = startedHost(camera.url());
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6201, backMs)) << log().toStdString();
    EXPECT_EQ(host->run("loop 3000"), 0);

    // Frozen: connections are accepted, nothing answers.
    camera.freeze();
    ASSERT_TRUE(awaitNotice(*host, 6202, outageToldMs)) << log().toStdString();
    EXPECT_EQ(host->run("loop 6000"), 0);
    camera.thaw();
    ASSERT_TRUE(awaitNotice(*host, 6201, backMs)) << log().toStdString();

    // Gone: every opening is refused, until it is back on the same port.
    camera.kill();
    ASSERT_TRUE(awaitNotice(*host, 6202, outageToldMs));
    EXPECT_EQ(host->run("loop 6000"), 0);
    ASSERT_TRUE(show("astronaut.png"));
    ASSERT_TRUE(camera.start());
    ASSERT_TRUE(awaitNotice(*host, 6201, backMs)) << log().toStdString();
    ASSERT_TRUE(host->loopUntil([&] { return !faceTexts(*host).filter("\"Ann\"").isEmpty(); }, backMs))
        << log().toStdString();

    EXPECT_EQ(host->run("uninit"), 0);
    endHost(*host);
    const QString logged = log();
    EXPECT_TRUE(logged.contains(QRegularExpression("ERROR .*Decoder: \\[tcp\\] Connection to tcp://127.0.0.1:\\d+.* "
                                                   "failed: Connection refused")))
        << logged.toStdString();
    EXPECT_FALSE(logged.contains("@ 0x"));
    for (const QString &line : host->errorOutput().split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith("nerova: ")) << "on the host's standard error: " << line.toStdString();
}

} // namespace
