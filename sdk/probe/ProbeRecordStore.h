#pragma once

#include "ProbeDataLock.h"
#include "ProbeDiskWorker.h"

#include <QByteArray>
#include <QString>

class QFileInfo;

#include <deque>
#include <functional>
#include <memory>

// The bounds of the probe record store, in bytes.
struct ProbeStoreLimits
{
    qint64 memory = 16 * 1024 * 1024;
    qint64 disk = 256 * 1024 * 1024;
    qint64 reserve = 16 * 1024;      // free space left to the rest of the system
    qint64 batch = 16 * 1024 * 1024; // a journal is cut there; a larger batch file is set aside
    int refusals = 3;                // in a row, before a batch is set aside
};

// The probe records the store server has not accepted yet, kept so that a
// killed host, a power loss, a full disk or a server that refuses one
// batch for ever loses none of them.
//
// On disk, in the data directory (N is a sequence number: the wall clock
// in milliseconds, or one more than the last name when the clock has gone
// back; never negative, so names are unique and sort in reading order):
//
//   .probe.lock       held (flock) by the one process that owns the files
//   N.journal         records read since the last interval, appended as
//                     read ("line|ms\r\n" each) and synced about once a
//                     second; a power loss may leave a cut last record,
//                     which the next start drops
//   N.batch           a journal cut at an interval (synced, then renamed),
//                     or records written under a temporary name N.batch.tmp,
//                     synced and renamed; waits for the server to accept it
//   refused/N.batch   a batch the server refused again and again, kept for
//                     an operator and counted in the disk bound
//   oversized/NAME    a batch too large to send, kept for an operator
//   T.csv, T.gz       the working files of one upload, named by its time
//                     (a name as above): the batch's records (a second link
//                     to the batch file where it can be) and their gzip
//                     archive; deleted after each attempt, and any found at
//                     start are left over from a killed run (a lone T.csv,
//                     with one link, is a batch kept by an earlier version)
//
// Records the disk cannot take (full, unwritable, below the free-space
// reserve, or owned by another process) wait in memory, in order after
// those on disk, and go out from there. Both places are bounded in bytes:
// past a bound the oldest records are dropped and the count reported.
//
// Threads: used on one thread; file work is done by its disk worker.
class ProbeRecordStore
{
public:
    using Limits = ProbeStoreLimits;

    struct Batch
    {
        qint64 sequence = 0;
        QByteArray memory; // its records while they are not (known to be) on disk
        qint64 bytes = 0;
        int records = -1; // -1: not counted (found on disk at start)
        bool onDisk = false;
        int refusals = 0;
    };

    using ErrorSink = std::function<void(const QString &)>;

    explicit ProbeRecordStore(const QString &dataDir, Limits limits = Limits(), ErrorSink errors = ErrorSink());
    // Keeps what is still in memory as a batch on disk, when it can, and
    // waits for the file work asked for until then.
    ~ProbeRecordStore();
    ProbeRecordStore(const ProbeRecordStore &) = delete;
    ProbeRecordStore &operator=(const ProbeRecordStore &) = delete;

    QString dataDir() const { return m_dataDir; }
    const Limits &limits() const { return m_limits; }
    // Non-empty when another process owns data/: nothing there is touched.
    QString ownerProblem() const { return m_lock.problem(); }
    bool ownsDataDir() const { return m_lock.isHeld(); }

    // Appends whole records to the journal; returns how many of the oldest
    // records in memory were dropped.
    int append(const QByteArray &records);
    // The interval's cut: the journal and the records in memory become
    // batches. Returns the records dropped to keep within the disk bound.
    int cut();

    bool hasBatches() const { return !m_batches.empty(); }
    size_t batchCount() const { return m_batches.size(); }
    const Batch &oldest() const { return m_batches.front(); }
    // The oldest batch was accepted: it leaves the disk.
    void removeOldest();
    // The oldest batch was refused by the server; true when that was one
    // time too many and it has been set aside.
    bool refuseOldest();
    // The oldest batch cannot be sent (too large, or unreadable): set aside.
    void setAsideOldest(const QString &reason);

    // A new file name stamp: the clock's milliseconds, or one more than the
    // last one handed out.
    qint64 nextSequence();
    // The name after last at this clock reading: never negative, always
    // more than last.
    static qint64 sequenceAfter(qint64 last, qint64 clockMs);
    QString journalPath(qint64 sequence) const;
    QString batchPath(qint64 sequence) const;
    QString workingPath(qint64 stamp, const char *suffix) const;

    ProbeDiskWorker &disk() { return *m_disk; }
    // Runs what finished file work hands back (call often on this thread).
    void collect() { m_disk->runFinished(); }

    static int countRecords(const QByteArray &records);

private:
    void recover();
    static Batch diskBatch(qint64 sequence, qint64 bytes);
    void setAsideAtStart(const QFileInfo &entry);
    void recoverJournal(qint64 sequence, qint64 bytes);
    void adoptLegacyBatch(const QString &name, qint64 sequence, qint64 bytes);
    bool openJournal();
    void closeJournal();
    bool writeJournal(const QByteArray &records);
    void sealJournal();
    // Takes the oldest batch out of the list and out of the memory count.
    Batch takeOldest();
    void keepMemoryBatch();
    void sealed(qint64 sequence, bool ok);
    int dropOverMemoryLimit();
    int dropOverDiskLimit();
    void removeBatchFiles(qint64 sequence);
    void moveAside(const Batch &batch, const QString &folder, const QString &reason);
    void reportError(const QString &text) const;
    qint64 diskBytes() const;

    QString m_dataDir;
    Limits m_limits;
    ErrorSink m_errors;
    ProbeDataLock m_lock;
    std::unique_ptr<ProbeDiskWorker> m_disk;
    std::deque<Batch> m_batches;
    qint64 m_lastSequence = -1;
    // The open journal.
    int m_journalFd = -1;
    qint64 m_journalSequence = -1;
    qint64 m_journalBytes = 0;
    QByteArray m_journalCopy; // its records, until they are sealed on disk
    int m_journalRecords = 0;
    int m_sealsPending = 0;
    // Records the journal could not take, in order after it.
    QByteArray m_unjournaled;
    qint64 m_memoryBytes = 0; // m_unjournaled plus batches held in memory
    qint64 m_asideBytes = 0;
    qint64 m_lastJournalFailureMs = -1;
};
