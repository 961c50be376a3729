#include "LogGroup.h"

#include "ConfigKeys.h"
#include "DatePattern.h"
#include "LogFileAppender.h"
#include "NerovaConfig.h"
#include "NerovaLog.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <log4cxx/helpers/properties.h>
#include <log4cxx/propertyconfigurator.h>

#include <algorithm>

namespace {

using Properties = LogGroup::Properties;

const QString loggerPrefix = QStringLiteral("log4j.logger.");
const QString appenderPrefix = QStringLiteral("log4j.appender.");

QString placedFileValue(const QString &value, const QString &logDir)
{
    if (!QFileInfo(value).isRelative())
        return value;
    QString placed = logDir + value;
    if (!placed.endsWith(QLatin1String(".log")) && !placed.endsWith(QLatin1String(".txt")))
        placed += QLatin1String(".log");
    return placed;
}

// The rolling policies' file names, relative to the installation (the
// library does not make it the current directory).
bool isPolicyFileKey(const QString &key)
{
    return key.endsWith(QLatin1String(".FileNamePattern"), Qt::CaseInsensitive)
        || key.endsWith(QLatin1String(".ActiveFileName"), Qt::CaseInsensitive);
}

QString installationDir(const QString &logDir)
{
    return QFileInfo(QDir::cleanPath(logDir)).path();
}

void putProperty(Properties &properties, const QString &key, const QString &value)
{
    for (auto &entry : properties) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    properties.append({key, value});
}

// log4cxx reads an object's options ("log4j.appender.A.File") in any letter
// case, so they are looked up the same way.
int optionIndex(const Properties &properties, const QString &objectKey, const QString &option)
{
    const QString key = objectKey + QLatin1Char('.') + option;
    for (int i = 0; i < properties.size(); ++i) {
        if (properties[i].first.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString optionValue(const Properties &properties, const QString &objectKey, const QString &option)
{
    const int index = optionIndex(properties, objectKey, option);
    return index < 0 ? QString() : properties[index].second;
}

QString takeOption(Properties &properties, const QString &objectKey, const QString &option)
{
    const int index = optionIndex(properties, objectKey, option);
    return index < 0 ? QString() : properties.takeAt(index).second;
}

// "log4j.appender.A" names the class of appender A; its options have one
// more part ("log4j.appender.A.File").
bool isAppenderKey(const QString &key)
{
    return key.startsWith(appenderPrefix) && key.size() > appenderPrefix.size()
        && !key.midRef(appenderPrefix.size()).contains(QLatin1Char('.'));
}

// "Log4Qt::FileAppender", "org.apache.log4j.FileAppender" and
// "FileAppender" all name FileAppender.
QString simpleClassName(const QString &className)
{
    const QString afterNamespace = className.mid(className.lastIndexOf(QLatin1Char(':')) + 1);
    return afterNamespace.mid(afterNamespace.lastIndexOf(QLatin1Char('.')) + 1);
}

QString log4jClassName(const QString &value)
{
    if (value.startsWith(QLatin1String("Log4Qt::")))
        return QStringLiteral("org.apache.log4j.") + value.mid(8);
    return value;
}

QString literalInPattern(const QString &text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('%'), QLatin1String("%%"));
}

// A Log4j DatePattern ("'.'yyyy-MM-dd") in the form of log4cxx's file name
// patterns (".%d{yyyy-MM-dd}").
QString fileNameDatePattern(const QString &datePattern)
{
    QString pattern;
    for (const DatePattern::Part &part : DatePattern::parts(datePattern))
        pattern += part.isField ? QStringLiteral("%d{") + part.text + QLatin1Char('}') : literalInPattern(part.text);
    return pattern;
}

// log4cxx has no DailyRollingFileAppender: the rolling appender with a time
// based policy writes File and renames it to File + DatePattern when the
// formatted date changes, as the daily appender does.
void mapDailyRollingFileAppender(Properties &properties, const QString &appenderKey)
{
    putProperty(properties, appenderKey, QStringLiteral("org.apache.log4j.rolling.RollingFileAppender"));
    QString datePattern = takeOption(properties, appenderKey, QStringLiteral("DatePattern"));
    if (datePattern.isEmpty())
        datePattern = QStringLiteral("'.'yyyy-MM-dd");
    const QString file = optionValue(properties, appenderKey, QStringLiteral("File"));
    if (file.isEmpty())
        return;
    const QString policyKey = appenderKey + QStringLiteral(".rollingPolicy");
    putProperty(properties, policyKey, QStringLiteral("org.apache.log4j.rolling.TimeBasedRollingPolicy"));
    putProperty(properties, policyKey + QStringLiteral(".FileNamePattern"),
                literalInPattern(file) + fileNameDatePattern(datePattern));
}

bool isSwitchedOff(const QString &value)
{
    return value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || value == QLatin1String("0");
}

QString ttccDatePart(const QString &dateFormat)
{
    const QString format = dateFormat.toUpper();
    if (format.isEmpty() || format == QLatin1String("RELATIVE") || format == QLatin1String("TIME_RELATIVE"))
        return QStringLiteral("%r");
    if (format == QLatin1String("NONE"))
        return QString();
    if (format == QLatin1String("TIME_ABSOLUTE"))
        return QStringLiteral("%d{ABSOLUTE}");
    return QStringLiteral("%d{") + dateFormat + QLatin1Char('}');
}

// TTCCLayout writes "%d{DateFormat} [%t] %-5p %c %x - %m%n" with its parts
// switched by its options. The context (%x) is left out: the library keeps
// no nested context, and log4cxx would write "null" for the empty one.
void mapTtccLayout(Properties &properties, const QString &layoutKey)
{
    putProperty(properties, layoutKey, QStringLiteral("org.apache.log4j.PatternLayout"));
    QString pattern = ttccDatePart(optionValue(properties, layoutKey, QStringLiteral("DateFormat")));
    if (!isSwitchedOff(optionValue(properties, layoutKey, QStringLiteral("ThreadPrinting"))))
        pattern += QStringLiteral(" [%t]");
    pattern += QStringLiteral(" %-5p");
    if (!isSwitchedOff(optionValue(properties, layoutKey, QStringLiteral("CategoryPrefixing"))))
        pattern += QStringLiteral(" %c");
    pattern += QStringLiteral(" - %m%n");
    if (pattern.startsWith(QLatin1Char(' ')))
        pattern.remove(0, 1);
    putProperty(properties, layoutKey + QStringLiteral(".ConversionPattern"), pattern);
}

QString classOf(const Properties &properties, const QString &key)
{
    for (const auto &entry : properties) {
        if (entry.first == key)
            return simpleClassName(entry.second);
    }
    return QString();
}

// The file an appender writes: its File, or the active file of a rolling
// policy of log4cxx's rolling package.
QString appenderFile(const Properties &properties, const QString &appenderKey)
{
    const QString file = optionValue(properties, appenderKey, QStringLiteral("File"));
    return file.isEmpty() ? optionValue(properties, appenderKey + QStringLiteral(".rollingPolicy"), QStringLiteral("ActiveFileName"))
                          : file;
}

// Every file appender (log4j's, Log4Qt's and those of log4cxx's rolling
// package) writing below the log directory.
bool writesBelow(const Properties &properties, const QString &appenderKey, const QString &logDir)
{
    const QString kind = classOf(properties, appenderKey);
    const QString below = QDir::cleanPath(logDir) + QLatin1Char('/');
    return !logDir.isEmpty() && kind.endsWith(QLatin1String("FileAppender"))
        && QDir::cleanPath(appenderFile(properties, appenderKey)).startsWith(below);
}

// The date of a file name pattern's "%d{yyyy-MM}" as a DatePattern
// ("'.'yyyy-MM"); "%d" alone is a day.
QString datePatternOf(const QString &fileNamePattern)
{
    const QRegularExpression date(QStringLiteral("%d(\\{([^}]*)\\})?"));
    const QRegularExpressionMatch found = date.match(fileNamePattern);
    if (!found.hasMatch() || found.captured(2).isEmpty())
        return QStringLiteral("'.'yyyy-MM-dd");
    return QStringLiteral("'.'") + found.captured(2);
}

void putWhenAbsent(Properties &properties, const QString &appenderKey, const QString &option, const QString &value)
{
    if (optionIndex(properties, appenderKey, option) < 0 && !value.isEmpty())
        putProperty(properties, appenderKey + QLatin1Char('.') + option, value);
}

// The bounds a rolling package's policies give, in our appender's options:
// a time based policy rolls File into File + the date of its pattern, a
// fixed window keeps its window's size of files, a size trigger rolls at
// its size. The policies themselves go.
void mapRollingPolicies(Properties &properties, const QString &appenderKey)
{
    const QString policyKey = appenderKey + QStringLiteral(".rollingPolicy");
    const QString triggerKey = appenderKey + QStringLiteral(".triggeringPolicy");
    const QString policy = classOf(properties, policyKey);
    if (policy == QLatin1String("TimeBasedRollingPolicy"))
        putWhenAbsent(properties, appenderKey, QStringLiteral("DatePattern"),
                      datePatternOf(optionValue(properties, policyKey, QStringLiteral("FileNamePattern"))));
    if (policy == QLatin1String("FixedWindowRollingPolicy")) {
        bool ok = false;
        const int maxIndex = optionValue(properties, policyKey, QStringLiteral("MaxIndex")).toInt(&ok);
        const int minIndex = optionValue(properties, policyKey, QStringLiteral("MinIndex")).toInt();
        putWhenAbsent(properties, appenderKey, QStringLiteral("MaxBackupIndex"),
                      QString::number(std::max((ok ? maxIndex : 7) - std::max(minIndex, 1) + 1, 0)));
    }
    if (classOf(properties, triggerKey) == QLatin1String("SizeBasedTriggeringPolicy"))
        putWhenAbsent(properties, appenderKey, QStringLiteral("MaxFileSize"),
                      optionValue(properties, triggerKey, QStringLiteral("MaxFileSize")));
    putWhenAbsent(properties, appenderKey, QStringLiteral("File"), appenderFile(properties, appenderKey));
    for (int i = properties.size() - 1; i >= 0; --i) {
        const QString &key = properties[i].first;
        if (key.compare(policyKey, Qt::CaseInsensitive) == 0 || key.compare(triggerKey, Qt::CaseInsensitive) == 0
            || key.startsWith(policyKey + QLatin1Char('.'), Qt::CaseInsensitive)
            || key.startsWith(triggerKey + QLatin1Char('.'), Qt::CaseInsensitive))
            properties.removeAt(i);
    }
}

// log4cxx opens its files by name, following a link planted under it: the
// files below log/ are written by our appender, which rolls every one of
// them (a plain file at 100 MB, into one backup).
void mapToLogFileAppender(Properties &properties, const QString &appenderKey, const QString &logDir)
{
    const QString kind = classOf(properties, appenderKey);
    mapRollingPolicies(properties, appenderKey);
    putProperty(properties, appenderKey, QStringLiteral("LogFileAppender"));
    putProperty(properties, appenderKey + QStringLiteral(".LogDirectory"), logDir);
    if (kind == QLatin1String("DailyRollingFileAppender"))
        putWhenAbsent(properties, appenderKey, QStringLiteral("DatePattern"), QStringLiteral("'.'yyyy-MM-dd"));
    if (kind == QLatin1String("FileAppender"))
        putWhenAbsent(properties, appenderKey, QStringLiteral("MaxFileSize"), QStringLiteral("100MB"));
}

void mapAppender(Properties &properties, const QString &appenderKey, const QString &logDir)
{
    if (writesBelow(properties, appenderKey, logDir))
        mapToLogFileAppender(properties, appenderKey, logDir);
    else if (classOf(properties, appenderKey) == QLatin1String("DailyRollingFileAppender"))
        mapDailyRollingFileAppender(properties, appenderKey);
    const QString layoutKey = appenderKey + QStringLiteral(".layout");
    if (classOf(properties, layoutKey) == QLatin1String("TTCCLayout"))
        mapTtccLayout(properties, layoutKey);
    if (optionIndex(properties, appenderKey, QStringLiteral("Encoding")) < 0)
        putProperty(properties, appenderKey + QStringLiteral(".Encoding"), QStringLiteral("UTF-8"));
}

} // namespace

LogGroup LogGroup::read(QSettings &settings, const QString &logDir)
{
    LogGroup group;
    group.logDir = logDir;
    settings.beginGroup(QLatin1String(ConfigKeys::Log));
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        if (key.trimmed().startsWith(QLatin1Char('#')))
            continue;
        QString value = NerovaConfig::textValue(settings.value(key));
        if (key.endsWith(QLatin1String(".File")))
            value = placedFileValue(value, logDir);
        else if (isPolicyFileKey(key) && QFileInfo(value).isRelative())
            value = installationDir(logDir) + QLatin1Char('/') + value;
        else if (key.startsWith(loggerPrefix))
            group.loggerName = key.mid(loggerPrefix.size());
        putProperty(group.properties, key, value);
    }
    settings.endGroup();
    return group;
}

LogGroup::Properties LogGroup::log4cxxProperties() const
{
    Properties mapped;
    for (const auto &entry : properties)
        mapped.append({entry.first, log4jClassName(entry.second)});
    for (const auto &entry : properties) {
        if (isAppenderKey(entry.first))
            mapAppender(mapped, entry.first, logDir);
    }
    return mapped;
}

// log4cxx keeps its texts in UTF-8 here (LOG4CXX_LOGCHAR_IS_UTF8), so keys
// and values go in without a locale-dependent conversion.
// log4cxx throws on some option sets (a rolling policy whose file name
// pattern has no date): logged through what log4cxx did set up, never
// thrown into the host or the event loop that reloads the file.
void LogGroup::apply() const
{
    LogFileAppender::registerClass();
    log4cxx::helpers::Properties props;
    for (const auto &entry : log4cxxProperties())
        props.setProperty(entry.first.toStdString(), entry.second.toStdString());
    try {
        log4cxx::PropertyConfigurator::configure(props);
    } catch (const std::exception &e) {
        NerovaLog::error(QString(), QStringLiteral("The Log group could not be applied: %1").arg(QString::fromUtf8(e.what())));
    }
}
