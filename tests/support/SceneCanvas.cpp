#include "SceneCanvas.h"

#include <algorithm>

cv::Mat onCanvas(const cv::Mat &image, cv::Size size)
{
    cv::Mat canvas(size, CV_8UC3, cv::Scalar(90, 110, 100));
    const cv::Rect source((image.cols - std::min(image.cols, size.width)) / 2,
                          (image.rows - std::min(image.rows, size.height)) / 2, std::min(image.cols, size.width),
                          std::min(image.rows, size.height));
    image(source).copyTo(canvas(cv::Rect((size.width - source.width) / 2, (size.height - source.height) / 2,
                                         source.width, source.height)));
    return canvas;
}
