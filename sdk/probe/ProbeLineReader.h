#pragma once

#include <QByteArray>

// Turns the probe device's byte stream into time-stamped records.
//
// A line ends with CR LF, wherever the two bytes fall: inside one read,
// or CR at the end of one read and LF at the start of the next. Each
// completed line becomes "line|<ms since epoch>\r\n", stamped with the time
// of the read that completed it. The line's bytes are kept exactly as
// received (NUL bytes and invalid UTF-8 included). The incomplete line is
// bounded: one that grows past the bound is dropped whole, up to its line
// end, so it is never merged with the line after it.
class ProbeLineReader
{
public:
    static constexpr int defaultMaxLineBytes = 64 * 1024;

    struct Result
    {
        QByteArray records; // the records completed by this read
        int lines = 0;
        int droppedLines = 0; // lines longer than the bound, left out
    };

    explicit ProbeLineReader(int maxLineBytes = defaultMaxLineBytes);

    Result feed(const QByteArray &chunk, qint64 stampMs);
    // Drops the incomplete line (the link was lost or closed).
    void clear();
    const QByteArray &pending() const { return m_pending; }

private:
    void boundPending(Result &result);

    int m_maxLineBytes;
    QByteArray m_pending;
    bool m_skippingLongLine = false;
};
