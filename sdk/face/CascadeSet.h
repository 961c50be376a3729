#pragma once

#include <QString>
#include <QStringList>

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

    // Loads every file from data/haarcascades and data/lbpcascades below the
    // installation directory. The face cascades load in order up to the
    // first failure (the rest stay empty); each feature cascade loads on its
    // own. Returns the failure text, each failure followed by ",", or an
    // empty text when all loaded.
    //
    // data/ is the group's: a cascade is read only through a directory and a
    // file opened without following links, each root's or this user's and
    // writable by no one else, so that no other member of the group can put
    // a file of theirs in front of the parser.
    QString load(const QString &applicationDir);
    // What was there but refused by the last load, each with why
    // ("data/haarcascades/haarcascade_eye.xml is a symbolic link").
    QStringList refusals() const { return m_refusals; }

    const cv::CascadeClassifier &face(Face which) const { return m_faces[which]; }
    const cv::CascadeClassifier &feature(Feature which) const { return m_features[which]; }

    static QString faceName(Face which);
    static QString relativePath(Face which);
    static QString relativePath(Feature which);

private:
    class Directories;
    bool loadFile(cv::CascadeClassifier &cascade, Directories &dirs, const QString &relativePath);

    QStringList m_refusals;
    std::array<cv::CascadeClassifier, FaceCount> m_faces;
    std::array<cv::CascadeClassifier, FeatureCount> m_features;
};
