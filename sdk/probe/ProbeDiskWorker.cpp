#include "ProbeDiskWorker.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr auto syncPeriod = std::chrono::seconds(1);

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n <= 0)
            return false;
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

ProbeDiskWorker::ProbeDiskWorker(const QString &dataDir, qint64 reserveBytes)
    : m_dataDir(QFile::encodeName(dataDir)), m_reserveBytes(reserveBytes), m_thread([this] { run(); })
{
}

ProbeDiskWorker::~ProbeDiskWorker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void ProbeDiskWorker::post(Task task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void ProbeDiskWorker::post(std::function<void()> task)
{
    post(Task([task] {
        task();
        return Continuation();
    }));
}

void ProbeDiskWorker::runFinished()
{
    std::vector<Continuation> finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        finished.swap(m_finished);
    }
    for (const Continuation &continuation : finished)
        continuation();
}

bool ProbeDiskWorker::isIdle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tasks.empty() && !m_busy;
}

void ProbeDiskWorker::setJournal(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal = name;
}

void ProbeDiskWorker::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto nextTick = std::chrono::steady_clock::now();
    for (;;) {
        if (std::chrono::steady_clock::now() >= nextTick) {
            lock.unlock();
            tick();
            lock.lock();
            nextTick = std::chrono::steady_clock::now() + syncPeriod;
        }
        if (m_tasks.empty()) {
            if (m_stopping)
                return;
            m_wake.wait_until(lock, nextTick);
            continue;
        }
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_busy = true;
        lock.unlock();
        Continuation continuation = task();
        lock.lock();
        m_busy = false;
        if (continuation)
            m_finished.push_back(std::move(continuation));
    }
}

// A power loss loses at most about a second of records. Plain system
// calls only: a host that leaves without NV_Uninit tears Qt down while
// this thread still runs.
void ProbeDiskWorker::tick()
{
    QByteArray journal;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        journal = m_journal;
    }
    if (m_dirty.exchange(false) && !journal.isEmpty()) {
        const int fd = ::open(journal.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fdatasync(fd);
            ::close(fd);
        }
    }
    struct statvfs volume {};
    if (::statvfs(m_dataDir.constData(), &volume) == 0)
        m_lowOnSpace = static_cast<qint64>(volume.f_bavail) * static_cast<qint64>(volume.f_frsize) < m_reserveBytes;
}

bool ProbeDiskWorker::syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool ProbeDiskWorker::writeDurably(const QString &path, const QByteArray &bytes)
{
    const QString temporary = path + QStringLiteral(".tmp");
    const QByteArray name = QFile::encodeName(temporary);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(name.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(name.constData());
        return false;
    }
    syncPath(QFileInfo(path).absolutePath());
    return true;
}
