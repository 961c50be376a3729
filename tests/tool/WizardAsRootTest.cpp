// The installer runs the wizard as root (sudo), in an installation whose
// log/ and debug/ the store's group may write in. Run as root, or as root
// of a user namespace (the test starts itself again under "unshare -r"):
// links planted under its log files and a window of debug picture names
// leave their targets as they were, the pictures go beside them, and where
// the wizard cannot log safely its lines go to the standard error with why.
#include "WizardFixture.h"

#include "CameraList.h"
#include "PlantedNames.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <log4cxx/logmanager.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Links under every millisecond's picture name of this long a window but
// each 16th: the three shots meet planted names and go beside them.
constexpr qint64 pictureWindowMs = 30000;
constexpr qint64 freeEvery = 16;

// The standard error of this process, caught in a file while it lives.
class CaughtStandardError
{
public:
    CaughtStandardError()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(2);
        ::dup2(m_file.handle(), 2);
    }
    ~CaughtStandardError() { release(); }
    QString text()
    {
        release();
        return QString::fromUtf8(readFile(m_file.fileName()));
    }

private:
    void release()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

class WizardAsRootTest : public WizardFixture
{
protected:
    static void SetUpTestSuite()
    {
        // Tens of thousands of planted names: on a RAM file system where
        // there is one.
        if (QFileInfo("/dev/shm").isWritable())
            qputenv("TMPDIR", "/dev/shm");
    }

    WizardAsRootTest() { log4cxx::LogManager::resetConfiguration(); }
    ~WizardAsRootTest() override
    {
        window.reset();
        log4cxx::LogManager::resetConfiguration();
        qunsetenv("NEROVA_VIRTUAL_CAMERAS");
    }

    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, or \"unshare -r\" (user namespaces)";
        QImage blank(320, 240, QImage::Format_RGB32);
        blank.fill(Qt::gray);
        blank.save(install.path() + "/camera.png", "PNG");
        qputenv("NEROVA_VIRTUAL_CAMERAS", ("Door=" + install.path() + "/camera.png").toUtf8());
        QDir(install.path()).mkpath("debug");
    }

    QString at(const QString &relative) const { return install.path() + "/" + relative; }

    // The face test on a camera without a face: three shots, three pictures.
    void runFaceTest(const QString &logGroup)
    {
        install.writeConfig("[Nerova]\nDebugMode=true\n" + logGroup);
        open();
        child<QComboBox>("cmbFaceDevice")->setCurrentIndex(CameraList::realCameras().size() + 1);
        child<QLineEdit>("edtCodeValue")->setText("S-9");
        clickExpectingBox("btnNext", "确定");
        click("btnTest");
        window.reset();
        log4cxx::LogManager::resetConfiguration();
    }

    QStringList pictures() const
    {
        QStringList own;
        for (const QString &name : QDir(at("debug")).entryList({"*.no_face.png"}, QDir::Files | QDir::System)) {
            struct stat status;
            if (::lstat(QFile::encodeName(at("debug/" + name)).constData(), &status) == 0 && S_ISREG(status.st_mode))
                own << name;
        }
        return own;
    }

    QTemporaryDir outside;
};

QString fileLog(const QString &name)
{
    return QString("log4j.appender.%1=org.apache.log4j.FileAppender\n"
                   "log4j.appender.%1.File=%1\n"
                   "log4j.appender.%1.layout=org.apache.log4j.PatternLayout\n"
                   "log4j.appender.%1.layout.ConversionPattern=\"%p %m%n\"\n")
        .arg(name);
}

} // namespace

TEST_F(WizardAsRootTest, PlantedNamesInLogAndDebugAreLeftAloneAndTheLinesGoToStandardError)
{
    const PlantTarget logTarget(outside.path() + "/log-target.txt");
    ASSERT_TRUE(plant(Planted::SymbolicLink, at("log/wizard.log"), logTarget));
    const PlantTarget pictureTarget(outside.path() + "/picture-target.txt");
    const qint64 firstMs = QDateTime::currentMSecsSinceEpoch();
    for (qint64 ms = firstMs; ms < firstMs + pictureWindowMs; ++ms) {
        if (ms % freeEvery != freeEvery - 1) {
            ASSERT_TRUE(plant(Planted::SymbolicLink, at(QString("debug/%1.no_face.png").arg(ms)), pictureTarget));
        }
    }
    CaughtStandardError errors;
    runFaceTest("[Log]\nlog4j.rootLogger=TRACE, wizard\n" + fileLog("wizard"));
    const QString said = errors.text();

    EXPECT_EQ(logTarget.changes(), "");
    EXPECT_EQ(pictureTarget.changes(), "");
    EXPECT_TRUE(QFileInfo(at("log/wizard.log")).isSymLink());
    EXPECT_TRUE(said.contains("nerova: ERROR Log file " + at("log/wizard.log")
                              + " left alone: it is a symbolic link (a planted or foreign file is never written, moved "
                                "or removed: remove it, or name another File in the Log group); its lines go to the "
                                "standard error meanwhile"))
        << said.toStdString();
    EXPECT_EQ(said.count("TRACE Tool: No face detected\n"), 3) << said.toStdString();
    EXPECT_TRUE(said.contains(QRegularExpression("nerova: ERROR Tool: debug picture: " + QRegularExpression::escape(at("debug/"))
                                                 + "\\d+.no_face.png left alone: it is a symbolic link")))
        << said.toStdString();
    const QStringList written = pictures();
    EXPECT_EQ(written.size(), 3) << written.join(' ').toStdString();
    for (const QString &name : written) {
        const qint64 ms = name.section('.', 0, 0).toLongLong();
        EXPECT_TRUE(ms % freeEvery == freeEvery - 1 || ms >= firstMs + pictureWindowMs) << name.toStdString();
    }
}

// Root makes no file where everyone may write: the log and the pictures
// are not made there, and the wizard says why.
TEST_F(WizardAsRootTest, NoFileIsMadeWhereEveryoneMayWrite)
{
    ASSERT_EQ(::chmod(QFile::encodeName(at("log")).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(at("debug")).constData(), 0777), 0);
    CaughtStandardError errors;
    runFaceTest("[Log]\nlog4j.rootLogger=TRACE, wizard\n" + fileLog("wizard"));
    const QString said = errors.text();

    EXPECT_EQ(QDir(at("log")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    EXPECT_EQ(QDir(at("debug")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    EXPECT_TRUE(said.contains("nerova: ERROR Log file " + at("log/wizard.log")
                              + " left alone: it is in a directory everyone may write to, where root makes no file"))
        << said.toStdString();
    EXPECT_EQ(said.count("TRACE Tool: No face detected\n"), 3) << said.toStdString();
    EXPECT_TRUE(said.contains(QRegularExpression("nerova: ERROR Tool: debug picture: " + QRegularExpression::escape(at("debug/"))
                                                 + "\\d+.no_face.png not written: it is in a directory everyone may "
                                                   "write to, where root makes no file")))
        << said.toStdString();
}

// A hard link to another user's file is a regular file with two names:
// only root may make one, and it is left alone like a symbolic link.
TEST_F(WizardAsRootTest, AHardLinkToAnotherUsersFileIsLeftAlone)
{
    const PlantTarget target(outside.path() + "/other-user.txt");
    if (::chown(QFile::encodeName(target.path()).constData(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving a file to another user needs root outside a user namespace";
    ASSERT_TRUE(plant(Planted::HardLink, at("log/wizard.log"), target));
    CaughtStandardError errors;
    runFaceTest("[Log]\nlog4j.rootLogger=TRACE, wizard\n" + fileLog("wizard"));
    EXPECT_EQ(target.changes(), "");
    EXPECT_TRUE(errors.text().contains("log/wizard.log left alone: it has other names (hard links)"));
}

int main(int argc, char **argv)
{
    // Not root: the same tests again as root of a user namespace, where the
    // system allows one.
    if (::geteuid() != 0 && !qEnvironmentVariableIsSet("NEROVA_UNSHARED")
        && std::system("unshare -r true > /dev/null 2>&1") == 0) {
        qputenv("NEROVA_UNSHARED", "1");
        std::vector<char *> args{const_cast<char *>("unshare"), const_cast<char *>("-r")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp("unshare", args.data());
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
