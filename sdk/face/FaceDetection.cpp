#include "FaceDetection.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace FaceDetection {

cv::Mat equalisedGrey(const cv::Mat &frame)
{
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::Mat equalised;
    cv::equalizeHist(grey, equalised);
    return equalised;
}

std::vector<cv::Rect> detect(const cv::CascadeClassifier &cascade, const cv::Mat &image, const Parameters &parameters)
{
    std::vector<cv::Rect> found;
    if (cascade.empty())
        return found;
    // detectMultiScale is const in effect; OpenCV only lacks the qualifier.
    const_cast<cv::CascadeClassifier &>(cascade).detectMultiScale(
        image, found, parameters.scaleFactor, parameters.minNeighbours, parameters.flags, parameters.minSize);
    return found;
}

int largestIndex(const std::vector<cv::Rect> &rectangles)
{
    int best = -1;
    int bestArea = 0;
    for (size_t i = 0; i < rectangles.size(); ++i) {
        const int area = rectangles[i].area();
        if (area > bestArea) {
            best = static_cast<int>(i);
            bestArea = area;
        }
    }
    return best;
}

ChainResult findFace(const cv::Mat &equalised, const std::vector<const cv::CascadeClassifier *> &chain,
                     const Parameters &parameters)
{
    ChainResult result;
    for (size_t step = 0; step < chain.size(); ++step) {
        const std::vector<cv::Rect> found = detect(*chain[step], equalised, parameters);
        const int largest = largestIndex(found);
        if (largest >= 0) {
            result.step = static_cast<int>(step);
            result.face = found[static_cast<size_t>(largest)];
            return result;
        }
    }
    return result;
}

QByteArray encodePng(const cv::Mat &image)
{
    std::vector<uchar> bytes;
    if (image.empty() || !cv::imencode(".png", image, bytes))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}

} // namespace FaceDetection
