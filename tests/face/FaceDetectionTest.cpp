// Detection on real images: which cascade finds which face, the feature
// score, the crop, the gates and the detail text; loading the cascade set.
#include "CascadeFiles.h"
#include "CascadeSet.h"
#include "FaceCycle.h"
#include "FaceDetection.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace {

cv::Mat onCanvas(const cv::Mat &image, cv::Size size)
{
    cv::Mat canvas(size, CV_8UC3, cv::Scalar(90, 110, 100));
    image.copyTo(canvas(cv::Rect((size.width - image.cols) / 2, (size.height - image.rows) / 2, image.cols, image.rows)));
    return canvas;
}

class FaceDetectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString missing = installCascades(dir.path());
        if (!missing.isEmpty())
            GTEST_SKIP() << "missing " << missing.toStdString();
        for (const char *name : {"astronaut.png", "messi5.jpg", "baboon.jpg"}) {
            if (sharedImage(name).isEmpty())
                GTEST_SKIP() << "missing ../shared/data/images/" << name;
        }
        ASSERT_EQ(cascades.load(dir.path()), QString());
    }

    static cv::Mat image(const char *name) { return cv::imread(sharedImage(name).toStdString()); }

    QTemporaryDir dir;
    CascadeSet cascades;
    FaceCycleSettings settings;
};

TEST_F(FaceDetectionTest, AstronautIsFoundByTheFirstCascadeWithEveryFeature)
{
    FaceCycle cycle(cascades);
    const FaceCycleResult result = cycle.run(image("astronaut.png"), settings);
    ASSERT_TRUE(result.faceFound);
    EXPECT_EQ(result.face.size(), cv::Size(100, 100));
    EXPECT_EQ(result.score, 100);
    EXPECT_TRUE(result.passed);
    EXPECT_TRUE(result.detail.startsWith("Left eye: "));
    EXPECT_TRUE(result.detail.contains("\nRight eye: "));
    EXPECT_TRUE(result.detail.contains("\nNose: "));
    EXPECT_TRUE(result.detail.contains("\nMouth: "));
    EXPECT_TRUE(result.detail.contains("\nUsed classifier: haarcascade_frontalface_alt\nUsed: "));
    EXPECT_TRUE(result.detail.endsWith(
        "(ms)\nStat: frontalface_alt_tree(0), frontalface_default(0), frontalface_improved(0), frontalface_alt2(0), "
        "lbpcascade_frontalface(0), frontalcatface(0), frontalcatface_extended(0), frontalface_alt(1)\n"));
    EXPECT_FALSE(result.detail.contains("eyepairbig")) << "debug counts only in debug mode";
    EXPECT_FALSE(result.detail.contains("Blur")) << "gates write only when enabled";
    EXPECT_FALSE(result.detail.contains("Bright"));

    const std::vector<uchar> png(result.png.begin(), result.png.end());
    const cv::Mat crop = cv::imdecode(png, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(crop.size(), cv::Size(100, 100));
    EXPECT_EQ(crop.channels(), 3) << "the crop comes from the colour frame";
}

TEST_F(FaceDetectionTest, FacesOnLargerFramesAndTheCounterOfEachCascade)
{
    FaceCycle cycle(cascades);
    const FaceCycleResult astronaut = cycle.run(onCanvas(image("astronaut.png"), {1280, 720}), settings);
    EXPECT_NEAR(astronaut.face.width, 100, 5);
    EXPECT_TRUE(astronaut.detail.contains("Used classifier: haarcascade_frontalface_alt\n"));
    const FaceCycleResult messi = cycle.run(image("messi5.jpg"), settings);
    ASSERT_TRUE(messi.faceFound);
    EXPECT_EQ(messi.face.size(), cv::Size(88, 88));
    EXPECT_EQ(messi.score, 0);
    EXPECT_FALSE(messi.passed);
    EXPECT_TRUE(messi.detail.contains("Used classifier: lbpcascade_frontalface\n"));
    EXPECT_TRUE(messi.detail.contains("lbpcascade_frontalface(1), frontalcatface(0), frontalcatface_extended(0), "
                                      "frontalface_alt(1)\n"));
    EXPECT_FALSE(cycle.run(image("baboon.jpg"), settings).faceFound);
    EXPECT_EQ(cycle.hits()[0], 1);
    EXPECT_EQ(cycle.hits()[3], 1);
}

TEST_F(FaceDetectionTest, ThresholdAndFeatureSwitches)
{
    FaceCycle cycle(cascades);
    settings.threshold = 0;
    EXPECT_TRUE(cycle.run(image("messi5.jpg"), settings).passed) << "threshold 0 lets a featureless face pass";

    settings.threshold = 100;
    settings.leftEye = settings.rightEye = settings.nose = settings.mouth = false;
    const FaceCycleResult result = cycle.run(image("messi5.jpg"), settings);
    EXPECT_EQ(result.score, 100);
    EXPECT_TRUE(result.passed);
    EXPECT_TRUE(result.detail.startsWith("Used classifier: ")) << result.detail.toStdString();

    settings.debugMode = true;
    EXPECT_TRUE(cycle.run(image("astronaut.png"), settings)
                    .detail.contains(QRegularExpression("^eyepairbig: \\d+, eyepairsmall: \\d+, eye: \\d+, "
                                                        "eyetreeeyeglasses: \\d+, lefteye2splits: \\d+, "
                                                        "righteye2splits: \\d+\nUsed classifier")));
}

TEST_F(FaceDetectionTest, BlurredAndBadlyLitFacesAreHeldBackOnlyByEnabledGates)
{
    const cv::Mat sharp = image("astronaut.png");
    cv::Mat blurred;
    cv::GaussianBlur(sharp, blurred, cv::Size(0, 0), 2.0);
    FaceCycle cycle(cascades);
    settings.leftEye = settings.rightEye = settings.nose = settings.mouth = false;
    ASSERT_TRUE(cycle.run(blurred, settings).passed) << "the blurred face is still found";

    settings.blurEnabled = true;
    const FaceCycleResult sharpResult = cycle.run(sharp, settings);
    const double sharpBlur = sharpResult.detail.section("Blur: ", 1).section(',', 0, 0).toDouble();
    const FaceCycleResult blurredResult = cycle.run(blurred, settings);
    const double blurredBlur = blurredResult.detail.section("Blur: ", 1).section(',', 0, 0).toDouble();
    ASSERT_GT(sharpBlur, blurredBlur);
    settings.blurThreshold = static_cast<int>((sharpBlur + blurredBlur) / 2);
    EXPECT_TRUE(cycle.run(sharp, settings).passed);
    const FaceCycleResult held = cycle.run(blurred, settings);
    EXPECT_FALSE(held.passed);
    EXPECT_TRUE(held.detail.startsWith("Blur: ") && held.detail.contains(", 0\nUsed classifier"));

    settings.blurEnabled = false;
    settings.brightEnabled = true;
    settings.brightThreshold = 128;
    cv::Mat dark = sharp * 0.25;
    cv::Mat bright;
    sharp.convertTo(bright, -1, 0.3, 180);
    for (const cv::Mat &frame : {dark, bright}) {
        const FaceCycleResult result = cycle.run(frame, settings);
        ASSERT_TRUE(result.faceFound);
        EXPECT_FALSE(result.passed);
        EXPECT_TRUE(result.detail.startsWith("Bright: ") && result.detail.contains(", 0\nUsed classifier"))
            << result.detail.toStdString();
    }
}

TEST_F(FaceDetectionTest, UnloadedCascadesAreSkippedAndFindNothing)
{
    QFile::remove(dir.path() + "/data/haarcascades/haarcascade_mcs_nose.xml");
    QFile::remove(dir.path() + "/data/haarcascades/haarcascade_mcs_mouth.xml");
    CascadeSet partial;
    EXPECT_EQ(partial.load(dir.path()), "No mcs_nose classifier,No mcs_mouth classifier,");
    FaceCycle cycle(partial);
    EXPECT_EQ(FaceCycle(cascades).unscoredFeatures(settings), "");
    EXPECT_TRUE(cycle.unscoredFeatures(settings).startsWith("Cannot score nose, mouth: "));
    const FaceCycleResult result = cycle.run(image("astronaut.png"), settings);
    EXPECT_EQ(result.score, 50);
    EXPECT_TRUE(result.detail.contains("\nNose: 0\nMouth: 0\n"));

    QFile::remove(dir.path() + "/data/haarcascades/haarcascade_frontalface_alt2.xml");
    CascadeSet noAlt2;
    EXPECT_EQ(noAlt2.load(dir.path()), "No face classifier,No mcs_nose classifier,No mcs_mouth classifier,");
    EXPECT_FALSE(noAlt2.face(CascadeSet::FrontalFaceAlt).empty());
    EXPECT_TRUE(noAlt2.face(CascadeSet::FrontalFaceDefault).empty()) << "face cascades after a failure stay unloaded";
    // The empty cascades are passed over: messi, whom only LBP finds, is not found.
    FaceCycle shortChain(noAlt2);
    EXPECT_TRUE(shortChain.run(image("astronaut.png"), settings).faceFound);
    EXPECT_FALSE(shortChain.run(image("messi5.jpg"), settings).faceFound);

    CascadeSet nothing;
    EXPECT_EQ(nothing.load(dir.path() + "/nowhere").count(','), 15);
    EXPECT_FALSE(FaceCycle(nothing).run(image("astronaut.png"), settings).faceFound);
}

// A feature looked for without its cascade is never found: it caps the
// score a face can reach, which the text weighs against the threshold.
TEST(UnscoredFeaturesTest, SwitchedOnFeaturesWithoutCascadesCapTheScore)
{
    CascadeSet nothing;
    nothing.load("/nowhere");
    const FaceCycle cycle(nothing);
    FaceCycleSettings settings;
    const QString all = cycle.unscoredFeatures(settings);
    EXPECT_TRUE(all.startsWith("Cannot score left eye, right eye, nose, mouth: switched on, but "
                               "data/haarcascades/haarcascade_mcs_lefteye.xml, "))
        << all.toStdString();
    EXPECT_TRUE(all.contains(" are missing. A face scores at most 0 of 100, below Face/FaceThreshold 80: no face "
                             "passes and no visitor is ever reported. "));
    EXPECT_TRUE(all.endsWith("set Face/FaceLeftEye, Face/FaceRightEye, Face/FaceNose, Face/FaceMouth to false"));

    settings.leftEye = settings.rightEye = settings.mouth = false;
    settings.threshold = 75;
    EXPECT_EQ(cycle.unscoredFeatures(settings),
              "Cannot score nose: switched on, but data/haarcascades/haarcascade_mcs_nose.xml is missing. A face "
              "scores at most 75 of 100, which still reaches Face/FaceThreshold 75 when every other feature is "
              "found. Supply the haarcascade_mcs_* files or set Face/FaceNose to false");
    settings.nose = false;
    EXPECT_EQ(cycle.unscoredFeatures(settings), "");
}

TEST(FaceDetectionRulesTest, LargestRectangleKeepsTheFirstOfEqualAreas)
{
    EXPECT_EQ(FaceDetection::largestIndex({}), -1);
    EXPECT_EQ(FaceDetection::largestIndex({{0, 0, 10, 10}, {5, 5, 20, 5}, {1, 1, 10, 10}, {2, 2, 11, 9}}), 0);
    EXPECT_EQ(FaceDetection::largestIndex({{0, 0, 10, 10}, {5, 5, 10, 11}}), 1);
}

} // namespace
