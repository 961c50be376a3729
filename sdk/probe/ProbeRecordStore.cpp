#include "ProbeRecordStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

const char recordEnd[] = "\r\n";

// "<ms>.csv" or "<ms>.gz": the names of one upload's files.
qint64 batchStamp(const QString &fileName, const QString &suffix)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,18})\\.(csv|gz)$"));
    const QRegularExpressionMatch match = pattern.match(fileName);
    return match.hasMatch() && match.captured(2) == suffix ? match.captured(1).toLongLong() : -1;
}

QList<QFileInfo> batchFiles(const QString &dataDir, const QString &suffix)
{
    QList<QFileInfo> files;
    const QFileInfoList entries = QDir(dataDir).entryInfoList({QStringLiteral("*.") + suffix}, QDir::Files);
    for (const QFileInfo &entry : entries) {
        if (batchStamp(entry.fileName(), suffix) >= 0)
            files.append(entry);
    }
    std::sort(files.begin(), files.end(), [&suffix](const QFileInfo &a, const QFileInfo &b) {
        return batchStamp(a.fileName(), suffix) < batchStamp(b.fileName(), suffix);
    });
    return files;
}

int countFileRecords(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return ProbeRecordStore::countRecords(file.readAll());
}

} // namespace

ProbeRecordStore::ProbeRecordStore(const QString &dataDir, qint64 memoryLimit, qint64 diskLimit)
    : m_dataDir(QDir::cleanPath(dataDir)), m_memoryLimit(memoryLimit), m_diskLimit(diskLimit)
{
}

int ProbeRecordStore::countRecords(const QByteArray &records)
{
    return records.count(recordEnd);
}

int ProbeRecordStore::append(const QByteArray &records)
{
    m_memory.append(records);
    return dropOverMemoryLimit();
}

int ProbeRecordStore::restore(const QByteArray &records)
{
    m_memory.prepend(records);
    return dropOverMemoryLimit();
}

QByteArray ProbeRecordStore::takeMemory()
{
    QByteArray taken;
    taken.swap(m_memory);
    return taken;
}

// Cuts whole records from the front: a record ends with the only CR LF it
// holds.
int ProbeRecordStore::dropOverMemoryLimit()
{
    const qint64 excess = m_memory.size() - m_memoryLimit;
    if (excess <= 0)
        return 0;
    const int lastEnd = m_memory.indexOf(recordEnd, static_cast<int>(qMax<qint64>(0, excess - 2)));
    const int cut = lastEnd < 0 ? m_memory.size() : lastEnd + 2;
    const int dropped = countRecords(QByteArray::fromRawData(m_memory.constData(), cut));
    m_memory.remove(0, cut);
    return dropped;
}

QStringList ProbeRecordStore::heldFiles() const
{
    QStringList paths;
    for (const QFileInfo &file : batchFiles(m_dataDir, QStringLiteral("csv")))
        paths.append(file.filePath());
    return paths;
}

QString ProbeRecordStore::newCsvPath(qint64 stampMs) const
{
    for (qint64 stamp = stampMs;; ++stamp) {
        const QString csv = QStringLiteral("%1/%2.csv").arg(m_dataDir).arg(stamp);
        if (!QFileInfo::exists(csv) && !QFileInfo::exists(archivePathFor(csv)))
            return csv;
    }
}

QString ProbeRecordStore::archivePathFor(const QString &csvPath)
{
    return csvPath.left(csvPath.size() - 4) + QStringLiteral(".gz");
}

int ProbeRecordStore::enforceDiskLimit(const QString &keep) const
{
    const QList<QFileInfo> held = batchFiles(m_dataDir, QStringLiteral("csv"));
    qint64 total = 0;
    for (const QFileInfo &file : held)
        total += file.size();
    int dropped = 0;
    for (const QFileInfo &file : held) {
        if (total <= m_diskLimit)
            break;
        if (file.filePath() == keep)
            continue;
        dropped += countFileRecords(file.filePath());
        if (QFile::remove(file.filePath()))
            total -= file.size();
    }
    return dropped;
}

void ProbeRecordStore::removeStaleArchives() const
{
    for (const QFileInfo &file : batchFiles(m_dataDir, QStringLiteral("gz")))
        QFile::remove(file.filePath());
}

int ProbeRecordStore::flushMemory(qint64 stampMs)
{
    if (m_memory.isEmpty())
        return 0;
    QDir().mkpath(m_dataDir);
    const QString path = newCsvPath(stampMs);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_memory) != m_memory.size() || !file.flush()) {
        file.remove();
        return countRecords(takeMemory());
    }
    file.close();
    m_memory.clear();
    return enforceDiskLimit(path);
}
