#pragma once

#include <QString>

#include <opencv2/objdetect.hpp>

#include <array>

// The library's 22 cascades: 8 for faces, 14 for eyes, eye pairs, nose,
// mouth and ears, read from data/haarcascades and data/lbpcascades.
class CascadeSet
{
public:
    // In loading order.
    enum Face {
        FrontalCatFace,
        FrontalCatFaceExtended,
        FrontalFaceAlt,
        FrontalFaceAlt2,
        FrontalFaceDefault,
        LbpFrontalFace,
        LbpFrontalFaceImproved,
        FrontalFaceAltTree,
        FaceCount
    };
    enum Feature {
        McsEyePairBig,
        McsEyePairSmall,
        Eye,
        McsLeftEye,
        McsLeftEyeAlt,
        McsRightEye,
        McsRightEyeAlt,
        McsNose,
        McsMouth,
        EyeTreeEyeglasses,
        LeftEye2Splits,
        RightEye2Splits,
        McsLeftEar,
        McsRightEar,
        FeatureCount
    };

    // Loads every file from below baseDir. The face cascades load in order
    // up to the first failure (the rest stay empty); each feature cascade
    // loads on its own. Returns the failure text, each failure followed by
    // ",", or an empty text when all loaded.
    QString load(const QString &baseDir);

    const cv::CascadeClassifier &face(Face which) const { return m_faces[which]; }
    const cv::CascadeClassifier &feature(Feature which) const { return m_features[which]; }

    static QString faceName(Face which);
    static QString relativePath(Face which);
    static QString relativePath(Feature which);

private:
    std::array<cv::CascadeClassifier, FaceCount> m_faces;
    std::array<cv::CascadeClassifier, FeatureCount> m_features;
};
