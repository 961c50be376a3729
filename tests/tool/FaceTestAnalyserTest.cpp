// The wizard's face search order and feature score on real pictures.
#include "FaceTestAnalyser.h"

#include "CascadeFiles.h"
#include "TestInstall.h"

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

TEST(FaceTestAnalyser, SearchOrderAndFeatureSwitches)
{
    TestInstall install;
    const QString missing = installCascades(install.path());
    const QString image = sharedImage("messi5.jpg");
    if (!missing.isEmpty() || image.isEmpty())
        GTEST_SKIP() << "missing " << (missing.isEmpty() ? "../shared/data/images/messi5.jpg" : missing.toStdString());
    FaceTestAnalyser analyser;
    analyser.load(install.path());
    const cv::Mat frame = cv::imread(image.toStdString());

    // The wizard searches the cat face cascades first: the second one finds
    // a "face" here, in which only a nose is found.
    const FaceTestAnalyser::Shot all = analyser.analyse(frame, {});
    EXPECT_TRUE(all.faceFound);
    EXPECT_EQ(all.score, 25);
    EXPECT_TRUE(all.details.startsWith("Left eye: 0\nLeft eye alt: "));
    EXPECT_TRUE(all.details.contains("\nNose: 1\nMouth: 0\nClassifier: haarcascade_frontalcatface_extended\nUsed: "));
    EXPECT_FALSE(all.png.isEmpty());

    // Switched off, a feature counts as found and is not searched for.
    const FaceTestAnalyser::Shot none = analyser.analyse(frame, {false, false, false, false});
    EXPECT_EQ(none.score, 100);
    EXPECT_TRUE(none.details.startsWith("eyepairbig: "));
    const FaceTestAnalyser::Shot mouthOnly = analyser.analyse(frame, {false, false, false, true});
    EXPECT_EQ(mouthOnly.score, 75);

    // Without cascades nothing is found, and nothing fails.
    FaceTestAnalyser empty;
    empty.load(install.path() + "/nowhere");
    const FaceTestAnalyser::Shot nothing = empty.analyse(frame, {});
    EXPECT_FALSE(nothing.faceFound);
    EXPECT_TRUE(nothing.details.isEmpty());
}
