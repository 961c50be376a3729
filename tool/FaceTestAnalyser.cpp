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

bool FaceTestAnalyser::findFace(const cv::Mat &equalised, Shot &shot, cv::Rect &face, QString &cascadeName) const
{
    for (const CascadeSet::Face which : kSearchOrder) {
        auto &cascade = const_cast<cv::CascadeClassifier &>(m_cascades.face(which));
        if (cascade.empty())
            continue;
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

int FaceTestAnalyser::count(CascadeSet::Feature which, const cv::Mat &region) const
{
    return static_cast<int>(FaceDetection::detect(m_cascades.feature(which), region, kFeatureSearch).size());
}

int FaceTestAnalyser::scoreFeatures(const cv::Mat &region, const Switches &switches, QString &details) const
{
    int score = 0;
    if (!switches.leftEye) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsLeftEye, region);
        details += QString("Left eye: %1\n").arg(found);
        details += QString("Left eye alt: %1\n").arg(count(CascadeSet::McsLeftEyeAlt, region));
        score += found > 0 ? 25 : 0;
    }
    if (!switches.rightEye) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsRightEye, region);
        details += QString("Right eye: %1\n").arg(found);
        details += QString("Right eye alt: %1\n").arg(count(CascadeSet::McsRightEyeAlt, region));
        score += found > 0 ? 25 : 0;
    }
    details += QString("eyepairbig: %1, eyepairsmall: %2, eye: %3, eyetreeeyeglasses: %4, "
                       "lefteye2splits: %5, righteye2splits: %6\n")
                   .arg(count(CascadeSet::McsEyePairBig, region))
                   .arg(count(CascadeSet::McsEyePairSmall, region))
                   .arg(count(CascadeSet::Eye, region))
                   .arg(count(CascadeSet::EyeTreeEyeglasses, region))
                   .arg(count(CascadeSet::LeftEye2Splits, region))
                   .arg(count(CascadeSet::RightEye2Splits, region));
    if (!switches.nose) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsNose, region);
        details += QString("Nose: %1\n").arg(found);
        score += found > 0 ? 25 : 0;
    }
    if (!switches.mouth) {
        score += 25;
    } else {
        const int found = count(CascadeSet::McsMouth, region);
        details += QString("Mouth: %1\n").arg(found);
        score += found > 0 ? 25 : 0;
    }
    return score;
}

FaceTestAnalyser::Shot FaceTestAnalyser::analyse(const cv::Mat &frame, const Switches &switches) const
{
    const int64 start = cv::getTickCount();
    Shot shot;
    const cv::Mat equalised = FaceDetection::equalisedGrey(frame);
    cv::Rect face;
    QString cascadeName;
    shot.faceFound = findFace(equalised, shot, face, cascadeName);
    if (shot.faceFound)
        shot.score = scoreFeatures(equalised(face), switches, shot.details);
    shot.png = FaceDetection::encodePng(frame);
    if (shot.faceFound) {
        const double usedMs = double(cv::getTickCount() - start) * 1000 / cv::getTickFrequency();
        shot.details += QString("Classifier: %1\n").arg(cascadeName);
        shot.details += QString("Used: %1\n").arg(usedMs);
    }
    return shot;
}
