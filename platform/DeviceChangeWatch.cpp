#include "DeviceChangeWatch.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Writes to a node (/dev/null, a terminal) report IN_MODIFY on /dev many
// times a second; only nodes and links that come and go matter here.
const uint32_t watchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF
    | IN_ONLYDIR;

} // namespace

DeviceChangeWatch::DeviceChangeWatch(const QStringList &directories)
    : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    , m_directories(directories)
{
    if (m_fd < 0) {
        std::fprintf(stderr,
                     "nerova: cannot watch the device directories (inotify: %s); every device check lists the "
                     "cameras and serial ports afresh. Raise fs.inotify.max_user_instances if it is exhausted.\n",
                     std::strerror(errno));
        return;
    }
    addMissingWatches();
}

DeviceChangeWatch::~DeviceChangeWatch()
{
    if (m_fd >= 0)
        close(m_fd);
}

DeviceChangeWatch &DeviceChangeWatch::machine()
{
    // The udev links come after the node, once udev has read the device:
    // their events tell the lists that the device's identifiers are known.
    static DeviceChangeWatch watch({QStringLiteral("/dev"), QStringLiteral("/dev/serial"),
                                    QStringLiteral("/dev/serial/by-id"), QStringLiteral("/dev/v4l"),
                                    QStringLiteral("/dev/v4l/by-id")});
    return watch;
}

quint64 DeviceChangeWatch::changeCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd >= 0 && drainEvents()) {
        ++m_changes;
        addMissingWatches();
    }
    return m_changes;
}

void DeviceChangeWatch::addMissingWatches()
{
    for (const QString &directory : std::as_const(m_directories)) {
        if (m_watched.key(directory, -1) >= 0)
            continue;
        const int descriptor = inotify_add_watch(m_fd, QFile::encodeName(directory).constData(), watchedEvents);
        if (descriptor >= 0)
            m_watched.insert(descriptor, directory);
    }
}

// True when anything was queued. A directory that went away (IN_IGNORED
// follows its removal) is watched again when it comes back.
bool DeviceChangeWatch::drainEvents()
{
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        const ssize_t length = read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            return changed;
        changed = true;
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            if (event->mask & IN_IGNORED)
                m_watched.remove(event->wd);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}
