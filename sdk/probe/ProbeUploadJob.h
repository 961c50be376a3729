#pragma once

#include <QByteArray>
#include <QString>

class ProbeRecordStore;

// The file work of one upload, done away from the host thread: the CSV
// file (when the records come from memory), the gzip archive beside it, and
// the request body that carries the archive.
struct ProbeUploadJob
{
    enum class Outcome { Ready, CsvFailed, ArchiveFailed };

    // Inputs. records empty: the CSV file is a held batch already on disk.
    QString csvPath;
    QString archivePath;
    QByteArray records;
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
