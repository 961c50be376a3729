#include "CascadeSet.h"

#include "VerifiedDirectory.h"

#include <QCoreApplication>

#include <map>
#include <sys/stat.h>
#include <unistd.h>

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

// Why an installed file or directory the parser reads cannot be trusted, or
// an empty text: only root (the package) or this user may have made it,
// and no one else may change it.
QString untrustedReason(const VerifiedDirectory::Entry &entry)
{
    if (entry.owner != 0 && entry.owner != ::geteuid())
        return QStringLiteral("belongs to another user (uid %1)").arg(entry.owner);
    if (entry.mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("may be changed by its group or others");
    return QString();
}

const QString trustHint = QStringLiteral(" (the cascades must be root's, or the user's of this program, and "
                                         "writable by no one else: reinstall them, or chmod -R go-w)");

using Check = VerifiedDirectory::Check;

} // namespace

// The directories of one load, each opened once.
class CascadeSet::Directories
{
public:
    Directories(const QString &applicationDir, QStringList &refusals)
        : m_refusals(refusals)
    {
        VerifiedDirectory::Status status;
        m_data = VerifiedDirectory::open(applicationDir + QStringLiteral("/data"), false, &status);
        if (!m_data && status.check != Check::Missing)
            m_refusals.append(QStringLiteral("data %1").arg(status.text()));
    }

    // The verified directory "data/<name>", or null.
    const VerifiedDirectory *find(const QString &name)
    {
        auto found = m_dirs.find(name);
        if (found == m_dirs.end())
            found = m_dirs.emplace(name, open(name)).first;
        return found->second.get();
    }

private:
    std::shared_ptr<VerifiedDirectory> open(const QString &name)
    {
        if (!m_data)
            return nullptr;
        VerifiedDirectory::Status status;
        std::shared_ptr<VerifiedDirectory> dir = m_data->subdirectory(name, false, &status);
        const QString relative = QStringLiteral("data/") + name;
        if (!dir) {
            if (status.check != Check::Missing)
                m_refusals.append(QStringLiteral("%1 %2").arg(relative, status.text()));
            return nullptr;
        }
        VerifiedDirectory::Entry itself;
        dir->describe(&itself);
        const QString why = untrustedReason(itself);
        if (why.isEmpty())
            return dir;
        m_refusals.append(QStringLiteral("%1 %2").arg(relative, why) + trustHint);
        return nullptr;
    }

    std::shared_ptr<VerifiedDirectory> m_data;
    std::map<QString, std::shared_ptr<VerifiedDirectory>> m_dirs;
    QStringList &m_refusals;
};

// Read through /proc/self/fd, so that OpenCV parses the very file checked.
bool CascadeSet::loadFile(cv::CascadeClassifier &cascade, Directories &dirs, const QString &relativePath)
{
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    const VerifiedDirectory *dir = dirs.find(parts[1]);
    if (!dir)
        return false;
    VerifiedDirectory::Status status;
    const FileHandle file = dir->openExisting(parts[2], VerifiedDirectory::Access::Read, &status);
    // A missing file is said by the failure text alone.
    if (status.check == Check::Missing)
        return false;
    QString why = file ? QString() : status.text();
    if (file) {
        VerifiedDirectory::Entry opened;
        VerifiedDirectory::describe(file, &opened);
        why = untrustedReason(opened);
        if (!why.isEmpty())
            why += trustHint;
    }
    bool loaded = false;
    if (why.isEmpty()) {
        try {
            loaded = cascade.load(QStringLiteral("/proc/self/fd/%1").arg(file.fd()).toStdString());
        } catch (const cv::Exception &e) {
            why = QStringLiteral("is not a cascade OpenCV can read (%1)").arg(QString::fromStdString(e.msg).trimmed());
        }
    }
    if (!why.isEmpty())
        m_refusals.append(QStringLiteral("%1 %2").arg(relativePath, why));
    return loaded;
}

QString CascadeSet::load(const QString &applicationDir)
{
    m_refusals.clear();
    Directories dirs(applicationDir, m_refusals);
    QString failures;
    for (int i = 0; i < FaceCount; ++i) {
        if (!loadFile(m_faces[i], dirs, QLatin1String(faceFiles[i].path))) {
            failures += QCoreApplication::translate("NerovaFace", "No face classifier") + QLatin1Char(',');
            break;
        }
    }
    for (int i = 0; i < FeatureCount; ++i) {
        if (!loadFile(m_features[i], dirs, QLatin1String(featureFiles[i].path)))
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
