// Another member of the store's group plants links and second names (hard
// links) under the names the library will open in its directories, each
// leading to a file of the host's user outside the installation, before
// the host starts its workers. Through the real library in the plain C
// host: every such file is afterwards as it was (content, size, mode),
// none of it reaches the store server, and probe lines, log lines and
// debug pictures go on beside the planted names.
#include "ProbeHostTest.h"

#include "FakeFaceCloud.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>
#include <unistd.h>

namespace {

enum class Moment { BeforeInit, BeforeStart };
enum class Plant { SymbolicLink, HardLink, DirectoryLink, Fifo };

// One planted name: a directory of the installation ("data", "log", ...),
// a name in it, how it is planted and when.
struct PlantedName
{
    Moment when;
    QString dir;
    QString name;
    Plant how;
};

// The library numbers its files in data/ by the clock, but never at or
// below a number it has seen in a name there: a batch left far ahead of the
// clock makes its next numbers ahead + 1, ahead + 2, ... Every name of the
// window after it is planted, but for some journal names, so that journals
// are made among the planted batch and working file names.
constexpr int window = 60;

std::vector<PlantedName> dataNames(qint64 ahead)
{
    std::vector<PlantedName> rows = {
        {Moment::BeforeInit, "data", "refused", Plant::DirectoryLink},
        {Moment::BeforeInit, "data", "oversized", Plant::DirectoryLink},
        {Moment::BeforeInit, "data", "100.journal", Plant::SymbolicLink},
        {Moment::BeforeInit, "data", "101.batch", Plant::HardLink},
        {Moment::BeforeInit, "data", "102.csv", Plant::HardLink},
        {Moment::BeforeInit, "data", "103.gz", Plant::SymbolicLink},
        {Moment::BeforeInit, "data", "104.batch.tmp", Plant::HardLink},
        {Moment::BeforeInit, "data", "105.journal", Plant::HardLink},
    };
    for (qint64 number = ahead + 1; number <= ahead + window; ++number) {
        const Plant how = number % 2 ? Plant::SymbolicLink : Plant::HardLink;
        for (const char *suffix : {".batch", ".batch.tmp", ".csv", ".gz"})
            rows.push_back({Moment::BeforeStart, "data", QString::number(number) + suffix, how});
        if (number % 3 != 0)
            rows.push_back({Moment::BeforeStart, "data", QString::number(number) + ".journal", how});
    }
    return rows;
}

// A file of the host's user, outside the installation.
struct Target
{
    QString path;
    QByteArray content;
    mode_t mode = 0;
    bool inDirectory = false; // the only file of a directory that a link leads to
};

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

class PlantedNamesTest : public ProbeHostTest
{
protected:
    // The rows of that moment, each leading to a new target.
    void plant(const std::vector<PlantedName> &rows, Moment when)
    {
        for (const PlantedName &row : rows) {
            if (row.when != when)
                continue;
            const QString dir = install.path() + "/" + row.dir;
            QDir().mkpath(dir);
            const QString link = dir + "/" + row.name;
            const Target target = makeTarget(row.how == Plant::DirectoryLink);
            const QByteArray from = QFile::encodeName(target.path), to = QFile::encodeName(link);
            const int made = row.how == Plant::HardLink ? ::link(from, to)
                           : row.how == Plant::Fifo   ? ::mkfifo(to, 0666)
                                                      : ::symlink(from, to);
            ASSERT_EQ(made, 0) << link.toStdString();
            planted.push_back(link);
        }
    }

    Target makeTarget(bool directory)
    {
        Target target;
        target.path = QString("%1/target-%2").arg(outside.path()).arg(targets.size());
        // Record-like, so that any of it sent would be seen among the lines.
        target.content = QString("target-%1|1\r\n").arg(targets.size()).toUtf8();
        target.inDirectory = directory;
        if (directory) {
            QDir().mkpath(target.path);
            target.path += "/kept.batch";
        }
        QFile file(target.path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(target.content);
        file.close();
        ::chmod(QFile::encodeName(target.path).constData(), 0640);
        target.mode = modeOf(target.path);
        targets.push_back(target);
        if (directory)
            target.path.chop(QString("/kept.batch").size());
        return target;
    }

    void expectTargetsUnchanged() const
    {
        for (const Target &target : targets) {
            EXPECT_EQ(readFile(target.path), target.content) << target.path.toStdString();
            EXPECT_EQ(modeOf(target.path), target.mode) << target.path.toStdString();
            if (target.inDirectory) {
                const QDir dir = QFileInfo(target.path).dir();
                EXPECT_EQ(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                          QStringList{"kept.batch"});
            }
        }
        for (const std::string &line : uploadedLines())
            EXPECT_EQ(line.rfind("target-", 0), std::string::npos) << line;
    }

    void removePlanted()
    {
        for (const QString &link : planted)
            EXPECT_TRUE(QFile::remove(link)) << link.toStdString();
        planted.clear();
    }

    // The probe lines of one host, each uploaded once in order from the
    // upload firstAccepted on; the host ends cleanly.
    void runHost(const std::vector<PlantedName> &rows, size_t firstAccepted, const std::function<void()> &beforeStart)
    {
        written.clear();
        plant(rows, Moment::BeforeInit);
        auto host = launchedHost();
        plant(rows, Moment::BeforeStart);
        beforeStart();
        ASSERT_EQ(logIn(*host).value("code").toInt(-1), 0);
        startWorkers(*host);
        for (int line = 0; line < 3; ++line) {
            writeLine(*host);
            host->run("loop 700");
        }
        EXPECT_TRUE(allLinesArrive(*host, firstAccepted));
        EXPECT_EQ(host->run("uninit"), 0);
        ASSERT_TRUE(host->finish());
        EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
    }

    QTemporaryDir outside;
    std::vector<Target> targets;
    QStringList planted;
};

TEST_F(PlantedNamesTest, NothingPlantedIsWrittenSentOrRemovedAndLinesGoOn)
{
    // The lock, as a link and as a second name: the records stay in memory
    // and still go out; the host hears why.
    for (const Plant how : {Plant::SymbolicLink, Plant::HardLink}) {
        const size_t first = store.probeUploads("/probe").size();
        runHost({{Moment::BeforeInit, "data", ".probe.lock", how}}, first, [] {});
        EXPECT_TRUE(log().contains("/data/.probe.lock " + QString(how == Plant::HardLink ? "has other names" : "is a symbolic link")))
            << log().toStdString();
        EXPECT_TRUE(log().contains("ERROR root - Probe records are kept in memory only"));
        expectTargetsUnchanged();
        removePlanted();
    }

    // Every other name: a batch of an earlier run, numbered far ahead of
    // the clock, is refused three times and set aside into refused/, which
    // is a link: it stays where it is.
    const qint64 ahead = QDateTime::currentMSecsSinceEpoch() + 86400000;
    const QString seed = QString("%1/%2.batch").arg(dataDir()).arg(ahead);
    QFile seedFile(seed);
    ASSERT_TRUE(seedFile.open(QIODevice::WriteOnly));
    seedFile.write("seed-1|1\r\n");
    seedFile.close();
    const std::vector<PlantedName> rows = dataNames(ahead);
    const size_t first = store.probeUploads("/probe").size();
    runHost(rows, first + 3, [&] {
        for (int refusal = 0; refusal < 3; ++refusal)
            store.queue("/probe", FakeStoreServer::Answer{200, R"({"state":7,"msg":"bad data"})"});
    });
    EXPECT_EQ(uploadedLines(first).front(), "seed-1");
    EXPECT_EQ(readFile(seed), "seed-1|1\r\n");
    const QString text = log();
    for (const PlantedName &row : rows) {
        if (row.when == Moment::BeforeInit) {
            EXPECT_TRUE(text.contains(QString("ERROR root - %1/%2 ").arg(dataDir(), row.name))) << row.name.toStdString();
        }
    }
    EXPECT_TRUE(text.contains("/data/refused is a symbolic link: not this library's file, left alone; the batch stays in " + seed))
        << text.toStdString();
    const QString planted = "(is a symbolic link|is taken by a file this program did not make): not this library's "
                            "file, left alone";
    EXPECT_TRUE(text.contains(QRegularExpression("\\d+\\.journal " + planted + "; names skipped: \\d+")));
    EXPECT_TRUE(text.contains(QRegularExpression("\\d+\\.batch " + planted + "; the batch stays in \\d+\\.journal")));
    EXPECT_TRUE(text.contains(QRegularExpression("\\d+\\.(csv|gz) " + planted)));
    expectTargetsUnchanged();
}

// log/ and debug/: the rows of the log's files (one appender's file, the
// rolled names of another) and a window of debug picture names. A debug
// picture is named after the millisecond it is written in: a link or a
// second name is planted under the name of every millisecond of the window
// but each 16th, so that a picture meets a planted name nearly always and finds a
// free one among the next names it tries.
constexpr qint64 pictureWindowMs = 40000;
constexpr qint64 freeEvery = 16;

bool isFreeName(qint64 ms)
{
    return ms % freeEvery == freeEvery - 1;
}

const std::vector<PlantedName> logNames = {
    {Moment::BeforeInit, "log", "planted.log", Plant::SymbolicLink},
    {Moment::BeforeInit, "log", "kept.log.1", Plant::SymbolicLink},
    {Moment::BeforeInit, "log", "kept.log.2", Plant::HardLink},
    {Moment::BeforeInit, "log", "kept.log.3", Plant::Fifo},
};

class PlantedLogAndDebugNamesTest : public PlantedNamesTest
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

    // The face worker on a camera that sees no face, in debug mode with two
    // pictures kept; three appenders: the test's own log and the two
    // planted ones, one of them rolling at 1 KB into four names.
    void SetUp() override
    {
        ASSERT_TRUE(cv::imwrite(scene().toStdString(), cv::Mat(480, 640, CV_8UC3, cv::Scalar(90, 110, 100))));
        qputenv("NEROVA_VIRTUAL_CAMERAS", ("Shop door=" + scene()).toUtf8());
        QDir(install.path()).mkpath("debug");
        cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("tok"));
        QString appenders;
        for (const QString name : {"nerova", "planted", "kept"}) {
            appenders += QString("log4j.appender.%1=org.apache.log4j.RollingFileAppender\n"
                                 "log4j.appender.%1.File=%1\n"
                                 "log4j.appender.%1.layout=org.apache.log4j.PatternLayout\n"
                                 "log4j.appender.%1.layout.ConversionPattern=\"%p %c - %m%n\"\n")
                             .arg(name);
        }
        install.writeConfig("[Log]\nlog4j.rootLogger=TRACE, nerova, planted, kept\n" + appenders
                            + "log4j.appender.kept.MaxFileSize=1KB\nlog4j.appender.kept.MaxBackupIndex=4\n"
                            + configText()
                                  .mid(configText().indexOf("[Server]"))
                                  .replace("[Nerova]\n", "[Nerova]\nDebugMode=true\nDebugKeepFiles=2\n")
                                  .replace("FaceEnabled=false", "FaceEnabled=true")
                            + "FaceDevice=vid_0000&pid_0000&mi_00#virtual1\nFaceInterval=0\n" + cloud.configGroup());
    }
    ~PlantedLogAndDebugNamesTest() override { qunsetenv("NEROVA_VIRTUAL_CAMERAS"); }

    QString scene() const { return install.path() + "/scene.png"; }
    QString at(const QString &relative) const { return install.path() + "/" + relative; }

    // From now, for the length of the window: symbolic links to one
    // target, and each fourth name a second name of another.
    int plantPictureWindow(qint64 firstMs)
    {
        const QByteArray linked = QFile::encodeName(makeTarget(false).path);
        const QByteArray named = QFile::encodeName(makeTarget(false).path);
        int count = 0;
        for (qint64 ms = firstMs; ms < firstMs + pictureWindowMs; ++ms) {
            const QByteArray name = QFile::encodeName(at(QString("debug/%1_noface.png").arg(ms)));
            if (!isFreeName(ms) && (ms % 4 == 1 ? ::link(named, name) : ::symlink(linked, name)) == 0)
                ++count;
        }
        return count;
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

    FakeFaceCloud cloud;
    static QByteArray previousTemp;
};

QByteArray PlantedLogAndDebugNamesTest::previousTemp;

TEST_F(PlantedLogAndDebugNamesTest, NothingPlantedInLogOrDebugIsWrittenAndTheFilesGoOnBeside)
{
    plant(logNames, Moment::BeforeInit);
    auto host = launchedHost();
    ASSERT_EQ(logIn(*host).value("code").toInt(-1), 0);
    const qint64 firstMs = QDateTime::currentMSecsSinceEpoch();
    const int plantedPictures = plantPictureWindow(firstMs);
    startWorkers(*host);
    const QRegularExpression pictureLine("No face detected: " + QRegularExpression::escape(at("debug/")) + "(\\d+)_noface.png");
    ASSERT_TRUE(host->loopUntil([&] { return log().count(pictureLine) >= 4; }, 30000)) << log().toStdString();
    EXPECT_EQ(host->run("uninit"), 0);
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();

    expectTargetsUnchanged();
    for (const PlantedName &row : logNames)
        EXPECT_TRUE(QFileInfo(at(row.dir + "/" + row.name)).isSymLink() || QFileInfo::exists(at(row.dir + "/" + row.name)))
            << row.name.toStdString();
    EXPECT_EQ(QDir(at("debug")).entryList(QDir::System | QDir::Files).size() - ownPictures().size(), plantedPictures)
        << "every planted picture name is still there";
    const QString errors = host->errorOutput();
    EXPECT_TRUE(errors.contains("nerova: ERROR Log file " + at("log/planted.log") + " left alone: it is a symbolic link"))
        << errors.toStdString();
    for (const QString rolled : {"kept.log.1 left alone: it is a symbolic link", "kept.log.2 left alone: it has other names",
                                 "kept.log.3 left alone: it is not a regular file"})
        EXPECT_TRUE(errors.contains("nerova: ERROR Log file " + at("log/" + rolled))) << rolled.toStdString();
    EXPECT_TRUE(errors.contains(QRegularExpression("nerova: ERROR Debug picture: " + QRegularExpression::escape(at("debug/"))
                                                   + "\\d+_noface.png left alone: it is a symbolic link")))
        << errors.toStdString();

    // The log lines went on beside the planted names, within their bound:
    // the one free rolled name takes each roll.
    EXPECT_TRUE(log().contains("Login url")) << log().toStdString();
    ASSERT_TRUE(QFileInfo::exists(at("log/kept.log.4")));
    for (const QString name : {"kept.log", "kept.log.4"})
        EXPECT_LE(QFileInfo(at("log/" + name)).size(), 1024) << name.toStdString();
    // Every picture went under a free name, and two of them are kept.
    auto written = pictureLine.globalMatch(log());
    while (written.hasNext()) {
        const qint64 ms = written.next().captured(1).toLongLong();
        EXPECT_TRUE(isFreeName(ms) || ms >= firstMs + pictureWindowMs) << ms;
    }
    EXPECT_EQ(ownPictures().size(), 2) << ownPictures().join(' ').toStdString();
}

} // namespace
