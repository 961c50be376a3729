#pragma once

#include <QString>

#include <memory>

namespace log4cxx {
class Logger;
}

// Writes one line to a log4cxx logger; an empty name is the root logger.
// Each checks the level first, so a disabled line costs one check (plus,
// for the name forms, the look-up of the logger).
namespace NerovaLog {

using Logger = std::shared_ptr<log4cxx::Logger>;

// The logger of this name, for callers that log through it many times;
// log4cxx keeps it valid across reconfigurations.
Logger logger(const QString &name);

void trace(const Logger &logger, const QString &text);
void info(const Logger &logger, const QString &text);
void error(const Logger &logger, const QString &text);

void trace(const QString &loggerName, const QString &text);
void info(const QString &loggerName, const QString &text);
void error(const QString &loggerName, const QString &text);

// log4cxx makes each level on its first use and frees it at exit in the
// reverse order: made now, the levels (and the secrets the log masks)
// outlive an exit handler registered after this call, which may still log
// while it ends a worker.
void makeLevels();

// "nerova: ERROR <text>" on the standard error alone: for what cannot go
// to the log (the log itself).
void toStandardError(const QString &text);

// An ERROR line the installer must see even where no log is configured: it
// is also written to the standard error, as "nerova: ERROR <text>".
void problem(const Logger &logger, const QString &text);
void problem(const QString &loggerName, const QString &text);

} // namespace NerovaLog
