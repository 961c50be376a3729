#pragma once

#include "FileHandle.h"

#include <QString>

#include <memory>
#include <vector>

#include <sys/stat.h>

// A directory that others may write to (a group shares it), used through a
// descriptor so that every name in it is looked up in the directory that
// was checked, never through a link planted in its place:
//
// - the directory itself is opened with O_DIRECTORY|O_NOFOLLOW, so a link
//   at its own name is refused (subdirectories the same way, through it);
// - a file is opened with O_NOFOLLOW|O_CLOEXEC (O_EXCL when it is made,
//   O_NONBLOCK so that a planted FIFO cannot stall the caller), then
//   checked with fstat: a regular file, with the number of links expected
//   (one, unless the caller made a second), and when the caller knows it,
//   the identity (device and inode) of the file it made;
// - a rename never replaces a name that exists, and a rename or removal
//   goes ahead only while the name still holds the file the caller knows.
// - in a program that asks for it (the wizard, which installers run as
//   root), root makes no file or directory in a directory that everyone
//   may write to (where anyone could take it over).
//
// What fails a check is left as it is: the status says why, for the caller
// to report. (Between the look at a name and its rename or removal another
// writer of the directory can swap what the name holds; all it can get
// that way is its own planted name moved or removed, never a file it
// points at written.)
//
// Threads: const operations may run on any thread at once.
class VerifiedDirectory
{
public:
    enum class Check {
        Ok,
        Missing,    // no such name
        Taken,      // a new name already exists
        Link,       // a symbolic link
        NotRegular, // a directory, FIFO, socket or device where a file belongs
        NotDirectory, // something else where a directory belongs
        OtherLinks, // a regular file with more (or fewer) links than expected
        NotTheSame, // another file than the one the caller made
        OpenToEveryone, // root makes no file in a directory everyone may write to
        Failed      // the system call failed: error holds the errno
    };

    struct Status
    {
        Check check = Check::Ok;
        int error = 0;

        bool ok() const { return check == Check::Ok; }
        // The name holds something this program did not make: it is left alone.
        bool isForeign() const;
        // "is a link", "has 3 links", ... (to follow the name in a message).
        QString text() const;
    };

    struct Entry
    {
        enum class Type { File, Link, Directory, Other };
        QString name;
        Type type = Type::Other;
        qint64 size = 0;
        quint64 links = 0;
        FileId id;
        qint64 modifiedUs = 0; // microseconds since the epoch
        uid_t owner = 0;
        unsigned mode = 0; // permission bits
    };

    enum class Access { Read, ReadWrite, Append };

    // The directory at path, made (0777 less the umask) when asked and
    // missing. Null, with the status, when it cannot be used.
    static std::shared_ptr<VerifiedDirectory> open(const QString &path, bool create, Status *status);
    // A subdirectory, looked up through this one.
    std::shared_ptr<VerifiedDirectory> subdirectory(const QString &name, bool create, Status *status) const;

    ~VerifiedDirectory();
    VerifiedDirectory(const VerifiedDirectory &) = delete;
    VerifiedDirectory &operator=(const VerifiedDirectory &) = delete;

    const QString &path() const { return m_path; }
    QString pathOf(const QString &name) const { return m_path + QLatin1Char('/') + name; }
    // The directory has been removed under its users (no name leads to it).
    bool isRemoved() const;

    // Every name in the directory with what it is (links not followed).
    std::vector<Entry> entries() const;
    Status look(const QString &name, Entry *entry) const;
    // Ok when the name holds a regular file with one link (one this program
    // may have made); Missing, or why it is not, otherwise.
    Status lookOwn(const QString &name, Entry *entry) const;
    // The directory itself, and an open file, as look() tells a name.
    Status describe(Entry *entry) const;
    static Status describe(const FileHandle &file, Entry *entry);

    // An existing regular file with `links` links or, when expected is
    // given, that very file (whatever its links: a second name the caller
    // made itself).
    FileHandle openExisting(const QString &name, Access access, Status *status, const FileId *expected = nullptr,
                            quint64 links = 1) const;
    // A new file (O_EXCL), opened for appending; Taken when the name exists.
    FileHandle create(const QString &name, Status *status) const;
    // The file at name, made when missing; for a file that lives for ever
    // under one name (a lock).
    FileHandle openOrCreate(const QString &name, Status *status) const;
    // A whole new file: written under temporaryName (made new), synced and
    // renamed to name, which must not exist; then the directory is synced.
    // Nothing is left under either name when it fails.
    Status writeNew(const QString &name, const QString &temporaryName, const QByteArray &bytes,
                    FileId *made = nullptr) const;
    // Moves the file the caller knows (expected) to newName in `to` (this
    // directory or another on the same file system); Taken when newName
    // exists. A null expected accepts a regular file with one link.
    Status rename(const QString &name, const FileId &expected, const VerifiedDirectory &to,
                  const QString &newName) const;
    // Removes the name while it holds the file the caller knows; a null
    // expected accepts a regular file with one link.
    Status remove(const QString &name, const FileId &expected) const;
    // A second name in this directory for an open file.
    Status link(const FileHandle &file, const QString &newName) const;
    bool sync() const;
    // Bytes free for an unprivileged writer (-1 when unknown).
    qint64 freeBytes() const;

    // From now on, running as root, nothing is made in a directory that
    // everyone may write to (OpenToEveryone).
    static void refuseRootWhereEveryoneWrites();

    // Mode bits of the files and directories made, whatever the umask: the
    // group may read and write (a host goes on with files another member
    // made, or the wizard made as root), others may not read. A directory
    // made in a set-group-ID one stays so.
    static constexpr unsigned fileMode = 0660;
    static constexpr unsigned directoryMode = 0770;

private:
    VerifiedDirectory(int fd, const QString &path) : m_fd(fd), m_path(path) {}
    static std::shared_ptr<VerifiedDirectory> openAt(int parentFd, const QString &name, const QString &path,
                                                     bool create, Status *status);
    Status lookAt(const QString &name, Entry *entry, struct stat *info) const;
    Status checkOpened(const FileHandle &file, const FileId *expected, quint64 links) const;
    Status checkName(const QString &name, const FileId &expected) const;
    Status whyNotOpened(const QString &name, int error) const;

    int m_fd;
    QString m_path;
};
