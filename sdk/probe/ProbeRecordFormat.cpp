#include "ProbeRecordFormat.h"

namespace {

const char recordEnd[] = "\r\n";
constexpr int recordEndBytes = 2;
const char stampSeparator = '|';

} // namespace

void ProbeRecordFormat::append(QByteArray *records, const char *line, int lineBytes, qint64 stampMs)
{
    records->append(line, lineBytes);
    records->append(stampSeparator);
    records->append(QByteArray::number(stampMs));
    records->append(recordEnd, recordEndBytes);
}

int ProbeRecordFormat::count(const QByteArray &records)
{
    return records.count(recordEnd);
}

int ProbeRecordFormat::wholeLength(const QByteArray &bytes)
{
    const int at = bytes.lastIndexOf(recordEnd);
    return at < 0 ? 0 : at + recordEndBytes;
}

int ProbeRecordFormat::pieceLength(const QByteArray &records, qint64 maxBytes)
{
    if (maxBytes <= 0)
        return 0;
    if (records.size() <= maxBytes)
        return wholeLength(records);
    return wholeLength(QByteArray::fromRawData(records.constData(), static_cast<int>(maxBytes)));
}

int ProbeRecordFormat::prefixCovering(const QByteArray &records, qint64 minBytes)
{
    const int from = static_cast<int>(qBound<qint64>(0, minBytes - recordEndBytes, records.size()));
    const int at = records.indexOf(recordEnd, from);
    return at < 0 ? records.size() : at + recordEndBytes;
}

// Chunks overlap by a byte, so that a record end across two of them is seen.
qint64 ProbeRecordFormat::lastRecordEnd(qint64 size, const std::function<QByteArray(qint64, qint64)> &read)
{
    for (qint64 end = size; end > 0;) {
        const qint64 start = qMax<qint64>(0, end - chunkBytes);
        const QByteArray chunk = read(start, end);
        if (chunk.size() != end - start)
            return 0;
        const int whole = wholeLength(chunk);
        if (whole > 0)
            return start + whole;
        if (start == 0)
            break;
        end = start + 1;
    }
    return 0;
}

void ProbeRecordFormat::Counter::feed(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    m_records += count(chunk) + (m_last == recordEnd[0] && chunk.front() == recordEnd[1]);
    m_last = chunk.back();
}
