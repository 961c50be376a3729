// The Log group: how its keys are read from the INI file, how Log4Qt's class
// names are mapped for log4cxx, and that each mapped configuration really
// writes where it says.
#include "BaseFixture.h"
#include "LogGroup.h"
#include "NerovaLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <clocale>

namespace {

using Map = QMap<QString, QString>;

Map toMap(const LogGroup::Properties &properties)
{
    Map map;
    for (const auto &entry : properties)
        map.insert(entry.first, entry.second);
    return map;
}

class LogGroupTest : public BaseFixture
{
protected:
    LogGroup readConfig(const QString &text)
    {
        install.writeConfig(text);
        QSettings settings(install.configFile(), QSettings::IniFormat);
        return LogGroup::read(settings, install.logDir());
    }

    LogGroup readGroup(const QString &logLines) { return readConfig("[Log]\n" + logLines); }

    Map readMap(const QString &logLines) { return toMap(readGroup(logLines).properties); }

    Map mapped(const QString &logLines) { return toMap(readGroup(logLines).log4cxxProperties()); }

    // Applies the group and logs one INFO line through the root logger.
    void applyAndLog(const QString &logLines, const QString &text = "hello")
    {
        readGroup(logLines).apply();
        NerovaLog::info(QString(), text);
    }
};

} // namespace

TEST_F(LogGroupTest, RelativeFileValuesArePlacedUnderLogWithLogAppended)
{
    const Map p = readMap("log4j.appender.a.File=face\n"
                          "log4j.appender.b.File=face.txt\n"
                          "log4j.appender.c.File=face.log\n"
                          "log4j.appender.d.File=sub/face\n"
                          "log4j.appender.e.File=face.LOG\n"
                          "log4j.appender.f.File=/var/tmp/face\n"
                          "log4j.appender.g.File=/var/tmp/face.txt\n");
    const QString log = install.logDir();
    EXPECT_EQ(p["log4j.appender.a.File"], log + "face.log");
    EXPECT_EQ(p["log4j.appender.b.File"], log + "face.txt");
    EXPECT_EQ(p["log4j.appender.c.File"], log + "face.log");
    EXPECT_EQ(p["log4j.appender.d.File"], log + "sub/face.log");
    EXPECT_EQ(p["log4j.appender.e.File"], log + "face.LOG.log");
    EXPECT_EQ(p["log4j.appender.f.File"], "/var/tmp/face");
    EXPECT_EQ(p["log4j.appender.g.File"], "/var/tmp/face.txt");
}

TEST_F(LogGroupTest, OnlyKeysEndingInDotFileAreFileValues)
{
    const Map p = readMap("log4j.appender.a.file=face\n"
                          "log4j.appender.b.FileName=face\n"
                          "log4j.appender.c.layout=face\n");
    EXPECT_EQ(p["log4j.appender.a.file"], "face");
    EXPECT_EQ(p["log4j.appender.b.FileName"], "face");
    EXPECT_EQ(p["log4j.appender.c.layout"], "face");
}

// QSettings hands such keys over like any other ("%23" is its escape of "#").
TEST_F(LogGroupTest, KeysStartingWithHashAreIgnored)
{
    const Map p = readMap("#log4j.appender.x=org.apache.log4j.FileAppender\n"
                          " # log4j.rootLogger=TRACE, x\n"
                          "%23log4j.appender.y=org.apache.log4j.ConsoleAppender\n"
                          "log4j.appender.z.File=a#b\n");
    EXPECT_EQ(p.keys(), QStringList{"log4j.appender.z.File"});
    EXPECT_EQ(p["log4j.appender.z.File"], install.logDir() + "a#b.log");
}

// The keys come in the group's (sorted) order; the last logger key wins and
// stays a property.
TEST_F(LogGroupTest, TheLastLoggerKeyNamesTheLogger)
{
    const LogGroup group = readGroup("log4j.logger.zeta=INFO, A\n"
                                     "log4j.logger.alpha=TRACE, A\n"
                                     "log4j.rootLogger=ERROR, A\n");
    EXPECT_EQ(group.loggerName, "zeta");
    EXPECT_EQ(toMap(group.properties)["log4j.logger.zeta"], "INFO,A");
    EXPECT_EQ(toMap(group.properties)["log4j.logger.alpha"], "TRACE,A");
}

TEST_F(LogGroupTest, WithoutLoggerKeyTheRootLoggerIsUsed)
{
    EXPECT_EQ(readGroup("log4j.rootLogger=INFO, A\nlog4j.loggerFactory=x\n").loggerName, "");
    EXPECT_EQ(readGroup("").loggerName, "");
}

// The INI quirks that matter for log4j values: unquoted commas split a value
// into a list, an unquoted ";" starts a comment, "%" is plain text.
TEST_F(LogGroupTest, ValuesSurviveTheIniFormat)
{
    const Map p = readMap("log4j.rootLogger=INFO, A1 ,A2\n"
                          "a.ConversionPattern=%d{HH:mm:ss,SSS} [%t] %p %c - %m%n\n"
                          "b.ConversionPattern=%d [%t] %p %c - %m%n\n"
                          "c.ConversionPattern=\"%d [%t] %p %c - %m%n\"\n"
                          "d.ConversionPattern=\"%m; %n\"\n"
                          "e.ConversionPattern=%m; %n\n");
    EXPECT_EQ(p["log4j.rootLogger"], "INFO,A1,A2");
    EXPECT_EQ(p["a.ConversionPattern"], "%d{HH:mm:ss,SSS} [%t] %p %c - %m%n");
    EXPECT_EQ(p["b.ConversionPattern"], "%d [%t] %p %c - %m%n");
    EXPECT_EQ(p["c.ConversionPattern"], "%d [%t] %p %c - %m%n");
    EXPECT_EQ(p["d.ConversionPattern"], "%m; %n");
    EXPECT_EQ(p["e.ConversionPattern"], "%m");
}

TEST_F(LogGroupTest, Log4QtClassNamesGetLog4jsPackage)
{
    const Map p = mapped("log4j.rootLogger=INFO, A\n"
                         "log4j.appender.A=Log4Qt::FileAppender\n"
                         "log4j.appender.A.layout=Log4Qt::SimpleLayout\n"
                         "log4j.appender.B=org.apache.log4j.ConsoleAppender\n"
                         "log4j.appender.B.Encoding=ISO-8859-1\n"
                         "log4j.appender.B.layout=Log4Qt::PatternLayout\n"
                         "log4j.appender.B.layout.ConversionPattern=Log4Qt::%m%n\n");
    EXPECT_EQ(p["log4j.appender.A"], "org.apache.log4j.FileAppender");
    EXPECT_EQ(p["log4j.appender.A.layout"], "org.apache.log4j.SimpleLayout");
    EXPECT_EQ(p["log4j.appender.B"], "org.apache.log4j.ConsoleAppender");
    EXPECT_EQ(p["log4j.appender.B.layout"], "org.apache.log4j.PatternLayout");
    EXPECT_EQ(p["log4j.rootLogger"], "INFO,A");
    // Appenders write UTF-8 unless the group names another encoding.
    EXPECT_EQ(p["log4j.appender.A.Encoding"], "UTF-8");
    EXPECT_EQ(p["log4j.appender.B.Encoding"], "ISO-8859-1");
    EXPECT_FALSE(p.contains("log4j.appender.A.layout.Encoding"));
    EXPECT_EQ(p.size(), 8);
}

TEST_F(LogGroupTest, TtccLayoutBecomesTheEquivalentPatternLayout)
{
    const Map p = mapped("log4j.appender.A=FileAppender\n"
                         "log4j.appender.A.layout=Log4Qt::TTCCLayout\n"
                         "log4j.appender.B=FileAppender\n"
                         "log4j.appender.B.layout=org.apache.log4j.TTCCLayout\n"
                         "log4j.appender.B.layout.DateFormat=ISO8601\n"
                         "log4j.appender.B.layout.ThreadPrinting=false\n"
                         "log4j.appender.C=FileAppender\n"
                         "log4j.appender.C.layout=TTCCLayout\n"
                         "log4j.appender.C.layout.dateformat=NONE\n"
                         "log4j.appender.C.layout.CategoryPrefixing=0\n");
    EXPECT_EQ(p["log4j.appender.A.layout"], "org.apache.log4j.PatternLayout");
    EXPECT_EQ(p["log4j.appender.A.layout.ConversionPattern"], "%r [%t] %-5p %c - %m%n");
    EXPECT_EQ(p["log4j.appender.B.layout"], "org.apache.log4j.PatternLayout");
    EXPECT_EQ(p["log4j.appender.B.layout.ConversionPattern"], "%d{ISO8601} %-5p %c - %m%n");
    EXPECT_EQ(p["log4j.appender.C.layout.ConversionPattern"], "[%t] %-5p - %m%n");
}

// Outside log/ (an absolute File the installer chose) log4cxx's own
// appenders write.
TEST_F(LogGroupTest, DailyRollingFileAppenderRollsFileIntoFilePlusDatePattern)
{
    const Map p = mapped("log4j.appender.A=Log4Qt::DailyRollingFileAppender\n"
                         "log4j.appender.A.File=/var/tmp/daily.log\n"
                         "log4j.appender.A.Append=false\n");
    const QString file = "/var/tmp/daily.log";
    EXPECT_EQ(p["log4j.appender.A"], "org.apache.log4j.rolling.RollingFileAppender");
    EXPECT_EQ(p["log4j.appender.A.File"], file);
    EXPECT_EQ(p["log4j.appender.A.rollingPolicy"], "org.apache.log4j.rolling.TimeBasedRollingPolicy");
    EXPECT_EQ(p["log4j.appender.A.rollingPolicy.FileNamePattern"], file + ".%d{yyyy-MM-dd}");
    EXPECT_EQ(p["log4j.appender.A.Append"], "false");
}

TEST_F(LogGroupTest, DatePatternsBecomeFileNamePatterns)
{
    const QList<QPair<QString, QString>> cases = {
        {"'.'yyyy-MM-dd", ".%d{yyyy-MM-dd}"},
        {"'.'yyyy-MM-dd-HH", ".%d{yyyy-MM-dd-HH}"},
        {"yyyy-MM-dd'.log'", "%d{yyyy-MM-dd}.log"},
        {"'_'yyyy-MM'_day_'dd", "_%d{yyyy-MM}_day_%d{dd}"},
        {"'.'yyyy-ww", ".%d{yyyy-ww}"},
        {"'''.'yyyy", "'.%d{yyyy}"},
        {"'it''s.'yyyy", "it's.%d{yyyy}"},
        {"'%'yyyy", "%%%d{yyyy}"},
        {"-'.'yyyy", "-.%d{yyyy}"},
        {"", ".%d{yyyy-MM-dd}"},
    };
    for (const auto &c : cases) {
        // QSettings reads a file again only when its size or time stamp (in
        // milliseconds) changed: the padding makes each rewrite differ.
        const Map p = mapped(QString("log4j.appender.A=DailyRollingFileAppender\n"
                                     "log4j.appender.A.File=/var/tmp/x.log\n"
                                     "log4j.appender.A.DatePattern=\"%1\"\n;%2\n")
                                 .arg(c.first, QString(20 * cases.indexOf(c), ' ')));
        EXPECT_EQ(p["log4j.appender.A.rollingPolicy.FileNamePattern"], "/var/tmp/x.log" + c.second) << c.first.toStdString();
        EXPECT_FALSE(p.contains("log4j.appender.A.DatePattern")) << c.first.toStdString();
    }
}

TEST_F(LogGroupTest, APercentSignInTheFileIsLiteralInTheFileNamePattern)
{
    const Map p = mapped("log4j.appender.A=DailyRollingFileAppender\nlog4j.appender.A.File=/var/tmp/100%\n");
    EXPECT_EQ(p["log4j.appender.A.rollingPolicy.FileNamePattern"], "/var/tmp/100%%.%d{yyyy-MM-dd}");
}

// log4cxx opens its files by name and would follow a link planted in log/:
// the file appenders writing there become ours, each bounded.
TEST_F(LogGroupTest, FileAppendersBelowTheLogDirectoryBecomeLogFileAppenders)
{
    const Map p = mapped("log4j.appender.plain=Log4Qt::FileAppender\n"
                         "log4j.appender.plain.File=plain\n"
                         "log4j.appender.sized=org.apache.log4j.RollingFileAppender\n"
                         "log4j.appender.sized.File=sub/sized\n"
                         "log4j.appender.sized.MaxFileSize=1MB\n"
                         "log4j.appender.daily=DailyRollingFileAppender\n"
                         "log4j.appender.daily.File=daily\n"
                         "log4j.appender.dated=DailyRollingFileAppender\n"
                         "log4j.appender.dated.File=" + install.logDir() + "dated.txt\n"
                         "log4j.appender.dated.DatePattern='.'yyyy-ww\n"
                         "log4j.appender.outside=org.apache.log4j.FileAppender\n"
                         "log4j.appender.outside.File=/var/tmp/outside.log\n"
                         "log4j.appender.escaping=Log4Qt::FileAppender\n"
                         "log4j.appender.escaping.File=../escaping\n"
                         "log4j.appender.console=org.apache.log4j.ConsoleAppender\n"
                         "log4j.appender.console.File=console\n");
    for (const QString name : {"plain", "sized", "daily", "dated"}) {
        EXPECT_EQ(p["log4j.appender." + name], "LogFileAppender") << name.toStdString();
        EXPECT_EQ(p["log4j.appender." + name + ".LogDirectory"], install.logDir()) << name.toStdString();
        EXPECT_EQ(p["log4j.appender." + name + ".Encoding"], "UTF-8") << name.toStdString();
    }
    EXPECT_EQ(p["log4j.appender.plain.MaxFileSize"], "100MB");
    EXPECT_EQ(p["log4j.appender.sized.MaxFileSize"], "1MB");
    EXPECT_EQ(p["log4j.appender.daily.DatePattern"], "'.'yyyy-MM-dd");
    EXPECT_EQ(p["log4j.appender.dated.DatePattern"], "'.'yyyy-ww");
    EXPECT_FALSE(p.contains("log4j.appender.daily.rollingPolicy"));
    EXPECT_EQ(p["log4j.appender.outside"], "org.apache.log4j.FileAppender");
    EXPECT_EQ(p["log4j.appender.escaping"], "org.apache.log4j.FileAppender");
    EXPECT_EQ(p["log4j.appender.console"], "org.apache.log4j.ConsoleAppender");
    for (const QString name : {"outside", "escaping", "console"})
        EXPECT_FALSE(p.contains("log4j.appender." + name + ".LogDirectory")) << name.toStdString();
}

// log4cxx's rolling package below log/: its policies become our
// appender's bounds, and a relative file name pattern lies in the
// installation, as it did when the installation was the current directory.
TEST_F(LogGroupTest, RollingPackageAppendersBelowTheLogDirectoryKeepTheirBounds)
{
    const QString rolling = "org.apache.log4j.rolling.";
    const Map p = mapped("log4j.appender.timed=" + rolling + "RollingFileAppender\n"
                         "log4j.appender.timed.File=timed\n"
                         "log4j.appender.timed.rollingPolicy=" + rolling + "TimeBasedRollingPolicy\n"
                         "log4j.appender.timed.rollingPolicy.FileNamePattern=log/timed.%d{yyyy-MM}.log\n"
                         "log4j.appender.window=" + rolling + "RollingFileAppender\n"
                         "log4j.appender.window.rollingPolicy=" + rolling + "FixedWindowRollingPolicy\n"
                         "log4j.appender.window.rollingPolicy.ActiveFileName=log/window.log\n"
                         "log4j.appender.window.rollingPolicy.FileNamePattern=log/window.%i.log\n"
                         "log4j.appender.window.rollingPolicy.MinIndex=2\n"
                         "log4j.appender.window.rollingPolicy.MaxIndex=4\n"
                         "log4j.appender.window.triggeringPolicy=" + rolling + "SizeBasedTriggeringPolicy\n"
                         "log4j.appender.window.triggeringPolicy.MaxFileSize=64KB\n"
                         "log4j.appender.elsewhere=" + rolling + "RollingFileAppender\n"
                         "log4j.appender.elsewhere.rollingPolicy=" + rolling + "TimeBasedRollingPolicy\n"
                         "log4j.appender.elsewhere.rollingPolicy.FileNamePattern=/var/tmp/elsewhere.%d\n");
    EXPECT_EQ(p["log4j.appender.timed"], "LogFileAppender");
    EXPECT_EQ(p["log4j.appender.timed.File"], install.logDir() + "timed.log");
    EXPECT_EQ(p["log4j.appender.timed.DatePattern"], "'.'yyyy-MM");
    EXPECT_EQ(p["log4j.appender.window"], "LogFileAppender");
    EXPECT_EQ(p["log4j.appender.window.File"], install.logDir() + "window.log");
    EXPECT_EQ(p["log4j.appender.window.MaxBackupIndex"], "3");
    EXPECT_EQ(p["log4j.appender.window.MaxFileSize"], "64KB");
    for (const QString name : {"timed", "window"}) {
        for (const QString &key : p.keys())
            EXPECT_FALSE(key.contains(name + ".rollingPolicy") || key.contains(name + ".triggeringPolicy")) << key.toStdString();
    }
    EXPECT_EQ(p["log4j.appender.elsewhere"], rolling + "RollingFileAppender");
    EXPECT_EQ(p["log4j.appender.elsewhere.rollingPolicy.FileNamePattern"], "/var/tmp/elsewhere.%d");
    const Map read = readMap("log4j.appender.r.rollingPolicy.FileNamePattern=log/r.%d\n");
    EXPECT_EQ(QDir::cleanPath(read["log4j.appender.r.rollingPolicy.FileNamePattern"]), QDir::cleanPath(install.logDir() + "r.%d"));
}

// The shipped configuration keeps log/ bounded: 10 MB and five rolled files.
TEST_F(LogGroupTest, TheShippedLogIsWrittenByTheBoundedAppender)
{
    QFile shipped(NEROVA_SOURCE_DIR "/conf/default.ini");
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    const Map p = toMap(readConfig(QString::fromUtf8(shipped.readAll())).log4cxxProperties());
    EXPECT_EQ(p["log4j.appender.file"], "LogFileAppender");
    EXPECT_EQ(p["log4j.appender.file.File"], install.logDir() + "nerova.log");
    EXPECT_EQ(p["log4j.appender.file.MaxFileSize"], "10MB");
    EXPECT_EQ(p["log4j.appender.file.MaxBackupIndex"], "5");
}

TEST_F(LogGroupTest, Log4QtFileAppenderWritesTheFile)
{
    applyAndLog("log4j.rootLogger=INFO, A\n"
                "log4j.appender.A=Log4Qt::FileAppender\n"
                "log4j.appender.A.File=plain\n"
                "log4j.appender.A.layout=Log4Qt::SimpleLayout\n");
    EXPECT_EQ(install.logText("plain.log"), "INFO - hello\n");
}

TEST_F(LogGroupTest, MappedTtccLayoutWritesTtccLines)
{
    applyAndLog("log4j.rootLogger=INFO, A\n"
                "log4j.appender.A=Log4Qt::FileAppender\n"
                "log4j.appender.A.File=ttcc.txt\n"
                "log4j.appender.A.layout=Log4Qt::TTCCLayout\n");
    const QRegularExpression line("^\\d+ \\[[^\\]]+\\] INFO  root - hello\n$");
    EXPECT_TRUE(line.match(install.logText("ttcc.txt")).hasMatch()) << install.logText("ttcc.txt").toStdString();
}

TEST_F(LogGroupTest, MappedDailyRollingFileAppenderWritesFileAndRollsOver)
{
    // Start early in a second, so that set-up and the first line share it.
    if (QTime::currentTime().msec() > 600)
        QTest::qSleep(1010 - QTime::currentTime().msec());
    readGroup("log4j.rootLogger=INFO, A\n"
              "log4j.appender.A=Log4Qt::DailyRollingFileAppender\n"
              "log4j.appender.A.File=daily\n"
              "log4j.appender.A.DatePattern='.'yyyy-MM-dd-HH-mm-ss\n"
              "log4j.appender.A.layout=Log4Qt::SimpleLayout\n")
        .apply();
    const QDateTime first = QDateTime::currentDateTime();
    NerovaLog::info(QString(), "first");
    EXPECT_EQ(install.logText("daily.log"), "INFO - first\n");

    // The next second's line goes to a fresh file; the old one is renamed.
    QTest::qSleep(1100 - first.time().msec());
    NerovaLog::info(QString(), "second");
    EXPECT_EQ(install.logText("daily.log"), "INFO - second\n");
    EXPECT_EQ(install.logText("daily.log." + first.toString("yyyy-MM-dd-HH-mm-ss")), "INFO - first\n")
        << QDir(install.logDir()).entryList(QDir::Files).join(' ').toStdString();
}

// Found by fuzzing: log4cxx threw out of the configuration (a date pattern
// all in quotes leaves the time based policy without a date), which ended
// the host when the file was reloaded from the event loop.
TEST_F(LogGroupTest, AGroupLog4cxxRefusesDoesNotThrow)
{
    EXPECT_NO_THROW(applyAndLog("log4j.rootLogger=INFO, A\n"
                                "log4j.appender.A=Log4Qt::DailyRollingFileAppender\n"
                                "log4j.appender.A.File=daily\n"
                                "log4j.appender.A.DatePattern='.log'\n"));
}

TEST_F(LogGroupTest, RollingFileAppenderKeepsItsSizeOptions)
{
    readGroup("log4j.rootLogger=INFO, A\n"
              "log4j.appender.A=Log4Qt::RollingFileAppender\n"
              "log4j.appender.A.File=sized\n"
              "log4j.appender.A.MaxFileSize=1KB\n"
              "log4j.appender.A.MaxBackupIndex=2\n"
              "log4j.appender.A.layout=Log4Qt::SimpleLayout\n")
        .apply();
    const QString text(100, 'x');
    for (int i = 0; i < 40; ++i)
        NerovaLog::info(QString(), text);
    EXPECT_TRUE(QFile::exists(install.logDir() + "sized.log.1"));
    EXPECT_TRUE(QFile::exists(install.logDir() + "sized.log.2"));
    EXPECT_FALSE(QFile::exists(install.logDir() + "sized.log.3"));
    EXPECT_LE(QFileInfo(install.logDir() + "sized.log").size(), 1024 + 120);
}

TEST_F(LogGroupTest, NonAsciiTextIsWrittenAsUtf8WhateverTheLocale)
{
    const QByteArray previous = setlocale(LC_ALL, nullptr);
    setlocale(LC_ALL, "C");
    readConfig(TestInstall::fileLogGroup("utf8")).apply();
    NerovaLog::info(QString(), QString::fromUtf8("\u5df2\u8fde\u63a5 caf\u00e9"));
    setlocale(LC_ALL, previous.constData());
    EXPECT_EQ(install.logText("utf8.log"), QString::fromUtf8("INFO root - \u5df2\u8fde\u63a5 caf\u00e9\n"));
}
