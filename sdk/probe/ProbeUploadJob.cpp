#include "ProbeUploadJob.h"

#include "ProbeArchive.h"
#include "ProbeProtocol.h"
#include "ProbeRecordFormat.h"
#include "VerifiedDirectory.h"

#include <QCoreApplication>

namespace {

QString foreignText(const VerifiedDirectory &dir, const QString &name, const VerifiedDirectory::Status &status)
{
    return QCoreApplication::translate("ProbeUploadJob", "%1 %2: not this library's file, left alone")
        .arg(dir.pathOf(name), status.text());
}

} // namespace

// Nothing may escape the disk worker; out of memory fails this attempt.
void ProbeUploadJob::run()
{
    outcome = Outcome::Ready;
    body.clear();
    consumed = 0;
    pieceRecords = 0;
    last = true;
    unwritten.clear();
    problems.clear();
    try {
        pack();
    } catch (...) {
        body.clear();
        outcome = Outcome::Failed;
    }
}

void ProbeUploadJob::pack()
{
    FileHandle source;
    QByteArray available; // the unsent bytes looked at: from a file, at most a batch size of them
    if (!records.isEmpty()) {
        bytes = records.size();
        available = records;
    } else {
        if (!readBatch(&source))
            return;
        const qint64 wanted = qMin(bytes, maxBytes);
        available = source.readAt(offset, wanted);
        if (available.size() != wanted) {
            outcome = Outcome::Failed;
            return;
        }
    }
    const QByteArray piece = takePiece(available);
    if (piece.isEmpty())
        return;
    QByteArray archive;
    if (!ProbeArchive::compress(piece, &archive)) {
        outcome = Outcome::Failed;
        return;
    }
    writeWorkingFiles(source, piece, archive);
    body = ProbeProtocol::uploadBody(storeNumber, archive);
}

// The batch's file under one of its names; the others are normally
// missing. What stands there instead is only reported when the batch is
// nowhere.
bool ProbeUploadJob::readBatch(FileHandle *source)
{
    QStringList foreign;
    for (const QString &name : names) {
        VerifiedDirectory::Status status;
        FileHandle found = dir ? dir->openExisting(name, VerifiedDirectory::Access::Read, &status, &file)
                               : FileHandle();
        if (found) {
            bytes = found.size() - offset;
            if (bytes <= 0)
                break;
            *source = std::move(found);
            return true;
        }
        if (status.isForeign())
            foreign << foreignText(*dir, name, status);
    }
    problems = foreign;
    outcome = foreign.isEmpty() ? Outcome::Missing : Outcome::Foreign;
    return false;
}

// The first whole records within the batch size. The last piece stands
// for the rest of the batch, a cut record after its last whole one too.
QByteArray ProbeUploadJob::takePiece(const QByteArray &available)
{
    const int whole = ProbeRecordFormat::pieceLength(available, maxBytes);
    if (whole == 0) {
        outcome = bytes > maxBytes ? Outcome::RecordTooLong : Outcome::NoWholeRecord;
        return QByteArray();
    }
    last = bytes <= maxBytes;
    consumed = last ? bytes : whole;
    const QByteArray piece = available.left(whole);
    pieceRecords = ProbeRecordFormat::count(piece);
    return piece;
}

// The CSV file is a second name of the batch file where the piece is all
// of it: no space needed, and a start-up tells a left-over one by its
// link count.
void ProbeUploadJob::writeWorkingFiles(const FileHandle &source, const QByteArray &piece, const QByteArray &archive)
{
    if (csvName.isEmpty())
        return;
    if (!dir) {
        unwritten << dataDir + QLatin1Char('/') + csvName << dataDir + QLatin1Char('/') + archiveName;
        return;
    }
    VerifiedDirectory::Status linked;
    linked.check = VerifiedDirectory::Check::Failed;
    if (source && offset == 0 && last)
        linked = dir->link(source, csvName);
    if (linked.ok()) {
        csvFile = file;
    } else if (linked.isForeign()) {
        problems << foreignText(*dir, csvName, linked);
        unwritten << dir->pathOf(csvName);
    } else {
        csvFile = writeWorkingFile(csvName, piece);
    }
    archiveFile = writeWorkingFile(archiveName, archive);
}

// A working file that cannot be written whole is not left behind; its
// path is noted in unwritten.
FileId ProbeUploadJob::writeWorkingFile(const QString &name, const QByteArray &bytes)
{
    VerifiedDirectory::Status status;
    FileHandle made = dir->create(name, &status);
    if (!made) {
        if (status.isForeign())
            problems << foreignText(*dir, name, status);
        unwritten << dir->pathOf(name);
        return FileId();
    }
    const FileId id = made.id();
    if (made.writeAll(bytes) != 0) {
        made = FileHandle();
        dir->remove(name, id);
        unwritten << dir->pathOf(name);
        return FileId();
    }
    return id;
}
