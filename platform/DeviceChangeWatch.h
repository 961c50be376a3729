#pragma once

#include <QHash>
#include <QStringList>

#include <mutex>

// Tells the device lists that the machine's devices may have changed: an
// inotify watch on the directories where device nodes and their udev links
// appear and go (a camera or a serial adapter plugged in or out creates or
// removes a node in /dev). Nothing waits and no thread runs: each call reads
// what the kernel has queued since the last one, so a call that finds
// nothing costs one read. Safe to use from any thread.
class DeviceChangeWatch
{
public:
    // Directories that do not exist yet are watched once they appear (a
    // watched parent reports their creation).
    explicit DeviceChangeWatch(const QStringList &directories);
    ~DeviceChangeWatch();
    DeviceChangeWatch(const DeviceChangeWatch &) = delete;
    DeviceChangeWatch &operator=(const DeviceChangeWatch &) = delete;

    // The watch of the machine's device directories the lists share.
    static DeviceChangeWatch &machine();

    // False when inotify could not be set up: then nothing is ever known to
    // be unchanged, and a list must be read afresh every time.
    bool isWatching() const { return m_fd >= 0; }

    // How many batches of changes were seen so far; a caller compares it
    // with the count of its last reading. A lost event (the kernel's queue
    // overflowed) counts as a change.
    quint64 changeCount();

private:
    void addMissingWatches();
    bool drainEvents();

    std::mutex m_mutex;
    int m_fd = -1;
    QStringList m_directories;
    QHash<int, QString> m_watched; // watch descriptor -> directory
    quint64 m_changes = 0;
};
