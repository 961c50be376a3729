#pragma once

#include <QByteArray>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include <vector>

// The steps of finding a face in a frame, as plain functions that both the
// library's detection loop and the wizard's face test use with their own
// cascades and parameters.
namespace FaceDetection {

struct Parameters
{
    double scaleFactor = 1.1;
    int minNeighbours = 2;
    cv::Size minSize;
    int flags = cv::CASCADE_SCALE_IMAGE;
};

// BGR to grey, then the histogram equalised.
cv::Mat equalisedGrey(const cv::Mat &frame);

// A cascade that did not load finds nothing: OpenCV refuses to run it.
std::vector<cv::Rect> detect(const cv::CascadeClassifier &cascade, const cv::Mat &image, const Parameters &parameters);

// The rectangle with the largest area; among equal areas the first one.
// -1 when there is none.
int largestIndex(const std::vector<cv::Rect> &rectangles);

struct ChainResult
{
    int step = -1; // position in the chain of the cascade that found a face
    cv::Rect face;
};

// Runs the cascades in chain order up to the first that finds something,
// and takes its largest rectangle. Unloaded cascades are skipped.
ChainResult findFace(const cv::Mat &equalised, const std::vector<const cv::CascadeClassifier *> &chain,
                     const Parameters &parameters);

QByteArray encodePng(const cv::Mat &image);

} // namespace FaceDetection
