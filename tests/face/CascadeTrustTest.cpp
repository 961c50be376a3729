// The cascades lie in data/, which the store's group may write in: OpenCV
// parses only files and directories that no other user could have put
// there or changed, and a file it cannot read is refused rather than thrown
// into the host.
#include "CascadeFiles.h"
#include "CascadeSet.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class CascadeTrustTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString missing = installDebianCascades(dir.path());
        if (!missing.isEmpty())
            GTEST_SKIP() << "missing " << missing.toStdString();
    }

    QString file(const QString &relative) const { return dir.path() + "/data/" + relative; }
    QByteArray path(const QString &relative) const { return QFile::encodeName(file(relative)); }

    // The refusal naming the file, or an empty text.
    static QString refusalOf(const CascadeSet &set, const QString &relative)
    {
        for (const QString &refusal : set.refusals()) {
            if (refusal.startsWith(relative + " "))
                return refusal;
        }
        return QString();
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(CascadeTrustTest, PlantedChangeableOrUnreadableFilesAreRefusedAndSaid)
{
    const QString eye = "haarcascades/haarcascade_eye.xml";
    ASSERT_TRUE(QFile::rename(file(eye), file("haarcascades/real_eye.xml")));
    ASSERT_TRUE(QFile::link(file("haarcascades/real_eye.xml"), file(eye)));
    const QString writable = "haarcascades/haarcascade_lefteye_2splits.xml";
    ASSERT_EQ(::chmod(path(writable).constData(), 0664), 0);
    const QString garbage = "haarcascades/haarcascade_righteye_2splits.xml";
    QFile::remove(file(garbage));
    QFile broken(file(garbage));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("<?xml version=\"1.0\"?>\n<opencv_storage><cascade>garbage");
    broken.close();
    const QString fifo = "haarcascades/haarcascade_eye_tree_eyeglasses.xml";
    QFile::remove(file(fifo));
    ASSERT_EQ(::mkfifo(path(fifo).constData(), 0644), 0);

    CascadeSet set;
    const QString failures = set.load(dir.path());
    const struct
    {
        QString file;
        QString why;
        CascadeSet::Feature feature;
    } rows[] = {
        {eye, "is a symbolic link", CascadeSet::Eye},
        {writable, "may be changed by its group or others", CascadeSet::LeftEye2Splits},
        {garbage, "is not a cascade OpenCV can read", CascadeSet::RightEye2Splits},
        {fifo, "is not a regular file", CascadeSet::EyeTreeEyeglasses},
    };
    for (const auto &row : rows) {
        EXPECT_TRUE(refusalOf(set, "data/" + row.file).startsWith("data/" + row.file + " " + row.why))
            << row.file.toStdString() << ": " << set.refusals().join('\n').toStdString();
        EXPECT_TRUE(set.feature(row.feature).empty()) << row.file.toStdString();
    }
    EXPECT_EQ(set.refusals().size(), 4) << set.refusals().join('\n').toStdString();
    EXPECT_FALSE(failures.contains("No face classifier"));
    EXPECT_FALSE(set.face(CascadeSet::FrontalFaceAltTree).empty());
}

// A whole directory swapped for a link, or one the group may change, is not
// read at all.
TEST_F(CascadeTrustTest, PlantedOrChangeableDirectoriesAreRefused)
{
    ASSERT_TRUE(QDir().rename(file("lbpcascades"), file("lbp-elsewhere")));
    ASSERT_TRUE(QFile::link(file("lbp-elsewhere"), file("lbpcascades")));
    CascadeSet linked;
    EXPECT_TRUE(linked.load(dir.path()).startsWith("No face classifier,"));
    EXPECT_EQ(linked.refusals(), QStringList{"data/lbpcascades is a symbolic link"});
    EXPECT_TRUE(linked.face(CascadeSet::LbpFrontalFace).empty());
    EXPECT_FALSE(linked.face(CascadeSet::FrontalFaceDefault).empty());

    ASSERT_EQ(::chmod(path("haarcascades").constData(), 0775), 0);
    CascadeSet writable;
    writable.load(dir.path());
    EXPECT_TRUE(refusalOf(writable, "data/haarcascades").startsWith("data/haarcascades may be changed by its group or others"));
    EXPECT_TRUE(writable.face(CascadeSet::FrontalCatFace).empty());
}

// Only root can give a file to another user.
TEST_F(CascadeTrustTest, AFileOfAnotherUserIsRefused)
{
    const QString nose = "haarcascades/haarcascade_frontalcatface.xml";
    if (::chown(path(nose).constData(), 65534, static_cast<gid_t>(-1)) != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    CascadeSet set;
    EXPECT_TRUE(set.load(dir.path()).startsWith("No face classifier,"));
    EXPECT_TRUE(refusalOf(set, "data/" + nose).startsWith("data/" + nose + " belongs to another user (uid 65534)"));
}
