#pragma once

#include "FileHandle.h"
#include "TradeJournalFormat.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class DataDirectory;
class ProbeDiskWorker;
class TradeJournal;

// The bounds of the trade outbox.
struct TradeOutboxLimits
{
    qint64 bytes = 16 * 1024 * 1024; // of the trades' bodies, set-aside ones included
    qint64 reserve = 16 * 1024;      // free space left to the rest of the system
    qint64 slack = 64 * 1024;        // journal bytes of answered trades before a compaction
};

// The trades the store server has not answered yet, in the order they were
// reported, each with its own key. A trade is in the journal (see
// TradeJournal) before add() returns: appended, not synced, so that a
// killed host loses none; the disk worker syncs the journal about once a
// second, so that a power loss loses at most about the last second.
//
// Trades the disk cannot take (full, below the free-space reserve,
// unwritable) wait in memory and are written once it can; without the data
// directory (another process owns it) every trade is kept in memory only.
//
// Threads: add() from any thread; the rest from the sending thread. The
// journal's compaction and syncing run on the disk worker.
class TradeOutbox
{
public:
    using Trade = TradeJournalFormat::Trade;
    using Limits = TradeOutboxLimits;
    using ErrorSink = std::function<void(const QString &)>;

    struct Added
    {
        bool kept = false;   // false: the outbox is full
        bool onDisk = false; // false: kept in memory only
        int held = 0;        // trades in the outbox now
        int notKept = 0;     // trades not kept since the outbox was made
    };

    // errors may be called from the disk worker's thread.
    TradeOutbox(const QString &dataDir, Limits limits, ErrorSink errors);
    // Trades still in memory go to the journal when the disk can take them.
    ~TradeOutbox();
    TradeOutbox(const TradeOutbox &) = delete;
    TradeOutbox &operator=(const TradeOutbox &) = delete;

    // maxTrades counts the set-aside trades too.
    Added add(const QByteArray &body, int maxTrades);
    std::vector<Trade> oldest(size_t count) const;
    int count() const;
    bool isDurable() const { return m_journal != nullptr; }
    // Why the trades are kept in memory only (empty when they are not).
    QString ownerProblem() const { return m_ownerProblem; }
    // The trade was answered: it leaves the outbox; false when it was not there.
    bool remove(const QByteArray &key);
    // The trade goes to refused/ for an operator.
    void setAside(const QByteArray &key);
    // Writes trades held in memory once the disk can take them, and
    // compacts the journal when answered trades fill most of it.
    void tidy();
    // True once the disk worker has done everything asked of it so far.
    bool isIdle() const;

private:
    struct Held
    {
        Trade trade;
        bool onDisk = false;
    };

    void recover(qint64 maxFileBytes);
    // Under the lock (or while no other thread can see the outbox).
    ProbeDiskWorker &disk();
    qint64 nextNumber();
    bool writeTaken(const Trade &trade);
    void writeLeft(const QByteArray &key);
    bool openJournal();
    std::shared_ptr<FileHandle> createJournal(qint64 *number);
    void tidyLocked();
    void compact();
    static qint64 lineBytes(const Trade &trade);
    void reportError(const QString &text) const;

    std::shared_ptr<DataDirectory> m_data;
    bool m_claimed = false;
    QString m_ownerProblem;
    Limits m_limits;
    ErrorSink m_errors;
    std::unique_ptr<TradeJournal> m_journal; // null: memory only
    mutable std::mutex m_mutex;
    std::deque<Held> m_trades;
    qint64 m_bytes = 0;
    int m_inMemory = 0;
    int m_notKept = 0;
    int m_asideTrades = 0;
    qint64 m_asideBytes = 0;
    qint64 m_lastNumber = -1;
    // The journal that add() appends to.
    std::shared_ptr<FileHandle> m_file;
    qint64 m_number = -1;
    qint64 m_journalBytes = 0;
    qint64 m_heldLineBytes = 0;
    std::vector<Trade> m_settingAside; // out of the list, not yet in refused/
    std::vector<std::pair<qint64, FileId>> m_obsolete; // journals whose trades are to move into a new one
    bool m_compactionAsked = false;
    bool m_ending = false;
    // Made with the first need of it; declared last: its queued work runs,
    // and its thread ends, first.
    std::unique_ptr<ProbeDiskWorker> m_disk;
};
