#include "LogFileAppender.h"

#include "DatePattern.h"
#include "NerovaLog.h"
#include "RollingLogFile.h"

#include <log4cxx/helpers/bytebuffer.h>
#include <log4cxx/helpers/date.h>
#include <log4cxx/helpers/optionconverter.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/helpers/simpledateformat.h>
#include <log4cxx/helpers/stringhelper.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/spi/loggingevent.h>

#include <atomic>
#include <cstdio>
#include <vector>

using log4cxx::LogString;
using log4cxx::helpers::OptionConverter;
using log4cxx::helpers::StringHelper;

namespace {

std::atomic<bool> standardErrorFallback{false};

QString text(const LogString &value)
{
    return QString::fromStdString(value);
}

bool isOption(const LogString &option, const char *upper, const char *lower)
{
    return StringHelper::equalsIgnoreCase(option, upper, lower);
}

// The date of a time as a DatePattern writes it, worked out once a second.
class PeriodText
{
public:
    explicit PeriodText(const QString &datePattern)
    {
        for (const DatePattern::Part &part : DatePattern::parts(datePattern)) {
            m_parts.push_back({part.isField ? std::make_shared<log4cxx::helpers::SimpleDateFormat>(part.text.toStdString())
                                            : nullptr,
                               part.text});
        }
    }

    QString operator()(qint64 us)
    {
        const qint64 second = us / 1000000;
        if (second == m_second && !m_text.isNull())
            return m_text;
        m_second = second;
        m_text = QStringLiteral("");
        for (const Part &part : m_parts) {
            if (!part.format) {
                m_text += part.literal;
                continue;
            }
            LogString formatted;
            part.format->format(formatted, second * 1000000, m_pool);
            m_text += text(formatted);
        }
        return m_text;
    }

private:
    struct Part
    {
        std::shared_ptr<log4cxx::helpers::SimpleDateFormat> format;
        QString literal;
    };
    std::vector<Part> m_parts;
    log4cxx::helpers::Pool m_pool;
    qint64 m_second = -1;
    QString m_text;
};

} // namespace

log4cxx::LogString LogFileAppender::ClassOfLogFileAppender::getName() const
{
    return "LogFileAppender";
}

log4cxx::helpers::Object *LogFileAppender::ClassOfLogFileAppender::newInstance() const
{
    return new LogFileAppender();
}

const log4cxx::helpers::Class &LogFileAppender::getClass() const
{
    return getStaticClass();
}

const log4cxx::helpers::Class &LogFileAppender::getStaticClass()
{
    static const ClassOfLogFileAppender theClass;
    return theClass;
}

void LogFileAppender::registerClass()
{
    static const log4cxx::helpers::ClassRegistration registration(&LogFileAppender::getStaticClass);
}

const void *LogFileAppender::cast(const log4cxx::helpers::Class &clazz) const
{
    if (&clazz == &getStaticClass())
        return this;
    return AppenderSkeleton::cast(clazz);
}

bool LogFileAppender::instanceof(const log4cxx::helpers::Class &clazz) const
{
    return cast(clazz) != nullptr;
}

LogFileAppender::LogFileAppender() = default;

LogFileAppender::~LogFileAppender()
{
    close();
}

void LogFileAppender::setStandardErrorFallback(bool enabled)
{
    standardErrorFallback = enabled;
}

void LogFileAppender::detachEverywhere()
{
    log4cxx::LoggerList loggers = log4cxx::LogManager::getCurrentLoggers();
    loggers.push_back(log4cxx::LogManager::getRootLogger());
    for (const log4cxx::LoggerPtr &logger : loggers) {
        for (const log4cxx::AppenderPtr &appender : logger->getAllAppenders()) {
            if (appender->instanceof(getStaticClass()))
                logger->removeAppender(appender);
        }
    }
}

void LogFileAppender::setOption(const LogString &option, const LogString &value)
{
    if (isOption(option, "FILE", "file"))
        m_fileName = text(value);
    else if (isOption(option, "LOGDIRECTORY", "logdirectory"))
        m_logDirectory = text(value);
    else if (isOption(option, "MAXFILESIZE", "maxfilesize"))
        m_maxFileSize = OptionConverter::toFileSize(value, m_maxFileSize);
    else if (isOption(option, "MAXBACKUPINDEX", "maxbackupindex"))
        m_maxBackupIndex = OptionConverter::toInt(value, m_maxBackupIndex);
    else if (isOption(option, "DATEPATTERN", "datepattern"))
        m_datePattern = text(value);
    else if (isOption(option, "APPEND", "append"))
        m_append = OptionConverter::toBoolean(value, true);
    else if (isOption(option, "ENCODING", "encoding"))
        m_encoding = text(value);
    // Every line is written as it comes: the buffering options mean nothing here.
    else if (!isOption(option, "BUFFEREDIO", "bufferedio") && !isOption(option, "BUFFERSIZE", "buffersize")
             && !isOption(option, "IMMEDIATEFLUSH", "immediateflush"))
        AppenderSkeleton::setOption(option, value);
}

void LogFileAppender::activateOptions(log4cxx::helpers::Pool &pool)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fileName.isEmpty()) {
        NerovaLog::toStandardError(QStringLiteral("Log appender %1 has no File: its lines are not written")
                                       .arg(text(getName())));
        return;
    }
    RollingLogFile::Policy policy;
    policy.maxFileSize = m_maxFileSize;
    policy.append = m_append;
    if (m_datePattern.isEmpty()) {
        policy.maxBackups = m_maxBackupIndex < 0 ? 1 : m_maxBackupIndex;
    } else {
        policy.maxBackups = m_maxBackupIndex < 0 ? defaultPeriodsKept : m_maxBackupIndex;
        policy.periodOf = [period = std::make_shared<PeriodText>(m_datePattern)](qint64 us) { return (*period)(us); };
        policy.periodRegex = DatePattern::regex(m_datePattern);
    }
    const QString encoding = m_encoding.toUpper();
    m_encoder = encoding.isEmpty() || encoding == QLatin1String("UTF-8") || encoding == QLatin1String("UTF8")
        ? nullptr
        : log4cxx::helpers::CharsetEncoder::getEncoder(m_encoding.toStdString());
    m_file = std::make_unique<RollingLogFile>(m_logDirectory, m_fileName, policy);
    const qint64 nowUs = log4cxx::helpers::Date::currentTime();
    const bool opened = m_file->open(nowUs);
    LogString header;
    if (getLayout())
        getLayout()->appendHeader(header, pool);
    if (!header.empty())
        writeLocked(encoded(header), nowUs);
    reportProblems(opened);
}

void LogFileAppender::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_file)
        return;
    LogString footer;
    log4cxx::helpers::Pool pool;
    if (getLayout())
        getLayout()->appendFooter(footer, pool);
    if (!footer.empty())
        writeLocked(encoded(footer), log4cxx::helpers::Date::currentTime());
    m_file.reset();
}

void LogFileAppender::append(const log4cxx::spi::LoggingEventPtr &event, log4cxx::helpers::Pool &pool)
{
    const log4cxx::LayoutPtr layout = getLayout();
    if (!layout) {
        if (!m_reportedNoLayout.exchange(true))
            NerovaLog::toStandardError(QStringLiteral("Log appender %1 has no layout: its lines are dropped").arg(text(getName())));
        return;
    }
    LogString line;
    layout->format(line, event, pool);
    const QByteArray bytes = encoded(line);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file)
        writeLocked(bytes, event->getTimeStamp());
}

void LogFileAppender::writeLocked(const QByteArray &bytes, qint64 nowUs)
{
    const bool written = m_file->write(bytes, nowUs);
    reportProblems(written);
    if (!written && standardErrorFallback) {
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
        std::fflush(stderr);
    }
}

void LogFileAppender::reportProblems(bool linesWritten)
{
    QString consequence;
    if (!linesWritten)
        consequence = standardErrorFallback ? QStringLiteral("; its lines go to the standard error meanwhile")
                                            : QStringLiteral("; its lines are dropped meanwhile");
    for (const QString &problem : m_file->takeProblems())
        NerovaLog::toStandardError(problem + consequence);
}

QByteArray LogFileAppender::encoded(const LogString &line)
{
    if (!m_encoder)
        return QByteArray(line.data(), static_cast<int>(line.size()));
    QByteArray bytes;
    char buffer[1024];
    auto next = line.cbegin();
    while (next != line.cend()) {
        log4cxx::helpers::ByteBuffer out(buffer, sizeof buffer);
        const auto before = next;
        log4cxx::helpers::CharsetEncoder::encode(m_encoder, line, next, out);
        out.flip();
        bytes.append(out.data(), static_cast<int>(out.limit()));
        if (next == before && out.limit() == 0)
            break;
    }
    return bytes;
}
