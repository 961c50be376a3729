#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <sys/types.h>

// The identity of a file: its device and inode, the same under every name
// and link of it.
struct FileId
{
    dev_t device = 0;
    ino_t inode = 0;

    bool isNull() const { return device == 0 && inode == 0; }
    bool operator==(const FileId &other) const { return device == other.device && inode == other.inode; }
    bool operator!=(const FileId &other) const { return !(*this == other); }
    bool operator<(const FileId &other) const
    {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

// An open file descriptor, closed when the handle goes; only
// VerifiedDirectory makes one, after the checks that the file is one to
// use. Move-only.
class FileHandle
{
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle();
    FileHandle(FileHandle &&other) noexcept : m_fd(other.release()) {}
    FileHandle &operator=(FileHandle &&other) noexcept;
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    explicit operator bool() const { return isOpen(); }
    int fd() const { return m_fd; }
    int release();

    FileId id() const;
    // The size now (-1 when it cannot be read).
    qint64 size() const;
    // Up to maxBytes from offset; fewer at the end of the file, none on an error.
    QByteArray readAt(qint64 offset, qint64 maxBytes) const;
    // One write at the end; returns the bytes written, or -1.
    qint64 append(const QByteArray &bytes) const;
    // Every byte, or an errno (0 when all were written).
    int writeAll(const QByteArray &bytes) const;
    bool truncate(qint64 size) const;
    bool sync() const;
    bool syncData() const;

private:
    int m_fd = -1;
};
