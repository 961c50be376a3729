#include "ProbeRecordStore.h"

#include "ProbeRecordFormat.h"
#include "ProbeUploadJob.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <map>
#include <set>

namespace {

using Status = VerifiedDirectory::Status;
using Entry = VerifiedDirectory::Entry;
using Kind = DataDirectory::Kind;

constexpr qint64 journalRetryMs = 1000;
// Names taken by files not the store's, skipped in a row before a journal
// waits for the next try.
constexpr int journalNameTries = 1000;

QString tr(const char *text)
{
    return QCoreApplication::translate("ProbeRecordStore", text);
}

QString name(Kind kind, qint64 sequence)
{
    return DataDirectory::fileName(kind, sequence);
}

QString foreignText(const QString &path, const Status &status)
{
    return tr("%1 %2: not this library's file, left alone").arg(path, status.text());
}

Status statusOf(VerifiedDirectory::Check check)
{
    Status status;
    status.check = check;
    return status;
}

// Why an entry with a store's name is not the store's file.
Status foreignStatus(const Entry &entry)
{
    if (entry.type == Entry::Type::Link)
        return statusOf(VerifiedDirectory::Check::Link);
    if (entry.type != Entry::Type::File)
        return statusOf(VerifiedDirectory::Check::NotRegular);
    return statusOf(VerifiedDirectory::Check::OtherLinks);
}

// The records of the file under one of names, from offset on (-1 when it
// is not there).
int countFileRecords(const VerifiedDirectory &dir, const QStringList &names, FileId file, qint64 offset)
{
    for (const QString &candidate : names) {
        Status status;
        const FileHandle found = dir.openExisting(candidate, VerifiedDirectory::Access::Read, &status, &file);
        if (!found)
            continue;
        ProbeRecordFormat::Counter counter;
        for (QByteArray chunk; !(chunk = found.readAt(offset, ProbeRecordFormat::chunkBytes)).isEmpty();
             offset += chunk.size())
            counter.feed(chunk);
        return counter.records();
    }
    return -1;
}

} // namespace

ProbeRecordStore::ProbeRecordStore(const QString &dataDir, Limits limits, ErrorSink errors)
    : m_data(DataDirectory::open(dataDir))
    , m_limits(limits)
    , m_errors(std::move(errors))
{
    std::shared_ptr<DataDirectory> data = m_data;
    m_disk = std::make_unique<ProbeDiskWorker>(
        [data] {
            const std::shared_ptr<const VerifiedDirectory> files = data->files();
            return files ? files->freeBytes() : -1;
        },
        limits.reserve);
    m_claimed = m_data->claim(DataDirectory::Store::Probe, &m_ownerProblem);
    if (m_claimed)
        recover();
    else
        reportError(tr("Probe records are kept in memory only, the data directory is not this process's: %1")
                        .arg(m_ownerProblem));
}

// A journal with records stays as it is for the next start to seal, so
// that ending waits for no disk sync.
ProbeRecordStore::~ProbeRecordStore()
{
    if (ownsDataDir()) {
        if (m_journalBytes == 0)
            sealJournal();
        closeJournal();
        keepMemoryBatch();
        keepInMemoryBatches();
    } else {
        closeJournal();
        int lost = ProbeRecordFormat::count(m_unjournaled);
        for (const Batch &batch : m_batches)
            lost += batch.records.value_or(0);
        if (lost > 0)
            reportError(tr("Probe records dropped, they could not be kept: %1").arg(lost));
    }
    m_disk.reset();
    if (m_claimed)
        m_data->release(DataDirectory::Store::Probe);
}

// What is in memory now is what the disk cannot take; each batch gets a
// second number should its own be taken.
void ProbeRecordStore::keepInMemoryBatches()
{
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    for (const Batch &batch : m_batches) {
        if (batch.state != Batch::State::InMemory || !dir)
            continue;
        const QByteArray records = batch.memory.mid(static_cast<int>(batch.sent));
        const int count = ProbeRecordFormat::count(records);
        const qint64 numbers[] = {batch.sequence, nextSequence()};
        auto errors = m_errors;
        m_disk->post([dir, records, count, numbers, errors] {
            for (const qint64 number : numbers) {
                const Status status = dir->writeNew(name(Kind::Batch, number), name(Kind::BatchTemp, number), records);
                if (status.ok())
                    return;
                if (!status.isForeign())
                    break;
                if (errors)
                    errors(foreignText(dir->pathOf(name(Kind::Batch, number)), status));
            }
            if (errors)
                errors(tr("Probe records dropped, they could not be kept: %1").arg(count));
        });
    }
}

std::shared_ptr<const VerifiedDirectory> ProbeRecordStore::files() const
{
    return m_claimed ? m_data->files() : nullptr;
}

QString ProbeRecordStore::filePath(Kind kind, qint64 sequence) const
{
    return dataDir() + QLatin1Char('/') + name(kind, sequence);
}

// A batch's file is N.batch, or N.journal while (or if) it could not be
// renamed, or N.csv when an earlier version kept it.
QStringList ProbeRecordStore::namesOf(qint64 sequence) const
{
    return {name(Kind::Batch, sequence), name(Kind::Journal, sequence), name(Kind::Csv, sequence)};
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

void ProbeRecordStore::reportForeign(const QString &path, const Status &status) const
{
    reportError(foreignText(path, status));
}

// The files of an earlier run, read once: the held list lives in memory
// from here on. Journals are checked and sealed by the disk worker.
void ProbeRecordStore::recover()
{
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    const std::vector<Entry> entries = dir->entries();
    // A working CSV file left over shares its data with a journal or batch
    // here, and the two are the only names of that data.
    std::map<FileId, quint64> heldLinks;
    for (const Entry &entry : entries) {
        const auto parsed = DataDirectory::parse(entry.name);
        if (parsed && (parsed->kind == Kind::Journal || parsed->kind == Kind::Batch) && entry.type == Entry::Type::File)
            heldLinks[entry.id] = entry.links;
    }
    std::set<FileId> leftoverCsv;
    for (const Entry &entry : entries) {
        const auto parsed = DataDirectory::parse(entry.name);
        const auto held = heldLinks.find(entry.id);
        if (parsed && parsed->kind == Kind::Csv && entry.type == Entry::Type::File && entry.links == 2
            && held != heldLinks.end() && held->second == 2)
            leftoverCsv.insert(entry.id);
    }
    for (const Entry &entry : entries) {
        const auto parsed = DataDirectory::parse(entry.name);
        if (!parsed)
            continue;
        m_lastSequence = qMax(m_lastSequence, parsed->number);
        if (DataDirectory::storeOf(parsed->kind) != DataDirectory::Store::Probe)
            continue;
        const bool sharesWithCsv = leftoverCsv.count(entry.id) > 0;
        if (parsed->kind == Kind::Csv && sharesWithCsv) {
            removeLeftover(entry.name, entry.id);
            continue;
        }
        if (entry.type != Entry::Type::File || entry.links != (sharesWithCsv ? 2u : 1u)) {
            reportForeign(dir->pathOf(entry.name), foreignStatus(entry));
            continue;
        }
        recoverEntry(entry, *parsed);
    }
    recoverFolder(Folder::Refused);
    recoverFolder(Folder::Oversized);
    std::sort(m_batches.begin(), m_batches.end(),
              [](const Batch &a, const Batch &b) { return a.sequence < b.sequence; });
}

void ProbeRecordStore::recoverEntry(const Entry &entry, const DataDirectory::Name &parsed)
{
    switch (parsed.kind) {
    case Kind::Archive:
    case Kind::BatchTemp:
        removeLeftover(entry.name, entry.id);
        break;
    case Kind::Journal:
        if (entry.size == 0)
            removeLeftover(entry.name, entry.id);
        else
            recoverJournal(parsed.number, entry.size, entry.id);
        break;
    case Kind::Batch: {
        Batch batch;
        batch.sequence = parsed.number;
        batch.state = Batch::State::OnDisk;
        batch.file = entry.id;
        batch.bytes = entry.size;
        m_batches.push_back(batch);
        break;
    }
    case Kind::Csv:
        adoptLegacyBatch(parsed.number, entry.size, entry.id);
        break;
    case Kind::Trades:
    case Kind::TradesTemp:
        break; // the trade outbox's
    }
}

// Set-aside batches count in the disk bound; their names count as used.
void ProbeRecordStore::recoverFolder(Folder folder)
{
    const QString folderName = DataDirectory::folderName(folder);
    Status status;
    const std::shared_ptr<VerifiedDirectory> dir = files()->subdirectory(folderName, false, &status);
    if (!dir) {
        if (status.check != VerifiedDirectory::Check::Missing)
            reportForeign(files()->pathOf(folderName), status);
        return;
    }
    for (const Entry &entry : dir->entries()) {
        const auto parsed = DataDirectory::parse(entry.name);
        if (!parsed)
            continue;
        m_lastSequence = qMax(m_lastSequence, parsed->number);
        if (DataDirectory::storeOf(parsed->kind) != DataDirectory::Store::Probe)
            continue;
        if (entry.type != Entry::Type::File || entry.links != 1) {
            reportForeign(dir->pathOf(entry.name), foreignStatus(entry));
            continue;
        }
        m_aside.push_back(AsideFile{folder, entry.name, parsed->number, entry.size, entry.id});
    }
    std::sort(m_aside.begin(), m_aside.end(),
              [](const AsideFile &a, const AsideFile &b) { return a.sequence < b.sequence; });
}

void ProbeRecordStore::removeLeftover(const QString &fileName, FileId file)
{
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    m_disk->post([dir, fileName, file] { dir->remove(fileName, file); });
}

// A journal ends with its last whole record: a power loss may have cut
// the one after it.
void ProbeRecordStore::recoverJournal(qint64 sequence, qint64 bytes, FileId file)
{
    Batch batch;
    batch.sequence = sequence;
    batch.state = Batch::State::OnDisk;
    batch.file = file;
    batch.bytes = bytes;
    m_batches.push_back(batch);
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    auto errors = m_errors;
    m_disk->post([dir, sequence, file, errors] {
        const QString journal = name(Kind::Journal, sequence);
        Status status;
        FileHandle handle = dir->openExisting(journal, VerifiedDirectory::Access::ReadWrite, &status, &file);
        if (!handle)
            return;
        const qint64 size = handle.size();
        const qint64 end = ProbeRecordFormat::lastRecordEnd(
            size, [&handle](qint64 start, qint64 stop) { return handle.readAt(start, stop - start); });
        if (end < size && handle.truncate(end) && errors)
            errors(tr("Probe journal %1 ended in a cut record, dropped: 1 (%2 bytes)")
                       .arg(dir->pathOf(journal))
                       .arg(size - end));
        handle.sync();
        handle = FileHandle();
        if (end == 0) {
            dir->remove(journal, file);
        } else {
            status = dir->rename(journal, file, *dir, name(Kind::Batch, sequence));
            if (status.isForeign() && errors)
                errors(foreignText(dir->pathOf(name(Kind::Batch, sequence)), status)
                       + tr("; the batch stays in %1").arg(journal));
        }
        dir->sync();
    });
}

void ProbeRecordStore::adoptLegacyBatch(qint64 sequence, qint64 bytes, FileId file)
{
    Batch batch;
    batch.sequence = sequence;
    batch.state = Batch::State::OnDisk;
    batch.file = file;
    batch.bytes = bytes;
    m_batches.push_back(batch);
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    m_disk->post([dir, sequence, file] {
        if (dir->rename(name(Kind::Csv, sequence), file, *dir, name(Kind::Batch, sequence)).ok())
            dir->sync();
    });
}

// A new journal under the next number that no file has; names taken by
// files that are not the store's are reported and skipped.
bool ProbeRecordStore::openJournal()
{
    if (m_journal)
        return true;
    if (!m_claimed || !m_data->reopenIfRemoved() || m_disk->isLowOnSpace())
        return false;
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    Status firstTaken;
    QString firstTakenPath;
    int taken = 0;
    for (int attempt = 0; attempt < journalNameTries && !m_journal; ++attempt) {
        const qint64 sequence = nextSequence();
        Status status;
        FileHandle journal = dir->create(name(Kind::Journal, sequence), &status);
        if (journal) {
            m_journalFile = journal.id();
            m_journal = std::make_shared<const FileHandle>(std::move(journal));
            m_journalSequence = sequence;
            m_journalBytes = 0;
            m_journalRecords = 0;
            m_disk->setJournal(m_journal);
        } else if (status.isForeign()) {
            if (taken++ == 0) {
                firstTaken = status;
                firstTakenPath = dir->pathOf(name(Kind::Journal, sequence));
            }
        } else {
            break;
        }
    }
    if (taken > 0)
        reportError(foreignText(firstTakenPath, firstTaken) + tr("; names skipped: %1").arg(taken));
    return m_journal != nullptr;
}

void ProbeRecordStore::closeJournal()
{
    m_journal.reset();
    m_disk->setJournal(nullptr);
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
    const qint64 n = m_journal->append(records);
    if (n != records.size()) {
        // Cannot take the cut record back: the journal ends before it
        // (a batch read from disk ends at its last whole record).
        if (n > 0 && !m_journal->truncate(m_journalBytes))
            sealJournal();
        m_lastJournalFailureMs = now;
        return false;
    }
    m_lastJournalFailureMs = -1;
    m_journalBytes += n;
    m_journalCopy.append(records);
    m_journalRecords += ProbeRecordFormat::count(records);
    m_disk->markJournalDirty();
    return true;
}

// Records waiting in memory go to the journal first, in order; a journal
// is sealed before it would pass the batch size, so every batch fits one
// upload (a record longer than a batch goes alone).
int ProbeRecordStore::appendToJournal(const QByteArray &records)
{
    m_unjournaled.append(records);
    m_memoryBytes += records.size();
    while (!m_unjournaled.isEmpty()) {
        int piece = ProbeRecordFormat::pieceLength(m_unjournaled, m_limits.batch - m_journalBytes);
        if (piece == 0 && m_journalBytes > 0) {
            sealJournal();
            continue;
        }
        if (piece == 0)
            piece = ProbeRecordFormat::prefixCovering(m_unjournaled, 1);
        if (!writeJournal(piece == m_unjournaled.size() ? m_unjournaled : m_unjournaled.left(piece)))
            return dropOverMemoryLimit();
        m_unjournaled.remove(0, piece);
        m_memoryBytes -= piece;
        if (m_journalBytes >= m_limits.batch)
            sealJournal();
    }
    return 0;
}

int ProbeRecordStore::append(const QByteArray &records)
{
    // Sealed batches let go of their copy in memory.
    if (m_sealsPending > 0)
        collect();
    return appendToJournal(records);
}

int ProbeRecordStore::cut()
{
    collect();
    const int dropped = m_unjournaled.isEmpty() ? 0 : appendToJournal(QByteArray());
    sealJournal();
    keepMemoryBatch();
    return dropped + dropOverDiskLimit();
}

// The journal becomes a batch: its records are synced, then it is renamed.
// Until the worker says so, the batch keeps its records in memory too.
void ProbeRecordStore::sealJournal()
{
    const std::shared_ptr<const FileHandle> journal = m_journal;
    const qint64 sequence = m_journalSequence;
    const FileId file = m_journalFile;
    closeJournal();
    if (sequence < 0)
        return;
    m_journalSequence = -1;
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    if (m_journalBytes == 0) {
        if (dir)
            m_disk->post([dir, sequence, file] { dir->remove(name(Kind::Journal, sequence), file); });
        return;
    }
    Batch batch;
    batch.sequence = sequence;
    batch.state = Batch::State::Sealing;
    batch.file = file;
    batch.memory.swap(m_journalCopy);
    batch.bytes = m_journalBytes;
    batch.records = m_journalRecords;
    m_batches.push_back(batch);
    m_journalBytes = 0;
    m_journalRecords = 0;
    ++m_sealsPending;
    auto errors = m_errors;
    m_disk->post(ProbeDiskWorker::Task([this, dir, journal, sequence, file, errors] {
        bool onDisk = false;
        if (dir && journal->sync()) {
            const Status status = dir->rename(name(Kind::Journal, sequence), file, *dir, name(Kind::Batch, sequence));
            // A batch name taken by a file not the store's: the batch stays a journal.
            if (status.isForeign() && errors)
                errors(foreignText(dir->pathOf(name(Kind::Batch, sequence)), status)
                       + tr("; the batch stays in %1").arg(name(Kind::Journal, sequence)));
            onDisk = status.ok() || status.isForeign();
            if (onDisk)
                dir->sync();
        }
        return ProbeDiskWorker::Continuation([this, sequence, onDisk] { sealed(sequence, onDisk); });
    }));
}

// A sealed batch is read from disk when it goes out; one whose journal
// was lost (the data directory removed under the host) stays in memory.
void ProbeRecordStore::sealed(qint64 sequence, bool onDisk)
{
    --m_sealsPending;
    for (Batch &batch : m_batches) {
        if (batch.sequence != sequence)
            continue;
        if (onDisk) {
            batch.state = Batch::State::OnDisk;
            batch.memory.clear();
        } else {
            batch.state = Batch::State::InMemory;
            m_memoryBytes += batch.memory.size();
        }
        break;
    }
    if (!onDisk)
        dropOverMemoryLimit();
}

void ProbeRecordStore::keepMemoryBatch()
{
    if (m_unjournaled.isEmpty())
        return;
    Batch batch;
    batch.sequence = nextSequence();
    batch.state = Batch::State::InMemory;
    batch.memory.swap(m_unjournaled);
    batch.bytes = batch.memory.size();
    batch.records = ProbeRecordFormat::count(batch.memory);
    m_batches.push_back(batch);
}

// The oldest records in memory go first, whole records at a time.
int ProbeRecordStore::dropOverMemoryLimit()
{
    int dropped = 0;
    for (auto it = m_batches.begin(); m_memoryBytes > m_limits.memory && it != m_batches.end();) {
        if (it->isOnDisk()) {
            ++it;
            continue;
        }
        dropped += it->records.value_or(0);
        m_memoryBytes -= it->memory.size();
        it = m_batches.erase(it);
    }
    const qint64 excess = m_memoryBytes - m_limits.memory;
    if (excess > 0) {
        const int cut = ProbeRecordFormat::prefixCovering(m_unjournaled, excess);
        dropped += ProbeRecordFormat::count(m_unjournaled.left(cut));
        m_unjournaled.remove(0, cut);
        m_memoryBytes -= cut;
    }
    return dropped;
}

qint64 ProbeRecordStore::diskBytes() const
{
    qint64 total = m_journalBytes;
    for (const AsideFile &aside : m_aside)
        total += aside.bytes;
    for (const Batch &batch : m_batches)
        total += batch.isOnDisk() ? batch.bytes : 0;
    return total;
}

// The oldest records on disk give way first, set aside or held, never the
// newest batch.
int ProbeRecordStore::dropOverDiskLimit()
{
    int dropped = 0;
    qint64 total = diskBytes();
    while (total > m_limits.disk) {
        auto held = std::find_if(m_batches.begin(), m_batches.end(), [](const Batch &b) { return b.isOnDisk(); });
        if (held != m_batches.end() && held + 1 == m_batches.end())
            held = m_batches.end();
        const bool asideFirst = !m_aside.empty() && (held == m_batches.end() || m_aside.front().sequence < held->sequence);
        if (asideFirst) {
            total -= m_aside.front().bytes;
            dropAside(m_aside.front());
            m_aside.erase(m_aside.begin());
        } else if (held != m_batches.end()) {
            total -= held->bytes;
            dropped += dropBatch(*held);
            m_batches.erase(held);
        } else {
            break;
        }
    }
    return dropped;
}

// Returns the records dropped when they are known; the worker counts and
// reports those of a batch found at start.
int ProbeRecordStore::dropBatch(const Batch &batch)
{
    if (batch.records) {
        removeBatchFiles(batch.sequence, batch.file);
        return *batch.records;
    }
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    if (!dir)
        return 0;
    const QStringList names = namesOf(batch.sequence);
    const FileId file = batch.file;
    const qint64 offset = batch.sent;
    auto errors = m_errors;
    m_disk->post([dir, names, file, offset, errors] {
        const int records = countFileRecords(*dir, names, file, offset);
        for (const QString &candidate : names)
            dir->remove(candidate, file);
        dir->sync();
        if (errors && records > 0)
            errors(tr("Probe records dropped, %1: %2").arg(tr("over the disk limit")).arg(records));
    });
    return 0;
}

void ProbeRecordStore::dropAside(const AsideFile &aside)
{
    const std::shared_ptr<const VerifiedDirectory> data = files();
    if (!data)
        return;
    auto errors = m_errors;
    m_disk->post([data, aside, errors] {
        std::shared_ptr<const VerifiedDirectory> dir = data;
        if (aside.folder) {
            Status status;
            dir = data->subdirectory(DataDirectory::folderName(*aside.folder), false, &status);
            if (!dir)
                return;
        }
        const int records = countFileRecords(*dir, {aside.name}, aside.file, 0);
        if (!dir->remove(aside.name, aside.file).ok())
            return;
        dir->sync();
        if (errors)
            errors(tr("Probe batch set aside in %1 deleted, over the disk limit; records dropped: %2")
                       .arg(dir->pathOf(aside.name))
                       .arg(qMax(0, records)));
    });
}

// Deleted and the directory synced, so a power loss cannot bring back a
// batch the server has already taken.
void ProbeRecordStore::removeBatchFiles(qint64 sequence, FileId file)
{
    const std::shared_ptr<const VerifiedDirectory> dir = files();
    if (!dir || file.isNull())
        return;
    const QStringList names = namesOf(sequence);
    m_disk->post([dir, names, file] {
        for (const QString &candidate : names)
            dir->remove(candidate, file);
        dir->sync();
    });
}

ProbeRecordStore::Batch ProbeRecordStore::takeOldest()
{
    const Batch batch = m_batches.front();
    m_batches.pop_front();
    if (!batch.isOnDisk())
        m_memoryBytes -= batch.memory.size();
    return batch;
}

std::shared_ptr<ProbeUploadJob> ProbeRecordStore::uploadOfOldest(const QString &storeNumber)
{
    const Batch &batch = oldest();
    auto job = std::make_shared<ProbeUploadJob>();
    if (batch.state == Batch::State::OnDisk) {
        job->names = namesOf(batch.sequence);
        job->file = batch.file;
        job->offset = batch.sent;
    } else {
        job->records = batch.memory.mid(static_cast<int>(batch.sent));
    }
    job->maxBytes = m_limits.batch;
    job->dir = files();
    // Another process's data directory is not touched, not even for these;
    // this one's may be unusable for the moment.
    if (m_claimed) {
        job->dataDir = dataDir();
        const qint64 uploadTime = nextSequence();
        job->csvName = name(Kind::Csv, uploadTime);
        job->archiveName = name(Kind::Archive, uploadTime);
    }
    job->storeNumber = storeNumber;
    return job;
}

void ProbeRecordStore::acceptOldest(const ProbeUploadJob &job)
{
    if (job.last) {
        removeOldest();
        return;
    }
    Batch &batch = m_batches.front();
    batch.sent += job.consumed;
    batch.refusals = 0;
    if (batch.records)
        batch.records = qMax(0, *batch.records - job.pieceRecords);
}

void ProbeRecordStore::forgetOldest()
{
    takeOldest();
}

void ProbeRecordStore::removeOldest()
{
    const Batch batch = takeOldest();
    // A batch whose sealing failed may still have its journal.
    removeBatchFiles(batch.sequence, batch.file);
}

void ProbeRecordStore::removeWorkingFiles(const ProbeUploadJob &job)
{
    if (!job.dir || job.csvName.isEmpty())
        return;
    const std::shared_ptr<const VerifiedDirectory> dir = job.dir;
    const QString csv = job.csvName, archive = job.archiveName;
    const FileId csvFile = job.csvFile, archiveFile = job.archiveFile;
    m_disk->post([dir, csv, archive, csvFile, archiveFile] {
        if (!csvFile.isNull())
            dir->remove(csv, csvFile);
        if (!archiveFile.isNull())
            dir->remove(archive, archiveFile);
    });
}

bool ProbeRecordStore::refuseOldest()
{
    if (++m_batches.front().refusals < m_limits.refusals)
        return false;
    setAsideOldest(tr("refused by the server %1 times in a row").arg(m_batches.front().refusals));
    return true;
}

void ProbeRecordStore::setAsideOldest(const QString &reason, Folder folder)
{
    moveAside(takeOldest(), folder, reason);
}

// Said at once, so the host hears of it in order; done by the disk
// worker before anything else touches the batch. Counted in the disk
// bound from now on, wherever it ends up.
void ProbeRecordStore::moveAside(const Batch &batch, Folder folder, const QString &reason)
{
    const std::shared_ptr<const VerifiedDirectory> data = files();
    const QString folderName = DataDirectory::folderName(folder);
    const QString target = name(Kind::Batch, batch.sequence);
    const QString targetPath = dataDir() + QLatin1Char('/') + folderName + QLatin1Char('/') + target;
    const int records = batch.records.value_or(0);
    if (!data) {
        reportError(tr("Probe batch %1 and cannot be kept, records dropped: %2").arg(reason).arg(records));
        return;
    }
    reportError(tr("Probe batch %1, moved aside to %2 for an operator: later batches go on").arg(reason, targetPath));
    m_aside.push_back(AsideFile{folder, target, batch.sequence, batch.bytes, batch.file});
    std::sort(m_aside.begin(), m_aside.end(),
              [](const AsideFile &a, const AsideFile &b) { return a.sequence < b.sequence; });
    const QStringList names = batch.state == Batch::State::InMemory ? QStringList() : namesOf(batch.sequence);
    const QByteArray memory = batch.memory;
    const qint64 sequence = batch.sequence;
    const FileId file = batch.file;
    auto errors = m_errors;
    m_disk->post(ProbeDiskWorker::Task([this, data, folder, folderName, target, names, memory, sequence, file,
                                        records, errors] {
        const auto done = [this, sequence](std::optional<Folder> where, const QString &at, FileId kept) {
            return ProbeDiskWorker::Continuation([=] { asideDone(sequence, where, at, kept); });
        };
        const auto report = [&errors](const QString &text) {
            if (errors)
                errors(text);
        };
        Status folderStatus;
        const std::shared_ptr<VerifiedDirectory> dir = data->subdirectory(folderName, true, &folderStatus);
        const QString stays = tr("; the batch stays in %1");
        // A batch on disk moves under one of its names; one that is not
        // there (a journal lost) is written from memory.
        for (const QString &candidate : names) {
            Entry entry;
            if (!data->look(candidate, &entry).ok() || entry.id != file)
                continue;
            if (!dir) {
                report(foreignText(data->pathOf(folderName), folderStatus) + stays.arg(data->pathOf(candidate)));
                return done(std::nullopt, candidate, file);
            }
            const Status moved = data->rename(candidate, file, *dir, target);
            if (moved.ok()) {
                dir->sync();
                data->sync();
                return done(folder, target, file);
            }
            if (moved.isForeign()) {
                report(foreignText(dir->pathOf(target), moved) + stays.arg(data->pathOf(candidate)));
                return done(std::nullopt, candidate, file);
            }
        }
        if (!memory.isEmpty()) {
            FileId made;
            const Status written = dir ? dir->writeNew(target, name(Kind::BatchTemp, sequence), memory, &made)
                                       : folderStatus;
            if (written.ok()) {
                data->sync();
                return done(folder, target, made);
            }
            if (written.isForeign()) {
                report(foreignText(dir ? dir->pathOf(target) : data->pathOf(folderName), written)
                       + stays.arg(data->pathOf(target)));
                if (data->writeNew(target, name(Kind::BatchTemp, sequence), memory, &made).ok())
                    return done(std::nullopt, target, made);
            }
        }
        report(tr("Probe batch could not be moved aside to %1, records dropped: %2")
                   .arg(dir ? dir->pathOf(target) : data->pathOf(folderName))
                   .arg(records));
        return done(std::nullopt, QString(), FileId());
    }));
}

// Where a batch set aside ended up (nowhere: its records are gone).
void ProbeRecordStore::asideDone(qint64 sequence, std::optional<Folder> folder, const QString &fileName, FileId file)
{
    for (auto it = m_aside.begin(); it != m_aside.end(); ++it) {
        if (it->sequence != sequence)
            continue;
        if (fileName.isEmpty()) {
            m_aside.erase(it);
        } else {
            it->folder = folder;
            it->name = fileName;
            it->file = file;
        }
        return;
    }
}
