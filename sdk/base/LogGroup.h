#pragma once

#include <QList>
#include <QPair>
#include <QString>

class QSettings;

// The Log group of the configuration turned into log4j properties.
struct LogGroup
{
    // Key and value pairs in the order the group lists them; a later key
    // replaces an earlier entry of the same key.
    QList<QPair<QString, QString>> properties;
    // The rest of the last "log4j.logger." key; empty when there is none.
    QString loggerName;

    // Reads the Log group: "#" keys are skipped, relative ".File" values are
    // placed under logDir (which ends with "/") and get ".log" unless they
    // end with ".log" or ".txt".
    static LogGroup read(QSettings &settings, const QString &logDir);

    // The properties with the class names written for Log4Qt mapped to the
    // ones log4cxx knows.
    QList<QPair<QString, QString>> log4cxxProperties() const;

    // Configures log4cxx with log4cxxProperties(); the result is not checked.
    void apply() const;
};
