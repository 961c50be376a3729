#pragma once

#include "FileHandle.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class VerifiedDirectory;

// The file work of one upload, done on the store's disk worker: the next
// piece of a batch (from memory, or read from its file), the working files
// T.csv and T.gz, and the request body that carries the archive. A piece
// is the batch's first unsent whole records within the batch size, so a
// batch larger than that goes out in several uploads. The archive is made
// in memory, so a disk too full for the working files still sends.
struct ProbeUploadJob
{
    enum class Outcome {
        Ready,
        Missing,       // the batch's file is gone
        NoWholeRecord, // its unsent bytes hold no record end
        RecordTooLong, // its next record alone is longer than the batch size
        Foreign,       // its names hold files that are not the batch's: left alone
        Failed         // this attempt failed (memory, zlib, a read)
    };

    // Inputs: the unsent records when the batch has them in memory, else
    // the names its file may have in data/ and that file.
    QByteArray records;
    std::shared_ptr<const VerifiedDirectory> dir; // data/; none: no file is touched
    QStringList names;
    FileId file;
    qint64 offset = 0; // bytes of the file accepted already
    qint64 maxBytes = 0;
    QString csvName; // working files in data/; none when empty
    QString archiveName;
    QString dataDir; // where they belong (for the message when dir is none)
    QString storeNumber;

    // Results.
    Outcome outcome = Outcome::Ready;
    QByteArray body;
    qint64 bytes = 0;    // the batch's unsent bytes as found
    qint64 consumed = 0; // of them, what this piece stands for (a cut record after its last whole one included)
    int pieceRecords = 0; // the records it carries
    bool last = true;    // nothing of the batch is left after it
    FileId csvFile;      // the working files made
    FileId archiveFile;
    QStringList unwritten; // working files that could not be written (paths)
    QStringList problems;  // names left alone, and why

    void run();

private:
    void pack();
    bool readBatch(FileHandle *source);
    QByteArray takePiece(const QByteArray &available);
    void writeWorkingFiles(const FileHandle &source, const QByteArray &piece, const QByteArray &archive);
    FileId writeWorkingFile(const QString &name, const QByteArray &bytes);
};
