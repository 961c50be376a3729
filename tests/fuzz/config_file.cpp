// The configuration file's text, read as the library reads it: every key
// with Qt's conversion rules, the Log group turned into log4j properties,
// and those applied to log4cxx, which then writes a line at each level.
//
// The properties applied are confined to the temporary directory: only
// file appenders, every file name and file name pattern inside the log
// directory, no path separators in date patterns, no internal debugging.
// The unconfined group is still mapped in full.
#include "LogGroup.h"
#include "NerovaConfig.h"
#include "NerovaLog.h"
#include "TimerPeriod.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <log4cxx/logmanager.h>

#include <cstdlib>

namespace {

QString lastPart(const QString &key)
{
    return key.mid(key.lastIndexOf(QLatin1Char('.')) + 1).toLower();
}

LogGroup confined(LogGroup group, const QString &logDir)
{
    const QString appenderPrefix = QStringLiteral("log4j.appender.");
    LogGroup::Properties kept;
    for (auto entry : group.properties) {
        const QString &key = entry.first;
        const QString option = lastPart(key);
        if (key.startsWith(QLatin1String("log4j.debug")) || key.startsWith(QLatin1String("log4j.configDebug")))
            continue;
        if (key.startsWith(appenderPrefix) && !key.midRef(appenderPrefix.size()).contains(QLatin1Char('.'))
            && !entry.second.endsWith(QLatin1String("FileAppender")))
            entry.second = QStringLiteral("org.apache.log4j.FileAppender");
        else if (option == QLatin1String("file") || option == QLatin1String("activefilename"))
            entry.second = logDir + QStringLiteral("fuzz.log");
        else if (option == QLatin1String("filenamepattern"))
            entry.second = logDir + QStringLiteral("fuzz.%d{yyyy-MM-dd}.log");
        else if (option == QLatin1String("datepattern"))
            entry.second.remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
        kept.append(entry);
    }
    group.properties = kept;
    return group;
}

} // namespace

// log4cxx 1.0 frees a fixed-window rolling policy with the wrong size
// (inside the library, harmless with glibc), which AddressSanitizer stops at.
extern "C" const char *__asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir home;
    static int round = 0;
    // Appenders without a file name write relative to the working directory
    // (a rolling appender's backup ".1"), as the library's would in its own.
    static const bool inHome = QDir::setCurrent(home.path());
    if (!inHome)
        abort();
    const QString logDir = home.path() + QStringLiteral("/log/");
    QDir().mkpath(logDir);
    // A new file each round: QSettings caches a file it has read by name.
    const QString configFile = home.path() + QStringLiteral("/default%1.ini").arg(++round);
    QFile file(configFile);
    if (!file.open(QIODevice::WriteOnly))
        abort();
    file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    file.close();
    {
        QSettings settings(configFile, QSettings::IniFormat);
        const NerovaConfig config = NerovaConfig::read(settings);
        config.deviceCheckPeriodMs();
        timerPeriodMs(config.faceInterval);
        timerPeriodMs(config.probeInterval, 1000);

        const LogGroup group = LogGroup::read(settings, logDir);
        group.log4cxxProperties();
        confined(group, logDir).apply();
        const NerovaLog::Logger logger = NerovaLog::logger(group.loggerName);
        NerovaLog::trace(logger, QStringLiteral("trace line"));
        NerovaLog::info(logger, QStringLiteral("info line"));
        NerovaLog::error(logger, QStringLiteral("error line"));
    }
    log4cxx::LogManager::resetConfiguration();
    QFile::remove(configFile);
    QDir(logDir).removeRecursively();
    return 0;
}
