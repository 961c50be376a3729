#include "InstallPaths.h"

#include "InstallDir.h"

InstallPaths InstallPaths::current()
{
    return of(InstallDir::path());
}

InstallPaths InstallPaths::of(const QString &applicationDir)
{
    InstallPaths paths;
    paths.applicationDir = applicationDir;
    paths.configDir = applicationDir + QStringLiteral("/conf/");
    paths.configFile = paths.configDir + QStringLiteral("default.ini");
    paths.logDir = applicationDir + QStringLiteral("/log/");
    paths.dataDir = applicationDir + QStringLiteral("/data/");
    paths.debugDir = applicationDir + QStringLiteral("/debug/");
    paths.translationFile = applicationDir + QStringLiteral("/lang/zh-CN.lng");
    return paths;
}
