#include "LogGroup.h"

#include "NerovaConfig.h"

#include <QFileInfo>
#include <QSettings>

#include <log4cxx/helpers/properties.h>
#include <log4cxx/propertyconfigurator.h>

namespace {

const QString loggerPrefix = QStringLiteral("log4j.logger.");

QString placedFileValue(const QString &value, const QString &logDir)
{
    if (!QFileInfo(value).isRelative())
        return value;
    QString placed = logDir + value;
    if (!placed.endsWith(QLatin1String(".log")) && !placed.endsWith(QLatin1String(".txt")))
        placed += QLatin1String(".log");
    return placed;
}

void putProperty(QList<QPair<QString, QString>> &properties, const QString &key, const QString &value)
{
    for (auto &entry : properties) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    properties.append({key, value});
}

} // namespace

LogGroup LogGroup::read(QSettings &settings, const QString &logDir)
{
    LogGroup group;
    settings.beginGroup(QStringLiteral("Log"));
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        if (key.trimmed().startsWith(QLatin1Char('#')))
            continue;
        QString value = NerovaConfig::textValue(settings.value(key));
        if (key.endsWith(QLatin1String(".File")))
            value = placedFileValue(value, logDir);
        else if (key.startsWith(loggerPrefix))
            group.loggerName = key.mid(loggerPrefix.size());
        putProperty(group.properties, key, value);
    }
    settings.endGroup();
    return group;
}

QList<QPair<QString, QString>> LogGroup::log4cxxProperties() const
{
    QList<QPair<QString, QString>> mapped;
    for (const auto &entry : properties) {
        QString value = entry.second;
        if (value.startsWith(QLatin1String("Log4Qt::")))
            value = QStringLiteral("org.apache.log4j.") + value.mid(8);
        mapped.append({entry.first, value});
    }
    return mapped;
}

void LogGroup::apply() const
{
    log4cxx::helpers::Properties props;
    for (const auto &entry : log4cxxProperties())
        props.setProperty(entry.first.toStdString(), entry.second.toStdString());
    log4cxx::PropertyConfigurator::configure(props);
}
