#include "TradeJournalFormat.h"

#include <QList>
#include <QUuid>

#include <map>

#include <zlib.h>

namespace {

const char headerLine[] = "nerova-trades 1\n";
constexpr int keyLength = 32;

QByteArray crcText(const QByteArray &text)
{
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(text.constData()), static_cast<uInt>(text.size()));
    return QByteArray::number(static_cast<qulonglong>(crc), 16).rightJustified(8, '0');
}

// The fields of a line whose CRC holds; empty when it does not.
QList<QByteArray> checkedFields(const QByteArray &line)
{
    const int lastSpace = line.lastIndexOf(' ');
    if (lastSpace < 0 || line.mid(lastSpace + 1) != crcText(line.left(lastSpace)))
        return {};
    return line.left(lastSpace).split(' ');
}

bool readTaken(const QList<QByteArray> &fields, TradeJournalFormat::Trade *trade)
{
    if (fields.size() != 3 || fields[0] != "+" || !TradeJournalFormat::isKey(fields[1]))
        return false;
    const auto body = QByteArray::fromBase64Encoding(fields[2], QByteArray::AbortOnBase64DecodingErrors);
    // Only the one spelling the journal writes: Base64 with other padding or
    // stray low bits decodes to the same body under a line no writer made.
    if (!body || body.decoded.toBase64() != fields[2])
        return false;
    trade->key = fields[1];
    trade->body = body.decoded;
    return true;
}

} // namespace

QByteArray TradeJournalFormat::header()
{
    return QByteArray(headerLine);
}

QByteArray TradeJournalFormat::sealed(const QByteArray &line)
{
    return line + ' ' + crcText(line) + '\n';
}

QByteArray TradeJournalFormat::takenLine(const Trade &trade)
{
    return sealed("+ " + trade.key + ' ' + trade.body.toBase64());
}

QByteArray TradeJournalFormat::leftLine(const QByteArray &key)
{
    return sealed("- " + key);
}

TradeJournalFormat::Contents TradeJournalFormat::parse(const QByteArray &bytes)
{
    Contents contents;
    contents.hasHeader = bytes.startsWith(headerLine);
    if (!contents.hasHeader)
        return contents;
    int start = static_cast<int>(sizeof headerLine) - 1;
    while (start < bytes.size()) {
        const int end = bytes.indexOf('\n', start);
        if (end < 0) {
            ++contents.damaged; // cut by a power loss
            break;
        }
        const QList<QByteArray> fields = checkedFields(bytes.mid(start, end - start));
        start = end + 1;
        Line line;
        if (readTaken(fields, &line.trade)) {
            contents.lines.push_back(std::move(line));
        } else if (fields.size() == 2 && fields[0] == "-" && isKey(fields[1])) {
            line.taken = false;
            line.trade.key = fields[1];
            contents.lines.push_back(std::move(line));
        } else {
            ++contents.damaged;
        }
    }
    return contents;
}

std::vector<TradeJournalFormat::Trade> TradeJournalFormat::held(const std::vector<Contents> &journals)
{
    std::vector<Trade> order;
    std::vector<bool> in;
    std::map<QByteArray, size_t> position; // of the keys in the outbox
    for (const Contents &journal : journals) {
        for (const Line &line : journal.lines) {
            const auto found = position.find(line.trade.key);
            if (line.taken && found == position.end()) {
                position.emplace(line.trade.key, order.size());
                order.push_back(line.trade);
                in.push_back(true);
            } else if (!line.taken && found != position.end()) {
                in[found->second] = false;
                position.erase(found);
            }
        }
    }
    std::vector<Trade> trades;
    for (size_t i = 0; i < order.size(); ++i) {
        if (in[i])
            trades.push_back(std::move(order[i]));
    }
    return trades;
}

QByteArray TradeJournalFormat::newKey()
{
    return QUuid::createUuid().toRfc4122().toHex();
}

bool TradeJournalFormat::isKey(const QByteArray &text)
{
    if (text.size() != keyLength)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}
