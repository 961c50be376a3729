#pragma once

#include "VerifiedDirectory.h"

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

class DataLock;

// The installation's data directory: its layout, the names of its files,
// the rules every store in it keeps, and which process owns it.
//
// Layout (N is a file number, see below):
//
//   .probe.lock        the lock of the one process that owns the stores'
//                      files (DataLock; the name is kept from the time the
//                      probe store was the only one)
//   N.journal          probe records as read ("line|ms\r\n" each), appended
//                      and synced about once a second
//   N.batch            a sealed journal, or records written whole; waits
//                      for the store server to accept it
//   N.batch.tmp        a batch being written whole
//   N.csv, N.gz        the working files of one probe upload: the records
//                      sent (a second name of the batch file where it can
//                      be) and their gzip archive
//   N.trades           the trade outbox's journals (TradeJournalFormat):
//                      trades the store server has not answered, appended
//                      and synced about once a second; one is written to,
//                      older ones are left from an earlier run or a
//                      compaction and go once their trades are in it
//   refused/N.batch    a batch the server refused again and again, kept
//                      for an operator
//   refused/N.trades   a trade the server rejected again and again, as a
//                      journal of one trade (moved back into data/, it is
//                      sent again); written as refused/N.trades.tmp
//   oversized/NAME     a batch kept for an operator because it could not
//                      be sent in pieces (an earlier version put batches
//                      too large to send here)
//   haarcascades/, lbpcascades/   the face worker's cascades, no store's
//
// Every other name is not the stores': it is never opened, counted or
// touched.
//
// File numbers are the wall clock in milliseconds, or one more than the
// highest number seen (in a name of any kind, here or in the folders, also
// of a file that is not the stores') when the clock is behind it; never
// negative. So names are unique, new names sort after old ones, and a
// number counts as used once any name has it.
//
// Rules every store in data/ keeps, so that a crash at any moment, and
// whatever another member of the group plants there, loses and damages
// nothing:
//
//  1. Only the process holding the lock touches the stores' files; every
//     other process keeps its records in memory.
//  2. Every file is reached through the checked descriptor of data/ (or of
//     a folder in it), never by a path; a folder that is a link is not
//     used (VerifiedDirectory).
//  3. A file is made new (O_EXCL) under a number not used before, or
//     written under a temporary name, synced and renamed to a name that
//     does not exist (a rename never replaces a file).
//  4. A name a store is about to make that exists already is not its file:
//     it is left alone, reported with an ERROR line, and the store takes
//     the next number.
//  5. A file found under a store's name is the store's only when it is a
//     regular file with one name (or, for a working CSV file, two names:
//     it and the batch it shares its data with, both here). Anything else
//     (a link, a FIFO, a file with another name elsewhere) is reported
//     once and never truncated, written, renamed, read for sending or
//     deleted; the store works on beside it.
//  6. A file is renamed or deleted only while its name still holds the
//     file the store made or found (same device and inode).
//  7. A journal ends with whole records: a cut last record (a power loss)
//     is dropped when it is sealed at the next start. A journal becomes a
//     batch by sync, then rename; one that cannot be renamed (its batch
//     name is taken) stays a journal and is sent from there.
//  8. Records leave data/ only when the server has accepted them, when
//     they are set aside into refused/ or oversized/, or when the disk
//     bound drops the oldest. Working files and temporary files are
//     deleted after use; any found at start are left over from a crash
//     and deleted (a lone N.csv with one name is a batch of an earlier
//     version and becomes N.batch).
//  9. Everything a store keeps here, its folders included, counts in its
//     disk bound.
//
// One object per directory and process, shared by every store that uses
// it (open()): the first to ask opens the directory and takes the lock,
// which is let go when the last one lets go of the object. Each store
// claims its own files, once per process. A store's use, in short:
//
//   m_data = DataDirectory::open(NerovaBase::instance()->dataDir());
//   if (!m_data->claim(DataDirectory::Store::Trades, &problem))
//       ... keep everything in memory, say why (problem) ...
//   files = m_data->files();  // null while not owned (reopenIfRemoved())
//   files->create(DataDirectory::fileName(kind, number), &status);
//   if (status.isForeign()) ... report and take the next number (rule 4) ...
//   m_data->release(DataDirectory::Store::Trades);  // when the store goes
//
// Threads: everything here may be called from any thread.
class DataDirectory
{
public:
    // The kinds of the stores' files (the suffixes are in one table in
    // the source).
    enum class Kind { Journal, Batch, BatchTemp, Csv, Archive, Trades, TradesTemp };
    enum class Folder { Refused, Oversized };
    // The stores that keep files here (a new store adds itself here, and
    // the kinds and folders of its files above and below).
    enum class Store { Probe, Trades };

    struct Name
    {
        Kind kind;
        qint64 number;
    };

    // "N<suffix>" for the kind.
    static QString fileName(Kind kind, qint64 number);
    // The store whose files are of the kind.
    static Store storeOf(Kind kind);
    // The kind and number of a store's file name; none for any other name.
    static std::optional<Name> parse(const QString &fileName);
    static QString folderName(Folder folder);
    static QString lockFileName();
    // The number after last at this clock reading: never negative, always
    // more than last.
    static qint64 numberAfter(qint64 last, qint64 clockMs);

    // The shared object of the directory at path (made when missing).
    static std::shared_ptr<DataDirectory> open(const QString &path);
    ~DataDirectory();
    DataDirectory(const DataDirectory &) = delete;
    DataDirectory &operator=(const DataDirectory &) = delete;

    const QString &path() const { return m_path; }
    // This process holds the lock.
    bool isOwned() const;
    // Why it does not (empty while it does), with what to do.
    QString ownerProblem() const;
    // The checked descriptor of the directory; null unless owned.
    std::shared_ptr<const VerifiedDirectory> files() const;
    // A store's claim to its files: false (and why) when the directory is
    // not owned, or another object of this process has the claim already.
    bool claim(Store store, QString *problem);
    void release(Store store);
    // True when the directory is owned. After it was removed under the
    // running process, makes it again and takes the lock anew.
    bool reopenIfRemoved();

private:
    explicit DataDirectory(const QString &path);
    void take();

    const QString m_path;
    mutable std::mutex m_mutex;
    std::shared_ptr<const VerifiedDirectory> m_files;
    std::unique_ptr<DataLock> m_lock;
    QString m_problem;
    bool m_removed = false; // removed under this process, not owned again yet
    unsigned m_claims = 0;
};
