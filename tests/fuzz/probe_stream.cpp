// The probe device's byte stream, cut into reads of lengths taken from the
// input: a first byte choosing the line bound (0: the default, else a tiny
// one, so that overlong lines get dropped), then reads, each a length byte
// and that many bytes.
// After a final CR LF: every CR LF of the stream completed exactly one line,
// either recorded or dropped; the recorded lines are the stream's lines in
// order, none containing CR LF, each stamped with the read that completed
// it; the incomplete line never outgrew the bound.
#include "ProbeLineReader.h"

#include <QList>

#include <algorithm>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

const QByteArray lineEnd("\r\n");

QList<QByteArray> linesOf(const QByteArray &stream)
{
    QList<QByteArray> lines;
    for (int start = 0, end; (end = stream.indexOf(lineEnd, start)) >= 0; start = end + 2)
        lines.append(stream.mid(start, end - start));
    return lines;
}

// Splits one read's records back into lines, checking each one's stamp.
void takeRecords(const ProbeLineReader::Result &result, qint64 stamp, QList<QByteArray> &lines)
{
    const QByteArray suffix = '|' + QByteArray::number(stamp);
    int start = 0;
    for (int i = 0; i < result.lines; ++i) {
        const int end = result.records.indexOf(lineEnd, start);
        require(end >= 0);
        const QByteArray record = result.records.mid(start, end - start);
        require(record.endsWith(suffix));
        lines.append(record.chopped(suffix.size()));
        start = end + 2;
    }
    require(start == result.records.size());
}

bool isSubsequence(const QList<QByteArray> &part, const QList<QByteArray> &whole)
{
    int next = 0;
    for (const QByteArray &line : whole) {
        if (next < part.size() && part[next] == line)
            ++next;
    }
    return next == part.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool bounded = data[0] != 0;
    const int maxLineBytes = bounded ? 1 + data[0] % 32 : ProbeLineReader::defaultMaxLineBytes;
    ProbeLineReader reader(maxLineBytes);
    QByteArray stream;
    QList<QByteArray> recorded;
    int dropped = 0;
    qint64 stamp = 1700000000000;
    const auto feed = [&](const QByteArray &chunk) {
        stream += chunk;
        const ProbeLineReader::Result result = reader.feed(chunk, ++stamp);
        takeRecords(result, stamp, recorded);
        dropped += result.droppedLines;
        require(reader.pending().size() <= maxLineBytes);
    };
    for (size_t at = 1; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        feed(QByteArray(reinterpret_cast<const char *>(data + at + 1), static_cast<int>(length)));
        at += 1 + length;
    }
    feed(lineEnd);
    require(reader.pending().isEmpty());

    const QList<QByteArray> lines = linesOf(stream);
    require(recorded.size() + dropped == lines.size());
    require(bounded ? isSubsequence(recorded, lines) : recorded == lines);
    return 0;
}
