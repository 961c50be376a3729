#pragma once

#include <opencv2/core.hpp>

#include <string>

// Test material for the simulator: face crops of the shared test images,
// and gzip files.
namespace SimTestData {

// The path of an image under the shared test data; empty when it is absent.
std::string imagePath(const std::string &name);
// The largest face the frontal face cascade finds in the image, else its
// centre square; empty when the image cannot be read.
cv::Mat faceCrop(const std::string &imageName);
std::string pngBytes(const cv::Mat &image);
std::string base64(const std::string &bytes);
std::string gzip(const std::string &bytes);

} // namespace SimTestData
