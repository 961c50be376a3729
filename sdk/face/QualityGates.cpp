#include "QualityGates.h"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace QualityGates {

namespace {

cv::Mat greyCrop(const cv::Mat &crop, int otherCode)
{
    cv::Mat grey;
    if (crop.channels() == 3)
        cv::cvtColor(crop, grey, cv::COLOR_BGR2GRAY);
    else if (crop.channels() == 1 || otherCode < 0)
        crop.copyTo(grey);
    else
        cv::cvtColor(crop, grey, otherCode);
    return grey;
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

double BlurValue(const cv::Mat &crop)
{
    const cv::Mat grey = greyCrop(crop, cv::COLOR_BGRA2GRAY);
    // Intel's primitives give slightly different Laplacians; the values
    // that thresholds were chosen for come from OpenCV's own code.
    cv::ipp::setUseIPP(false);
    cv::Mat laplacian;
    // Replicated borders, as the classic C interface did.
    cv::Laplacian(grey, laplacian, CV_64F, 3, 1, 0, cv::BORDER_REPLICATE);
    cv::Scalar mean;
    cv::Scalar deviation;
    cv::meanStdDev(laplacian, mean, deviation);
    return deviation[0];
}

bool blurPasses(double blurValue, int threshold)
{
    return blurValue >= static_cast<double>(threshold);
}

QString blurLine(double blurValue, bool passed)
{
    return QStringLiteral("Blur: %1, %2\n").arg(number(blurValue), QString::number(passed ? 1 : 0));
}

Brightness BrightValue(const cv::Mat &crop, int reference)
{
    const cv::Mat grey = greyCrop(crop, -1);
    Brightness result;
    const float mean = static_cast<float>(cv::mean(grey)[0]);
    result.da = mean - static_cast<float>(reference);
    if (grey.empty())
        return result;
    // Equal pixel values give equal terms: sum over the histogram.
    long long counts[256] = {};
    for (int row = 0; row < grey.rows; ++row) {
        const uchar *pixel = grey.ptr<uchar>(row);
        for (int column = 0; column < grey.cols; ++column)
            ++counts[pixel[column * grey.channels()]];
    }
    long long sum = 0;
    for (int p = 0; p < 256; ++p) {
        if (counts[p] == 0)
            continue;
        const float term = static_cast<float>(std::fabs(static_cast<double>(p - 128) - result.da));
        sum += static_cast<long long>(static_cast<int>(term)) * counts[p];
    }
    result.ma = static_cast<float>(sum) / static_cast<float>(grey.rows * grey.cols);
    return result;
}

bool brightPasses(const Brightness &brightness)
{
    return !(std::fabs(brightness.da) > brightness.ma && brightness.da != 0.0f);
}

QString brightLine(const Brightness &brightness, bool passed)
{
    return QStringLiteral("Bright: %1, %2, %3\n")
        .arg(number(brightness.ma), number(brightness.da), QString::number(passed ? 1 : 0));
}

} // namespace QualityGates
