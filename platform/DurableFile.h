#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Replaces a file's bytes so that a power cut leaves either all of the old
// or all of the new ones: they are written under a temporary name in the
// same directory (the file's name followed by ".tmp"), synced, renamed over
// the file, and the directory is synced.
class DurableFile
{
public:
    // The owner, group and mode bits a replacement is given.
    struct Owner
    {
        uid_t user;
        gid_t group;
        mode_t mode;
    };

    // fsync() of a file or a directory; false when it cannot be done.
    static bool syncPath(const QString &path);

    // Without an owner, the new file is made 0666 less the umask. With one,
    // the temporary file gets it before the rename; where the owner cannot
    // be given (only root may give a file away), the group and mode at
    // least, or nothing is replaced. Returns 0, or the errno of the step
    // that failed, which leaves the file as it was.
    static int replace(const QString &path, const QByteArray &bytes, const Owner *owner = nullptr);
};
