#pragma once

#include <opencv2/core.hpp>

#include <map>
#include <mutex>
#include <string>
#include <vector>

// The faces the cloud face simulator has been given, by group, and the
// comparison its search answers with.
//
// A face is compared by its signature: the crop in grey, scaled to 64 x 64,
// histogram-equalised, less its mean and scaled to unit length. The score of
// two faces is the normalised correlation of their signatures mapped to
// 0..100 (negative correlations count as 0). The same crop scores 100;
// different faces score well below 80.
class FaceGallery
{
public:
    struct Match
    {
        std::string groupId;
        std::string userId;
        double score = 0; // 0 when the groups hold no face
    };

    // The signature of an encoded image (PNG, JPEG, ...); empty when the
    // bytes are not an image or the image has no contrast at all.
    static cv::Mat signatureOfEncoded(const std::string &bytes);
    static cv::Mat signatureOf(const cv::Mat &image);
    static double score(const cv::Mat &signatureA, const cv::Mat &signatureB);

    void add(const std::string &groupId, const std::string &userId, const cv::Mat &signature);
    // The best match among the faces of the groups; an empty userId when
    // they hold none.
    Match bestMatch(const std::vector<std::string> &groupIds, const cv::Mat &signature) const;
    size_t faceCount() const;

private:
    struct Face
    {
        std::string userId;
        cv::Mat signature;
    };

    mutable std::mutex m_mutex;
    std::map<std::string, std::vector<Face>> m_groups;
};
