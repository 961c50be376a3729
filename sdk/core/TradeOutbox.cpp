#include "TradeOutbox.h"

#include "DataDirectory.h"
#include "ProbeDiskWorker.h"
#include "TradeJournal.h"

#include <QCoreApplication>
#include <QDateTime>

#include <chrono>
#include <thread>

namespace {

// Names under which planted files are passed over before a journal is
// given up for the moment.
constexpr int namesToTry = 8;

QString tr(const char *text)
{
    return QCoreApplication::translate("TradeOutbox", text);
}

} // namespace

TradeOutbox::TradeOutbox(const QString &dataDir, Limits limits, ErrorSink errors)
    : m_data(DataDirectory::open(dataDir)), m_limits(limits), m_errors(std::move(errors))
{
    m_claimed = m_data->claim(DataDirectory::Store::Trades, &m_ownerProblem);
    if (m_claimed)
        m_journal = std::make_unique<TradeJournal>(m_data);
    if (m_journal)
        recover(4 * limits.bytes + limits.slack);
}

// Its thread starts with the first trade or journal: a host that reports
// none has none.
ProbeDiskWorker &TradeOutbox::disk()
{
    if (!m_disk) {
        std::shared_ptr<DataDirectory> data = m_data;
        m_disk = std::make_unique<ProbeDiskWorker>(
            [data] {
                const auto files = data->files();
                return files ? files->freeBytes() : -1;
            },
            m_limits.reserve);
    }
    return *m_disk;
}

TradeOutbox::~TradeOutbox()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        if (m_journal && m_inMemory > 0 && !m_compactionAsked) {
            m_compactionAsked = true;
            disk().post([this] { compact(); });
        }
        if (!m_journal && !m_trades.empty())
            reportError(tr("Trades not answered and lost with the library, they were kept in memory only: %1")
                            .arg(m_trades.size()));
    }
    // Its work may ask for more of it: it goes once all is done.
    while (!isIdle())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_disk.reset();
    if (m_claimed)
        m_data->release(DataDirectory::Store::Trades);
}

void TradeOutbox::reportError(const QString &text) const
{
    if (m_errors)
        m_errors(text);
}

// The trades of an earlier run are read once; they move into a new journal
// on the disk worker, and the old journals go once it is synced.
void TradeOutbox::recover(qint64 maxFileBytes)
{
    const TradeJournal::Found found = m_journal->readAll(maxFileBytes);
    for (const QString &problem : found.problems)
        reportError(tr("Trade journal %1").arg(problem));
    if (found.damaged > 0)
        reportError(tr("Trade journals had damaged lines, skipped: %1 (a power loss cuts the last one)").arg(found.damaged));
    m_lastNumber = found.lastNumber;
    m_asideTrades = found.asideTrades;
    m_asideBytes = found.asideBytes;
    for (const Trade &trade : TradeJournalFormat::held(found.journals)) {
        m_trades.push_back(Held{trade, true});
        m_bytes += trade.body.size();
    }
    for (const TradeJournal::File &file : found.files)
        m_obsolete.emplace_back(file.number, file.id);
    if (!m_obsolete.empty()) {
        m_compactionAsked = true;
        disk().post([this] { compact(); });
    }
}

qint64 TradeOutbox::nextNumber()
{
    m_lastNumber = DataDirectory::numberAfter(m_lastNumber, QDateTime::currentMSecsSinceEpoch());
    return m_lastNumber;
}

qint64 TradeOutbox::lineBytes(const Trade &trade)
{
    return TradeJournalFormat::takenLine(trade).size();
}

TradeOutbox::Added TradeOutbox::add(const QByteArray &body, int maxTrades)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Added added;
    const qint64 trades = static_cast<qint64>(m_trades.size()) + m_asideTrades;
    if (trades >= maxTrades || m_bytes + m_asideBytes + body.size() > m_limits.bytes) {
        added.held = static_cast<int>(m_trades.size());
        added.notKept = ++m_notKept;
        return added;
    }
    Held held{Trade{TradeJournalFormat::newKey(), body}, false};
    held.onDisk = writeTaken(held.trade);
    if (!held.onDisk)
        ++m_inMemory;
    m_bytes += body.size();
    m_trades.push_back(std::move(held));
    added.kept = true;
    added.onDisk = m_trades.back().onDisk;
    added.held = static_cast<int>(m_trades.size());
    added.notKept = m_notKept;
    return added;
}

// Trades held in memory are written first, so the journal keeps the order.
bool TradeOutbox::writeTaken(const Trade &trade)
{
    if (!m_journal || m_inMemory > 0 || disk().isLowOnSpace() || !openJournal())
        return false;
    const QByteArray line = TradeJournalFormat::takenLine(trade);
    if (!TradeJournal::append(*m_file, m_journalBytes, line))
        return false;
    m_journalBytes += line.size();
    m_heldLineBytes += line.size();
    disk().markJournalDirty();
    return true;
}

void TradeOutbox::writeLeft(const QByteArray &key)
{
    if (!openJournal())
        return;
    const QByteArray line = TradeJournalFormat::leftLine(key);
    // Should it fail, the trade is sent again at the next start.
    if (TradeJournal::append(*m_file, m_journalBytes, line)) {
        m_journalBytes += line.size();
        disk().markJournalDirty();
    }
}

// A planted file under the next name is left alone, and the next number
// taken.
std::shared_ptr<FileHandle> TradeOutbox::createJournal(qint64 *number)
{
    for (int attempt = 0; attempt < namesToTry; ++attempt) {
        *number = nextNumber();
        VerifiedDirectory::Status status;
        std::shared_ptr<FileHandle> file = m_journal->create(*number, &status);
        if (file)
            return file;
        if (!status.isForeign() && status.check != VerifiedDirectory::Check::Taken)
            return nullptr;
        reportError(tr("Trade journal %1 %2, left alone: the outbox takes the next number")
                        .arg(m_journal->path(*number), status.text()));
    }
    return nullptr;
}

// A new journal's name reaches the disk with the next directory sync.
bool TradeOutbox::openJournal()
{
    if (m_file)
        return true;
    if (!m_journal)
        return false;
    qint64 number = -1;
    std::shared_ptr<FileHandle> file = createJournal(&number);
    if (!file)
        return false;
    m_file = file;
    m_number = number;
    m_journalBytes = TradeJournalFormat::header().size();
    m_heldLineBytes = 0;
    disk().setJournal(m_file);
    disk().markJournalDirty();
    disk().post([this] { m_journal->syncDirectory(); });
    return true;
}

std::vector<TradeOutbox::Trade> TradeOutbox::oldest(size_t count) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Trade> trades;
    for (auto it = m_trades.begin(); it != m_trades.end() && trades.size() < count; ++it)
        trades.push_back(it->trade);
    return trades;
}

int TradeOutbox::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_trades.size());
}

bool TradeOutbox::remove(const QByteArray &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_trades.begin(); it != m_trades.end(); ++it) {
        if (it->trade.key != key)
            continue;
        if (it->onDisk) {
            m_heldLineBytes = qMax<qint64>(0, m_heldLineBytes - lineBytes(it->trade));
            writeLeft(key);
        } else {
            --m_inMemory;
        }
        m_bytes -= it->trade.body.size();
        m_trades.erase(it);
        tidyLocked();
        return true;
    }
    return false;
}

// The file for the operator is synced before the journal says the trade
// has left; until then a compaction keeps it in the journal. Should the
// file fail, the trade stays in the journal and goes out at the next start.
void TradeOutbox::setAside(const QByteArray &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_trades.begin(); it != m_trades.end(); ++it) {
        if (it->trade.key != key)
            continue;
        const Trade trade = it->trade;
        if (it->onDisk)
            m_heldLineBytes = qMax<qint64>(0, m_heldLineBytes - lineBytes(trade));
        else
            --m_inMemory;
        m_bytes -= trade.body.size();
        m_trades.erase(it);
        if (!m_journal) {
            reportError(tr("Trade could not be set aside, there is no data directory: it is lost"));
            return;
        }
        m_settingAside.push_back(trade);
        ++m_asideTrades;
        m_asideBytes += trade.body.size();
        const qint64 number = nextNumber();
        disk().post([this, number, trade] {
            const VerifiedDirectory::Status status = m_journal->setAside(number, trade);
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!status.ok()) {
                reportError(tr("Trade could not be set aside in %1 (%2): it stays in the journal and is sent "
                               "again at the next start")
                                .arg(m_journal->asidePath(number), status.text()));
                return;
            }
            writeLeft(trade.key);
            for (auto pending = m_settingAside.begin(); pending != m_settingAside.end(); ++pending) {
                if (pending->key == trade.key) {
                    m_settingAside.erase(pending);
                    break;
                }
            }
        });
        return;
    }
}

void TradeOutbox::tidy()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    tidyLocked();
}

void TradeOutbox::tidyLocked()
{
    if (!m_journal || m_compactionAsked)
        return;
    const bool emptied = m_trades.empty() && m_settingAside.empty() && m_file;
    const bool mostlyAnswered = m_journalBytes - m_heldLineBytes > m_heldLineBytes + m_limits.slack;
    const bool memoryToWrite = m_inMemory > 0 && !disk().isLowOnSpace();
    if (!emptied && !mostlyAnswered && !memoryToWrite)
        return;
    m_compactionAsked = true;
    disk().post([this] { compact(); });
}

// On the disk worker. The new journal is written under the lock (no sync:
// add() may wait for the writing, never for the disk), then synced, and
// only then do the old journals go.
void TradeOutbox::compact()
{
    std::shared_ptr<FileHandle> newFile;
    std::vector<std::pair<qint64, FileId>> obsolete;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_compactionAsked = false;
        QByteArray lines;
        for (const Held &held : m_trades)
            lines += TradeJournalFormat::takenLine(held.trade);
        for (const Trade &trade : m_settingAside)
            lines += TradeJournalFormat::takenLine(trade);
        qint64 number = -1;
        if (!lines.isEmpty()) {
            newFile = createJournal(&number);
            const qint64 headerBytes = TradeJournalFormat::header().size();
            if (newFile && !TradeJournal::append(*newFile, headerBytes, lines)) {
                m_journal->remove(TradeJournal::File{number, newFile->id()});
                newFile.reset();
            }
            if (!newFile) {
                if (m_ending && m_inMemory > 0)
                    reportError(tr("Trades not answered and lost with the library, the disk could not take them: %1")
                                    .arg(m_inMemory));
                return;
            }
            for (Held &held : m_trades)
                held.onDisk = true;
            m_inMemory = 0;
            m_journalBytes = headerBytes + lines.size();
            m_heldLineBytes = lines.size();
        } else {
            m_journalBytes = m_heldLineBytes = 0;
        }
        if (m_file)
            m_obsolete.emplace_back(m_number, m_file->id());
        obsolete.swap(m_obsolete);
        m_file = newFile;
        m_number = number;
        disk().setJournal(m_file);
    }
    if (newFile)
        newFile->syncData();
    m_journal->syncDirectory();
    for (const auto &old : obsolete)
        m_journal->remove(TradeJournal::File{old.first, old.second});
    m_journal->syncDirectory();
}

bool TradeOutbox::isIdle() const
{
    ProbeDiskWorker *worker = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_compactionAsked)
            return false;
        worker = m_disk.get();
    }
    return !worker || worker->isIdle();
}
