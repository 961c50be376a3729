#include "ProbeRecordStore.h"

#include "DurableFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char recordEnd[] = "\r\n";
const char journalSuffix[] = ".journal";
const char batchSuffix[] = ".batch";
const char refusedFolder[] = "refused";
const char oversizedFolder[] = "oversized";
constexpr qint64 journalRetryMs = 1000;
constexpr qint64 tailChunk = 64 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("ProbeRecordStore", text);
}

// "<dir>/<number><suffix>": the name of every numbered file in data/.
QString numberedPath(const QString &dir, qint64 number, const char *suffix)
{
    return QStringLiteral("%1/%2%3").arg(dir).arg(number).arg(QLatin1String(suffix));
}

// "<digits><suffix>" gives the number, anything else -1.
qint64 sequenceOf(const QString &name, const char *suffix)
{
    const QLatin1String end(suffix);
    if (!name.endsWith(end) || name.size() == end.size() || name.size() - end.size() > 18)
        return -1;
    const QStringRef digits = name.leftRef(name.size() - end.size());
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    return digits.toLongLong();
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

int linkCount(const QString &path)
{
    struct stat info {};
    return ::stat(encoded(path).constData(), &info) == 0 ? static_cast<int>(info.st_nlink) : 0;
}

// Where the last record of a journal ends (0 when none does), read
// backwards a chunk at a time; chunks overlap by a byte so that a CR LF
// across two of them is seen.
qint64 lastRecordEnd(int fd, qint64 size)
{
    QByteArray buffer;
    for (qint64 end = size; end > 0;) {
        const qint64 start = qMax<qint64>(0, end - tailChunk);
        buffer.resize(static_cast<int>(end - start));
        if (::pread(fd, buffer.data(), static_cast<size_t>(buffer.size()), start) != end - start)
            return 0;
        const int at = buffer.lastIndexOf(recordEnd);
        if (at >= 0)
            return start + at + 2;
        if (start == 0)
            break;
        end = start + 1;
    }
    return 0;
}

int countFileRecords(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int records = 0;
    char last = 0;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(tailChunk);
        if (chunk.isEmpty())
            break;
        records += chunk.count(recordEnd) + (last == '\r' && chunk.startsWith('\n'));
        last = chunk.back();
    }
    return records;
}

} // namespace

ProbeRecordStore::ProbeRecordStore(const QString &dataDir, Limits limits, ErrorSink errors)
    : m_dataDir(QDir::cleanPath(dataDir))
    , m_limits(limits)
    , m_errors(std::move(errors))
    , m_lock(m_dataDir)
    , m_disk(std::make_unique<ProbeDiskWorker>(m_dataDir, limits.reserve))
{
    if (m_lock.isHeld())
        recover();
    else
        reportError(tr("Probe records are kept in memory only, the data directory is not this process's: %1; "
                       "run one host program per installation")
                        .arg(m_lock.problem()));
}

// A journal with records stays as it is for the next start to seal, so
// that ending waits for no disk sync.
ProbeRecordStore::~ProbeRecordStore()
{
    closeJournal();
    if (m_lock.isHeld()) {
        if (m_journalBytes == 0)
            sealJournal();
        keepMemoryBatch();
        // What is in memory now is what the disk cannot take.
        for (const Batch &batch : m_batches) {
            if (batch.onDisk)
                continue;
            const QString path = batchPath(batch.sequence);
            const QByteArray records = batch.memory;
            const int count = batch.records;
            auto errors = m_errors;
            m_disk->post([path, records, count, errors] {
                if (DurableFile::replace(path, records) != 0 && errors)
                    errors(tr("Probe records dropped, they could not be kept: %1").arg(count));
            });
        }
    } else {
        int lost = countRecords(m_unjournaled);
        for (const Batch &batch : m_batches)
            lost += batch.records;
        if (lost > 0)
            reportError(tr("Probe records dropped, they could not be kept: %1").arg(lost));
    }
    m_disk.reset();
}

int ProbeRecordStore::countRecords(const QByteArray &records)
{
    return records.count(recordEnd);
}

QString ProbeRecordStore::journalPath(qint64 sequence) const
{
    return workingPath(sequence, journalSuffix);
}

QString ProbeRecordStore::batchPath(qint64 sequence) const
{
    return workingPath(sequence, batchSuffix);
}

QString ProbeRecordStore::workingPath(qint64 stamp, const char *suffix) const
{
    return numberedPath(m_dataDir, stamp, suffix);
}

qint64 ProbeRecordStore::sequenceAfter(qint64 last, qint64 clockMs)
{
    return qMax(qMax<qint64>(0, clockMs), last + 1);
}

qint64 ProbeRecordStore::nextSequence()
{
    m_lastSequence = sequenceAfter(m_lastSequence, QDateTime::currentMSecsSinceEpoch());
    return m_lastSequence;
}

void ProbeRecordStore::reportError(const QString &text) const
{
    if (m_errors)
        m_errors(text);
}

// The files of an earlier run, read once: the held list lives in memory
// from here on. Journals are checked and sealed by the disk worker. A
// batch too large to send is set aside at once, so it never costs others
// their place within the disk bound.
void ProbeRecordStore::recover()
{
    const QFileInfoList entries = QDir(m_dataDir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        const qint64 journal = sequenceOf(name, journalSuffix);
        const qint64 batch = sequenceOf(name, batchSuffix);
        const qint64 csv = sequenceOf(name, ".csv");
        const qint64 sequence = qMax(journal, qMax(batch, csv));
        // A working file shares its batch's data (a second link); a lone
        // one is a batch kept by an earlier version.
        const bool workingCsv = csv >= 0 && linkCount(entry.filePath()) > 1;
        if (sequenceOf(name, ".gz") >= 0 || sequenceOf(name, ".batch.tmp") >= 0 || workingCsv
            || (journal >= 0 && entry.size() == 0)) {
            QFile::remove(entry.filePath());
            continue;
        }
        if (sequence < 0)
            continue;
        m_lastSequence = qMax(m_lastSequence, sequence);
        if (entry.size() > m_limits.batch)
            setAsideAtStart(entry);
        else if (journal >= 0)
            recoverJournal(journal, entry.size());
        else if (batch >= 0)
            m_batches.push_back(diskBatch(batch, entry.size()));
        else
            adoptLegacyBatch(name, csv, entry.size());
    }
    for (const QFileInfo &entry : QDir(m_dataDir + QLatin1Char('/') + refusedFolder).entryInfoList(QDir::Files)) {
        m_asideBytes += entry.size();
        m_lastSequence = qMax(m_lastSequence, sequenceOf(entry.fileName(), batchSuffix));
    }
    std::sort(m_batches.begin(), m_batches.end(),
              [](const Batch &a, const Batch &b) { return a.sequence < b.sequence; });
}

ProbeRecordStore::Batch ProbeRecordStore::diskBatch(qint64 sequence, qint64 bytes)
{
    Batch batch;
    batch.sequence = sequence;
    batch.bytes = bytes;
    batch.onDisk = true;
    return batch;
}

void ProbeRecordStore::setAsideAtStart(const QFileInfo &entry)
{
    const QString dir = m_dataDir + QLatin1Char('/') + oversizedFolder;
    const QString from = entry.filePath();
    const QString to = dir + QLatin1Char('/') + entry.fileName();
    const qint64 bytes = entry.size();
    auto errors = m_errors;
    m_disk->post([dir, from, to, bytes, errors] {
        QDir().mkpath(dir);
        const bool moved = ::rename(encoded(from).constData(), encoded(to).constData()) == 0;
        if (errors)
            errors(moved ? tr("Probe batch too large to send (%1 bytes), moved aside to %2 for an operator")
                               .arg(bytes)
                               .arg(to)
                         : tr("Probe batch too large to send (%1 bytes), left out: %2").arg(bytes).arg(from));
    });
}

// A journal ends with its last whole record: a power loss may have cut
// the one after it.
void ProbeRecordStore::recoverJournal(qint64 sequence, qint64 bytes)
{
    m_batches.push_back(diskBatch(sequence, bytes));
    const QString journal = journalPath(sequence);
    const QString target = batchPath(sequence);
    const QString dir = m_dataDir;
    auto errors = m_errors;
    m_disk->post([journal, target, dir, bytes, errors] {
        const int fd = ::open(encoded(journal).constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return;
        const qint64 end = lastRecordEnd(fd, bytes);
        if (end < bytes) {
            if (::ftruncate(fd, end) == 0 && errors)
                errors(tr("Probe journal %1 ended in a cut record, dropped: 1 (%2 bytes)")
                           .arg(journal)
                           .arg(bytes - end));
        }
        ::fsync(fd);
        ::close(fd);
        if (end == 0)
            ::unlink(encoded(journal).constData());
        else
            ::rename(encoded(journal).constData(), encoded(target).constData());
        DurableFile::syncPath(dir);
    });
}

void ProbeRecordStore::adoptLegacyBatch(const QString &name, qint64 sequence, qint64 bytes)
{
    m_batches.push_back(diskBatch(sequence, bytes));
    const QString from = m_dataDir + QLatin1Char('/') + name;
    const QString to = batchPath(sequence);
    const QString dir = m_dataDir;
    m_disk->post([from, to, dir] {
        ::rename(encoded(from).constData(), encoded(to).constData());
        DurableFile::syncPath(dir);
    });
}

bool ProbeRecordStore::openJournal()
{
    if (m_journalFd >= 0)
        return true;
    if (!m_lock.isHeld() || m_disk->isLowOnSpace())
        return false;
    const qint64 sequence = nextSequence();
    const QByteArray path = encoded(journalPath(sequence));
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    int fd = ::open(path.constData(), flags, 0666);
    // The directory may have been removed under the running host.
    if (fd < 0 && errno == ENOENT && QDir().mkpath(m_dataDir))
        fd = ::open(path.constData(), flags, 0666);
    if (fd < 0)
        return false;
    m_journalFd = fd;
    m_journalSequence = sequence;
    m_journalBytes = 0;
    m_journalRecords = 0;
    m_disk->setJournal(journalPath(sequence));
    return true;
}

void ProbeRecordStore::closeJournal()
{
    if (m_journalFd >= 0)
        ::close(m_journalFd);
    m_journalFd = -1;
}

// One write per read of the device; a short write (a full disk) is taken
// back, so the journal never ends in a cut record.
bool ProbeRecordStore::writeJournal(const QByteArray &records)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool failedJustNow = m_lastJournalFailureMs >= 0 && now >= m_lastJournalFailureMs
                            && now - m_lastJournalFailureMs < journalRetryMs;
    if (failedJustNow || !openJournal()) {
        if (!failedJustNow)
            m_lastJournalFailureMs = now;
        return false;
    }
    const ssize_t n = ::write(m_journalFd, records.constData(), static_cast<size_t>(records.size()));
    if (n != records.size()) {
        // Cannot take the cut record back: the journal ends before it
        // (a batch read from disk ends at its last whole record).
        if (n > 0 && ::ftruncate(m_journalFd, m_journalBytes) != 0)
            sealJournal();
        m_lastJournalFailureMs = now;
        return false;
    }
    m_lastJournalFailureMs = -1;
    m_journalBytes += n;
    m_journalCopy.append(records);
    m_journalRecords += countRecords(records);
    m_disk->markJournalDirty();
    return true;
}

// Records wait in memory while the journal cannot take them, and go to
// it first once it can, so that they stay in reading order.
int ProbeRecordStore::append(const QByteArray &records)
{
    // Sealed batches let go of their copy in memory.
    if (m_sealsPending > 0)
        collect();
    m_unjournaled.append(records);
    m_memoryBytes += records.size();
    if (!writeJournal(m_unjournaled))
        return dropOverMemoryLimit();
    m_memoryBytes -= m_unjournaled.size();
    m_unjournaled.clear();
    if (m_journalBytes >= m_limits.batch)
        sealJournal();
    return 0;
}

int ProbeRecordStore::cut()
{
    if (!m_unjournaled.isEmpty() && writeJournal(m_unjournaled)) {
        m_memoryBytes -= m_unjournaled.size();
        m_unjournaled.clear();
    }
    sealJournal();
    keepMemoryBatch();
    return dropOverDiskLimit();
}

// The journal becomes a batch: its records are synced, then it is renamed.
// Until the worker says so, the batch keeps its records in memory too.
void ProbeRecordStore::sealJournal()
{
    const bool hadRecords = m_journalBytes > 0;
    const qint64 sequence = m_journalSequence;
    closeJournal();
    m_disk->setJournal(QString());
    if (sequence < 0)
        return;
    m_journalSequence = -1;
    const QString journal = journalPath(sequence);
    if (!hadRecords) {
        m_disk->post([journal] { ::unlink(encoded(journal).constData()); });
        return;
    }
    Batch batch;
    batch.sequence = sequence;
    batch.memory.swap(m_journalCopy);
    batch.bytes = m_journalBytes;
    batch.records = m_journalRecords;
    batch.onDisk = true;
    m_batches.push_back(batch);
    m_journalBytes = 0;
    const QString target = batchPath(sequence);
    const QString dir = m_dataDir;
    ++m_sealsPending;
    m_disk->post(ProbeDiskWorker::Task([this, journal, target, dir, sequence] {
        const bool ok = DurableFile::syncPath(journal)
                     && ::rename(encoded(journal).constData(), encoded(target).constData()) == 0;
        if (ok)
            DurableFile::syncPath(dir);
        return ProbeDiskWorker::Continuation([this, sequence, ok] { sealed(sequence, ok); });
    }));
}

// A sealed batch is read from disk when it goes out; one whose journal
// was lost (the data directory removed under the host) stays in memory.
void ProbeRecordStore::sealed(qint64 sequence, bool ok)
{
    --m_sealsPending;
    for (Batch &batch : m_batches) {
        if (batch.sequence != sequence)
            continue;
        if (ok) {
            batch.memory.clear();
        } else {
            batch.onDisk = false;
            m_memoryBytes += batch.memory.size();
        }
        break;
    }
    if (!ok)
        dropOverMemoryLimit();
}

void ProbeRecordStore::keepMemoryBatch()
{
    if (m_unjournaled.isEmpty())
        return;
    Batch batch;
    batch.sequence = nextSequence();
    batch.memory.swap(m_unjournaled);
    batch.bytes = batch.memory.size();
    batch.records = countRecords(batch.memory);
    m_batches.push_back(batch);
}

// The oldest records in memory go first, whole records at a time.
int ProbeRecordStore::dropOverMemoryLimit()
{
    int dropped = 0;
    for (auto it = m_batches.begin(); m_memoryBytes > m_limits.memory && it != m_batches.end();) {
        if (it->onDisk) {
            ++it;
            continue;
        }
        dropped += it->records;
        m_memoryBytes -= it->memory.size();
        it = m_batches.erase(it);
    }
    const qint64 excess = m_memoryBytes - m_limits.memory;
    if (excess > 0) {
        const int lastEnd = m_unjournaled.indexOf(recordEnd, static_cast<int>(qMax<qint64>(0, excess - 2)));
        const int cut = lastEnd < 0 ? m_unjournaled.size() : lastEnd + 2;
        dropped += countRecords(QByteArray::fromRawData(m_unjournaled.constData(), cut));
        m_unjournaled.remove(0, cut);
        m_memoryBytes -= cut;
    }
    return dropped;
}

qint64 ProbeRecordStore::diskBytes() const
{
    qint64 total = m_asideBytes + m_journalBytes;
    for (const Batch &batch : m_batches)
        total += batch.onDisk ? batch.bytes : 0;
    return total;
}

// The oldest batches on disk give way, never the newest one.
int ProbeRecordStore::dropOverDiskLimit()
{
    int dropped = 0;
    qint64 total = diskBytes();
    for (auto it = m_batches.begin(); total > m_limits.disk && it != m_batches.end() && it + 1 != m_batches.end();) {
        if (!it->onDisk) {
            ++it;
            continue;
        }
        total -= it->bytes;
        if (it->records >= 0) {
            dropped += it->records;
            removeBatchFiles(it->sequence);
        } else {
            const QString path = batchPath(it->sequence);
            auto errors = m_errors;
            m_disk->post([path, errors] {
                const int records = countFileRecords(path);
                QFile::remove(path);
                if (errors)
                    errors(tr("Probe records dropped, %1: %2").arg(tr("over the disk limit")).arg(records));
            });
        }
        it = m_batches.erase(it);
    }
    return dropped;
}

// Deleted and the directory synced, so a power loss cannot bring back a
// batch the server has already taken.
void ProbeRecordStore::removeBatchFiles(qint64 sequence)
{
    const QString batch = batchPath(sequence);
    const QString journal = journalPath(sequence);
    const QString dir = m_dataDir;
    m_disk->post([batch, journal, dir] {
        ::unlink(encoded(batch).constData());
        ::unlink(encoded(journal).constData());
        DurableFile::syncPath(dir);
    });
}

ProbeRecordStore::Batch ProbeRecordStore::takeOldest()
{
    const Batch batch = m_batches.front();
    m_batches.pop_front();
    if (!batch.onDisk)
        m_memoryBytes -= batch.memory.size();
    return batch;
}

void ProbeRecordStore::removeOldest()
{
    const Batch batch = takeOldest();
    // A batch whose sealing failed may still have its journal.
    if (m_lock.isHeld())
        removeBatchFiles(batch.sequence);
}

bool ProbeRecordStore::refuseOldest()
{
    if (++m_batches.front().refusals < m_limits.refusals)
        return false;
    setAsideOldest(tr("refused by the server %1 times in a row").arg(m_batches.front().refusals));
    return true;
}

void ProbeRecordStore::setAsideOldest(const QString &reason)
{
    const Batch batch = takeOldest();
    const bool oversized = batch.bytes > m_limits.batch;
    if (!oversized)
        m_asideBytes += batch.bytes;
    moveAside(batch, QLatin1String(oversized ? oversizedFolder : refusedFolder), reason);
}

// Said at once, so the host hears of it in order; done by the disk
// worker before anything else touches the batch.
void ProbeRecordStore::moveAside(const Batch &batch, const QString &folder, const QString &reason)
{
    const QString dir = m_dataDir + QLatin1Char('/') + folder;
    const QString target = numberedPath(dir, batch.sequence, batchSuffix);
    const int records = qMax(0, batch.records);
    if (!m_lock.isHeld()) {
        reportError(tr("Probe batch %1 and cannot be kept, records dropped: %2").arg(reason).arg(records));
        return;
    }
    reportError(tr("Probe batch %1, moved aside to %2 for an operator: later batches go on").arg(reason, target));
    const QString source = batchPath(batch.sequence);
    const QString journal = journalPath(batch.sequence);
    const QString dataDir = m_dataDir;
    const QByteArray memory = batch.onDisk ? QByteArray() : batch.memory;
    auto errors = m_errors;
    m_disk->post([=] {
        QDir().mkpath(dir);
        const bool kept = memory.isEmpty()
                            ? ::rename(encoded(source).constData(), encoded(target).constData()) == 0
                                  || ::rename(encoded(journal).constData(), encoded(target).constData()) == 0
                            : DurableFile::replace(target, memory) == 0;
        if (kept) {
            DurableFile::syncPath(dir);
            DurableFile::syncPath(dataDir);
        } else if (errors) {
            errors(tr("Probe batch could not be moved aside to %1, records dropped: %2").arg(target).arg(records));
        }
    });
}
