#pragma once

#include "FileHandle.h"

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The probe store's slow file work on a thread of its own, in the order it
// was asked for, so that the host thread never waits for a disk sync:
// sealing journals, deleting accepted batches, packing uploads. Besides
// the tasks it syncs the open journal at most once a second while it has
// unsynced bytes, and looks at the free space of the file system (through
// freeBytes, -1 when unknown).
//
// A task may hand back a continuation; the owner runs those on its own
// thread with runFinished().
class ProbeDiskWorker
{
public:
    using Continuation = std::function<void()>;
    using Task = std::function<Continuation()>;

    ProbeDiskWorker(std::function<qint64()> freeBytes, qint64 reserveBytes);
    // Runs what is still queued, then ends.
    ~ProbeDiskWorker();
    ProbeDiskWorker(const ProbeDiskWorker &) = delete;
    ProbeDiskWorker &operator=(const ProbeDiskWorker &) = delete;

    void post(Task task);
    void post(std::function<void()> task);
    // Runs the continuations of finished tasks on the calling thread.
    void runFinished();
    // True once every task posted so far has run (for tests and benches).
    bool isIdle() const;

    // The journal that the periodic sync keeps on disk (none for null),
    // and that it has bytes not yet synced.
    void setJournal(std::shared_ptr<const FileHandle> journal);
    void markJournalDirty() { m_dirty = true; }
    // Free space below the reserve, as last seen (once a second).
    bool isLowOnSpace() const { return m_lowOnSpace; }

private:
    void run();
    void tick();

    std::function<qint64()> m_freeBytes;
    qint64 m_reserveBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    std::vector<Continuation> m_finished;
    std::shared_ptr<const FileHandle> m_journal;
    bool m_stopping = false;
    bool m_busy = false;
    std::atomic<bool> m_dirty{false};
    std::atomic<bool> m_lowOnSpace{false};
    std::thread m_thread;
};
