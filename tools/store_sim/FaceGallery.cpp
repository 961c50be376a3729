#include "FaceGallery.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr int signatureSide = 64;

} // namespace

cv::Mat FaceGallery::signatureOfEncoded(const std::string &bytes)
{
    if (bytes.empty())
        return cv::Mat();
    const cv::Mat encoded(1, static_cast<int>(bytes.size()), CV_8UC1, const_cast<char *>(bytes.data()));
    cv::Mat image;
    try {
        image = cv::imdecode(encoded, cv::IMREAD_COLOR);
    } catch (const cv::Exception &) {
        return cv::Mat();
    }
    return signatureOf(image);
}

cv::Mat FaceGallery::signatureOf(const cv::Mat &image)
{
    if (image.empty())
        return cv::Mat();
    cv::Mat grey;
    if (image.channels() == 1)
        grey = image;
    else
        cv::cvtColor(image, grey, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    cv::Mat small;
    cv::resize(grey, small, cv::Size(signatureSide, signatureSide), 0, 0, cv::INTER_AREA);
    cv::Mat equalised;
    cv::equalizeHist(small, equalised);
    cv::Mat signature;
    equalised.convertTo(signature, CV_64F);
    signature -= cv::mean(signature)[0];
    const double length = cv::norm(signature);
    if (length < 1e-9)
        return cv::Mat();
    return signature / length;
}

double FaceGallery::score(const cv::Mat &signatureA, const cv::Mat &signatureB)
{
    if (signatureA.empty() || signatureB.empty() || signatureA.size() != signatureB.size())
        return 0;
    const double correlation = signatureA.dot(signatureB);
    return std::clamp(correlation, 0.0, 1.0) * 100.0;
}

void FaceGallery::add(const std::string &groupId, const std::string &userId, const cv::Mat &signature)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_groups[groupId].push_back(Face{userId, signature.clone()});
}

FaceGallery::Match FaceGallery::bestMatch(const std::vector<std::string> &groupIds, const cv::Mat &signature) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Match best;
    for (const std::string &groupId : groupIds) {
        const auto group = m_groups.find(groupId);
        if (group == m_groups.end())
            continue;
        for (const Face &face : group->second) {
            const double faceScore = score(signature, face.signature);
            if (best.userId.empty() || faceScore > best.score)
                best = Match{groupId, face.userId, faceScore};
        }
    }
    return best;
}

size_t FaceGallery::faceCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    size_t count = 0;
    for (const auto &group : m_groups)
        count += group.second.size();
    return count;
}
