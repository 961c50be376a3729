#include "ProbeUploadJob.h"

#include "ProbeArchive.h"
#include "ProbeProtocol.h"

#include <QFile>

#include <unistd.h>

// Nothing may escape the disk worker; out of memory fails this attempt.
void ProbeUploadJob::run()
{
    try {
        pack();
    } catch (...) {
        body.clear();
        outcome = Outcome::Failed;
    }
}

void ProbeUploadJob::pack()
{
    QString source;
    if (records.isEmpty() && !readBatch(&source))
        return;
    bytes = records.size();
    QByteArray archive;
    if (!ProbeArchive::compress(records, &archive)) {
        outcome = Outcome::Failed;
        return;
    }
    writeWorkingFiles(source, archive);
    body = ProbeProtocol::uploadBody(storeNumber, archive);
    records.clear();
}

// A batch ends at its last whole record, whatever a failed write left.
bool ProbeUploadJob::readBatch(QString *source)
{
    for (const QString &path : batchPaths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        bytes = file.size();
        if (bytes > maxBytes) {
            outcome = Outcome::Oversized;
            return false;
        }
        records = file.readAll();
        const int lastEnd = records.lastIndexOf("\r\n");
        records.truncate(lastEnd < 0 ? 0 : lastEnd + 2);
        *source = path;
        break;
    }
    if (records.isEmpty()) {
        // An empty file has nothing to lose; bytes without a record end
        // are kept for an operator.
        outcome = bytes > 0 ? Outcome::NoWholeRecord : Outcome::Missing;
        return false;
    }
    return true;
}

// The CSV file is a second name of the batch file where it can be: no
// space needed, and a start-up tells a left-over one by its link count.
void ProbeUploadJob::writeWorkingFiles(const QString &source, const QByteArray &archive)
{
    if (csvPath.isEmpty())
        return;
    const bool linked = !source.isEmpty()
                     && ::link(QFile::encodeName(source).constData(), QFile::encodeName(csvPath).constData()) == 0;
    if (!linked)
        writeWorkingFile(csvPath, records);
    writeWorkingFile(archivePath, archive);
}

// A working file that cannot be written whole is not left behind; its
// name is noted in unwritten.
void ProbeUploadJob::writeWorkingFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        file.close();
        QFile::remove(path);
        unwritten << path;
    }
}
