#include "InstallDir.h"

#include <QCoreApplication>
#include <QDir>

#include <mutex>

namespace {

// A host may change its current directory after loading the library: a
// relative NEROVA_HOME resolved again later would name another directory.
// Each text is resolved the first time it is seen and kept.
QString resolvedOnce(const QString &home)
{
    static std::mutex mutex;
    static QString lastText;
    static QString lastPath;
    std::lock_guard<std::mutex> lock(mutex);
    if (home != lastText || lastPath.isEmpty()) {
        lastText = home;
        lastPath = QDir::cleanPath(QDir(home).absolutePath());
    }
    return lastPath;
}

} // namespace

QString InstallDir::path()
{
    const QString home = qEnvironmentVariable("NEROVA_HOME");
    if (!home.isEmpty())
        return resolvedOnce(home);
    return QCoreApplication::applicationDirPath();
}
