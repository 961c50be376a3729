#include "TradeJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char suffix[] = ".trades";
const char asideFolder[] = "refused";
constexpr int maxDigits = 18;

QString tr(const char *text)
{
    return QCoreApplication::translate("TradeJournal", text);
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

int openDirectory(int atFd, const char *name)
{
    return ::openat(atFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

} // namespace

TradeJournal::TradeJournal(const QString &dataDir) : m_dataDir(QDir::cleanPath(dataDir))
{
    QDir().mkpath(m_dataDir);
    m_dirFd = openDirectory(AT_FDCWD, QFile::encodeName(m_dataDir).constData());
}

TradeJournal::~TradeJournal()
{
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

QByteArray TradeJournal::name(qint64 sequence)
{
    return QByteArray::number(sequence) + suffix;
}

qint64 TradeJournal::sequenceOf(const QByteArray &name)
{
    if (!name.endsWith(suffix))
        return -1;
    const QByteArray digits = name.left(name.size() - static_cast<int>(std::strlen(suffix)));
    if (digits.isEmpty() || digits.size() > maxDigits)
        return -1;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
    }
    return digits.toLongLong();
}

QString TradeJournal::path(qint64 sequence) const
{
    return m_dataDir + QLatin1Char('/') + QString::fromLatin1(name(sequence));
}

QString TradeJournal::asidePath(qint64 sequence) const
{
    return m_dataDir + QLatin1Char('/') + QLatin1String(asideFolder) + QLatin1Char('/')
         + QString::fromLatin1(name(sequence));
}

bool TradeJournal::read(const QByteArray &fileName, qint64 maxBytes, QByteArray *bytes, QString *problem) const
{
    const int fd = ::openat(m_dirFd, fileName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *problem = errno == ELOOP ? tr("a link") : systemError();
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok)
        *problem = systemError();
    else if (!S_ISREG(info.st_mode) || info.st_nlink != 1)
        *problem = tr("not a plain file with one link");
    else if (info.st_size > maxBytes)
        *problem = tr("larger than %1 bytes").arg(maxBytes);
    ok = ok && problem->isEmpty();
    if (ok) {
        bytes->resize(static_cast<int>(info.st_size));
        ok = ::pread(fd, bytes->data(), static_cast<size_t>(bytes->size()), 0) == info.st_size;
        if (!ok)
            *problem = systemError();
    }
    ::close(fd);
    return ok;
}

TradeJournal::Found TradeJournal::readAll(qint64 maxBytes) const
{
    Found found;
    if (m_dirFd < 0)
        return found;
    std::vector<std::pair<qint64, QByteArray>> names;
    const int listFd = ::dup(m_dirFd);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return found;
    }
    ::rewinddir(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const qint64 sequence = sequenceOf(QByteArray(entry->d_name));
        if (sequence >= 0)
            names.emplace_back(sequence, QByteArray(entry->d_name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto &entry : names) {
        found.lastSequence = qMax(found.lastSequence, entry.first);
        QByteArray bytes;
        QString problem;
        TradeJournalFormat::Contents contents;
        if (read(entry.second, maxBytes, &bytes, &problem)) {
            contents = TradeJournalFormat::parse(bytes);
            if (!contents.hasHeader)
                problem = tr("not a trade journal");
        }
        if (!problem.isEmpty()) {
            found.problems << tr("%1 left alone: %2").arg(path(entry.first), problem);
            continue;
        }
        found.damaged += contents.damaged;
        found.journals.push_back(std::move(contents));
        found.sequences.push_back(entry.first);
    }
    return found;
}

int TradeJournal::create(qint64 sequence) const
{
    if (m_dirFd < 0)
        return -1;
    const int fd = ::openat(m_dirFd, name(sequence).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    if (!writeAll(fd, TradeJournalFormat::header())) {
        ::close(fd);
        ::unlinkat(m_dirFd, name(sequence).constData(), 0);
        return -1;
    }
    return fd;
}

bool TradeJournal::append(int fd, qint64 sizeBefore, const QByteArray &bytes)
{
    if (writeAll(fd, bytes))
        return true;
    // A full disk: the journal must not end in a cut line that a later
    // line would follow.
    if (::ftruncate(fd, sizeBefore) != 0) {
        // The cut line is skipped when the journal is read.
    }
    return false;
}

void TradeJournal::remove(qint64 sequence) const
{
    if (m_dirFd >= 0)
        ::unlinkat(m_dirFd, name(sequence).constData(), 0);
}

bool TradeJournal::syncFile(int fd)
{
    return ::fdatasync(fd) == 0;
}

bool TradeJournal::syncDirectory() const
{
    return m_dirFd >= 0 && ::fsync(m_dirFd) == 0;
}

bool TradeJournal::setAside(qint64 sequence, const TradeJournalFormat::Trade &trade) const
{
    if (m_dirFd < 0)
        return false;
    ::mkdirat(m_dirFd, asideFolder, 0777);
    const int asideFd = openDirectory(m_dirFd, asideFolder);
    if (asideFd < 0)
        return false;
    const QByteArray temporary = name(sequence) + ".tmp";
    const int fd = ::openat(asideFd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool kept = fd >= 0 && writeAll(fd, TradeJournalFormat::header() + TradeJournalFormat::takenLine(trade))
             && ::fdatasync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    // Never over a file of the same name.
    kept = kept && ::renameat2(asideFd, temporary.constData(), asideFd, name(sequence).constData(), RENAME_NOREPLACE) == 0;
    if (kept)
        ::fsync(asideFd);
    else if (fd >= 0)
        ::unlinkat(asideFd, temporary.constData(), 0);
    ::close(asideFd);
    return kept;
}
