#include "ProbeDiskWorker.h"

#include <chrono>

namespace {

constexpr auto syncPeriod = std::chrono::seconds(1);

} // namespace

ProbeDiskWorker::ProbeDiskWorker(std::function<qint64()> freeBytes, qint64 reserveBytes)
    : m_freeBytes(std::move(freeBytes)), m_reserveBytes(reserveBytes), m_thread([this] { run(); })
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

void ProbeDiskWorker::setJournal(std::shared_ptr<const FileHandle> journal)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_journal = std::move(journal);
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
    std::shared_ptr<const FileHandle> journal;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        journal = m_journal;
    }
    if (m_dirty.exchange(false) && journal)
        journal->syncData();
    const qint64 free = m_freeBytes ? m_freeBytes() : -1;
    m_lowOnSpace = free >= 0 && free < m_reserveBytes;
}
