#include "TradeOutbox.h"

#include "ProbeDiskWorker.h"
#include "ProbeRecordStore.h"
#include "TradeJournal.h"

#include <QCoreApplication>
#include <QDateTime>

#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("TradeOutbox", text);
}

} // namespace

TradeOutbox::TradeOutbox(const QString &dataDir, bool ownsDataDir, Limits limits, ErrorSink errors)
    : m_limits(limits), m_errors(std::move(errors))
{
    if (ownsDataDir) {
        auto journal = std::make_unique<TradeJournal>(dataDir);
        if (journal->isUsable())
            m_journal = std::move(journal);
        else
            reportError(tr("Trades are kept in memory only, the data directory %1 cannot be opened").arg(dataDir));
    }
    m_disk = std::make_unique<ProbeDiskWorker>(dataDir, limits.reserve);
    if (m_journal)
        recover(4 * limits.bytes + limits.slack);
}

TradeOutbox::~TradeOutbox()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        if (m_journal && m_inMemory > 0 && !m_compactionAsked) {
            m_compactionAsked = true;
            m_disk->post([this] { compact(); });
        }
        if (!m_journal && !m_trades.empty())
            reportError(tr("Trades not answered and lost with the library, they were kept in memory only: %1")
                            .arg(m_trades.size()));
    }
    // Its work may ask for more of it: it goes once all is done.
    while (!m_disk->isIdle())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_disk.reset();
    if (m_fd >= 0)
        ::close(m_fd);
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
    m_lastSequence = found.lastSequence;
    for (const Trade &trade : TradeJournalFormat::held(found.journals)) {
        m_trades.push_back(Held{trade, true});
        m_bytes += trade.body.size();
    }
    m_obsolete = found.sequences;
    if (!m_obsolete.empty()) {
        m_compactionAsked = true;
        m_disk->post([this] { compact(); });
    }
}

qint64 TradeOutbox::nextSequence()
{
    m_lastSequence = ProbeRecordStore::sequenceAfter(m_lastSequence, QDateTime::currentMSecsSinceEpoch());
    return m_lastSequence;
}

qint64 TradeOutbox::lineBytes(const Trade &trade)
{
    return TradeJournalFormat::takenLine(trade).size();
}

TradeOutbox::Added TradeOutbox::add(const QByteArray &body, int maxTrades)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Added added;
    if (static_cast<qint64>(m_trades.size()) >= maxTrades || m_bytes + body.size() > m_limits.bytes) {
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
    if (!m_journal || m_inMemory > 0 || m_disk->isLowOnSpace() || !openJournal())
        return false;
    const QByteArray line = TradeJournalFormat::takenLine(trade);
    if (!TradeJournal::append(m_fd, m_journalBytes, line))
        return false;
    m_journalBytes += line.size();
    m_heldLineBytes += line.size();
    m_disk->markJournalDirty();
    return true;
}

void TradeOutbox::writeLeft(const QByteArray &key)
{
    if (!openJournal())
        return;
    const QByteArray line = TradeJournalFormat::leftLine(key);
    // Should it fail, the trade is sent again at the next start.
    if (TradeJournal::append(m_fd, m_journalBytes, line)) {
        m_journalBytes += line.size();
        m_disk->markJournalDirty();
    }
}

// A new journal's name reaches the disk with the next directory sync.
bool TradeOutbox::openJournal()
{
    if (m_fd >= 0)
        return true;
    if (!m_journal)
        return false;
    const qint64 sequence = nextSequence();
    const int fd = m_journal->create(sequence);
    if (fd < 0)
        return false;
    m_fd = fd;
    m_sequence = sequence;
    m_journalBytes = TradeJournalFormat::header().size();
    m_heldLineBytes = 0;
    m_disk->setJournal(m_journal->path(sequence));
    m_disk->markJournalDirty();
    m_disk->post([this] { m_journal->syncDirectory(); });
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
        const qint64 sequence = nextSequence();
        m_disk->post([this, sequence, trade] {
            const bool kept = m_journal->setAside(sequence, trade);
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!kept) {
                reportError(tr("Trade could not be set aside in %1: it stays in the journal and is sent again at "
                               "the next start")
                                .arg(m_journal->asidePath(sequence)));
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
    const bool emptied = m_trades.empty() && m_settingAside.empty() && m_fd >= 0;
    const bool mostlyAnswered = m_journalBytes - m_heldLineBytes > m_heldLineBytes + m_limits.slack;
    const bool memoryToWrite = m_inMemory > 0 && !m_disk->isLowOnSpace();
    if (!emptied && !mostlyAnswered && !memoryToWrite)
        return;
    m_compactionAsked = true;
    m_disk->post([this] { compact(); });
}

// On the disk worker. The new journal is written under the lock (no sync:
// add() may wait for the writing, never for the disk), then synced, and
// only then do the old journals go.
void TradeOutbox::compact()
{
    int newFd = -1;
    int oldFd = -1;
    std::vector<qint64> obsolete;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_compactionAsked = false;
        QByteArray lines;
        for (const Held &held : m_trades)
            lines += TradeJournalFormat::takenLine(held.trade);
        for (const Trade &trade : m_settingAside)
            lines += TradeJournalFormat::takenLine(trade);
        const qint64 sequence = lines.isEmpty() ? -1 : nextSequence();
        if (sequence >= 0) {
            newFd = m_journal->create(sequence);
            const qint64 headerBytes = TradeJournalFormat::header().size();
            if (newFd >= 0 && !TradeJournal::append(newFd, headerBytes, lines)) {
                ::close(newFd);
                m_journal->remove(sequence);
                newFd = -1;
            }
            if (newFd < 0) {
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
        }
        oldFd = m_fd;
        if (m_sequence >= 0)
            m_obsolete.push_back(m_sequence);
        obsolete.swap(m_obsolete);
        m_fd = newFd;
        m_sequence = sequence;
        if (sequence < 0)
            m_journalBytes = m_heldLineBytes = 0;
        m_disk->setJournal(sequence >= 0 ? m_journal->path(sequence) : QString());
    }
    if (newFd >= 0)
        TradeJournal::syncFile(newFd);
    m_journal->syncDirectory();
    if (oldFd >= 0)
        ::close(oldFd);
    for (const qint64 sequence : obsolete)
        m_journal->remove(sequence);
    m_journal->syncDirectory();
}

bool TradeOutbox::isIdle() const
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_compactionAsked)
            return false;
    }
    return m_disk->isIdle();
}
