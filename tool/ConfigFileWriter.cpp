#include "ConfigFileWriter.h"

#include "DurableFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool hasWriteBit(mode_t mode)
{
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

QString ConfigFileWriter::write(const QString &path, const QByteArray &text)
{
    const int error = replace(target(path), text);
    return error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error));
}

QString ConfigFileWriter::target(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString existing = info.canonicalFilePath();
    return existing.isEmpty() ? info.symLinkTarget() : existing;
}

int ConfigFileWriter::replace(const QString &file, const QByteArray &text)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    if (::mkdir(dir.constData(), 0777) != 0 && errno != EEXIST)
        return errno;
    struct stat dirStatus {};
    if (::stat(dir.constData(), &dirStatus) != 0)
        return errno;
    if (!hasWriteBit(dirStatus.st_mode))
        return EACCES;

    const QByteArray name = QFile::encodeName(file);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0)
        return errno == ENOENT ? DurableFile::replace(file, text) : errno;
    if (!hasWriteBit(status.st_mode))
        return EACCES;
    // Replacing needs only the directory; the file must be ours to write too.
    if (::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0)
        return errno;
    const DurableFile::Owner owner{status.st_uid, status.st_gid, status.st_mode};
    return DurableFile::replace(file, text, &owner);
}
