#pragma once

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/helpers/charsetencoder.h>

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class RollingLogFile;

// The log's file appender: a log4cxx appender that writes its file only
// through a descriptor it verified (RollingLogFile), where log4cxx's own
// appenders open their files by name and would follow a link planted under
// it. Property files name it "LogFileAppender"; the Log group's file
// appenders under log/ become it. Options:
//   File            the file
//   LogDirectory    the directory others may write in that holds it (log/)
//   MaxFileSize     rolls by size at this many bytes ("10MB"; default 10 MB)
//   MaxBackupIndex  rolled files kept (default 1; 7 with a DatePattern)
//   DatePattern     rolls when the formatted date changes instead, into File
//                   + the date ("'.'yyyy-MM-dd")
//   Append          false: the file starts empty
//   Encoding        of the lines (default UTF-8)
// A file it must leave alone is named on the standard error with why, and
// its lines are dropped (or go to the standard error, see below).
class LogFileAppender : public log4cxx::AppenderSkeleton
{
public:
    // What log4cxx's object macros declare, written out: they expect to be
    // used inside its namespace.
    class ClassOfLogFileAppender : public log4cxx::helpers::Class
    {
    public:
        log4cxx::LogString getName() const override;
        log4cxx::helpers::Object *newInstance() const override;
    };
    const log4cxx::helpers::Class &getClass() const override;
    static const log4cxx::helpers::Class &getStaticClass();
    // Makes the class known to log4cxx by its name; called before a
    // configuration names it.
    static void registerClass();
    const void *cast(const log4cxx::helpers::Class &clazz) const override;
    bool instanceof(const log4cxx::helpers::Class &clazz) const override;

    static constexpr int defaultPeriodsKept = 7;

    LogFileAppender();
    ~LogFileAppender() override;

    void setOption(const log4cxx::LogString &option, const log4cxx::LogString &value) override;
    void activateOptions(log4cxx::helpers::Pool &pool) override;
    void close() override;
    bool requiresLayout() const override { return true; }

    // For a program run by an installer (the wizard): lines that cannot go to
    // their file go to the standard error instead.
    static void setStandardErrorFallback(bool enabled);
    // Takes every appender of this class off every logger (they close as
    // they go): for a library about to be unloaded while log4cxx stays.
    static void detachEverywhere();

protected:
    void append(const log4cxx::spi::LoggingEventPtr &event, log4cxx::helpers::Pool &pool) override;

private:
    QByteArray encoded(const log4cxx::LogString &text);
    void writeLocked(const QByteArray &bytes, qint64 nowUs);
    void reportProblems(bool linesWritten);

    std::mutex m_mutex;
    std::unique_ptr<RollingLogFile> m_file;
    log4cxx::helpers::CharsetEncoderPtr m_encoder;
    QString m_fileName;
    QString m_logDirectory;
    QString m_datePattern;
    QString m_encoding;
    qint64 m_maxFileSize = 10 * 1024 * 1024;
    int m_maxBackupIndex = -1;
    bool m_append = true;
    std::atomic<bool> m_reportedNoLayout{false};
};
