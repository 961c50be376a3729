// The worker base: its log helpers reach the file the Log group names, it
// follows edits of the configuration file while running, and its snapshots
// stay whole while a reload runs on another thread.
#include "BaseFixture.h"
#include "NerovaBase.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

class NerovaBaseTest : public BaseFixture
{
protected:
    // Waits for the watcher to deliver a change of FaceThreshold.
    bool seesThreshold(const NerovaBase &base, int threshold)
    {
        return waitUntil([&] { return base.config()->faceThreshold == threshold; });
    }

    // QSettings reads the file again only when its size or its time stamp
    // (in milliseconds) changed, and a test writes faster than that: the
    // padding gives each threshold its own size.
    static QString faceConfig(int threshold, const QString &logName = "nerova")
    {
        return QString("[Face]\nFaceThreshold=%1\nFaceInterval=3\n;%2\n").arg(threshold).arg(QString(threshold, '-'))
            + TestInstall::fileLogGroup(logName);
    }
};

} // namespace

TEST_F(NerovaBaseTest, LogHelpersWriteToTheFileTheLogGroupNames)
{
    install.writeConfig(TestInstall::fileLogGroup("nerova"));
    NerovaBase base;
    EXPECT_EQ(base.loggerName(), "");
    base.logTrace("traced");
    base.logInfo("informed");
    base.logError("failed");
    EXPECT_EQ(install.logText("nerova.log"), "TRACE root - traced\nINFO root - informed\nERROR root - failed\n");
}

TEST_F(NerovaBaseTest, AnAppenderAtInfoDropsTraceLines)
{
    install.writeConfig(TestInstall::fileLogGroup("nerova") + "log4j.appender.file.Threshold=INFO\n");
    NerovaBase base;
    base.logTrace("traced");
    base.logInfo("informed");
    base.logError("failed");
    EXPECT_EQ(logLines(), QStringList({"informed", "failed"}));
}

TEST_F(NerovaBaseTest, ALoggerAtErrorDropsInfoAndTraceLines)
{
    install.writeConfig(TestInstall::fileLogGroup("nerova").replace("TRACE, file", "ERROR, file"));
    NerovaBase base;
    base.logTrace("traced");
    base.logInfo("informed");
    base.logError("failed");
    EXPECT_EQ(logLines(), QStringList({"failed"}));
}

TEST_F(NerovaBaseTest, ALoggerKeyMakesTheBaseLogThroughThatLogger)
{
    install.writeConfig("[Log]\n"
                        "log4j.rootLogger=OFF\n"
                        "log4j.logger.face=TRACE, F\n"
                        "log4j.appender.F=org.apache.log4j.FileAppender\n"
                        "log4j.appender.F.File=face.txt\n"
                        "log4j.appender.F.layout=org.apache.log4j.PatternLayout\n"
                        "log4j.appender.F.layout.ConversionPattern=\"%p %c - %m%n\"\n");
    NerovaBase base;
    EXPECT_EQ(base.loggerName(), "face");
    base.logTrace("found a face");
    EXPECT_EQ(install.logText("face.txt"), "TRACE face - found a face\n");
}

TEST_F(NerovaBaseTest, TheExampleConfigurationWritesLogNerovaLog)
{
    ASSERT_TRUE(QFile::copy(NEROVA_SOURCE_DIR "/conf/default.ini", install.configFile()));
    NerovaBase base;
    base.logTrace("Camera check");
    base.logInfo("Start working");
    // At INFO, as shipped: the TRACE line is not written.
    const QRegularExpression lines("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[[^\\]]+\\] INFO  root - Start working\n$");
    EXPECT_TRUE(lines.match(install.logText("nerova.log")).hasMatch()) << install.logText("nerova.log").toStdString();
    EXPECT_EQ(base.config()->checkDeviceInterval, 10);
    EXPECT_EQ(base.config()->tradeUrl, "/api/trade");
}

TEST_F(NerovaBaseTest, AnInPlaceEditIsSeenWithoutARestart)
{
    install.writeConfig(faceConfig(80));
    NerovaBase base;
    base.setSession("token-1", "brand-1");
    install.writeConfig(faceConfig(55) + "[Nerova]\nDeviceId=S2\n");
    ASSERT_TRUE(seesThreshold(base, 55));
    EXPECT_EQ(base.config()->deviceId, "S2");
    // A reload leaves the session alone.
    EXPECT_EQ(base.sessionToken(), "token-1");
    EXPECT_EQ(base.brandId(), "brand-1");
}

TEST_F(NerovaBaseTest, ReplacedFilesKeepBeingWatched)
{
    install.writeConfig(faceConfig(80));
    NerovaBase base;
    install.replaceConfig(faceConfig(61));
    ASSERT_TRUE(seesThreshold(base, 61));
    install.replaceConfig(faceConfig(52, "second"));
    ASSERT_TRUE(seesThreshold(base, 52));
    install.writeConfig(faceConfig(43, "third"));
    ASSERT_TRUE(seesThreshold(base, 43));
    // The Log group is applied again as well.
    base.logInfo("after the edits");
    EXPECT_EQ(install.logText("third.log"), "INFO root - after the edits\n");
}

// While another program still has the replaced file open, its inode lives
// on and no removal is reported; the new file must be watched all the same.
TEST_F(NerovaBaseTest, AReplacedFileStillOpenElsewhereDoesNotStopTheWatching)
{
    install.writeConfig(faceConfig(80));
    NerovaBase base;
    QFile oldFile(install.configFile());
    ASSERT_TRUE(oldFile.open(QIODevice::ReadOnly));
    install.replaceConfig(faceConfig(61));
    ASSERT_TRUE(seesThreshold(base, 61));
    install.writeConfig(faceConfig(52));
    ASSERT_TRUE(seesThreshold(base, 52));
    install.writeConfig(faceConfig(7));
    ASSERT_TRUE(seesThreshold(base, 7));
}

TEST_F(NerovaBaseTest, AFileCreatedAfterStartIsRead)
{
    NerovaBase base;
    EXPECT_EQ(base.config()->faceThreshold, 80);
    base.logError("nowhere");
    install.writeConfig(faceConfig(33));
    ASSERT_TRUE(seesThreshold(base, 33));
    install.replaceConfig(faceConfig(34));
    ASSERT_TRUE(seesThreshold(base, 34));
}

// Values written together in the file are read together: a reader thread
// never sees the threshold of one pass with the store number of another.
TEST_F(NerovaBaseTest, ASnapshotIsOneWholeConfigurationWhileReloadsRun)
{
    const auto configNumbered = [](int n) {
        return QString("[Face]\nFaceThreshold=%1\nFaceInterval=%1\n[Nerova]\nDeviceId=S%1\n"
                       "[Server]\nServer=http://127.0.0.1/%1\nTradeUrl=/trade\n")
            .arg(n);
    };
    install.writeConfig(configNumbered(0));
    NerovaBase base;
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done) {
            const auto c = base.config();
            const QString n = QString::number(c->faceThreshold);
            if (c->faceInterval != c->faceThreshold || c->deviceId != "S" + n
                || c->tradeUrl != "http://127.0.0.1/" + n + "/trade")
                ++torn;
            ++reads;
        }
    });
    for (int n = 1; n <= 300; ++n) {
        install.writeConfig(configNumbered(n));
        base.TriggerConfUpdated(QString());
    }
    QTest::qSleep(20);
    install.writeConfig(configNumbered(1000));
    base.TriggerConfUpdated(QString());
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(base.config()->deviceId, "S1000");
}

TEST_F(NerovaBaseTest, InstanceIsTheLatestBaseWhileItLives)
{
    EXPECT_EQ(NerovaBase::instance(), nullptr);
    {
        NerovaBase first;
        EXPECT_EQ(NerovaBase::instance(), &first);
        {
            NerovaBase second;
            EXPECT_EQ(NerovaBase::instance(), &second);
        }
        EXPECT_EQ(NerovaBase::instance(), nullptr);
    }
    EXPECT_EQ(NerovaBase::instance(), nullptr);
}

// The host's current directory is the host's: paths resolve against the
// installation directory instead.
TEST_F(NerovaBaseTest, TheCurrentDirectoryStaysTheHosts)
{
    const QString before = QDir::currentPath();
    NerovaBase base;
    EXPECT_EQ(QDir::currentPath(), before);
    EXPECT_EQ(base.configFile(), install.configFile());
    EXPECT_EQ(base.logDir(), install.logDir());
    EXPECT_EQ(base.dataDir(), install.path() + "/data/");
}
