#pragma once

#include <QByteArray>
#include <QString>

// Saves the configuration file without taking it from the host's user: the
// new text replaces the file durably (see DurableFile) with the file's owner,
// group and mode, so that a wizard run with sudo leaves the file readable
// for the library, which runs as that user. A symbolic link stays a link:
// the file it points to is replaced. A file or directory without any write
// permission bit was made read-only on purpose and is left alone, also by
// root, who could write it anyway.
class ConfigFileWriter
{
public:
    // Empty when the text is saved; otherwise the reason nothing was
    // written, in the system's words, and the file is as it was.
    static QString write(const QString &path, const QByteArray &text);

private:
    // The file a save writes: the path, or the file a link at it points to.
    static QString target(const QString &path);
    static int replace(const QString &file, const QByteArray &text);
};
