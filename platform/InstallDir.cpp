#include "InstallDir.h"

#include <QCoreApplication>
#include <QDir>

#include <mutex>

namespace {

// The library makes the installation directory the current directory, so a
// relative NEROVA_HOME resolved again later would point one level deeper.
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
