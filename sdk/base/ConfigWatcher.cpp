#include "ConfigWatcher.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

quint64 inodeOf(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_ino;
}

} // namespace

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

// Puts the watch on the file now at the path, dropping one left on a
// replaced file. Nothing is watched while the file does not exist.
void ConfigWatcher::watchFile()
{
    if (isWatchingCurrentFile())
        return;
    if (m_watcher.files().contains(m_filePath))
        m_watcher.removePath(m_filePath);
    m_watchedInode = 0;
    const quint64 inode = inodeOf(m_filePath);
    if (inode != 0 && m_watcher.addPath(m_filePath))
        m_watchedInode = inode;
}

bool ConfigWatcher::isWatchingCurrentFile() const
{
    return m_watchedInode != 0 && m_watcher.files().contains(m_filePath) && inodeOf(m_filePath) == m_watchedInode;
}

// A file replaced by rename drops out of the watch list, or (while another
// program keeps the old file open) stays in it on the old file; either way
// the file now at the path is watched from here on.
void ConfigWatcher::onFileChanged(const QString &path)
{
    watchFile();
    emit fileChanged(path);
}

// The directory changes when the file is created, deleted or renamed over;
// only a file that is not yet watched is new, and its arrival is a change.
void ConfigWatcher::onDirectoryChanged(const QString &)
{
    if (isWatchingCurrentFile() || !QFileInfo::exists(m_filePath))
        return;
    watchFile();
    emit fileChanged(m_filePath);
}
