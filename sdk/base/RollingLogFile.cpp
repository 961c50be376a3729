#include "RollingLogFile.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

using Status = VerifiedDirectory::Status;
using Check = VerifiedDirectory::Check;

// A period roll whose name is taken tries these many numbered names.
const int periodNameTries = 9;

const QString leftAlone = QStringLiteral("(a planted or foreign file is never written, moved or removed");

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

RollingLogFile::~RollingLogFile() = default;

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

void RollingLogFile::close()
{
    m_file = FileHandle();
    m_dir.reset();
}

// Each directory from the trusted one down is opened through the one above
// it, so that a link planted on the way is not entered.
std::shared_ptr<VerifiedDirectory> RollingLogFile::openDirectory()
{
    Status status;
    const QString top = m_belowTrustedDir ? m_trustedDir : m_fileDir;
    std::shared_ptr<VerifiedDirectory> dir = VerifiedDirectory::open(top, true, &status);
    QString path = top;
    const QStringList parts = m_belowTrustedDir ? m_fileDir.mid(m_trustedDir.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)
                                                : QStringList();
    for (const QString &part : parts) {
        if (!dir)
            break;
        path = dir->pathOf(part);
        dir = dir->subdirectory(part, true, &status);
    }
    if (!dir)
        report(QStringLiteral("Log directory %1 not used: it %2").arg(path, status.text()));
    return dir;
}

FileHandle RollingLogFile::openOrCreate(Status *status) const
{
    // Twice: a file removed or made by another process between the two calls.
    for (int attempt = 0; attempt < 2; ++attempt) {
        FileHandle file = m_dir->openExisting(m_name, VerifiedDirectory::Access::Append, status);
        if (file || status->check != Check::Missing)
            return file;
        file = m_dir->create(m_name, status);
        if (file || status->check != Check::Taken)
            return file;
    }
    return FileHandle();
}

bool RollingLogFile::open(qint64 nowUs)
{
    if (m_file)
        return true;
    if (nowUs < m_nextAttemptUs)
        return false;
    m_nextAttemptUs = nowUs + retryUs;
    if (!m_dir)
        m_dir = openDirectory();
    if (!m_dir)
        return false;
    Status status;
    m_file = openOrCreate(&status);
    if (!m_file) {
        report(QStringLiteral("Log file %1 left alone: it %2 %3: remove it, or name another File in the Log group)")
                   .arg(m_filePath, status.text(), leftAlone));
        // A directory removed meanwhile is looked up again next time.
        m_dir.reset();
        return false;
    }
    VerifiedDirectory::Entry opened;
    VerifiedDirectory::describe(m_file, &opened);
    if (!m_policy.append && !m_opened && m_file.truncate(0))
        opened.size = 0;
    // A log of an earlier version that others could read; only its owner may
    // change that, and for anyone else this fails harmlessly.
    if (opened.mode & S_IRWXO)
        ::fchmod(m_file.fd(), opened.mode & 0770);
    m_opened = true;
    m_size = opened.size;
    if (m_policy.periodOf)
        m_period = m_policy.periodOf(m_size > 0 ? opened.modifiedUs : nowUs);
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
    const int error = m_file.writeAll(bytes);
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
    VerifiedDirectory::Entry named;
    return m_dir->lookOwn(m_name, &named).ok() && named.id == m_file.id();
}

// True for a file of ours at name; what else is there is said.
bool RollingLogFile::takeIfOurs(const QString &name)
{
    VerifiedDirectory::Entry entry;
    const Status status = m_dir->lookOwn(name, &entry);
    if (status.isForeign() || (!status.ok() && status.check != Check::Missing))
        report(QStringLiteral("Log file %1 left alone: it %2 %3); the roll passes it by")
                   .arg(m_dir->pathOf(name), status.text(), leftAlone));
    return status.ok();
}

bool RollingLogFile::moveOwn(const QString &from, const QString &to) const
{
    return m_dir->rename(from, FileId(), *m_dir, to).ok();
}

void RollingLogFile::rollBySize()
{
    const bool ours = nameIsStillOurs();
    const QList<int> places = ours ? backupPlaces() : QList<int>();
    if (ours && places.isEmpty() && m_file.truncate(0)) {
        m_size = 0;
        return;
    }
    m_file = FileHandle();
    m_nextAttemptUs = 0;
    if (!ours)
        return;
    shiftBackups(places);
    if (!moveOwn(m_name, backupName(places.first())))
        m_dir->remove(m_name, FileId());
}

// The numbered names free or ours, in order: a name held by anything else
// is passed by, as if the chain had no such number.
QList<int> RollingLogFile::backupPlaces()
{
    QList<int> places;
    for (int i = 1; i <= m_policy.maxBackups; ++i) {
        VerifiedDirectory::Entry entry;
        if (m_dir->look(backupName(i), &entry).check == Check::Missing || takeIfOurs(backupName(i)))
            places.append(i);
    }
    return places;
}

void RollingLogFile::shiftBackups(const QList<int> &places)
{
    m_dir->remove(backupName(places.last()), FileId());
    for (int k = places.size() - 2; k >= 0; --k) {
        const QString from = backupName(places[k]);
        VerifiedDirectory::Entry entry;
        if (m_dir->lookOwn(from, &entry).ok() && !moveOwn(from, backupName(places[k + 1])))
            m_dir->remove(from, FileId());
    }
}

void RollingLogFile::rollByPeriod()
{
    const bool ours = nameIsStillOurs();
    m_file = FileHandle();
    m_nextAttemptUs = 0;
    if (!ours)
        return;
    for (int n = 0; n <= periodNameTries; ++n) {
        const QString target = m_name + m_period + (n == 0 ? QString() : QLatin1Char('.') + QString::number(n));
        if (moveOwn(m_name, target))
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
    for (const VerifiedDirectory::Entry &entry : m_dir->entries()) {
        if (entry.type == VerifiedDirectory::Entry::Type::File && entry.links == 1 && rolled.match(entry.name).hasMatch())
            kept.append({entry.modifiedUs, entry.name});
    }
    std::sort(kept.begin(), kept.end(), [](const auto &a, const auto &b) { return a > b; });
    for (int i = std::max(m_policy.maxBackups, 0); i < kept.size(); ++i)
        m_dir->remove(kept[i].second, FileId());
}
