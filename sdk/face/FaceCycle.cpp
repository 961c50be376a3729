#include "FaceCycle.h"

#include "FaceDetection.h"
#include "QualityGates.h"

#include <QStringList>

#include <vector>

namespace {

const FaceDetection::Parameters faceParameters{1.1, 2, cv::Size(80, 80)};
const FaceDetection::Parameters featureParameters{1.1, 2, cv::Size(30, 30)};
const FaceDetection::Parameters debugParameters{1.1, 3, cv::Size(30, 30)};

int count(const cv::CascadeClassifier &cascade, const cv::Mat &region, const FaceDetection::Parameters &parameters)
{
    return static_cast<int>(FaceDetection::detect(cascade, region, parameters).size());
}

double millisecondsSince(int64 startTicks)
{
    return static_cast<double>(cv::getTickCount() - startTicks) * 1000.0 / cv::getTickFrequency();
}

} // namespace

const std::array<CascadeSet::Face, FaceCycle::chainLength> FaceCycle::fallbackOrder = {
    CascadeSet::FrontalFaceAlt,   CascadeSet::FrontalCatFaceExtended, CascadeSet::FrontalCatFace,
    CascadeSet::LbpFrontalFace,   CascadeSet::FrontalFaceAlt2,        CascadeSet::LbpFrontalFaceImproved,
    CascadeSet::FrontalFaceDefault, CascadeSet::FrontalFaceAltTree,
};

FaceCycleResult FaceCycle::run(const cv::Mat &frame, const FaceCycleSettings &settings)
{
    const int64 start = cv::getTickCount();
    FaceCycleResult result;
    const cv::Mat equalised = FaceDetection::equalisedGrey(frame);
    std::vector<const cv::CascadeClassifier *> chain;
    for (CascadeSet::Face face : fallbackOrder)
        chain.push_back(&m_cascades.face(face));
    const FaceDetection::ChainResult found = FaceDetection::findFace(equalised, chain, faceParameters);
    if (found.step < 0)
        return result;
    ++m_hits[static_cast<size_t>(found.step)];
    result.faceFound = true;
    result.face = found.face;

    const cv::Mat faceRegion = equalised(found.face);
    result.score = featureScore(faceRegion, settings, result.detail);
    if (settings.debugMode)
        result.detail += debugCounts(faceRegion);
    const cv::Mat crop = frame(found.face);
    result.png = FaceDetection::encodePng(crop);
    const bool gatesPassed = passesGates(crop, settings, result.detail);
    result.detail += QStringLiteral("Used classifier: %1\n")
                         .arg(CascadeSet::faceName(fallbackOrder[static_cast<size_t>(found.step)]));
    result.detail += QStringLiteral("Used: %1(ms)\n").arg(QString::number(millisecondsSince(start), 'g', 6));
    result.detail += statLine();
    result.passed = result.score >= settings.threshold && gatesPassed;
    return result;
}

namespace {

const int pointsPerFeature = 25;

struct FeatureCheck
{
    bool FaceCycleSettings::*enabled;
    CascadeSet::Feature cascade;
    const char *name;
    const char *switchKey;
    const char *detailLine;
};

const FeatureCheck featureChecks[] = {
    {&FaceCycleSettings::leftEye, CascadeSet::McsLeftEye, "left eye", "Face/FaceLeftEye", "Left eye: %1\n"},
    {&FaceCycleSettings::rightEye, CascadeSet::McsRightEye, "right eye", "Face/FaceRightEye", "Right eye: %1\n"},
    {&FaceCycleSettings::nose, CascadeSet::McsNose, "nose", "Face/FaceNose", "Nose: %1\n"},
    {&FaceCycleSettings::mouth, CascadeSet::McsMouth, "mouth", "Face/FaceMouth", "Mouth: %1\n"},
};

} // namespace

// 25 for each of left eye, right eye, nose and mouth that is found or
// not looked for.
int FaceCycle::featureScore(const cv::Mat &faceRegion, const FaceCycleSettings &settings, QString &detail) const
{
    int score = 0;
    for (const FeatureCheck &check : featureChecks) {
        if (!(settings.*check.enabled)) {
            score += pointsPerFeature;
            continue;
        }
        const int found = count(m_cascades.feature(check.cascade), faceRegion, featureParameters);
        detail += QString::fromLatin1(check.detailLine).arg(found);
        if (found > 0)
            score += pointsPerFeature;
    }
    return score;
}

// A feature that is looked for without its cascade is never found, so it
// lowers the best score a face can reach, maybe below the threshold.
QString FaceCycle::unscoredFeatures(const FaceCycleSettings &settings) const
{
    QStringList names;
    QStringList files;
    QStringList switchKeys;
    int bestScore = 0;
    for (const FeatureCheck &check : featureChecks) {
        if (!(settings.*check.enabled) || !m_cascades.feature(check.cascade).empty()) {
            bestScore += pointsPerFeature;
            continue;
        }
        names << QLatin1String(check.name);
        files << CascadeSet::relativePath(check.cascade);
        switchKeys << QLatin1String(check.switchKey);
    }
    if (names.isEmpty())
        return QString();
    const QString effect = bestScore >= settings.threshold
        ? QStringLiteral("which still reaches Face/FaceThreshold %1 when every other feature is found")
        : QStringLiteral("below Face/FaceThreshold %1: no face passes and no visitor is ever reported");
    return QStringLiteral("Cannot score %1: switched on, but %2 %3 missing. A face scores at most %4 of 100, "
                          "%5. Supply the haarcascade_mcs_* files or set %6 to false")
        .arg(names.join(QStringLiteral(", ")), files.join(QStringLiteral(", ")),
             files.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"))
        .arg(bestScore)
        .arg(effect.arg(settings.threshold), switchKeys.join(QStringLiteral(", ")));
}

QString FaceCycle::debugCounts(const cv::Mat &faceRegion) const
{
    const CascadeSet::Feature cascades[] = {CascadeSet::McsEyePairBig,     CascadeSet::McsEyePairSmall,
                                            CascadeSet::Eye,               CascadeSet::EyeTreeEyeglasses,
                                            CascadeSet::LeftEye2Splits,    CascadeSet::RightEye2Splits};
    QStringList counts;
    for (CascadeSet::Feature cascade : cascades)
        counts.append(QString::number(count(m_cascades.feature(cascade), faceRegion, debugParameters)));
    return QStringLiteral("eyepairbig: %1, eyepairsmall: %2, eye: %3, eyetreeeyeglasses: %4, "
                          "lefteye2splits: %5, righteye2splits: %6\n")
        .arg(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
}

bool FaceCycle::passesGates(const cv::Mat &crop, const FaceCycleSettings &settings, QString &detail) const
{
    bool blurPassed = true;
    if (settings.blurEnabled) {
        const double blur = QualityGates::BlurValue(crop);
        blurPassed = QualityGates::blurPasses(blur, settings.blurThreshold);
        detail += QualityGates::blurLine(blur, blurPassed);
    }
    bool brightPassed = true;
    if (settings.brightEnabled) {
        const QualityGates::Brightness brightness = QualityGates::BrightValue(crop, settings.brightThreshold);
        brightPassed = QualityGates::brightPasses(brightness);
        detail += QualityGates::brightLine(brightness, brightPassed);
    }
    return blurPassed && brightPassed;
}

// The counters appear from the last fallback step to the first.
QString FaceCycle::statLine() const
{
    return QStringLiteral("Stat: frontalface_alt_tree(%1), frontalface_default(%2), frontalface_improved(%3), "
                          "frontalface_alt2(%4), lbpcascade_frontalface(%5), frontalcatface(%6), "
                          "frontalcatface_extended(%7), frontalface_alt(%8)\n")
        .arg(hitCount(7), hitCount(6), hitCount(5), hitCount(4), hitCount(3), hitCount(2), hitCount(1),
             hitCount(0));
}

QString FaceCycle::hitCount(size_t step) const
{
    return QString::number(m_hits[step]);
}
