#include "CascadeSet.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

struct FaceFile
{
    const char *path;
    const char *name;
};

const FaceFile faceFiles[CascadeSet::FaceCount] = {
    {"data/haarcascades/haarcascade_frontalcatface.xml", "haarcascade_frontalcatface"},
    {"data/haarcascades/haarcascade_frontalcatface_extended.xml", "haarcascade_frontalcatface_extended"},
    {"data/haarcascades/haarcascade_frontalface_alt.xml", "haarcascade_frontalface_alt"},
    {"data/haarcascades/haarcascade_frontalface_alt2.xml", "haarcascade_frontalface_alt2"},
    {"data/haarcascades/haarcascade_frontalface_default.xml", "haarcascade_frontalface_default"},
    {"data/lbpcascades/lbpcascade_frontalface.xml", "lbpcascade_frontalface"},
    {"data/lbpcascades/lbpcascade_frontalface_improved.xml", "lbpcascade_frontalface_improved"},
    {"data/haarcascades/haarcascade_frontalface_alt_tree.xml", "haarcascade_frontalface_alt_tree"},
};

struct FeatureFile
{
    const char *path;
    const char *failure;
};

// The failure texts are the product's own, spelling included.
const FeatureFile featureFiles[CascadeSet::FeatureCount] = {
    {"data/haarcascades/haarcascade_mcs_eyepair_big.xml", QT_TRANSLATE_NOOP("NerovaFace", "No eyepair_big classifier")},
    {"data/haarcascades/haarcascade_mcs_eyepair_small.xml", QT_TRANSLATE_NOOP("NerovaFace", "No eyepair_small classifier")},
    {"data/haarcascades/haarcascade_eye.xml", QT_TRANSLATE_NOOP("NerovaFace", "No eye classifier")},
    {"data/haarcascades/haarcascade_mcs_lefteye.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_lefteye classifier")},
    {"data/haarcascades/haarcascade_mcs_lefteye_alt.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_lefteye_alt classifier")},
    {"data/haarcascades/haarcascade_mcs_righteye.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_righteye classifier")},
    {"data/haarcascades/haarcascade_mcs_righteye_alt.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_righteye_alt classifier")},
    {"data/haarcascades/haarcascade_mcs_nose.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_nose classifier")},
    {"data/haarcascades/haarcascade_mcs_mouth.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_mouth classifier")},
    {"data/haarcascades/haarcascade_eye_tree_eyeglasses.xml", QT_TRANSLATE_NOOP("NerovaFace", "No eye_tree_eyeglasses classifier")},
    {"data/haarcascades/haarcascade_lefteye_2splits.xml", QT_TRANSLATE_NOOP("NerovaFace", "No efteye_2splits classifier")},
    {"data/haarcascades/haarcascade_righteye_2splits.xml", QT_TRANSLATE_NOOP("NerovaFace", "No righteye_2splits classifier")},
    {"data/haarcascades/haarcascade_mcs_leftear.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_leftear classifier")},
    {"data/haarcascades/haarcascade_mcs_rightear.xml", QT_TRANSLATE_NOOP("NerovaFace", "No mcs_righear classifier")},
};

bool loadCascade(cv::CascadeClassifier &cascade, const QString &baseDir, const char *relativePath)
{
    const QString path = baseDir.isEmpty() ? QString::fromLatin1(relativePath)
                                           : baseDir + QLatin1Char('/') + QLatin1String(relativePath);
    // OpenCV would complain on the standard error about a missing file.
    return QFileInfo::exists(path) && cascade.load(QFile::encodeName(path).toStdString());
}

} // namespace

QString CascadeSet::load(const QString &baseDir)
{
    QString failures;
    for (int i = 0; i < FaceCount; ++i) {
        if (!loadCascade(m_faces[i], baseDir, faceFiles[i].path)) {
            failures += QCoreApplication::translate("NerovaFace", "No face classifier") + QLatin1Char(',');
            break;
        }
    }
    for (int i = 0; i < FeatureCount; ++i) {
        if (!loadCascade(m_features[i], baseDir, featureFiles[i].path))
            failures += QCoreApplication::translate("NerovaFace", featureFiles[i].failure) + QLatin1Char(',');
    }
    return failures;
}

QString CascadeSet::faceName(Face which)
{
    return QString::fromLatin1(faceFiles[which].name);
}

QString CascadeSet::relativePath(Face which)
{
    return QString::fromLatin1(faceFiles[which].path);
}

QString CascadeSet::relativePath(Feature which)
{
    return QString::fromLatin1(featureFiles[which].path);
}
