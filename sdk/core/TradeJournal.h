#pragma once

#include "DataDirectory.h"
#include "TradeJournalFormat.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The trade outbox's files in the data directory (N.trades, and
// refused/N.trades for the trades set aside; see DataDirectory for the
// layout and the rules), and every file operation on them, made through
// the directory's checked descriptor: a name that holds anything but a
// regular file with one name is not the outbox's, is never read, written
// or removed, and is named in a problem.
//
// Const operations may run on any thread.
class TradeJournal
{
public:
    struct File
    {
        qint64 number = -1;
        FileId id;
    };

    struct Found
    {
        std::vector<TradeJournalFormat::Contents> journals; // in number order
        std::vector<File> files;                            // theirs
        QStringList problems;                               // files left alone, and why
        int damaged = 0;                                    // lines skipped
        qint64 lastNumber = -1;                             // the highest number of any name
        int asideTrades = 0;                                // in refused/
        qint64 asideBytes = 0;
    };

    explicit TradeJournal(std::shared_ptr<DataDirectory> data);

    // Reads every journal (each at most maxBytes long) and counts the
    // trades set aside; removes what a set-aside cut short.
    Found readAll(qint64 maxBytes) const;
    // A new journal with its header, opened for appending; null, with the
    // status, when it cannot be made (Taken: the name holds a planted file).
    std::shared_ptr<FileHandle> create(qint64 number, VerifiedDirectory::Status *status) const;
    // Writes all of the bytes or none: a short write is cut back.
    static bool append(const FileHandle &file, qint64 sizeBefore, const QByteArray &bytes);
    void remove(const File &file) const;
    bool syncDirectory() const;
    // The trade as refused/N.trades, synced.
    VerifiedDirectory::Status setAside(qint64 number, const TradeJournalFormat::Trade &trade) const;
    QString path(qint64 number) const;
    QString asidePath(qint64 number) const;
    qint64 freeBytes() const;

private:
    std::shared_ptr<const VerifiedDirectory> files() const;
    void readAside(Found *found) const;

    std::shared_ptr<DataDirectory> m_data;
};
