#pragma once

#include <QByteArray>

#include <vector>

// The record format of the trade outbox's journals. A journal is a header
// line, then one line for every trade taken in and one for every trade
// that has left the outbox, each ending in a CRC-32 of the rest:
//
//   nerova-trades 1
//   + <key> <body in Base64> <crc>
//   - <key> <crc>
//
// A power loss may cut the last line or leave a block of zeros: a line
// without its end or with a wrong CRC is skipped (and counted), the lines
// after it still count.
class TradeJournalFormat
{
public:
    struct Trade
    {
        QByteArray key;
        QByteArray body;
    };

    struct Line
    {
        bool taken = true; // false: the trade has left (only its key is set)
        Trade trade;
    };

    struct Contents
    {
        bool hasHeader = false; // false: not a journal of ours
        std::vector<Line> lines;
        int damaged = 0; // lines skipped, a cut last line included
    };

    static QByteArray header();
    static QByteArray takenLine(const Trade &trade);
    static QByteArray leftLine(const QByteArray &key);
    static Contents parse(const QByteArray &bytes);
    // The trades in the outbox after these journals' lines, oldest first:
    // a trade is in from the line that takes it to the line that says it
    // has left; taken again later (a file set aside and moved back), it is
    // in again.
    static std::vector<Trade> held(const std::vector<Contents> &journals);

    // A new key: 32 hexadecimal digits from a random UUID.
    static QByteArray newKey();
    static bool isKey(const QByteArray &text);
    // The line with its CRC and line end, as the journal writes it.
    static QByteArray sealed(const QByteArray &line);
};
