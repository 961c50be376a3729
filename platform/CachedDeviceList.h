#pragma once

#include "DeviceChangeWatch.h"

#include <QElapsedTimer>
#include <QList>

#include <functional>
#include <mutex>

// How long a device list may be kept. After a change the list is read
// afresh at every call for a while: udev fills in a new device's
// identifiers (and its links) a moment after its node appears. A list older
// than maxAgeMs is read again whatever the watch says.
struct DeviceListTiming
{
    qint64 settleMs = 3000;
    qint64 maxAgeMs = 60000;
};

// A device list read once and kept until the watch reports a change, so
// that a periodic check that finds nothing new does not walk sysfs again.
// Safe to call from any thread; the reading runs under the list's lock.
template <typename Entry>
class CachedDeviceList
{
public:
    using Reader = std::function<QList<Entry>()>;

    CachedDeviceList(DeviceChangeWatch &watch, Reader reader, DeviceListTiming timing = {})
        : m_watch(watch)
        , m_reader(std::move(reader))
        , m_timing(timing)
    {
        m_clock.start();
    }

    QList<Entry> entries()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const qint64 now = m_clock.elapsed();
        const quint64 changes = m_watch.changeCount();
        const bool changed = changes != m_seenChanges;
        if (changed) {
            m_seenChanges = changes;
            m_settledAt = now + m_timing.settleMs;
        }
        if (!m_read || changed || !m_watch.isWatching() || now < m_settledAt
            || now - m_readAt >= m_timing.maxAgeMs) {
            m_entries = m_reader();
            m_readAt = now;
            m_read = true;
        }
        return m_entries;
    }

private:
    DeviceChangeWatch &m_watch;
    const Reader m_reader;
    const DeviceListTiming m_timing;
    std::mutex m_mutex;
    QElapsedTimer m_clock;
    QList<Entry> m_entries;
    bool m_read = false;
    qint64 m_readAt = 0;
    qint64 m_settledAt = 0;
    quint64 m_seenChanges = 0;
};
