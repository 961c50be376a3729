#include "ProbeDiskWorker.h"

#include <QFile>

#include <chrono>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr auto syncPeriod = std::chrono::seconds(1);

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
