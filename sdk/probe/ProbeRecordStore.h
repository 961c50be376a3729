#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The probe records the store server has not accepted yet: new records in
// memory, and batches held as CSV files "<ms>.csv" in the data directory
// (a batch whose upload failed, or the records in memory when the worker
// ended), so that nothing is lost to a failed upload, NV_Uninit or a
// restart of the host. Held batches go out oldest first, before the
// records in memory.
//
// Both places are bounded in bytes: past a bound the oldest records are
// dropped, and the caller is told how many.
//
// Threads: the memory part is used on one thread. The const file
// operations touch nothing but files and may run on the upload's worker
// thread while no other file operation runs.
class ProbeRecordStore
{
public:
    static constexpr qint64 defaultMemoryLimit = 16 * 1024 * 1024;
    static constexpr qint64 defaultDiskLimit = 256 * 1024 * 1024;

    explicit ProbeRecordStore(const QString &dataDir, qint64 memoryLimit = defaultMemoryLimit,
                              qint64 diskLimit = defaultDiskLimit);

    QString dataDir() const { return m_dataDir; }

    // Appends whole records; returns how many of the oldest were dropped.
    int append(const QByteArray &records);
    // Puts records taken earlier back in front of the newer ones.
    int restore(const QByteArray &records);
    QByteArray takeMemory();
    const QByteArray &memory() const { return m_memory; }
    bool hasRecords() const { return !m_memory.isEmpty() || !heldFiles().isEmpty(); }

    // The held batches, oldest first, as full paths.
    QStringList heldFiles() const;
    // A free "<ms>.csv" path in the data directory, at stampMs or later.
    QString newCsvPath(qint64 stampMs) const;
    static QString archivePathFor(const QString &csvPath);
    // Deletes the oldest held batches (never keep) until the held bytes
    // fit the disk bound; returns the number of records deleted.
    int enforceDiskLimit(const QString &keep) const;
    // Archives are made again from their CSV file: any found are stale.
    void removeStaleArchives() const;
    // Writes the records in memory as a held batch; returns the number of
    // records dropped (over the disk bound, or all of them when the file
    // cannot be written).
    int flushMemory(qint64 stampMs);

    static int countRecords(const QByteArray &records);

private:
    int dropOverMemoryLimit();

    QString m_dataDir;
    qint64 m_memoryLimit;
    qint64 m_diskLimit;
    QByteArray m_memory;
};
