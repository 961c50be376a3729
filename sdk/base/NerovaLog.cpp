#include "NerovaLog.h"

#include <log4cxx/logger.h>

namespace {

log4cxx::LoggerPtr loggerNamed(const QString &name)
{
    if (name.isEmpty())
        return log4cxx::Logger::getRootLogger();
    return log4cxx::Logger::getLogger(name.toStdString());
}

void write(const QString &loggerName, const log4cxx::LevelPtr &level, const QString &text)
{
    const log4cxx::LoggerPtr logger = loggerNamed(loggerName);
    if (logger->isEnabledFor(level))
        logger->forcedLog(level, text.toStdString(), log4cxx::spi::LocationInfo::getLocationUnavailable());
}

} // namespace

namespace NerovaLog {

void trace(const QString &loggerName, const QString &text)
{
    write(loggerName, log4cxx::Level::getTrace(), text);
}

void info(const QString &loggerName, const QString &text)
{
    write(loggerName, log4cxx::Level::getInfo(), text);
}

void error(const QString &loggerName, const QString &text)
{
    write(loggerName, log4cxx::Level::getError(), text);
}

} // namespace NerovaLog
