// The debug pictures in debug/, which the store's group may write in:
// written beside whatever is planted under their names, never through it,
// and kept to their bound without touching anything that is not ours.
#include "DebugPictures.h"
#include "PlantedNames.h"
#include "TestInstall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Naming = DebugPictures::Naming;

const QByteArray png(1000, 'p');

class DebugPicturesTest : public ::testing::Test
{
protected:
    DebugPicturesTest() { QDir().mkpath(debugDir()); }

    QString debugDir() const { return install.path() + "/debug"; }
    QString at(const QString &name) const { return debugDir() + "/" + name; }
    static DebugPictures::Limits limits(int files, qint64 bytes) { return {files, bytes}; }

    QStringList names() const { return QDir(debugDir()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot); }

    TestInstall install;
    QTemporaryDir outside;
    PlantTarget target{outside.path() + "/own.txt"};
};

} // namespace

// Every kind of planted name is passed by: the picture goes under the next
// millisecond's name, and what was planted is named.
TEST_F(DebugPicturesTest, APictureIsWrittenBesideWhatIsPlantedUnderItsName)
{
    qint64 ms = 1700000000000;
    for (Planted kind : {Planted::SymbolicLink, Planted::HardLink, Planted::Fifo, Planted::Directory}) {
        for (Naming naming : {Naming::Library, Naming::Wizard}) {
            ms += 100;
            const QString planted = DebugPictures::fileName(naming, ms);
            ASSERT_TRUE(plant(kind, at(planted), target));
            const DebugPictures::Saved saved = DebugPictures::save(debugDir(), false, naming, ms, png, limits(100, 1 << 20));
            EXPECT_EQ(saved.filePath, at(DebugPictures::fileName(naming, ms + 1))) << plantedName(kind);
            ASSERT_EQ(saved.problems.size(), 1) << plantedName(kind);
            EXPECT_TRUE(saved.problems[0].startsWith(at(planted) + " left alone: it ")) << saved.problems[0].toStdString();
            EXPECT_EQ(readFile(saved.filePath), png);
            EXPECT_EQ(target.changes(), "") << plantedName(kind);
        }
    }
    struct stat status;
    ASSERT_EQ(::stat(QFile::encodeName(at(DebugPictures::fileName(Naming::Wizard, ms + 1))).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0660u);
}

// With small limits, the oldest pictures of ours go first, the newest
// stays even alone above the size; links, foreign files and other names
// are neither deleted nor counted.
TEST_F(DebugPicturesTest, TheDirectoryIsKeptToItsBoundOldestFirst)
{
    ASSERT_TRUE(plant(Planted::SymbolicLink, at("1000_noface.png"), target));
    ASSERT_TRUE(plant(Planted::HardLink, at("1001.no_face.png"), target));
    QFile other(at("notes.png"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    for (qint64 ms = 2000; ms < 2010; ++ms)
        DebugPictures::save(debugDir(), false, ms % 2 ? Naming::Wizard : Naming::Library, ms, png, limits(3, 1 << 20));
    EXPECT_EQ(names(), QStringList({"1000_noface.png", "1001.no_face.png", "2007.no_face.png", "2008_noface.png",
                                    "2009.no_face.png", "notes.png"}));

    DebugPictures::save(debugDir(), false, Naming::Library, 3000, png, limits(3, 2500));
    EXPECT_EQ(names(), QStringList({"1000_noface.png", "1001.no_face.png", "2009.no_face.png", "3000_noface.png",
                                    "notes.png"}));
    DebugPictures::save(debugDir(), false, Naming::Library, 3001, QByteArray(5000, 'p'), limits(3, 2500));
    EXPECT_EQ(names(), QStringList({"1000_noface.png", "1001.no_face.png", "3001_noface.png", "notes.png"}));
    EXPECT_EQ(target.changes(), "");
}

// The library makes debug/ when it is missing, the wizard does not; a
// debug/ that is a link is used by neither.
TEST_F(DebugPicturesTest, TheDirectoryIsMadeOnlyByTheLibraryAndNeverFollowed)
{
    QDir(debugDir()).removeRecursively();
    const DebugPictures::Saved wizard = DebugPictures::save(debugDir(), false, Naming::Wizard, 5, png, limits(3, 1 << 20));
    EXPECT_TRUE(wizard.filePath.isEmpty());
    EXPECT_TRUE(wizard.problems.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(debugDir()));
    const DebugPictures::Saved library = DebugPictures::save(debugDir(), true, Naming::Library, 5, png, limits(3, 1 << 20));
    EXPECT_EQ(library.filePath, at("5_noface.png"));

    QDir(debugDir()).removeRecursively();
    ASSERT_TRUE(QFile::link(outside.path(), debugDir()));
    for (bool create : {false, true}) {
        const DebugPictures::Saved saved = DebugPictures::save(debugDir(), create, Naming::Library, 6, png, limits(3, 1 << 20));
        EXPECT_TRUE(saved.filePath.isEmpty());
        EXPECT_EQ(saved.problems, QStringList{debugDir() + " not used: it is a symbolic link"});
    }
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files), QStringList{"own.txt"});
}
