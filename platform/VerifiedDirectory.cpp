#include "VerifiedDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr int noFollow = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

using Check = VerifiedDirectory::Check;
using Status = VerifiedDirectory::Status;

Status failed(Check check, int error = 0)
{
    Status status;
    status.check = check;
    status.error = error;
    return status;
}

// What stands at a name that could not be opened as wanted.
Status classify(int dirFd, const QByteArray &name, int error, bool wantDirectory)
{
    struct stat info {};
    if (::fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(errno == ENOENT ? Check::Missing : Check::Failed, errno);
    if (S_ISLNK(info.st_mode))
        return failed(Check::Link, error);
    if (error == EEXIST)
        return failed(Check::Taken, error);
    if (wantDirectory && !S_ISDIR(info.st_mode))
        return failed(Check::NotDirectory, error);
    if (!wantDirectory && !S_ISREG(info.st_mode))
        return failed(Check::NotRegular, error);
    return failed(Check::Failed, error);
}

Status checkInfo(const struct stat &info, const FileId *expected, quint64 links)
{
    if (!S_ISREG(info.st_mode))
        return failed(S_ISLNK(info.st_mode) ? Check::Link : Check::NotRegular);
    if (expected && !expected->isNull())
        return FileId{info.st_dev, info.st_ino} == *expected ? Status() : failed(Check::NotTheSame);
    return info.st_nlink == links ? Status() : failed(Check::OtherLinks);
}

QString tr(const char *text)
{
    return QCoreApplication::translate("VerifiedDirectory", text);
}

std::atomic<bool> rootRefusedWhereEveryoneWrites{false};

// Anyone could rename, replace or remove a file root made there.
bool refusedToRoot(int dirFd, Status *status)
{
    struct stat info {};
    if (!rootRefusedWhereEveryoneWrites || ::geteuid() != 0 || ::fstat(dirFd, &info) != 0 || !(info.st_mode & S_IWOTH))
        return false;
    *status = failed(Check::OpenToEveryone, EACCES);
    return true;
}

void describeInfo(const struct stat &info, VerifiedDirectory::Entry *entry)
{
    using Type = VerifiedDirectory::Entry::Type;
    entry->type = S_ISREG(info.st_mode)   ? Type::File
                : S_ISLNK(info.st_mode) ? Type::Link
                : S_ISDIR(info.st_mode) ? Type::Directory
                                        : Type::Other;
    entry->size = info.st_size;
    entry->links = info.st_nlink;
    entry->id = FileId{info.st_dev, info.st_ino};
    entry->modifiedUs = qint64(info.st_mtim.tv_sec) * 1000000 + info.st_mtim.tv_nsec / 1000;
    entry->owner = info.st_uid;
    entry->mode = info.st_mode & 07777;
}

int renameNoReplace(int fromDir, const char *from, int toDir, const char *to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a second name, which never replaces
    // one, then the first name goes.
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return errno;
    return ::unlinkat(fromDir, from, 0) == 0 ? 0 : errno;
}

} // namespace

bool VerifiedDirectory::Status::isForeign() const
{
    switch (check) {
    case Check::Taken:
    case Check::Link:
    case Check::NotRegular:
    case Check::NotDirectory:
    case Check::OtherLinks:
    case Check::NotTheSame:
        return true;
    case Check::Ok:
    case Check::Missing:
    case Check::OpenToEveryone:
    case Check::Failed:
        break;
    }
    return false;
}

QString VerifiedDirectory::Status::text() const
{
    switch (check) {
    case Check::Ok:
        return tr("is in order");
    case Check::Missing:
        return tr("does not exist");
    case Check::Taken:
        return tr("is taken by a file this program did not make");
    case Check::Link:
        return tr("is a symbolic link");
    case Check::NotRegular:
        return tr("is not a regular file");
    case Check::NotDirectory:
        return tr("is not a directory");
    case Check::OtherLinks:
        return tr("has other names (hard links) than the one this program gave it");
    case Check::NotTheSame:
        return tr("holds another file than the one this program made");
    case Check::OpenToEveryone:
        return tr("is in a directory everyone may write to, where root makes no file");
    case Check::Failed:
        break;
    }
    return tr("cannot be used: %1").arg(QString::fromLocal8Bit(std::strerror(error)));
}

void VerifiedDirectory::refuseRootWhereEveryoneWrites()
{
    rootRefusedWhereEveryoneWrites = true;
}

std::shared_ptr<VerifiedDirectory> VerifiedDirectory::open(const QString &path, bool create, Status *status)
{
    // A trailing "/" would have a link at the last name followed.
    const QString clean = QDir::cleanPath(path);
    return openAt(AT_FDCWD, clean, clean, create, status);
}

std::shared_ptr<VerifiedDirectory> VerifiedDirectory::subdirectory(const QString &name, bool create,
                                                                   Status *status) const
{
    return openAt(m_fd, name, pathOf(name), create, status);
}

std::shared_ptr<VerifiedDirectory> VerifiedDirectory::openAt(int parentFd, const QString &name, const QString &path,
                                                             bool create, Status *status)
{
    const QByteArray encoded = QFile::encodeName(name);
    *status = Status();
    bool made = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(parentFd, encoded.constData(), O_RDONLY | O_DIRECTORY | noFollow);
        if (fd >= 0) {
            struct stat info {};
            if (made && ::fstat(fd, &info) == 0)
                ::fchmod(fd, directoryMode | (info.st_mode & S_ISGID));
            return std::shared_ptr<VerifiedDirectory>(new VerifiedDirectory(fd, path));
        }
        const int error = errno;
        if (error == ENOENT && create && attempt == 0 && parentFd != AT_FDCWD && refusedToRoot(parentFd, status))
            return nullptr;
        if (error == ENOENT && create && attempt == 0) {
            made = ::mkdirat(parentFd, encoded.constData(), directoryMode) == 0;
            if (made || errno == EEXIST)
                continue;
        }
        *status = classify(parentFd, encoded, error, true);
        break;
    }
    return nullptr;
}

VerifiedDirectory::~VerifiedDirectory()
{
    ::close(m_fd);
}

bool VerifiedDirectory::isRemoved() const
{
    struct stat info {};
    return ::fstat(m_fd, &info) != 0 || info.st_nlink == 0;
}

std::vector<VerifiedDirectory::Entry> VerifiedDirectory::entries() const
{
    std::vector<Entry> entries;
    // A descriptor of its own: readdir moves the one it reads through.
    const int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return entries;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return entries;
    }
    while (const dirent *item = ::readdir(dir)) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0)
            continue;
        Entry entry;
        if (look(QFile::decodeName(item->d_name), &entry).check != Check::Missing)
            entries.push_back(entry);
    }
    ::closedir(dir);
    return entries;
}

VerifiedDirectory::Status VerifiedDirectory::lookAt(const QString &name, Entry *entry, struct stat *info) const
{
    entry->name = name;
    if (::fstatat(m_fd, QFile::encodeName(name).constData(), info, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(errno == ENOENT ? Check::Missing : Check::Failed, errno);
    describeInfo(*info, entry);
    return Status();
}

VerifiedDirectory::Status VerifiedDirectory::look(const QString &name, Entry *entry) const
{
    struct stat info {};
    return lookAt(name, entry, &info);
}

VerifiedDirectory::Status VerifiedDirectory::lookOwn(const QString &name, Entry *entry) const
{
    struct stat info {};
    const Status looked = lookAt(name, entry, &info);
    return looked.ok() ? checkInfo(info, nullptr, 1) : looked;
}

VerifiedDirectory::Status VerifiedDirectory::describe(Entry *entry) const
{
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        return failed(Check::Failed, errno);
    describeInfo(info, entry);
    return Status();
}

VerifiedDirectory::Status VerifiedDirectory::describe(const FileHandle &file, Entry *entry)
{
    struct stat info {};
    if (::fstat(file.fd(), &info) != 0)
        return failed(Check::Failed, errno);
    describeInfo(info, entry);
    return Status();
}

VerifiedDirectory::Status VerifiedDirectory::checkOpened(const FileHandle &file, const FileId *expected,
                                                         quint64 links) const
{
    struct stat info {};
    if (::fstat(file.fd(), &info) != 0)
        return failed(Check::Failed, errno);
    return checkInfo(info, expected, links);
}

VerifiedDirectory::Status VerifiedDirectory::checkName(const QString &name, const FileId &expected) const
{
    struct stat info {};
    if (::fstatat(m_fd, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(errno == ENOENT ? Check::Missing : Check::Failed, errno);
    return checkInfo(info, &expected, 1);
}

VerifiedDirectory::Status VerifiedDirectory::whyNotOpened(const QString &name, int error) const
{
    return classify(m_fd, QFile::encodeName(name), error, false);
}

FileHandle VerifiedDirectory::openExisting(const QString &name, Access access, Status *status,
                                           const FileId *expected, quint64 links) const
{
    // Looked at first, so that a FIFO or device is never opened at all.
    Entry entry;
    *status = look(name, &entry);
    if (!status->ok())
        return FileHandle();
    if (entry.type != Entry::Type::File) {
        *status = failed(entry.type == Entry::Type::Link ? Check::Link : Check::NotRegular);
        return FileHandle();
    }
    const int mode = access == Access::Read ? O_RDONLY : access == Access::Append ? O_WRONLY | O_APPEND : O_RDWR;
    FileHandle file(::openat(m_fd, QFile::encodeName(name).constData(), mode | noFollow | O_NONBLOCK));
    if (!file) {
        *status = whyNotOpened(name, errno);
        return FileHandle();
    }
    *status = checkOpened(file, expected, links);
    return status->ok() ? std::move(file) : FileHandle();
}

FileHandle VerifiedDirectory::create(const QString &name, Status *status) const
{
    if (refusedToRoot(m_fd, status))
        return FileHandle();
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_APPEND | noFollow;
    FileHandle file(::openat(m_fd, QFile::encodeName(name).constData(), flags, fileMode));
    if (!file) {
        *status = whyNotOpened(name, errno);
        return FileHandle();
    }
    ::fchmod(file.fd(), fileMode);
    *status = checkOpened(file, nullptr, 1);
    return status->ok() ? std::move(file) : FileHandle();
}

FileHandle VerifiedDirectory::openOrCreate(const QString &name, Status *status) const
{
    Entry entry;
    if (look(name, &entry).check == Check::Missing && refusedToRoot(m_fd, status))
        return FileHandle();
    const int flags = O_RDWR | O_CREAT | O_NONBLOCK | noFollow;
    FileHandle file(::openat(m_fd, QFile::encodeName(name).constData(), flags, fileMode));
    if (!file) {
        *status = whyNotOpened(name, errno);
        return FileHandle();
    }
    *status = checkOpened(file, nullptr, 1);
    return status->ok() ? std::move(file) : FileHandle();
}

VerifiedDirectory::Status VerifiedDirectory::writeNew(const QString &name, const QString &temporaryName,
                                                      const QByteArray &bytes, FileId *made) const
{
    Status status;
    FileHandle file = create(temporaryName, &status);
    if (!file)
        return status;
    const FileId id = file.id();
    int error = file.writeAll(bytes);
    if (error == 0 && !file.sync())
        error = errno;
    file = FileHandle();
    if (error == 0) {
        const QByteArray target = QFile::encodeName(name);
        error = renameNoReplace(m_fd, QFile::encodeName(temporaryName).constData(), m_fd, target.constData());
        status = error == EEXIST ? classify(m_fd, target, error, false) : failed(error ? Check::Failed : Check::Ok, error);
    } else {
        status = failed(Check::Failed, error);
    }
    if (!status.ok()) {
        remove(temporaryName, id);
        return status;
    }
    sync();
    if (made)
        *made = id;
    return status;
}

VerifiedDirectory::Status VerifiedDirectory::rename(const QString &name, const FileId &expected,
                                                    const VerifiedDirectory &to, const QString &newName) const
{
    const Status status = checkName(name, expected);
    if (!status.ok())
        return status;
    const QByteArray target = QFile::encodeName(newName);
    const int error = renameNoReplace(m_fd, QFile::encodeName(name).constData(), to.m_fd, target.constData());
    if (error == 0)
        return Status();
    if (error == EEXIST)
        return classify(to.m_fd, target, error, false);
    return failed(error == ENOENT ? Check::Missing : Check::Failed, error);
}

VerifiedDirectory::Status VerifiedDirectory::remove(const QString &name, const FileId &expected) const
{
    const Status status = checkName(name, expected);
    if (!status.ok())
        return status;
    if (::unlinkat(m_fd, QFile::encodeName(name).constData(), 0) == 0)
        return Status();
    return failed(errno == ENOENT ? Check::Missing : Check::Failed, errno);
}

// Linked through /proc, so that the new name is of the very file that is
// open (linkat with AT_EMPTY_PATH would need a privilege).
VerifiedDirectory::Status VerifiedDirectory::link(const FileHandle &file, const QString &newName) const
{
    const QByteArray source = "/proc/self/fd/" + QByteArray::number(file.fd());
    if (::linkat(AT_FDCWD, source.constData(), m_fd, QFile::encodeName(newName).constData(), AT_SYMLINK_FOLLOW) == 0)
        return Status();
    return failed(errno == EEXIST ? Check::Taken : Check::Failed, errno);
}

bool VerifiedDirectory::sync() const
{
    return ::fsync(m_fd) == 0;
}

qint64 VerifiedDirectory::freeBytes() const
{
    struct statvfs volume {};
    if (::fstatvfs(m_fd, &volume) != 0)
        return -1;
    return static_cast<qint64>(volume.f_bavail) * static_cast<qint64>(volume.f_frsize);
}
