#include "FileHandle.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

FileHandle::~FileHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FileHandle &FileHandle::operator=(FileHandle &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

int FileHandle::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

FileId FileHandle::id() const
{
    struct stat info {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return FileId();
    return FileId{info.st_dev, info.st_ino};
}

qint64 FileHandle::size() const
{
    struct stat info {};
    return m_fd >= 0 && ::fstat(m_fd, &info) == 0 ? static_cast<qint64>(info.st_size) : -1;
}

QByteArray FileHandle::readAt(qint64 offset, qint64 maxBytes) const
{
    QByteArray bytes(static_cast<int>(qMax<qint64>(0, maxBytes)), Qt::Uninitialized);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(m_fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return QByteArray();
        if (n == 0)
            break;
        done += n;
    }
    bytes.truncate(static_cast<int>(done));
    return bytes;
}

qint64 FileHandle::append(const QByteArray &bytes) const
{
    ssize_t n;
    do {
        n = ::write(m_fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    } while (n < 0 && errno == EINTR);
    return n;
}

int FileHandle::writeAll(const QByteArray &bytes) const
{
    const char *data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

bool FileHandle::truncate(qint64 size) const
{
    return ::ftruncate(m_fd, size) == 0;
}

bool FileHandle::sync() const
{
    return ::fsync(m_fd) == 0;
}

bool FileHandle::syncData() const
{
    return ::fdatasync(m_fd) == 0;
}
