#pragma once

#include "DataDirectory.h"
#include "ProbeDiskWorker.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct ProbeUploadJob;

// The bounds of the probe record store, in bytes.
struct ProbeStoreLimits
{
    qint64 memory = 16 * 1024 * 1024;
    qint64 disk = 256 * 1024 * 1024; // held batches, the journal and the folders of set-aside batches
    qint64 reserve = 16 * 1024;      // free space left to the rest of the system
    qint64 batch = 16 * 1024 * 1024; // the most one upload carries; a journal is cut before it
    int refusals = 3;                // in a row, before a batch is set aside
};

// The probe records the store server has not accepted yet, kept so that a
// killed host, a power loss, a full disk or a server that refuses one
// batch for ever loses none of them.
//
// Files: the journals, batches, working files and set-aside folders of
// data/, named and kept by the rules of DataDirectory (its header). This
// class holds the policy: which batch goes next, what is dropped at a
// bound, what is set aside; the system calls are VerifiedDirectory's and
// the framing ProbeRecordFormat's.
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
    using Kind = DataDirectory::Kind;
    using Folder = DataDirectory::Folder;

    struct Batch
    {
        enum class State {
            Sealing,  // its journal is being synced and renamed; its records are in memory too
            OnDisk,   // in its file, read from there when it goes out
            InMemory  // the disk could not keep it
        };

        qint64 sequence = 0;
        State state = State::InMemory;
        FileId file;        // its file, while it has one
        QByteArray memory;  // its records, while Sealing or InMemory
        qint64 bytes = 0;   // its size (a file's as found)
        qint64 sent = 0;    // of its first bytes, how many the server has accepted
        std::optional<int> records; // unknown for a file found at start
        int refusals = 0;

        bool isOnDisk() const { return state != State::InMemory; }
    };

    using ErrorSink = std::function<void(const QString &)>;

    explicit ProbeRecordStore(const QString &dataDir, Limits limits = Limits(), ErrorSink errors = ErrorSink());
    // Keeps what is still in memory as a batch on disk, when it can, and
    // waits for the file work asked for until then.
    ~ProbeRecordStore();
    ProbeRecordStore(const ProbeRecordStore &) = delete;
    ProbeRecordStore &operator=(const ProbeRecordStore &) = delete;

    QString dataDir() const { return m_data->path(); }
    const Limits &limits() const { return m_limits; }
    // Non-empty when another process owns data/ (or it is not usable):
    // nothing there is touched.
    QString ownerProblem() const { return m_ownerProblem; }
    bool ownsDataDir() const { return m_claimed && m_data->isOwned(); }

    // Appends whole records to the journal; returns how many of the oldest
    // records in memory were dropped.
    int append(const QByteArray &records);
    // The interval's cut: the journal and the records in memory become
    // batches. Returns the records dropped to keep within the disk bound.
    int cut();

    bool hasBatches() const { return !m_batches.empty(); }
    size_t batchCount() const { return m_batches.size(); }
    const Batch &oldest() const { return m_batches.front(); }
    // An upload of the oldest batch's next piece (its first unsent whole
    // records, at most a batch size), to run on the disk worker.
    std::shared_ptr<ProbeUploadJob> uploadOfOldest(const QString &storeNumber);
    // The server accepted the piece that job carried: the batch leaves the
    // disk once its last piece has been accepted.
    void acceptOldest(const ProbeUploadJob &job);
    // The oldest batch is gone (its file missing or not its own): it
    // leaves the list, its files are left alone.
    void forgetOldest();
    // The oldest batch was accepted whole: it leaves the disk.
    void removeOldest();
    // The oldest batch was refused by the server; true when that was one
    // time too many and it has been set aside.
    bool refuseOldest();
    // The oldest batch cannot be sent: set aside into the folder.
    void setAsideOldest(const QString &reason, Folder folder = Folder::Refused);
    // Deletes the working files of an upload.
    void removeWorkingFiles(const ProbeUploadJob &job);

    // A new file number: the clock's milliseconds, or one more than the
    // last one used.
    qint64 nextSequence();
    static qint64 sequenceAfter(qint64 last, qint64 clockMs) { return DataDirectory::numberAfter(last, clockMs); }
    QString filePath(Kind kind, qint64 sequence) const;
    QString batchPath(qint64 sequence) const { return filePath(Kind::Batch, sequence); }

    ProbeDiskWorker &disk() { return *m_disk; }
    // Runs what finished file work hands back (call often on this thread).
    void collect() { m_disk->runFinished(); }

private:
    // A batch set aside, in refused/ or oversized/ (or left in data/ when
    // its folder cannot be used); counted in the disk bound.
    struct AsideFile
    {
        std::optional<Folder> folder;
        QString name;
        qint64 sequence = 0;
        qint64 bytes = 0;
        FileId file;
    };

    std::shared_ptr<const VerifiedDirectory> files() const;
    void recover();
    void recoverEntry(const VerifiedDirectory::Entry &entry, const DataDirectory::Name &name);
    void recoverFolder(Folder folder);
    void recoverJournal(qint64 sequence, qint64 bytes, FileId file);
    void adoptLegacyBatch(qint64 sequence, qint64 bytes, FileId file);
    void removeLeftover(const QString &name, FileId file);
    void reportForeign(const QString &path, const VerifiedDirectory::Status &status) const;
    void keepInMemoryBatches();
    bool openJournal();
    void closeJournal();
    bool writeJournal(const QByteArray &records);
    int appendToJournal(const QByteArray &records);
    void sealJournal();
    void sealed(qint64 sequence, bool onDisk);
    // Takes the oldest batch out of the list and out of the memory count.
    Batch takeOldest();
    void keepMemoryBatch();
    int dropOverMemoryLimit();
    int dropOverDiskLimit();
    int dropBatch(const Batch &batch);
    void dropAside(const AsideFile &aside);
    void removeBatchFiles(qint64 sequence, FileId file);
    void moveAside(const Batch &batch, Folder folder, const QString &reason);
    void asideDone(qint64 sequence, std::optional<Folder> folder, const QString &name, FileId file);
    void reportError(const QString &text) const;
    qint64 diskBytes() const;
    QStringList namesOf(qint64 sequence) const;

    std::shared_ptr<DataDirectory> m_data;
    bool m_claimed = false;
    QString m_ownerProblem;
    Limits m_limits;
    ErrorSink m_errors;
    std::unique_ptr<ProbeDiskWorker> m_disk;
    std::deque<Batch> m_batches;
    std::vector<AsideFile> m_aside; // oldest first
    qint64 m_lastSequence = -1;
    // The open journal.
    std::shared_ptr<const FileHandle> m_journal;
    qint64 m_journalSequence = -1;
    FileId m_journalFile;
    qint64 m_journalBytes = 0;
    QByteArray m_journalCopy; // its records, until they are sealed on disk
    int m_journalRecords = 0;
    int m_sealsPending = 0;
    // Records the journal could not take, in order after it.
    QByteArray m_unjournaled;
    qint64 m_memoryBytes = 0; // m_unjournaled plus batches held in memory
    qint64 m_lastJournalFailureMs = -1;
};
