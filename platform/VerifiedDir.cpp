#include "VerifiedDir.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

bool everyoneMayWrite(int fd)
{
    struct stat status;
    return ::fstat(fd, &status) == 0 && (status.st_mode & S_IWOTH);
}

// A file root made where everyone writes could be renamed or replaced by
// anyone, with root's name on it.
bool refusedToRoot(int dirFd, QString *problem)
{
    if (::geteuid() != 0 || !everyoneMayWrite(dirFd))
        return false;
    *problem = QStringLiteral("is in a directory everyone may write to, where root makes no file");
    errno = EACCES;
    return true;
}

// O_NONBLOCK is only for the open (a FIFO would wait for its other end).
void restoreBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

} // namespace

VerifiedDir::VerifiedDir(int fd, const QString &path)
    : m_fd(fd)
    , m_path(path)
{
    ::fstat(m_fd, &m_status);
}

VerifiedDir::~VerifiedDir()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

VerifiedDir::VerifiedDir(VerifiedDir &&other) noexcept
    : m_fd(other.m_fd)
    , m_path(std::move(other.m_path))
    , m_problem(std::move(other.m_problem))
    , m_status(other.m_status)
{
    other.m_fd = -1;
}

VerifiedDir &VerifiedDir::operator=(VerifiedDir &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.m_fd;
        m_path = std::move(other.m_path);
        m_problem = std::move(other.m_problem);
        m_status = other.m_status;
        other.m_fd = -1;
    }
    return *this;
}

VerifiedDir VerifiedDir::failed(const QString &path, const QString &problem)
{
    VerifiedDir dir;
    dir.m_path = path;
    dir.m_problem = problem;
    return dir;
}

QString VerifiedDir::openErrorText(int error)
{
    switch (error) {
    case ELOOP: return QStringLiteral("is a symbolic link");
    case ENOTDIR: return QStringLiteral("is not a directory");
    case ENOENT: return QStringLiteral("does not exist");
    case ENXIO:
    case EISDIR: return QStringLiteral("is not a regular file");
    default: return QStringLiteral("cannot be opened (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

QString VerifiedDir::notOwnReason(const struct stat &status)
{
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("is not a regular file");
    if (status.st_nlink != 1)
        return QStringLiteral("has %1 links (a hard link to a file elsewhere)").arg(status.st_nlink);
    return QString();
}

int VerifiedDir::openDirectoryAt(int parentFd, const QByteArray &name, bool create, QString *problem)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = ::openat(parentFd, name.constData(), flags);
    if (fd < 0 && errno == ENOENT && create) {
        if (refusedToRoot(parentFd, problem))
            return -1;
        const bool made = ::mkdirat(parentFd, name.constData(), 0770) == 0;
        if (!made && errno != EEXIST) {
            *problem = openErrorText(errno);
            return -1;
        }
        fd = ::openat(parentFd, name.constData(), flags);
        struct stat parent;
        // The umask would take the group's write: the directory is the group's.
        if (made && fd >= 0 && ::fstat(parentFd, &parent) == 0)
            ::fchmod(fd, 0770 | (parent.st_mode & S_ISGID));
    }
    if (fd < 0) {
        // A link to a directory fails as "not a directory".
        struct stat status;
        const bool isLink = errno == ENOTDIR && ::fstatat(parentFd, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
            && S_ISLNK(status.st_mode);
        *problem = isLink ? openErrorText(ELOOP) : openErrorText(errno);
        return -1;
    }
    restoreBlocking(fd);
    return fd;
}

VerifiedDir VerifiedDir::open(const QString &directoryPath, bool create)
{
    const QString path = QDir::cleanPath(directoryPath);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || slash == path.size() - 1)
        return failed(path, QStringLiteral("is not an absolute directory path"));
    const QString parentPath = slash == 0 ? QStringLiteral("/") : path.left(slash);
    // The installation's own path up to here is the installer's, links included.
    const int parentFd = ::open(encoded(parentPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return failed(path, openErrorText(errno));
    QString problem;
    const int fd = openDirectoryAt(parentFd, encoded(path.mid(slash + 1)), create, &problem);
    ::close(parentFd);
    return fd < 0 ? failed(path, problem) : VerifiedDir(fd, path);
}

VerifiedDir VerifiedDir::subdirectory(const QString &relativePath, bool create) const
{
    if (!isOpen())
        return failed(filePath(relativePath), m_problem);
    VerifiedDir current(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0), m_path);
    for (const QString &part : relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        const QString path = current.filePath(part);
        if (part == QLatin1String(".."))
            return failed(path, QStringLiteral("leaves its directory"));
        QString problem;
        const int fd = openDirectoryAt(current.m_fd, encoded(part), create, &problem);
        if (fd < 0)
            return failed(path, problem);
        current = VerifiedDir(fd, path);
    }
    return current;
}

int VerifiedDir::openRegular(const QString &name, int flags, QString *problem, struct stat *status) const
{
    const int fd = ::openat(m_fd, encoded(name).constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *problem = openErrorText(errno);
        return -1;
    }
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        *problem = notOwnReason(opened);
        errno = EPERM;
        return -1;
    }
    restoreBlocking(fd);
    if (status)
        *status = opened;
    return fd;
}

int VerifiedDir::openOwn(const QString &name, int flags, QString *problem) const
{
    struct stat status;
    const int fd = openRegular(name, flags, problem, &status);
    if (fd >= 0 && status.st_nlink != 1) {
        ::close(fd);
        *problem = notOwnReason(status);
        errno = EPERM;
        return -1;
    }
    return fd;
}

int VerifiedDir::create(const QString &name, QString *problem) const
{
    if (refusedToRoot(m_fd, problem))
        return -1;
    const int fd = ::openat(m_fd, encoded(name).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0660);
    if (fd < 0) {
        const int error = errno;
        struct stat status;
        if (error == EEXIST)
            *problem = entryStatus(name, &status) ? notOwnReason(status) : QString();
        if (error == EEXIST && problem->isEmpty())
            *problem = QStringLiteral("exists");
        else if (error != EEXIST)
            *problem = openErrorText(error);
        errno = error;
        return -1;
    }
    ::fchmod(fd, 0660);
    return fd;
}

bool VerifiedDir::entryStatus(const QString &name, struct stat *status) const
{
    return ::fstatat(m_fd, encoded(name).constData(), status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool VerifiedDir::isOwn(const QString &name, struct stat *status) const
{
    struct stat own;
    if (!entryStatus(name, &own) || !notOwnReason(own).isEmpty())
        return false;
    if (status)
        *status = own;
    return true;
}

bool VerifiedDir::removeOwn(const QString &name) const
{
    return isOwn(name) && ::unlinkat(m_fd, encoded(name).constData(), 0) == 0;
}

int VerifiedDir::renameNoReplace(const QString &from, const QString &to) const
{
    const QByteArray source = encoded(from);
    const QByteArray target = encoded(to);
    if (::renameat2(m_fd, source.constData(), m_fd, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without RENAME_NOREPLACE: a new link never replaces.
    if (::linkat(m_fd, source.constData(), m_fd, target.constData(), 0) != 0)
        return errno;
    ::unlinkat(m_fd, source.constData(), 0);
    return 0;
}

QStringList VerifiedDir::entryNames() const
{
    QStringList names;
    // A description of its own, so that reading does not move m_fd's offset.
    const int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const struct dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}
