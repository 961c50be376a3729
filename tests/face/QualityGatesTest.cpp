// The blur and brightness measures and their pass rules.
#include "QualityGates.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

cv::Mat uniformCrop(int level)
{
    return cv::Mat(40, 30, CV_8UC3, cv::Scalar(level, level, level));
}

TEST(QualityGatesTest, BrightnessOfUniformCrops)
{
    struct Row
    {
        int level;
        int reference;
        float da;
        float ma;
        bool passes;
    };
    const Row table[] = {
        {128, 128, 0, 0, true},    {127, 128, -1, 0, false},  {200, 128, 72, 0, false},
        {100, 80, 20, 48, true},   {200, 80, 120, 48, false}, {20, 80, -60, 48, false},
        {80, 80, 0, 48, true},     {128, 80, 48, 48, true},
    };
    for (const Row &row : table) {
        const QualityGates::Brightness b = QualityGates::BrightValue(uniformCrop(row.level), row.reference);
        EXPECT_EQ(b.da, row.da) << row.level << " against " << row.reference;
        EXPECT_EQ(b.ma, row.ma) << row.level << " against " << row.reference;
        EXPECT_EQ(QualityGates::brightPasses(b), row.passes) << row.level << " against " << row.reference;
    }
    // Grey crops are used as they are.
    EXPECT_EQ(QualityGates::BrightValue(cv::Mat(5, 5, CV_8UC1, cv::Scalar(100)), 80).da, 20.0f);
}

TEST(QualityGatesTest, BrightnessTermsAreTruncatedPerPixel)
{
    // Levels 0 and 255 (mean 127.5, R 128): da = -0.5; terms |(-128)+0.5| = 127.5 -> 127
    // and |127+0.5| = 127.5 -> 127, so Ma = 127.
    cv::Mat crop(2, 1, CV_8UC3);
    crop.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 0);
    crop.at<cv::Vec3b>(1, 0) = cv::Vec3b(255, 255, 255);
    const QualityGates::Brightness b = QualityGates::BrightValue(crop, 128);
    EXPECT_EQ(b.da, -0.5f);
    EXPECT_EQ(b.ma, 127.0f);
    EXPECT_EQ(QualityGates::brightLine(b, true), "Bright: 127, -0.5, 1\n");
}

TEST(QualityGatesTest, BlurValueAndItsThreshold)
{
    EXPECT_EQ(QualityGates::BlurValue(uniformCrop(90)), 0.0);
    EXPECT_TRUE(QualityGates::blurPasses(0.0, 0));
    EXPECT_FALSE(QualityGates::blurPasses(0.0, 1));
    EXPECT_FALSE(QualityGates::blurPasses(79.9999, 80));
    EXPECT_TRUE(QualityGates::blurPasses(80.0, 80));

    // A single bright pixel in the middle of a dark 3 x 3 crop. The
    // aperture-3 Laplacian is -8 * 255 there and 2 * 255 at the four
    // corners; with replicated borders nothing else (mirrored borders
    // would add the pixel to the corners again).
    cv::Mat dot(3, 3, CV_8UC1, cv::Scalar(0));
    dot.at<uchar>(1, 1) = 255;
    const double variance = (std::pow(2040.0, 2) + 4 * std::pow(510.0, 2)) / 9.0;
    EXPECT_NEAR(QualityGates::BlurValue(dot), std::sqrt(variance), 1e-9);
    EXPECT_EQ(QualityGates::blurLine(123.456789, false), "Blur: 123.457, 0\n");
    // Four channels are taken as BGRA.
    EXPECT_EQ(QualityGates::BlurValue(cv::Mat(4, 4, CV_8UC4, cv::Scalar(1, 2, 3, 4))), 0.0);
}

} // namespace
