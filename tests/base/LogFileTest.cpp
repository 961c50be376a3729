// The log's files in log/, which the store's group may write in: whatever
// is planted under the file's name or its rolled names is left alone and
// said, and each file stays within its bound.
#include "LogGroup.h"
#include "NerovaLog.h"
#include "PlantedNames.h"
#include "RollingLogFile.h"
#include "TestInstall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <log4cxx/logmanager.h>

#include <sys/stat.h>

namespace {

constexpr qint64 second = 1000000;

class LogFileTest : public ::testing::Test
{
protected:
    LogFileTest() { log4cxx::LogManager::resetConfiguration(); }
    ~LogFileTest() override { log4cxx::LogManager::resetConfiguration(); }

    QString logDir() const { return install.logDir(); }
    QString at(const QString &name) const { return logDir() + name; }

    static RollingLogFile::Policy bySize(qint64 maxFileSize, int maxBackups)
    {
        RollingLogFile::Policy policy;
        policy.maxFileSize = maxFileSize;
        policy.maxBackups = maxBackups;
        return policy;
    }

    // The files of ours (regular, one link) in log/, with their sizes.
    QMap<QString, qint64> ownFiles() const
    {
        QMap<QString, qint64> files;
        for (const QFileInfo &info : QDir(logDir()).entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat status;
            if (::lstat(QFile::encodeName(info.filePath()).constData(), &status) == 0 && S_ISREG(status.st_mode)
                && status.st_nlink == 1)
                files.insert(info.fileName(), status.st_size);
        }
        return files;
    }

    static bool isLinkTo(const QString &name, const PlantTarget &target)
    {
        return QFileInfo(name).isSymLink() && QFileInfo(name).symLinkTarget() == target.path();
    }

    TestInstall install;
    QTemporaryDir outside;
    PlantTarget target{outside.path() + "/own.txt"};
};

} // namespace

TEST_F(LogFileTest, EveryKindOfPlantedNameIsLeftAloneAndSaid)
{
    const struct
    {
        Planted kind;
        const char *why;
    } rows[] = {
        {Planted::SymbolicLink, "is a symbolic link"},
        {Planted::HardLink, "has other names (hard links)"},
        {Planted::Fifo, "is not a regular file"},
        {Planted::Directory, "is not a regular file"},
    };
    for (const auto &row : rows) {
        const QString name = QString("%1.log").arg(plantedName(row.kind)).replace(' ', '-');
        ASSERT_TRUE(plant(row.kind, at(name), target)) << name.toStdString();
        RollingLogFile file(logDir(), at(name), bySize(1024, 1));
        EXPECT_FALSE(file.write("a line\n", 1 * second)) << name.toStdString();
        const QStringList problems = file.takeProblems();
        ASSERT_EQ(problems.size(), 1) << name.toStdString();
        EXPECT_TRUE(problems[0].startsWith("Log file " + at(name) + " left alone: it " + row.why))
            << problems[0].toStdString();
        // Said once, not at every line.
        EXPECT_FALSE(file.write("another line\n", 100 * second));
        EXPECT_TRUE(file.takeProblems().isEmpty());
        EXPECT_EQ(target.changes(), "") << name.toStdString();
    }
    EXPECT_EQ(ownFiles().size(), 0) << QStringList(ownFiles().keys()).join(' ').toStdString();
}

// Rolled over and over with a link planted among the rolled names: the
// link and its target stay as they are, and the files of ours stay within
// (backups + 1) x the size.
TEST_F(LogFileTest, RollingBySizePassesPlantedNamesByAndStaysBounded)
{
    ASSERT_TRUE(plant(Planted::SymbolicLink, at("sized.log.2"), target));
    RollingLogFile file(logDir(), at("sized.log"), bySize(100, 3));
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(file.write(QString("line %1 of the log.....\n").arg(i, 2, 10, QChar('0')).toUtf8(), i * second));

    EXPECT_EQ(target.changes(), "");
    EXPECT_TRUE(isLinkTo(at("sized.log.2"), target));
    const QMap<QString, qint64> files = ownFiles();
    qint64 total = 0;
    for (qint64 size : files)
        total += size;
    EXPECT_LE(total, 4 * 100) << QStringList(files.keys()).join(' ').toStdString();
    EXPECT_TRUE(readFile(at("sized.log")).endsWith("line 59 of the log.....\n"));
    EXPECT_TRUE(readFile(at("sized.log.1")).startsWith("line "));
    const QStringList problems = file.takeProblems();
    ASSERT_FALSE(problems.isEmpty());
    EXPECT_TRUE(problems[0].startsWith("Log file " + at("sized.log.2") + " left alone: it is a symbolic link"))
        << problems[0].toStdString();
}

// The file of a period is renamed after it when the next period begins; a
// name of a period held by a link is passed by, and only the newest
// periods of ours stay.
TEST_F(LogFileTest, RollingByPeriodKeepsTheNewestPeriods)
{
    RollingLogFile::Policy policy;
    policy.maxBackups = 2;
    policy.periodOf = [](qint64 us) { return "." + QString::number(us / second); };
    policy.periodRegex = "\\.\\d+";
    ASSERT_TRUE(plant(Planted::SymbolicLink, at("daily.log.5"), target));
    RollingLogFile file(logDir(), at("daily.log"), policy);
    for (int s = 1; s <= 8; ++s)
        ASSERT_TRUE(file.write(QString("in period %1\n").arg(s).toUtf8(), s * second + 1));

    EXPECT_EQ(target.changes(), "");
    EXPECT_TRUE(isLinkTo(at("daily.log.5"), target));
    EXPECT_EQ(QStringList(ownFiles().keys()), QStringList({"daily.log", "daily.log.6", "daily.log.7"}));
    EXPECT_EQ(readFile(at("daily.log.7")), "in period 7\n");
    EXPECT_EQ(readFile(at("daily.log")), "in period 8\n");
}

// A directory on the way to the file that is a link is not entered: nothing
// is made where it points.
TEST_F(LogFileTest, ALinkedLogDirectoryIsNotEntered)
{
    ASSERT_TRUE(QFile::link(outside.path(), at("sub")));
    RollingLogFile file(logDir(), at("sub/inner/face.log"), bySize(1024, 1));
    EXPECT_FALSE(file.write("a line\n", second));
    const QStringList problems = file.takeProblems();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_EQ(problems[0].toStdString(), ("Log directory " + at("sub") + " not used: it is a symbolic link").toStdString());
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"own.txt"});
}

// Others may not read the log whatever the umask, the group may append (so
// a host can go on with a log the wizard began as root); an older log that
// others could read loses that.
TEST_F(LogFileTest, LogFilesAreTheGroupsAndNotOthers)
{
    const mode_t previous = ::umask(077);
    RollingLogFile made(logDir(), at("made.log"), bySize(1024, 1));
    EXPECT_TRUE(made.write("a line\n", second));
    ::umask(previous);
    QFile older(at("older.log"));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.close();
    ::chmod(QFile::encodeName(at("older.log")).constData(), 0664);
    RollingLogFile reopened(logDir(), at("older.log"), bySize(1024, 1));
    EXPECT_TRUE(reopened.write("a line\n", second));

    struct stat status;
    ASSERT_EQ(::stat(QFile::encodeName(at("made.log")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0660u);
    ASSERT_EQ(::stat(QFile::encodeName(at("older.log")).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0660u);
}

// Through the Log group as the library applies it: the appender under log/
// is ours, so the planted link's target gets no line and a clean log beside
// it gets them all.
TEST_F(LogFileTest, TheLogGroupsFileAppendersLeaveAPlantedLinkAlone)
{
    ASSERT_TRUE(plant(Planted::SymbolicLink, at("planted.log"), target));
    install.writeConfig("[Log]\n"
                        "log4j.rootLogger=INFO, planted, clean\n"
                        "log4j.appender.planted=org.apache.log4j.RollingFileAppender\n"
                        "log4j.appender.planted.File=planted\n"
                        "log4j.appender.planted.layout=org.apache.log4j.SimpleLayout\n"
                        "log4j.appender.clean=org.apache.log4j.DailyRollingFileAppender\n"
                        "log4j.appender.clean.File=clean\n"
                        "log4j.appender.clean.layout=org.apache.log4j.SimpleLayout\n");
    QSettings settings(install.configFile(), QSettings::IniFormat);
    LogGroup::read(settings, install.logDir()).apply();
    NerovaLog::info(QString(), "hello");
    EXPECT_EQ(target.changes(), "");
    EXPECT_EQ(install.logText("clean.log"), "INFO - hello\n");
}
