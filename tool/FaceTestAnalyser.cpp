#include "FaceTestAnalyser.h"

#include "FaceDetection.h"

#include <opencv2/core/utility.hpp>

#include <vector>

namespace {

// The wizard searches in its own order, not in the order of loading.
const CascadeSet::Face kSearchOrder[] = {
    CascadeSet::FrontalCatFace,     CascadeSet::FrontalCatFaceExtended, CascadeSet::FrontalFaceAlt,
    CascadeSet::LbpFrontalFace,     CascadeSet::FrontalFaceAlt2,        CascadeSet::LbpFrontalFaceImproved,
    CascadeSet::FrontalFaceDefault, CascadeSet::FrontalFaceAltTree,
};

const FaceDetection::Parameters kFeatureSearch{1.1, 3, cv::Size(30, 30), cv::CASCADE_SCALE_IMAGE};

} // namespace

void FaceTestAnalyser::load(const QString &applicationDir)
{
    m_cascades.load(applicationDir);
}

bool FaceTestAnalyser::hasFaceCascade() const
{
    for (const CascadeSet::Face which : kSearchOrder)
        if (!m_cascades.face(which).empty())
            return true;
    return false;
}

FaceTestAnalyser::MissingFeatures FaceTestAnalyser::missingFeatures(const Switches &switches) const
{
    const std::pair<bool, CascadeSet::Feature> scored[] = {{switches.leftEye, CascadeSet::McsLeftEye},
                                                           {switches.rightEye, CascadeSet::McsRightEye},
                                                           {switches.nose, CascadeSet::McsNose},
                                                           {switches.mouth, CascadeSet::McsMouth}};
    MissingFeatures missing;
    for (const auto &[switchedOn, feature] : scored) {
        if (!switchedOn || !m_cascades.feature(feature).empty())
            continue;
        missing.features << feature;
        missing.bestScore -= 25;
    }
    return missing;
}

bool FaceTestAnalyser::findFace(const cv::Mat &equalised, Shot &shot, cv::Rect &face, QString &cascadeName,
                                const StopCheck &stopped) const
{
    for (const CascadeSet::Face which : kSearchOrder) {
        auto &cascade = const_cast<cv::CascadeClassifier &>(m_cascades.face(which));
        if (cascade.empty())
            continue;
        if (stopped && stopped())
            return false;
        std::vector<cv::Rect> found;
        std::vector<int> rejectLevels;
        std::vector<double> levelWeights;
        cascade.detectMultiScale(equalised, found, rejectLevels, levelWeights, 1.1, 3,
                                 cv::CASCADE_SCALE_IMAGE, cv::Size(), cv::Size(), true);
        if (found.empty())
            continue;
        const int chosen = FaceDetection::largestIndex(found);
        if (chosen < 0)
            return false;
        const size_t index = static_cast<size_t>(chosen);
        face = found[index];
        cascadeName = CascadeSet::faceName(which);
        shot.hasLevels = index < rejectLevels.size() && index < levelWeights.size();
        if (shot.hasLevels) {
            shot.rejectLevel = rejectLevels[index];
            shot.levelWeight = levelWeights[index];
        }
        return true;
    }
    return false;
}

int FaceTestAnalyser::count(CascadeSet::Feature which, const cv::Mat &region, const StopCheck &stopped) const
{
    if (stopped && stopped())
        return 0;
    return static_cast<int>(FaceDetection::detect(m_cascades.feature(which), region, kFeatureSearch).size());
}

int FaceTestAnalyser::scoreFeatures(const cv::Mat &region, const Switches &switches, QString &details,
                                    const StopCheck &stopped) const
{
    int score = 0;
    if (!switches.leftEye) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsLeftEye, region, stopped);
        details += QString("Left eye: %1\n").arg(found);
        details += QString("Left eye alt: %1\n").arg(count(CascadeSet::McsLeftEyeAlt, region, stopped));
        score += found > 0 ? 25 : 0;
    }
    if (!switches.rightEye) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsRightEye, region, stopped);
        details += QString("Right eye: %1\n").arg(found);
        details += QString("Right eye alt: %1\n").arg(count(CascadeSet::McsRightEyeAlt, region, stopped));
        score += found > 0 ? 25 : 0;
    }
    details += QString("eyepairbig: %1, eyepairsmall: %2, eye: %3, eyetreeeyeglasses: %4, "
                       "lefteye2splits: %5, righteye2splits: %6\n")
                   .arg(count(CascadeSet::McsEyePairBig, region, stopped))
                   .arg(count(CascadeSet::McsEyePairSmall, region, stopped))
                   .arg(count(CascadeSet::Eye, region, stopped))
                   .arg(count(CascadeSet::EyeTreeEyeglasses, region, stopped))
                   .arg(count(CascadeSet::LeftEye2Splits, region, stopped))
                   .arg(count(CascadeSet::RightEye2Splits, region, stopped));
    if (!switches.nose) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsNose, region, stopped);
        details += QString("Nose: %1\n").arg(found);
        score += found > 0 ? 25 : 0;
    }
    if (!switches.mouth) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsMouth, region, stopped);
        details += QString("Mouth: %1\n").arg(found);
        score += found > 0 ? 25 : 0;
    }
    return score;
}

FaceTestAnalyser::Shot FaceTestAnalyser::analyse(const cv::Mat &frame, const Switches &switches,
                                                 const StopCheck &stopped) const
{
    const int64 start = cv::getTickCount();
    Shot shot;
    const cv::Mat equalised = FaceDetection::equalisedGrey(frame);
    cv::Rect face;
    QString cascadeName;
    shot.faceFound = findFace(equalised, shot, face, cascadeName, stopped);
    if (shot.faceFound)
        shot.score = scoreFeatures(equalised(face), switches, shot.details, stopped);
    shot.stopped = stopped && stopped();
    if (shot.stopped)
        return shot;
    shot.png = FaceDetection::encodePng(frame);
    if (shot.faceFound) {
        const double usedMs = double(cv::getTickCount() - start) * 1000 / cv::getTickFrequency();
        shot.details += QString("Classifier: %1\n").arg(cascadeName);
        shot.details += QString("Used: %1\n").arg(usedMs);
    }
    return shot;
}
