#pragma once

#include <QList>
#include <QPair>
#include <QString>

class QSettings;

// The Log group of the configuration turned into log4j properties.
struct LogGroup
{
    using Properties = QList<QPair<QString, QString>>;

    // Key and value pairs in the order the group lists them; a later key
    // replaces an earlier entry of the same key.
    Properties properties;
    // The rest of the last "log4j.logger." key; empty when there is none.
    QString loggerName;
    // Where relative ".File" values were placed (ending with "/").
    QString logDir;

    // Reads the Log group: "#" keys are skipped, relative ".File" values are
    // placed under logDir (which ends with "/") and get ".log" unless they
    // end with ".log" or ".txt"; relative file names of rolling policies
    // (".FileNamePattern", ".ActiveFileName") are placed in the
    // installation, logDir's parent.
    static LogGroup read(QSettings &settings, const QString &logDir);

    // The properties in the form log4cxx reads: class names written for
    // Log4Qt ("Log4Qt::FileAppender") get log4j's package; a TTCCLayout
    // becomes the PatternLayout that writes the same line; a
    // DailyRollingFileAppender becomes a RollingFileAppender with a time based
    // policy that rolls File into File + DatePattern; appenders without an
    // Encoding write UTF-8, as Log4Qt did with the core's UTF-8 locale codec.
    // Every file appender writing below logDir (log4j's and those of
    // log4cxx's rolling package) becomes LogFileAppender, which rolls each
    // of them: a rolling package's policies become its DatePattern,
    // MaxBackupIndex and MaxFileSize.
    Properties log4cxxProperties() const;

    // Configures log4cxx with log4cxxProperties(); the result is not checked.
    void apply() const;
};
