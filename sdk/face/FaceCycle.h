#pragma once

#include "CascadeSet.h"

#include <QByteArray>
#include <QString>

#include <opencv2/core.hpp>

#include <array>

// The settings one detection cycle reads.
struct FaceCycleSettings
{
    int threshold = 80;
    bool leftEye = true;
    bool rightEye = true;
    bool nose = true;
    bool mouth = true;
    bool blurEnabled = false;
    int blurThreshold = 80;
    bool brightEnabled = false;
    int brightThreshold = 80;
    bool debugMode = false;
};

struct FaceCycleResult
{
    bool faceFound = false;
    // The face reached the threshold and passed the enabled quality gates.
    bool passed = false;
    int score = 0;
    cv::Rect face;
    QByteArray png; // the face crop of the colour frame
    QString detail;
};

// One cycle of the library's detection on a captured frame: the face
// cascades in their fallback order, the largest face, the feature score,
// the crop as PNG, the quality gates and the detail text. Keeps, over its
// whole life, how often each face cascade found the face.
class FaceCycle
{
public:
    static constexpr int chainLength = CascadeSet::FaceCount;
    // The face cascades in the order they are tried.
    static const std::array<CascadeSet::Face, chainLength> fallbackOrder;

    explicit FaceCycle(const CascadeSet &cascades) : m_cascades(cascades) {}

    FaceCycleResult run(const cv::Mat &frame, const FaceCycleSettings &settings);

    // The ERROR text for features that are switched on but whose cascade
    // did not load, with what that does to the threshold; empty when every
    // feature looked for can be scored.
    QString unscoredFeatures(const FaceCycleSettings &settings) const;

    // Per fallback step, the cycles in which that cascade found the face.
    const std::array<int, chainLength> &hits() const { return m_hits; }

private:
    int featureScore(const cv::Mat &faceRegion, const FaceCycleSettings &settings, QString &detail) const;
    QString debugCounts(const cv::Mat &faceRegion) const;
    bool passesGates(const cv::Mat &crop, const FaceCycleSettings &settings, QString &detail) const;
    QString statLine() const;
    QString hitCount(size_t step) const;

    const CascadeSet &m_cascades;
    std::array<int, chainLength> m_hits{};
};
