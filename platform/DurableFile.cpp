#include "DurableFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

int giveOwner(int fd, const DurableFile::Owner &owner)
{
    if (::fchown(fd, owner.user, owner.group) != 0 && ::fchown(fd, static_cast<uid_t>(-1), owner.group) != 0)
        return errno;
    // After fchown, which may clear the set-id bits.
    return ::fchmod(fd, owner.mode & 07777) == 0 ? 0 : errno;
}

int errorOf(bool done)
{
    return done ? 0 : errno;
}

} // namespace

bool DurableFile::syncPath(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

int DurableFile::replace(const QString &path, const QByteArray &bytes, const Owner *owner)
{
    const QByteArray temporary = QFile::encodeName(path + QStringLiteral(".tmp"));
    // A left-over temporary file goes; a new one is made, never a link followed.
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, bytes);
    if (error == 0 && owner)
        error = giveOwner(fd, *owner);
    if (error == 0)
        error = errorOf(::fsync(fd) == 0);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = errorOf(::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0);
    if (error != 0) {
        ::unlink(temporary.constData());
        return error;
    }
    syncPath(QFileInfo(path).absolutePath());
    return 0;
}
