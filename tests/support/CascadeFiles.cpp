#include "CascadeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const char *const debianCascades[] = {
    "haarcascades/haarcascade_frontalcatface.xml",  "haarcascades/haarcascade_frontalcatface_extended.xml",
    "haarcascades/haarcascade_frontalface_alt.xml", "haarcascades/haarcascade_frontalface_alt2.xml",
    "haarcascades/haarcascade_frontalface_default.xml", "haarcascades/haarcascade_frontalface_alt_tree.xml",
    "lbpcascades/lbpcascade_frontalface.xml",        "lbpcascades/lbpcascade_frontalface_improved.xml",
    "haarcascades/haarcascade_eye.xml",              "haarcascades/haarcascade_eye_tree_eyeglasses.xml",
    "haarcascades/haarcascade_lefteye_2splits.xml",  "haarcascades/haarcascade_righteye_2splits.xml",
};

const char *const licensedCascades[] = {
    "haarcascade_mcs_eyepair_big.xml", "haarcascade_mcs_eyepair_small.xml", "haarcascade_mcs_lefteye.xml",
    "haarcascade_mcs_lefteye_alt.xml", "haarcascade_mcs_righteye.xml",       "haarcascade_mcs_righteye_alt.xml",
    "haarcascade_mcs_nose.xml",        "haarcascade_mcs_mouth.xml",          "haarcascade_mcs_leftear.xml",
    "haarcascade_mcs_rightear.xml",
};

// A copy, as an installation holds them: the library reads no cascade
// through a link, nor one that its group may change.
QString copy(const QString &source, const QString &target)
{
    if (!QFileInfo::exists(source))
        return source;
    const QString dir = QFileInfo(target).path();
    QDir().mkpath(dir);
    const QFile::Permissions readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const QFile::Permissions searchable = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    QFile::setPermissions(dir, readable | searchable | QFile::WriteOwner);
    QFile::remove(target);
    QFile::copy(source, target);
    QFile::setPermissions(target, readable | QFile::WriteOwner);
    return QString();
}

} // namespace

QString installDebianCascades(const QString &dir)
{
    for (const char *file : debianCascades) {
        const QString missing = copy(QStringLiteral("/usr/share/opencv4/") + file, dir + "/data/" + file);
        if (!missing.isEmpty())
            return missing;
    }
    return QString();
}

QString installCascades(const QString &dir)
{
    const QString missing = installDebianCascades(dir);
    if (!missing.isEmpty())
        return missing;
    for (const char *file : licensedCascades) {
        const QString missing = copy(QStringLiteral(NEROVA_SHARED_DATA_DIR "/haarcascades/") + file,
                                     dir + "/data/haarcascades/" + file);
        if (!missing.isEmpty())
            return missing;
    }
    return QString();
}

QString sharedImage(const QString &name)
{
    const QString path = QStringLiteral(NEROVA_SHARED_DATA_DIR "/images/") + name;
    return QFileInfo::exists(path) ? path : QString();
}

QString installFaceScene(const QString &dir, const QString &image, const QString &scene)
{
    const QString missing = installCascades(dir);
    if (!missing.isEmpty())
        return missing;
    if (sharedImage(image).isEmpty())
        return QStringLiteral(NEROVA_SHARED_DATA_DIR "/images/") + image;
    return QFile::copy(sharedImage(image), scene) ? QString() : scene;
}
