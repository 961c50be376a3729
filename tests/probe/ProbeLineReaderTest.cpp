// The probe line reader fed chunk by chunk, as serial reads arrive: every
// line keeps its own time stamp, whatever the chunking.
#include "ProbeLineReader.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Chunks = std::vector<std::pair<QByteArray, qint64>>; // bytes, time of the read

QByteArray recordsOf(ProbeLineReader &reader, const Chunks &chunks)
{
    QByteArray records;
    for (const auto &chunk : chunks)
        records += reader.feed(chunk.first, chunk.second).records;
    return records;
}

QByteArray recordsOf(const Chunks &chunks)
{
    ProbeLineReader reader;
    return recordsOf(reader, chunks);
}

TEST(ProbeLineReaderTest, EveryLineEndCompletesALineStampedByTheReadThatCompletedIt)
{
    // A line in two reads gets the stamp of the second.
    EXPECT_EQ(recordsOf({{"abc", 1}, {"def\r\n", 2}}), "abcdef|2\r\n");
    // Two lines in one read share its stamp.
    EXPECT_EQ(recordsOf({{"a\r\nb\r\n", 5}}), "a|5\r\nb|5\r\n");
    // A complete line followed by the start of the next: the first is
    // stamped at once, the second by the read that ends it.
    EXPECT_EQ(recordsOf({{"line\r\nne", 7}, {"xt\r\n", 9}}), "line|7\r\nnext|9\r\n");
    // CR at the end of one read, LF at the start of the next.
    EXPECT_EQ(recordsOf({{"k\r", 3}, {"\nl\r\n", 4}}), "k|4\r\nl|4\r\n");
    EXPECT_EQ(recordsOf({{"k\r", 3}, {"\n", 4}, {"\r", 5}, {"\n", 6}}), "k|4\r\n|6\r\n");
    // An empty line is the separator, the stamp and CR LF.
    EXPECT_EQ(recordsOf({{"\r\n", 1700000000123}}), "|1700000000123\r\n");
    // One byte a read.
    ProbeLineReader reader;
    QByteArray records;
    const QByteArray text = "xy\r\nz\r\n";
    for (int i = 0; i < text.size(); ++i)
        records += reader.feed(text.mid(i, 1), i).records;
    EXPECT_EQ(records, "xy|3\r\nz|6\r\n");
    EXPECT_TRUE(reader.pending().isEmpty());
}

TEST(ProbeLineReaderTest, LineBytesAreKeptExactly)
{
    const QByteArray withNul("n\0ul\r\n", 6);
    EXPECT_EQ(recordsOf({{withNul, 8}}), QByteArray("n\0ul|8\r\n", 8));
    // A character split across reads, and bytes that are not UTF-8.
    EXPECT_EQ(recordsOf({{"\xe4\xb8", 1}, {"\xad\xff\r\n", 2}}), "\xe4\xb8\xad\xff|2\r\n");
    // A lone CR or LF is part of the line; CR CR LF ends it after the first CR.
    EXPECT_EQ(recordsOf({{"a\rb\nc\r\r\n", 4}}), "a\rb\nc\r|4\r\n");
}

TEST(ProbeLineReaderTest, WithoutALineEndNothingIsCompletedAndThePendingLineIsBounded)
{
    ProbeLineReader reader(16);
    const ProbeLineReader::Result partial = reader.feed("no line end", 1);
    EXPECT_TRUE(partial.records.isEmpty());
    EXPECT_EQ(partial.lines, 0);
    EXPECT_EQ(reader.pending(), "no line end");

    // A line past the bound is dropped whole, up to its own line end, even
    // when that line end is split across reads; the next line is intact.
    const ProbeLineReader::Result overflow = reader.feed(QByteArray(40, 'x'), 2);
    EXPECT_EQ(overflow.droppedLines, 1);
    EXPECT_LE(reader.pending().size(), 16);
    EXPECT_EQ(reader.feed(" still the same line\r", 3).droppedLines, 0);
    const ProbeLineReader::Result after = reader.feed("\nnext\r\n", 4);
    EXPECT_EQ(after.records, "next|4\r\n");
    EXPECT_EQ(after.lines, 1);

    // A lost link drops the incomplete line only.
    reader.feed("half", 5);
    reader.clear();
    EXPECT_EQ(reader.feed("whole\r\n", 6).records, "whole|6\r\n");
}

} // namespace
