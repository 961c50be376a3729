#pragma once

#include <QString>

// Writes one line to a log4cxx logger; an empty name is the root logger.
// Each checks the level first, so a disabled line costs one check.
namespace NerovaLog {
void trace(const QString &loggerName, const QString &text);
void info(const QString &loggerName, const QString &text);
void error(const QString &loggerName, const QString &text);
} // namespace NerovaLog
