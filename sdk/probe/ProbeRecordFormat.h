#pragma once

#include <QByteArray>

#include <functional>

// How probe records are framed, in memory, in the journal and batch files
// and in the uploaded CSV file: "line|ms\r\n" each, the device's line as
// received (any bytes but its CR LF), a bar, the time of the read that
// completed it in milliseconds since 1970 in decimal, and CR LF. A record
// ends at its CR LF; that is all the store needs of the framing.
class ProbeRecordFormat
{
public:
    // Appends the record of one line.
    static void append(QByteArray *records, const char *line, int lineBytes, qint64 stampMs);
    static int count(const QByteArray &records);
    // The bytes up to and with the last record end: what is left after
    // them is a record cut short (0 when there is no whole record).
    static int wholeLength(const QByteArray &bytes);
    // The longest run of whole records from the start within maxBytes (0
    // when the first record alone is longer).
    static int pieceLength(const QByteArray &records, qint64 maxBytes);
    // The shortest run of whole records from the start that holds at least
    // minBytes (all of them when none does).
    static int prefixCovering(const QByteArray &records, qint64 minBytes);
    // The end of the last whole record of a file of size bytes, read
    // backwards a chunk at a time through read(start, end) (0 when none).
    static qint64 lastRecordEnd(qint64 size, const std::function<QByteArray(qint64, qint64)> &read);

    // Counts the records of a stream read a chunk at a time.
    class Counter
    {
    public:
        void feed(const QByteArray &chunk);
        int records() const { return m_records; }

    private:
        int m_records = 0;
        char m_last = 0;
    };

    // How much of a file is read at a time.
    static constexpr qint64 chunkBytes = 64 * 1024;
};
