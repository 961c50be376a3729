#include "ProbeLineReader.h"

#include "ProbeRecordFormat.h"

namespace {

const char lineEnd[] = "\r\n";

} // namespace

ProbeLineReader::ProbeLineReader(int maxLineBytes) : m_maxLineBytes(maxLineBytes) {}

ProbeLineReader::Result ProbeLineReader::feed(const QByteArray &chunk, qint64 stampMs)
{
    Result result;
    // A CR left at the end of the previous read may pair with an LF here.
    const int searchFrom = qMax(0, m_pending.size() - 1);
    m_pending.append(chunk);
    int lineStart = 0;
    for (int end = m_pending.indexOf(lineEnd, searchFrom); end >= 0; end = m_pending.indexOf(lineEnd, lineStart)) {
        if (m_skippingLongLine) {
            m_skippingLongLine = false;
        } else {
            ProbeRecordFormat::append(&result.records, m_pending.constData() + lineStart, end - lineStart, stampMs);
            ++result.lines;
        }
        lineStart = end + 2;
    }
    m_pending.remove(0, lineStart);
    boundPending(result);
    return result;
}

// An overlong incomplete line is dropped; a trailing CR is kept, since it
// may be the first half of the line end that finishes the dropped line.
void ProbeLineReader::boundPending(Result &result)
{
    if (m_pending.size() <= m_maxLineBytes)
        return;
    if (!m_skippingLongLine)
        ++result.droppedLines;
    m_skippingLongLine = true;
    const bool endsWithCr = m_pending.endsWith('\r');
    m_pending.clear();
    if (endsWithCr)
        m_pending.append('\r');
}

void ProbeLineReader::clear()
{
    m_pending.clear();
    m_skippingLongLine = false;
}
