#include "RollingLogFile.h"

#include "DurableFile.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A period roll whose name is taken tries these many numbered names.
const int periodNameTries = 9;

qint64 modifiedUs(const struct stat &status)
{
    return qint64(status.st_mtim.tv_sec) * 1000000 + status.st_mtim.tv_nsec / 1000;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

RollingLogFile::RollingLogFile(const QString &trustedDir, const QString &filePath, const Policy &policy)
    : m_trustedDir(QDir::cleanPath(trustedDir))
    , m_filePath(QDir::cleanPath(filePath))
    , m_policy(policy)
{
    const int slash = m_filePath.lastIndexOf(QLatin1Char('/'));
    m_name = m_filePath.mid(slash + 1);
    m_fileDir = m_filePath.left(std::max(slash, 1));
    m_belowTrustedDir = !trustedDir.isEmpty()
        && (m_fileDir == m_trustedDir || m_fileDir.startsWith(m_trustedDir + QLatin1Char('/')));
}

RollingLogFile::~RollingLogFile()
{
    closeDescriptor();
}

QString RollingLogFile::backupName(int index) const
{
    return m_name + QLatin1Char('.') + QString::number(index);
}

void RollingLogFile::report(const QString &text)
{
    if (m_reported.contains(text))
        return;
    m_reported.insert(text);
    m_problems.append(text);
}

QStringList RollingLogFile::takeProblems()
{
    QStringList problems;
    problems.swap(m_problems);
    return problems;
}

void RollingLogFile::closeDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void RollingLogFile::close()
{
    closeDescriptor();
    m_dir = VerifiedDir();
}

int RollingLogFile::openOrCreate(QString *why) const
{
    // Twice: a file removed or made by another process between the two calls.
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = m_dir.openOwn(m_name, O_WRONLY | O_APPEND, why);
        if (fd >= 0 || errno != ENOENT)
            return fd;
        fd = m_dir.create(m_name, why);
        if (fd >= 0) {
            ::fcntl(fd, F_SETFL, O_APPEND);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

bool RollingLogFile::open(qint64 nowUs)
{
    if (m_fd >= 0)
        return true;
    if (nowUs < m_nextAttemptUs)
        return false;
    m_nextAttemptUs = nowUs + retryUs;
    if (!m_dir.isOpen()) {
        m_dir = m_belowTrustedDir
            ? VerifiedDir::open(m_trustedDir, true).subdirectory(m_fileDir.mid(m_trustedDir.size()), true)
            : VerifiedDir::open(m_fileDir, true);
    }
    if (!m_dir.isOpen()) {
        report(QStringLiteral("Log directory %1 not used: it %2").arg(m_dir.path(), m_dir.problem()));
        return false;
    }
    QString why;
    m_fd = openOrCreate(&why);
    if (m_fd < 0) {
        report(QStringLiteral("Log file %1 left alone: it %2 (a planted or foreign file is never written, moved or "
                              "removed: remove it, or name another File in the Log group)")
                   .arg(m_filePath, why));
        // A directory removed meanwhile is looked up again next time.
        m_dir = VerifiedDir();
        return false;
    }
    struct stat status;
    ::fstat(m_fd, &status);
    if (!m_policy.append && !m_opened && ::ftruncate(m_fd, 0) == 0)
        status.st_size = 0;
    // A log of an earlier version that others could read; only its owner may
    // change that, and for anyone else this fails harmlessly.
    if (status.st_mode & S_IRWXO)
        ::fchmod(m_fd, status.st_mode & 0770);
    m_opened = true;
    m_size = status.st_size;
    if (m_policy.periodOf)
        m_period = m_policy.periodOf(m_size > 0 ? modifiedUs(status) : nowUs);
    m_nextAttemptUs = 0;
    m_reported.clear();
    return true;
}

bool RollingLogFile::write(const QByteArray &bytes, qint64 nowUs)
{
    if (!open(nowUs))
        return false;
    if (m_policy.periodOf) {
        if (m_policy.periodOf(nowUs) != m_period)
            rollByPeriod();
    } else if (m_size > 0 && m_size + bytes.size() > m_policy.maxFileSize) {
        rollBySize();
    }
    if (!open(nowUs))
        return false;
    const int error = DurableFile::writeAll(m_fd, bytes);
    if (error != 0) {
        report(QStringLiteral("Log file %1 not written: %2").arg(m_filePath, QString::fromLocal8Bit(std::strerror(error))));
        return false;
    }
    m_size += bytes.size();
    return true;
}

// Someone may have renamed the file away or put another in its place: only
// the file this descriptor writes is rolled.
bool RollingLogFile::nameIsStillOurs() const
{
    struct stat own;
    struct stat named;
    return ::fstat(m_fd, &own) == 0 && m_dir.isOwn(m_name, &named) && sameFile(own, named);
}

bool RollingLogFile::takeIfOurs(const QString &name)
{
    struct stat status;
    if (!m_dir.entryStatus(name, &status))
        return false;
    const QString why = VerifiedDir::notOwnReason(status);
    if (why.isEmpty())
        return true;
    report(QStringLiteral("Log file %1 left alone: it %2 (a planted or foreign file is never written, moved or "
                          "removed); the roll passes it by")
               .arg(m_dir.filePath(name), why));
    return false;
}

void RollingLogFile::rollBySize()
{
    const bool ours = nameIsStillOurs();
    const QList<int> places = ours ? backupPlaces() : QList<int>();
    if (ours && places.isEmpty() && ::ftruncate(m_fd, 0) == 0) {
        m_size = 0;
        return;
    }
    closeDescriptor();
    m_nextAttemptUs = 0;
    if (!ours)
        return;
    shiftBackups(places);
    if (m_dir.renameNoReplace(m_name, backupName(places.first())) != 0)
        m_dir.removeOwn(m_name);
}

// The numbered names free or ours, in order: a name held by anything else
// is passed by, as if the chain had no such number.
QList<int> RollingLogFile::backupPlaces()
{
    QList<int> places;
    for (int i = 1; i <= m_policy.maxBackups; ++i) {
        struct stat status;
        if (!m_dir.entryStatus(backupName(i), &status) || takeIfOurs(backupName(i)))
            places.append(i);
    }
    return places;
}

void RollingLogFile::shiftBackups(const QList<int> &places)
{
    m_dir.removeOwn(backupName(places.last()));
    for (int k = places.size() - 2; k >= 0; --k) {
        const QString from = backupName(places[k]);
        if (m_dir.isOwn(from) && m_dir.renameNoReplace(from, backupName(places[k + 1])) != 0)
            m_dir.removeOwn(from);
    }
}

void RollingLogFile::rollByPeriod()
{
    const bool ours = nameIsStillOurs();
    closeDescriptor();
    m_nextAttemptUs = 0;
    if (!ours)
        return;
    for (int n = 0; n <= periodNameTries; ++n) {
        const QString target = m_name + m_period + (n == 0 ? QString() : QLatin1Char('.') + QString::number(n));
        if (m_dir.renameNoReplace(m_name, target) != EEXIST)
            break;
        // Said when what holds the name is not ours.
        takeIfOurs(target);
    }
    keepNewestPeriods();
}

void RollingLogFile::keepNewestPeriods()
{
    const QRegularExpression rolled(QStringLiteral("^%1%2(\\.\\d+)?$").arg(QRegularExpression::escape(m_name), m_policy.periodRegex),
                                    QRegularExpression::UseUnicodePropertiesOption);
    QList<QPair<qint64, QString>> kept;
    for (const QString &name : m_dir.entryNames()) {
        struct stat status;
        if (rolled.match(name).hasMatch() && m_dir.isOwn(name, &status))
            kept.append({modifiedUs(status), name});
    }
    std::sort(kept.begin(), kept.end(), [](const auto &a, const auto &b) { return a > b; });
    for (int i = std::max(m_policy.maxBackups, 0); i < kept.size(); ++i)
        m_dir.removeOwn(kept[i].second);
}
