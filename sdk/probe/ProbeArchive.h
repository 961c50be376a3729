#pragma once

#include <QString>

// gzip archives (RFC 1952) written in-process with zlib.
class ProbeArchive
{
public:
    // Compresses the file at source into a single-member gzip archive at
    // target (replacing it). False when either file cannot be used; a
    // partly written target is removed.
    static bool compressFile(const QString &source, const QString &target);
};
