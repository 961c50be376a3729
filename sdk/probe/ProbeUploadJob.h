#pragma once

#include <QByteArray>
#include <QString>

class ProbeRecordStore;

// The file work of one upload, done away from the host thread: the CSV
// file of the records in memory, the gzip archive of the batch to send,
// and the request body that carries the archive.
struct ProbeUploadJob
{
    enum class Outcome { Ready, CsvFailed, ArchiveFailed };

    // Inputs: records from memory, kept first as a new batch at
    // newBatchPath (none when empty); then the batch at csvPath (the
    // oldest one held) is archived and sent.
    QByteArray records;
    QString newBatchPath;
    QString csvPath;
    QString archivePath;
    QString storeNumber;
    const ProbeRecordStore *store = nullptr;

    // Results.
    Outcome outcome = Outcome::Ready;
    QByteArray body;
    int droppedRecords = 0; // held records deleted to keep within the disk bound

    void run();

private:
    bool writeCsv();
    bool readArchive(QByteArray *archive) const;
};
