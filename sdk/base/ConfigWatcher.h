#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

// Watches the configuration file and reports every change of it, also when
// an editor replaces the file (writes a temporary file and renames it over
// the old one): the new file is watched again and the change reported.
class ConfigWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ConfigWatcher(const QString &filePath, QObject *parent = nullptr);

signals:
    void fileChanged(const QString &path);

private:
    void onFileChanged(const QString &path);
    void onDirectoryChanged(const QString &path);
    void watchFile();
    bool isWatchingCurrentFile() const;

    QString m_filePath;
    QFileSystemWatcher m_watcher;
    // The inode the file watch is on (0: none); a rename over the file
    // brings another one.
    quint64 m_watchedInode = 0;
};
