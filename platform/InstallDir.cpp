#include "InstallDir.h"

#include <QCoreApplication>
#include <QDir>

QString InstallDir::path()
{
    const QString home = qEnvironmentVariable("NEROVA_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(QDir(home).absolutePath());
    return QCoreApplication::applicationDirPath();
}
