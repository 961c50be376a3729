#pragma once

#include <QString>

// One process owns the probe records of an installation: an exclusive
// flock() on data/.probe.lock, held for the owner's life and let go by the
// kernel when the process ends, however it ends. The file holds the
// owner's process id, for the message a second process gives.
class ProbeDataLock
{
public:
    explicit ProbeDataLock(const QString &dataDir);
    ~ProbeDataLock();
    ProbeDataLock(const ProbeDataLock &) = delete;
    ProbeDataLock &operator=(const ProbeDataLock &) = delete;

    bool isHeld() const { return m_fd >= 0; }
    // Why the lock is not held (empty while it is).
    QString problem() const { return m_problem; }

    static QString fileName() { return QStringLiteral(".probe.lock"); }

private:
    int m_fd = -1;
    QString m_problem;
};
