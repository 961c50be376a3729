#include "DataDirectory.h"

#include "DataLock.h"

#include <QCoreApplication>
#include <QDir>

#include <map>

#include <unistd.h>

namespace {

struct KindName
{
    DataDirectory::Kind kind;
    const char *suffix;
};

// Every file name suffix of the stores, in one place.
constexpr KindName kindNames[] = {
    {DataDirectory::Kind::Journal, ".journal"},
    {DataDirectory::Kind::Batch, ".batch"},
    {DataDirectory::Kind::BatchTemp, ".batch.tmp"},
    {DataDirectory::Kind::Csv, ".csv"},
    {DataDirectory::Kind::Archive, ".gz"},
    {DataDirectory::Kind::Trades, ".trades"},
    {DataDirectory::Kind::TradesTemp, ".trades.tmp"},
};

constexpr int maxNumberDigits = 18; // fits a qint64 with room for one more

QString tr(const char *text)
{
    return QCoreApplication::translate("DataDirectory", text);
}

unsigned bitOf(DataDirectory::Store store)
{
    return 1u << static_cast<unsigned>(store);
}

} // namespace

QString DataDirectory::fileName(Kind kind, qint64 number)
{
    for (const KindName &entry : kindNames) {
        if (entry.kind == kind)
            return QString::number(number) + QLatin1String(entry.suffix);
    }
    return QString();
}

DataDirectory::Store DataDirectory::storeOf(Kind kind)
{
    return kind == Kind::Trades || kind == Kind::TradesTemp ? Store::Trades : Store::Probe;
}

std::optional<DataDirectory::Name> DataDirectory::parse(const QString &fileName)
{
    int digits = 0;
    while (digits < fileName.size() && fileName[digits] >= QLatin1Char('0') && fileName[digits] <= QLatin1Char('9'))
        ++digits;
    // The number as the stores write it: no leading zero.
    if (digits == 0 || digits > maxNumberDigits || (digits > 1 && fileName[0] == QLatin1Char('0')))
        return std::nullopt;
    const QStringRef suffix = fileName.midRef(digits);
    for (const KindName &entry : kindNames) {
        if (suffix == QLatin1String(entry.suffix))
            return Name{entry.kind, fileName.leftRef(digits).toLongLong()};
    }
    return std::nullopt;
}

QString DataDirectory::folderName(Folder folder)
{
    return folder == Folder::Refused ? QStringLiteral("refused") : QStringLiteral("oversized");
}

QString DataDirectory::lockFileName()
{
    return QStringLiteral(".probe.lock");
}

qint64 DataDirectory::numberAfter(qint64 last, qint64 clockMs)
{
    return qMax(qMax<qint64>(0, clockMs), last + 1);
}

std::shared_ptr<DataDirectory> DataDirectory::open(const QString &path)
{
    static std::mutex mutex;
    static std::map<QString, std::weak_ptr<DataDirectory>> opened;
    const QString key = QDir::cleanPath(QDir(path).absolutePath());
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = opened.begin(); it != opened.end();)
        it = it->second.expired() ? opened.erase(it) : std::next(it);
    if (std::shared_ptr<DataDirectory> existing = opened[key].lock())
        return existing;
    std::shared_ptr<DataDirectory> made(new DataDirectory(key));
    opened[key] = made;
    return made;
}

DataDirectory::DataDirectory(const QString &path) : m_path(path)
{
    take();
}

DataDirectory::~DataDirectory() = default;

void DataDirectory::take()
{
    VerifiedDirectory::Status status;
    std::shared_ptr<VerifiedDirectory> files = VerifiedDirectory::open(m_path, true, &status);
    if (!files) {
        m_problem = status.isForeign()
                        ? tr("%1 %2, left alone: make it a directory of its own").arg(m_path, status.text())
                        : tr("cannot open %1: %2").arg(m_path, status.text());
        return;
    }
    auto lock = std::make_unique<DataLock>(*files, lockFileName());
    if (!lock->isHeld()) {
        m_problem = lock->problem();
        return;
    }
    m_lock = std::move(lock);
    m_files = std::move(files);
    m_problem.clear();
}

bool DataDirectory::isOwned() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files != nullptr;
}

QString DataDirectory::ownerProblem() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problem;
}

std::shared_ptr<const VerifiedDirectory> DataDirectory::files() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files;
}

bool DataDirectory::claim(Store store, QString *problem)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_files) {
        *problem = m_problem;
        return false;
    }
    if (m_claims & bitOf(store)) {
        *problem = tr("%1 is in use by process %2: run one host program per installation")
                       .arg(m_path)
                       .arg(QCoreApplication::applicationPid());
        return false;
    }
    m_claims |= bitOf(store);
    return true;
}

void DataDirectory::release(Store store)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_claims &= ~bitOf(store);
}

// Tried again at every call while the directory is gone or its lock
// could not be taken anew.
bool DataDirectory::reopenIfRemoved()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_files && !m_files->isRemoved())
        return true;
    if (!m_files && !m_removed)
        return false;
    m_removed = true;
    m_files.reset();
    m_lock.reset();
    take();
    m_removed = m_files == nullptr;
    return !m_removed;
}
