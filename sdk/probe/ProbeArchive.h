#pragma once

#include <QByteArray>

// gzip archives (RFC 1952) written in-process with zlib.
class ProbeArchive
{
public:
    // A single-member gzip archive of data, made in memory so that a full
    // disk can still send; false when zlib fails.
    static bool compress(const QByteArray &data, QByteArray *archive);
};
