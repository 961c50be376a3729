#pragma once

#include <QString>
#include <QStringList>

#include <sys/stat.h>

// A directory that others may write in (log/, debug/, data/ are the
// group's): opened without following a link and then used only through its
// descriptor. Names in it are opened, made, renamed and removed with the
// *at() calls, never through a link planted under them; a file counts as
// ours only when it is a regular file with one link (a planted hard link
// has two). Nothing is opened that could block: a planted FIFO is refused.
class VerifiedDir
{
public:
    VerifiedDir() = default;
    ~VerifiedDir();
    VerifiedDir(VerifiedDir &&other) noexcept;
    VerifiedDir &operator=(VerifiedDir &&other) noexcept;
    VerifiedDir(const VerifiedDir &) = delete;
    VerifiedDir &operator=(const VerifiedDir &) = delete;

    // The directory at an absolute path whose last part must be a directory,
    // not a link. With create, a missing one is made (0770, and the group of
    // a set-group-ID parent).
    static VerifiedDir open(const QString &path, bool create = false);
    // A directory below this one, each part of relativePath ("a/b") opened
    // the same way from the one above it.
    VerifiedDir subdirectory(const QString &relativePath, bool create = false) const;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // Without a trailing "/".
    QString path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + QLatin1Char('/') + name; }
    // Why the directory is not open ("is a symbolic link", ...).
    QString problem() const { return m_problem; }
    // The directory as it was when opened.
    const struct stat &status() const { return m_status; }

    // Opens an existing regular file, not following a link: its descriptor,
    // or -1 with why in *problem (errno ENOENT when nothing is there).
    int openRegular(const QString &name, int flags, QString *problem, struct stat *status = nullptr) const;
    // Opens an existing file of ours (O_RDONLY, O_WRONLY | O_APPEND, ...):
    // its descriptor, or -1 with why in *problem. The descriptor blocks as
    // usual and is closed on exec.
    int openOwn(const QString &name, int flags, QString *problem) const;
    // Makes a new file for writing, never taking an existing name (a link
    // there stays untouched): mode 0660 whatever the umask, so the group
    // may append and others may not read. Root makes no file in a directory
    // everyone may write to. -1 with why in *problem; errno is EEXIST when
    // the name is taken.
    int create(const QString &name, QString *problem) const;
    // What is at name, not following a link; false when nothing is.
    bool entryStatus(const QString &name, struct stat *status) const;
    bool isOwn(const QString &name, struct stat *status = nullptr) const;
    // Removes name when it is ours; a link or a foreign file stays.
    bool removeOwn(const QString &name) const;
    // Renames within the directory, never over an existing name; 0 or errno.
    int renameNoReplace(const QString &from, const QString &to) const;
    QStringList entryNames() const;

    // Why a file with this status is not ours, or an empty text.
    static QString notOwnReason(const struct stat &status);
    // What an errno of an open without following links means here.
    static QString openErrorText(int error);

private:
    VerifiedDir(int fd, const QString &path);
    static VerifiedDir failed(const QString &path, const QString &problem);
    static int openDirectoryAt(int parentFd, const QByteArray &name, bool create, QString *problem);

    int m_fd = -1;
    QString m_path;
    QString m_problem;
    struct stat m_status = {};
};
