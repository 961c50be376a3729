#include "ProbeUploadJob.h"

#include "ProbeArchive.h"
#include "ProbeProtocol.h"
#include "ProbeRecordStore.h"

#include <QDir>
#include <QFile>

// Nothing may escape the packing thread; out of memory counts as a failed
// archive, or as a failed CSV file while the records are not on disk yet.
void ProbeUploadJob::run()
{
    try {
        pack();
    } catch (...) {
        body.clear();
        const bool recordsKept = records.isEmpty() || QFile::exists(newBatchPath);
        outcome = recordsKept ? Outcome::ArchiveFailed : Outcome::CsvFailed;
    }
}

void ProbeUploadJob::pack()
{
    if (!records.isEmpty() && !writeCsv()) {
        outcome = Outcome::CsvFailed;
        return;
    }
    droppedRecords = store->enforceDiskLimit(csvPath);
    QByteArray archive;
    if (!ProbeArchive::compressFile(csvPath, archivePath) || !readArchive(&archive)) {
        QFile::remove(archivePath);
        outcome = Outcome::ArchiveFailed;
        return;
    }
    body = ProbeProtocol::uploadBody(storeNumber, archive);
}

bool ProbeUploadJob::writeCsv()
{
    QDir().mkpath(store->dataDir());
    QFile file(newBatchPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(records) == records.size() && file.flush())
        return true;
    file.remove();
    return false;
}

bool ProbeUploadJob::readArchive(QByteArray *archive) const
{
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *archive = file.readAll();
    return true;
}
