#include "DataLock.h"

#include "VerifiedDirectory.h"

#include <QCoreApplication>

#include <sys/file.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DataLock", text);
}

QString ownerOf(const FileHandle &file)
{
    const QByteArray text = file.readAt(0, 31).trimmed();
    return text.isEmpty() ? QStringLiteral("?") : QString::fromLatin1(text);
}

} // namespace

DataLock::DataLock(const VerifiedDirectory &dir, const QString &fileName)
{
    VerifiedDirectory::Status status;
    // 0666 less the umask, like every file of data/: the installation's
    // default ACL then keeps it group-writable, so a host run later by
    // another user of the group can still take the lock and the records.
    FileHandle file = dir.openOrCreate(fileName, &status);
    if (!file) {
        m_problem = status.isForeign()
                        ? tr("%1 %2, left alone: an operator should remove it").arg(dir.pathOf(fileName), status.text())
                        : tr("cannot open %1: %2").arg(dir.pathOf(fileName), status.text());
        return;
    }
    if (::flock(file.fd(), LOCK_EX | LOCK_NB) != 0) {
        m_problem = tr("%1 is in use by process %2: run one host program per installation")
                        .arg(dir.path(), ownerOf(file));
        return;
    }
    // The id is only for the message; the lock holds without it.
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (file.truncate(0))
        file.writeAll(pid);
    m_file = std::move(file);
}
