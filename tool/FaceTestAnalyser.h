#pragma once

#include "CascadeSet.h"

#include <QByteArray>
#include <QString>

#include <opencv2/core.hpp>

// The wizard's look at one camera picture: a face search with its own
// cascade order and parameters, the largest face scored by the features
// found inside it (25 for each of left eye, right eye, nose and mouth that
// is found or switched off), and the details the test logs.
class FaceTestAnalyser
{
public:
    struct Switches
    {
        bool leftEye = true;
        bool rightEye = true;
        bool nose = true;
        bool mouth = true;
    };

    struct Shot
    {
        bool faceFound = false;
        int score = 0;
        QString details; // one line per search, then the cascade and the time used
        bool hasLevels = false; // reject level and level weight of the chosen face
        int rejectLevel = 0;
        double levelWeight = 0;
        QByteArray png; // the colour picture as taken
    };

    // Every cascade is read from below the installation directory. A file
    // that does not load leaves its cascade empty; an empty face cascade is
    // skipped in the search and an empty feature cascade finds nothing.
    void load(const QString &applicationDir);

    Shot analyse(const cv::Mat &frame, const Switches &switches) const;

private:
    bool findFace(const cv::Mat &equalised, Shot &shot, cv::Rect &face, QString &cascadeName) const;
    int count(CascadeSet::Feature which, const cv::Mat &region) const;
    int scoreFeatures(const cv::Mat &region, const Switches &switches, QString &details) const;

    CascadeSet m_cascades;
};
