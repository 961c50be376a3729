#include "ConfigWatcher.h"

#include <QFileInfo>

ConfigWatcher::ConfigWatcher(const QString &filePath, QObject *parent)
    : QObject(parent), m_filePath(filePath)
{
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &ConfigWatcher::onFileChanged);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &ConfigWatcher::onDirectoryChanged);
    const QString directory = QFileInfo(filePath).absolutePath();
    if (QFileInfo(directory).isDir())
        m_watcher.addPath(directory);
    watchFile();
}

// Adding a path that is already watched or does not exist does nothing.
void ConfigWatcher::watchFile()
{
    if (!m_watcher.files().contains(m_filePath) && QFileInfo::exists(m_filePath))
        m_watcher.addPath(m_filePath);
}

// A file replaced by rename drops out of the watch list; it is added again
// as soon as it exists again.
void ConfigWatcher::onFileChanged(const QString &path)
{
    watchFile();
    emit fileChanged(path);
}

// The directory changes when the file is created, deleted or renamed over;
// only then does the file need watching again, and the change is reported.
void ConfigWatcher::onDirectoryChanged(const QString &)
{
    if (m_watcher.files().contains(m_filePath) || !QFileInfo::exists(m_filePath))
        return;
    watchFile();
    emit fileChanged(m_filePath);
}
