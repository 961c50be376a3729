#pragma once

#include "TradeJournalFormat.h"

#include <QString>
#include <QStringList>

#include <vector>

// The trade outbox's files in the data directory, and every system call
// made on them:
//
//   N.trades           journals (see TradeJournalFormat), N a sequence
//                      number as the probe files have; one is open for
//                      appending, older ones are left over from an earlier
//                      run or a compaction and are removed once their
//                      trades are in the open one
//   refused/N.trades   a trade set aside for an operator, as a journal of
//                      one trade (moved back into data/, it is sent again)
//
// The directory is opened once, without following a link, and every file
// through it: created with O_EXCL, opened with O_NOFOLLOW, checked with
// fstat to be a regular file with one link, and a file that is not a
// journal of ours is left alone.
//
// Not thread-safe: its owner serialises the calls.
class TradeJournal
{
public:
    struct Found
    {
        std::vector<TradeJournalFormat::Contents> journals; // in sequence order
        std::vector<qint64> sequences;                      // their names
        QStringList problems;                               // files left alone, and why
        int damaged = 0;                                    // lines skipped
        qint64 lastSequence = -1;                           // the highest name seen
    };

    explicit TradeJournal(const QString &dataDir);
    ~TradeJournal();
    TradeJournal(const TradeJournal &) = delete;
    TradeJournal &operator=(const TradeJournal &) = delete;

    bool isUsable() const { return m_dirFd >= 0; }
    QString dataDir() const { return m_dataDir; }

    // Reads every journal in the directory (each at most maxBytes long).
    Found readAll(qint64 maxBytes) const;

    // A new journal with its header, opened for appending; -1 when it
    // cannot be made.
    int create(qint64 sequence) const;
    // Writes all of the bytes or none: a short write is cut back.
    static bool append(int fd, qint64 sizeBefore, const QByteArray &bytes);
    void remove(qint64 sequence) const;
    // fdatasync of a journal, fsync of the directory.
    static bool syncFile(int fd);
    bool syncDirectory() const;
    // The trade as refused/N.trades, synced; false when it could not be kept.
    bool setAside(qint64 sequence, const TradeJournalFormat::Trade &trade) const;
    QString path(qint64 sequence) const;
    QString asidePath(qint64 sequence) const;

private:
    static QByteArray name(qint64 sequence);
    static qint64 sequenceOf(const QByteArray &name);
    bool read(const QByteArray &name, qint64 maxBytes, QByteArray *bytes, QString *problem) const;

    QString m_dataDir;
    int m_dirFd = -1;
};
