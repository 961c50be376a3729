#include "PlantedNames.h"

#include "TestInstall.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

PlantTarget::PlantTarget(const QString &path)
    : m_path(path)
    , m_content("the host user's own file, which no log line or picture may touch\n")
    , m_mode(0640)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(m_content);
    file.close();
    ::chmod(QFile::encodeName(path).constData(), m_mode);
}

QString PlantTarget::changes() const
{
    struct stat status;
    if (::stat(QFile::encodeName(m_path).constData(), &status) != 0)
        return m_path + " is gone";
    if ((status.st_mode & 07777) != m_mode)
        return QString("%1 has mode %2").arg(m_path).arg(status.st_mode & 07777, 0, 8);
    const QByteArray now = readFile(m_path);
    if (now != m_content)
        return QString("%1 holds %2 bytes: %3").arg(m_path).arg(now.size()).arg(QString::fromUtf8(now.left(200)));
    return QString();
}

bool plant(Planted kind, const QString &name, const PlantTarget &target)
{
    const QByteArray path = QFile::encodeName(name);
    const QByteArray to = QFile::encodeName(target.path());
    switch (kind) {
    case Planted::SymbolicLink: return ::symlink(to.constData(), path.constData()) == 0;
    case Planted::HardLink: return ::link(to.constData(), path.constData()) == 0;
    case Planted::Fifo: return ::mkfifo(path.constData(), 0666) == 0;
    case Planted::Directory: return QDir().mkdir(name);
    }
    return false;
}

const char *plantedName(Planted kind)
{
    switch (kind) {
    case Planted::SymbolicLink: return "symbolic link";
    case Planted::HardLink: return "hard link";
    case Planted::Fifo: return "FIFO";
    case Planted::Directory: return "directory";
    }
    return "";
}
