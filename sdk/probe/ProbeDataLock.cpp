#include "ProbeDataLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString ownerOf(int fd)
{
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? QString::fromLatin1(text, static_cast<int>(n)).trimmed() : QStringLiteral("?");
}

} // namespace

ProbeDataLock::ProbeDataLock(const QString &dataDir)
{
    QDir().mkpath(dataDir);
    const QByteArray path = QFile::encodeName(dataDir + QLatin1Char('/') + fileName());
    // 0666 less the umask, like every file of data/: the installation's
    // default ACL then keeps it group-writable, so a host run later by
    // another user of the group can still take the lock and the records.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_problem = QCoreApplication::translate("ProbeDataLock", "cannot open %1: %2")
                        .arg(QFile::decodeName(path), QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_problem = QCoreApplication::translate("ProbeDataLock", "%1 is in use by process %2")
                        .arg(dataDir, ownerOf(fd));
        ::close(fd);
        return;
    }
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0) < 0) {
        // The id is only for the message; the lock holds without it.
    }
    m_fd = fd;
}

// The file stays: removing it would let a later process lock a new file
// while another still holds the old one.
ProbeDataLock::~ProbeDataLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
