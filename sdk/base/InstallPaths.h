#pragma once

#include <QString>

// The paths of one installation directory, resolved once to absolute paths
// (a relative NEROVA_HOME against the directory the process started in).
// Directories end with "/".
struct InstallPaths
{
    QString applicationDir; // without a trailing "/"
    QString configDir;
    QString configFile;
    QString logDir;
    QString dataDir;
    QString debugDir;
    QString translationFile;

    static InstallPaths current();
    static InstallPaths of(const QString &applicationDir);
};
