#pragma once

#include <QString>

#include <opencv2/core.hpp>

// The two measures that keep blurred and badly lit face crops away from
// the cloud service, with their pass rules and detail lines.
namespace QualityGates {

// The standard deviation of the Laplacian (aperture 3) of the grey crop.
double BlurValue(const cv::Mat &crop);
bool blurPasses(double blurValue, int threshold);
QString blurLine(double blurValue, bool passed);

// da: how far the mean grey level lies from the reference level R;
// ma: the mean of |(p - 128) - da| over the pixels, each term truncated.
struct Brightness
{
    float da = 0;
    float ma = 0;
};
Brightness BrightValue(const cv::Mat &crop, int reference);
bool brightPasses(const Brightness &brightness);
QString brightLine(const Brightness &brightness, bool passed);

} // namespace QualityGates
