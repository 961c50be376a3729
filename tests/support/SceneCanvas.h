#pragma once

#include <opencv2/core.hpp>

// A test image placed in the middle of a camera-sized frame of plain
// colour (cut to the frame where it is larger), as a camera would show it.
cv::Mat onCanvas(const cv::Mat &image, cv::Size size);
