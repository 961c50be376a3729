#include "ProbeUploadJob.h"

#include "ProbeArchive.h"
#include "ProbeProtocol.h"
#include "ProbeRecordStore.h"

#include <QDir>
#include <QFile>

void ProbeUploadJob::run()
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
