// What a visitor and an empty store cost, through the real library in the
// plain C host with a virtual camera of 1280 x 720 still images and the
// fake cloud face service: with Face/OncePerVisit a visitor standing in
// view is searched and reaches the host once, and the next one after an
// empty spell is searched at once; without it every passing cycle is
// searched as before. The motion gate skips the cascades of an empty scene
// with camera noise and a slow change of light, and still finds a face that
// walks in within a cycle. A quota answer pauses the searches with notice
// 6208, inside which the host ends the library.
#include "CascadeFiles.h"
#include "FaceHostFixture.h"
#include "SceneCanvas.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

const cv::Size cameraSize(1280, 720);
// One interval, the pause of a cycle without a face, and room for the
// detection of a 1280 x 720 frame on a loaded, sanitised build.
const int cycleBoundMs = 1000 + 500 + 8000;

class VisitCostTest : public FaceHostFixture
{
protected:
    void SetUp() override
    {
        FaceHostFixture::SetUp();
        if (IsSkipped())
            return;
        const QString faceImage = sharedImage("astronaut.png");
        const QString emptyImage = sharedImage("fruits.jpg");
        if (faceImage.isEmpty() || emptyImage.isEmpty())
            GTEST_SKIP() << "missing ../shared/data/images/astronaut.png or fruits.jpg";
        face = onCanvas(cv::imread(faceImage.toStdString()), cameraSize);
        empty = onCanvas(cv::imread(emptyImage.toStdString()), cameraSize);
        ASSERT_TRUE(show(empty));
    }

    QString scene() const { return install.path() + "/scene.png"; }

    // Written beside and renamed over the scene, so the camera never reads
    // half a picture.
    bool show(const cv::Mat &frame)
    {
        const QString next = install.path() + "/next.png";
        if (!cv::imwrite(next.toStdString(), frame))
            return false;
        QFile::remove(scene());
        return QFile::rename(next, scene());
    }

    // The scene with camera noise of a few grey levels, its light raised.
    static cv::Mat noisy(const cv::Mat &frame, double light)
    {
        cv::Mat noise(frame.size(), CV_16SC3);
        cv::randn(noise, cv::Scalar::all(light), cv::Scalar::all(3));
        cv::Mat result;
        cv::add(frame, noise, result, cv::noArray(), CV_8UC3);
        return result;
    }

    int faceCycles() const { return log().count("Face result:"); }
    size_t searches() const { return cloud.requestsTo(FakeFaceCloud::searchPath).size(); }
    int visitors(HostProcess &host) const { return faceTexts(host).filter("\"Ann\"").size(); }
    int leavings(HostProcess &host) const { return faceTexts(host).count(QString()); }

    bool awaitFaceCycles(HostProcess &host, int count)
    {
        return host.loopUntil([&] { return faceCycles() >= count; }, count * cycleBoundMs);
    }

    // The face is shown; its search comes within one cycle.
    void expectSearchedWithinACycle(HostProcess &host, const cv::Mat &frame)
    {
        const size_t before = searches();
        ASSERT_TRUE(show(frame));
        QElapsedTimer shown;
        shown.start();
        ASSERT_TRUE(host.loopUntil([&] { return searches() > before; }, 3 * cycleBoundMs)) << log().toStdString();
        EXPECT_LT(shown.elapsed(), cycleBoundMs);
    }

    // The run and skipped cycles of every count line logged so far.
    std::pair<int, int> cycleCounts() const
    {
        static const QRegularExpression counts("(\\d+) cycles run, (\\d+) skipped");
        std::pair<int, int> sum{0, 0};
        QRegularExpressionMatchIterator lines = counts.globalMatch(log());
        while (lines.hasNext()) {
            const QRegularExpressionMatch line = lines.next();
            sum.first += line.captured(1).toInt();
            sum.second += line.captured(2).toInt();
        }
        return sum;
    }

    cv::Mat face;
    cv::Mat empty;
};

struct VisitRow
{
    bool oncePerVisit;
    int cyclesInView;
};

TEST_F(VisitCostTest, VisitorStandingInViewIsIdentifiedOncePerVisit)
{
    for (const VisitRow &row : {VisitRow{true, 12}, VisitRow{false, 6}}) {
        SCOPED_TRACE(row.oncePerVisit ? "once per visit" : "every cycle");
        const int cyclesBefore = faceCycles();
        const size_t searchesBefore = searches();
        const size_t reportsBefore = store.requestsTo("/user").size();
        configure(virtualCamera, 1,
                  QString("FaceThreshold=0\nOncePerVisit=%1\nVisitGap=3\n").arg(row.oncePerVisit ? "true" : "false"));
        knowTheVisitor();
        ASSERT_TRUE(show(empty));
        auto host = startedHost(scene());
        EXPECT_EQ(host->run("start"), 0);
        ASSERT_TRUE(awaitNotice(*host, 6201, 10000)) << log().toStdString();
        EXPECT_EQ(host->run("loop 2000"), 0);

        expectSearchedWithinACycle(*host, face);
        ASSERT_TRUE(awaitFaceCycles(*host, cyclesBefore + row.cyclesInView)) << log().toStdString();
        const int cycles = faceCycles() - cyclesBefore;
        const int searched = static_cast<int>(searches() - searchesBefore);
        const int reported = static_cast<int>(store.requestsTo("/user").size() - reportsBefore);
        if (row.oncePerVisit) {
            EXPECT_LE(searched, 2) << cycles << " cycles with the face";
            EXPECT_EQ(reported, 1);
            EXPECT_EQ(visitors(*host), 1);
        } else {
            EXPECT_GE(searched, cycles) << "every passing cycle is searched";
            EXPECT_LE(searched, cycles + 1);
            EXPECT_EQ(reported, searched);
            EXPECT_GE(visitors(*host), cycles);
        }
        EXPECT_EQ(leavings(*host), 0);

        // The visitor leaves: told once, also after an empty spell of more
        // than twice the visit gap.
        ASSERT_TRUE(show(empty));
        ASSERT_TRUE(host->loopUntil([&] { return leavings(*host) == 1; }, 3000 + 2 * cycleBoundMs));
        EXPECT_EQ(host->run("loop 7000"), 0);
        EXPECT_EQ(leavings(*host), 1);

        // The next visitor is searched at once and reaches the host.
        const int seen = visitors(*host);
        expectSearchedWithinACycle(*host, face);
        ASSERT_TRUE(host->loopUntil([&] { return visitors(*host) > seen; }, cycleBoundMs));
        EXPECT_EQ(host->run("uninit"), 0);
        endHost(*host);
    }
}

// An empty scene, written anew every second with fresh noise of a few grey
// levels and its light rising a grey level each time: most cycles skip the
// cascades. A face that walks in is searched within a cycle. The service
// then answers that its quota is used up: notice 6208, inside which the
// host ends the library.
TEST_F(VisitCostTest, MotionGateSkipsANoisyEmptySceneAndStillFindsAFace)
{
    configure(virtualCamera, 1, "FaceThreshold=0\nStatsInterval=4\n");
    knowTheVisitor();
    auto host = startedHost(scene());
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(awaitNotice(*host, 6201, 10000)) << log().toStdString();
    const int frames = 16;
    for (int i = 0; i < frames; ++i) {
        ASSERT_TRUE(show(noisy(empty, i)));
        EXPECT_EQ(host->run("loop 1000"), 0);
    }
    const std::pair<int, int> counts = cycleCounts();
    std::printf("empty noisy scene: %d cycles run, %d skipped\n", counts.first, counts.second);
    EXPECT_GE(counts.first + counts.second, frames / 2) << log().toStdString();
    EXPECT_GT(counts.second, counts.first) << "cycles run " << counts.first << ", skipped " << counts.second;

    cv::Mat walkedIn = noisy(empty, frames);
    face(cv::Rect(384, 104, 512, 512)).copyTo(walkedIn(cv::Rect(384, 104, 512, 512)));
    // A cascade may take some noise for a face now and then: those cycles
    // search too, and are followed by full ones.
    const int seen = visitors(*host);
    expectSearchedWithinACycle(*host, walkedIn);
    ASSERT_TRUE(host->loopUntil([&] { return visitors(*host) > seen; }, cycleBoundMs));

    cloud.answer(FakeFaceCloud::searchPath, FakeFaceCloud::errorReply(17));
    EXPECT_EQ(host->run("on notify 6208 uninit"), 0);
    ASSERT_FALSE(host->reply("uninit", 3 * cycleBoundMs).isEmpty()) << log().toStdString();
    EXPECT_EQ(notices(*host, 6208), 1);
    EXPECT_EQ(host->run("start"), 6001) << "the library has ended";
    EXPECT_EQ(log().count("quota is used up (error 17"), 1);
    endHost(*host);
}

} // namespace
