// log/ and debug/ are the store's group's: any member may plant a name
// there. Through the real library in the C host, with links, hard links
// and FIFOs planted under every name the library will write there (the log
// file, its rolled names, a window of debug picture names made from the
// clock), each pointing at a file of the host user's outside: afterwards
// every target is as it was, each planted name is still there, the library
// said what it left alone, and its log lines and debug pictures went on
// beside, within their bounds. The host's current directory stays its own,
// and the cascades still load from the installation.
#include "FaceHostFixture.h"
#include "PlantedNames.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Debug pictures are named after the millisecond. Links are planted under
// the names of every millisecond of a window but each 16th: a picture then
// meets a planted name nearly always, and finds a free one among the next
// names it tries.
constexpr qint64 pictureWindowMs = 40000;
constexpr qint64 freeEvery = 16;

bool isFreeName(qint64 ms)
{
    return ms % freeEvery == freeEvery - 1;
}

class OwnFilesHostTest : public FaceHostFixture
{
protected:
    // Tens of thousands of planted names: on a RAM file system where there
    // is one, which makes them in a second rather than in half a minute.
    static void SetUpTestSuite()
    {
        previousTemp = qgetenv("TMPDIR");
        if (QFileInfo("/dev/shm").isWritable())
            qputenv("TMPDIR", "/dev/shm");
    }
    static void TearDownTestSuite() { qputenv("TMPDIR", previousTemp); }

    void SetUp() override
    {
        FaceHostFixture::SetUp();
        if (IsSkipped())
            return;
        // A camera that sees no face: every cycle writes a debug picture.
        ASSERT_TRUE(cv::imwrite(scene().toStdString(), cv::Mat(480, 640, CV_8UC3, cv::Scalar(90, 110, 100))));
        QDir(install.path()).mkpath("debug");
        cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("tok"));
    }

    QString scene() const { return install.path() + "/scene.png"; }
    QString at(const QString &relative) const { return install.path() + "/" + relative; }

    void configure()
    {
        install.writeConfig(QString("[Log]\n"
                                    "log4j.rootLogger=TRACE, file, kept, clean\n"
                                    "log4j.appender.file=org.apache.log4j.RollingFileAppender\n"
                                    "log4j.appender.file.File=nerova\n"
                                    "log4j.appender.file.layout=org.apache.log4j.SimpleLayout\n"
                                    "log4j.appender.kept=org.apache.log4j.RollingFileAppender\n"
                                    "log4j.appender.kept.File=kept\n"
                                    "log4j.appender.kept.MaxFileSize=1KB\n"
                                    "log4j.appender.kept.MaxBackupIndex=4\n"
                                    "log4j.appender.kept.layout=org.apache.log4j.SimpleLayout\n"
                                    "log4j.appender.clean=org.apache.log4j.FileAppender\n"
                                    "log4j.appender.clean.File=clean\n"
                                    "log4j.appender.clean.layout=org.apache.log4j.SimpleLayout\n"
                                    "[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\nUIdUrl=/uid\nAddUserUrl=/user\n"
                                    "[Nerova]\nCheckDeviceInterval=1\nDebugMode=true\nDebugKeepFiles=2\n"
                                    "[Face]\nFaceDevice=%2\nFaceInterval=0\n")
                                .arg(store.baseUrl(), virtualCamera)
                            + cloud.configGroup());
    }

    // The debug pictures of ours: regular files with one link.
    QStringList ownPictures() const
    {
        QStringList names;
        for (const QString &name : QDir(at("debug")).entryList(QDir::Files | QDir::System)) {
            struct stat status;
            if (::lstat(QFile::encodeName(at("debug/" + name)).constData(), &status) == 0 && S_ISREG(status.st_mode)
                && status.st_nlink == 1)
                names.append(name);
        }
        return names;
    }

    QTemporaryDir outside;
    static QByteArray previousTemp;
};

QByteArray OwnFilesHostTest::previousTemp;

} // namespace

TEST_F(OwnFilesHostTest, PlantedNamesInLogAndDebugAreLeftAloneAndTheFilesGoOnBeside)
{
    configure();
    const struct
    {
        QString name;
        Planted kind;
    } rows[] = {
        {"log/nerova.log", Planted::SymbolicLink},
        {"log/kept.log.1", Planted::SymbolicLink},
        {"log/kept.log.2", Planted::HardLink},
        {"log/kept.log.3", Planted::Fifo},
    };
    std::vector<std::unique_ptr<PlantTarget>> targets;
    for (const auto &row : rows) {
        targets.push_back(std::make_unique<PlantTarget>(outside.path() + "/" + QFileInfo(row.name).fileName()));
        ASSERT_TRUE(plant(row.kind, at(row.name), *targets.back())) << row.name.toStdString();
    }
    const PlantTarget pictureTarget(outside.path() + "/picture.txt");

    // The host works in a directory of its own, not in the installation.
    QTemporaryDir hostDir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(hostDir.path());
    auto host = std::make_unique<HostProcess>(HostProcess::Kind::C, QStringList{"NEROVA_VIRTUAL_CAMERAS=Shop door=" + scene()});
    QDir::setCurrent(previous);
    ASSERT_TRUE(host->isLoaded());
    host->send("cwd");
    const QString before = host->reply("cwd").value("result").toString();
    ASSERT_EQ(host->run("init"), 0);
    host->send("cwd");
    EXPECT_EQ(host->reply("cwd").value("result").toString(), before);
    EXPECT_EQ(QDir(before).canonicalPath(), QDir(hostDir.path()).canonicalPath());
    ASSERT_EQ(host->run("login cashier secret"), 0);
    ASSERT_TRUE(host->loopUntil([&] { return !host->lines("callback", "session").isEmpty(); }));
    const qint64 firstMs = QDateTime::currentMSecsSinceEpoch();
    int plantedPictures = 0;
    for (qint64 ms = firstMs; ms < firstMs + pictureWindowMs; ++ms) {
        if (!isFreeName(ms)) {
            ASSERT_TRUE(plant(Planted::SymbolicLink, at(QString("debug/%1_noface.png").arg(ms)), pictureTarget));
            ++plantedPictures;
        }
    }
    ASSERT_EQ(host->run("start"), 0);
    const QRegularExpression pictureLine("No face detected: " + QRegularExpression::escape(at("debug/")) + "(\\d+)_noface.png");
    ASSERT_TRUE(host->loopUntil([&] { return install.logText("clean.log").count(pictureLine) >= 4; }, 30000))
        << install.logText("clean.log").toStdString();
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();

    for (size_t i = 0; i < targets.size(); ++i) {
        EXPECT_EQ(targets[i]->changes(), "") << rows[i].name.toStdString();
        EXPECT_TRUE(QFileInfo(at(rows[i].name)).isSymLink() || QFileInfo::exists(at(rows[i].name)))
            << rows[i].name.toStdString();
    }
    EXPECT_EQ(pictureTarget.changes(), "");
    EXPECT_EQ(QDir(at("debug")).entryList(QDir::System | QDir::Files).size() - ownPictures().size(), plantedPictures)
        << "every planted picture name is still there";
    const QString errors = host->errorOutput();
    EXPECT_TRUE(errors.contains("nerova: ERROR Log file " + at("log/nerova.log") + " left alone: it is a symbolic link"))
        << errors.toStdString();
    EXPECT_TRUE(errors.contains(QRegularExpression("nerova: ERROR Debug picture: " + QRegularExpression::escape(at("debug/"))
                                                   + "\\d+_noface.png left alone: it is a symbolic link")))
        << errors.toStdString();

    // The lines went on beside the planted names, within their bound.
    const QString log = install.logText("clean.log");
    EXPECT_TRUE(log.contains("Login url")) << log.toStdString();
    EXPECT_FALSE(log.contains("Failed to load classifier")) << "cascades resolve against the installation";
    // The one free rolled name takes each roll; the planted ones are passed by.
    ASSERT_TRUE(QFileInfo::exists(at("log/kept.log.4")));
    for (const QString name : {"kept.log", "kept.log.4"})
        EXPECT_LE(QFileInfo(at("log/" + name)).size(), 1024) << name.toStdString();
    // Every picture went under a free name, and two of them are kept.
    auto written = pictureLine.globalMatch(log);
    while (written.hasNext()) {
        const qint64 ms = written.next().captured(1).toLongLong();
        EXPECT_TRUE(isFreeName(ms) || ms >= firstMs + pictureWindowMs) << ms;
    }
    EXPECT_EQ(ownPictures().size(), 2) << ownPictures().join(' ').toStdString();
}
