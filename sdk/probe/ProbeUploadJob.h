#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The file work of one upload, done on the store's disk worker: the
// batch's records (from memory, or read from its file), the working files
// T.csv and T.gz, and the request body that carries the archive. The
// archive is made in memory, so a disk too full for the working files
// still sends.
struct ProbeUploadJob
{
    enum class Outcome { Ready, Missing, Oversized, NoWholeRecord, Failed };

    // Inputs: the records when the batch has them in memory, else the
    // paths it may be found at (sealed first).
    QByteArray records;
    QStringList batchPaths;
    qint64 maxBytes = 0;
    QString csvPath; // working files; none when empty
    QString archivePath;
    QString storeNumber;

    // Results.
    Outcome outcome = Outcome::Ready;
    QByteArray body;
    qint64 bytes = 0;
    QStringList unwritten; // working files that could not be written

    void run();

private:
    void pack();
    bool readBatch(QString *source);
    void writeWorkingFiles(const QString &source, const QByteArray &archive);
    void writeWorkingFile(const QString &path, const QByteArray &bytes);
};
