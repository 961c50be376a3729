#pragma once

#include "FileHandle.h"

#include <QString>

class VerifiedDirectory;

// One process owns an installation's data directory: an exclusive flock()
// on its lock file, held for the owner's life and let go by the kernel when
// the process ends, however it ends. The file holds the owner's process id,
// for the message a second process gives.
//
// The lock file is opened through the verified directory without following
// a link, and used only when it is a regular file with one name; anything
// else at its name is left as it is (never truncated or written), and the
// lock is then not held.
class DataLock
{
public:
    DataLock(const VerifiedDirectory &dir, const QString &fileName);

    bool isHeld() const { return m_file.isOpen(); }
    // Why the lock is not held (empty while it is), with what to do.
    QString problem() const { return m_problem; }

private:
    FileHandle m_file;
    QString m_problem;
};
