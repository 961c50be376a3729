#pragma once

#include "CascadeSet.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <opencv2/core.hpp>

#include <functional>

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
        bool stopped = false; // given up between two searches: nothing else holds
    };

    // The files of the scored features that are switched on but did not
    // load: such a feature is never found, so it caps the score.
    struct MissingFeatures
    {
        QList<CascadeSet::Feature> features;
        int bestScore = 100;
    };

    using StopCheck = std::function<bool()>;

    // Every cascade is read from below the installation directory. A file
    // that does not load leaves its cascade empty; an empty face cascade is
    // skipped in the search and an empty feature cascade finds nothing.
    void load(const QString &applicationDir);

    // Safe on another thread while nothing loads. stopped() is asked
    // between two searches, so that a run can be given up within one.
    Shot analyse(const cv::Mat &frame, const Switches &switches, const StopCheck &stopped = StopCheck()) const;

    bool hasFaceCascade() const;
    // The cascade files the last load refused, each with why.
    QStringList refusedCascades() const { return m_cascades.refusals(); }
    MissingFeatures missingFeatures(const Switches &switches) const;

private:
    bool findFace(const cv::Mat &equalised, Shot &shot, cv::Rect &face, QString &cascadeName,
                  const StopCheck &stopped) const;
    // A search that is not made after a stop counts nothing.
    int count(CascadeSet::Feature which, const cv::Mat &region, const StopCheck &stopped) const;
    int scoreFeatures(const cv::Mat &region, const Switches &switches, QString &details,
                      const StopCheck &stopped) const;

    CascadeSet m_cascades;
};
