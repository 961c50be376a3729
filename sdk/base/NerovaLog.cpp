#include "NerovaLog.h"

#include "LogSecrets.h"
#include "LogText.h"

#include <log4cxx/logger.h>
#include <log4cxx/logmanager.h>

#include <cstdio>

// log4cxx keeps its texts in UTF-8 here (LOG4CXX_LOGCHAR_IS_UTF8); handing it
// UTF-8 directly avoids its conversion from the process locale, which in a
// "C" locale would turn every non-ASCII character (the Chinese translation)
// into "?".
namespace {

void write(const NerovaLog::Logger &logger, const log4cxx::LevelPtr &level, const QString &text)
{
    if (logger->isEnabledFor(level))
        logger->forcedLogLS(level, LogText::safe(text).toStdString(), log4cxx::spi::LocationInfo::getLocationUnavailable());
}

} // namespace

namespace NerovaLog {

Logger logger(const QString &name)
{
    if (name.isEmpty())
        return log4cxx::Logger::getRootLogger();
    return log4cxx::LogManager::getLoggerLS(name.toStdString());
}

void makeLevels()
{
    log4cxx::Level::getTrace();
    log4cxx::Level::getInfo();
    log4cxx::Level::getError();
    LogSecrets::known();
}

void trace(const Logger &logger, const QString &text)
{
    write(logger, log4cxx::Level::getTrace(), text);
}

void info(const Logger &logger, const QString &text)
{
    write(logger, log4cxx::Level::getInfo(), text);
}

void error(const Logger &logger, const QString &text)
{
    write(logger, log4cxx::Level::getError(), text);
}

void trace(const QString &loggerName, const QString &text)
{
    trace(logger(loggerName), text);
}

void info(const QString &loggerName, const QString &text)
{
    info(logger(loggerName), text);
}

void error(const QString &loggerName, const QString &text)
{
    error(logger(loggerName), text);
}

void toStandardError(const QString &text)
{
    std::fprintf(stderr, "nerova: ERROR %s\n", LogText::safe(text).toLocal8Bit().constData());
    std::fflush(stderr);
}

void problem(const Logger &logger, const QString &text)
{
    toStandardError(text);
    error(logger, text);
}

void problem(const QString &loggerName, const QString &text)
{
    problem(logger(loggerName), text);
}

} // namespace NerovaLog
