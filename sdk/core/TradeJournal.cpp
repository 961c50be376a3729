#include "TradeJournal.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>

namespace {

using Kind = DataDirectory::Kind;
using Entry = VerifiedDirectory::Entry;

QString tr(const char *text)
{
    return QCoreApplication::translate("TradeJournal", text);
}

QString journalName(qint64 number)
{
    return DataDirectory::fileName(Kind::Trades, number);
}

QString refusedFolder()
{
    return DataDirectory::folderName(DataDirectory::Folder::Refused);
}

bool isPlainFile(const Entry &entry)
{
    return entry.type == Entry::Type::File && entry.links == 1;
}

} // namespace

TradeJournal::TradeJournal(std::shared_ptr<DataDirectory> data) : m_data(std::move(data)) {}

std::shared_ptr<const VerifiedDirectory> TradeJournal::files() const
{
    m_data->reopenIfRemoved();
    return m_data->files();
}

QString TradeJournal::path(qint64 number) const
{
    return m_data->path() + QLatin1Char('/') + journalName(number);
}

QString TradeJournal::asidePath(qint64 number) const
{
    return m_data->path() + QLatin1Char('/') + refusedFolder() + QLatin1Char('/') + journalName(number);
}

qint64 TradeJournal::freeBytes() const
{
    const auto dir = m_data->files();
    return dir ? dir->freeBytes() : -1;
}

TradeJournal::Found TradeJournal::readAll(qint64 maxBytes) const
{
    Found found;
    const auto dir = files();
    if (!dir)
        return found;
    std::vector<std::pair<qint64, Entry>> journals;
    for (const Entry &entry : dir->entries()) {
        const auto parsed = DataDirectory::parse(entry.name);
        if (!parsed)
            continue;
        found.lastNumber = qMax(found.lastNumber, parsed->number);
        if (parsed->kind == Kind::Trades)
            journals.emplace_back(parsed->number, entry);
    }
    std::sort(journals.begin(), journals.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &journal : journals) {
        const Entry &entry = journal.second;
        VerifiedDirectory::Status status;
        QString problem;
        TradeJournalFormat::Contents contents;
        if (entry.size > maxBytes) {
            problem = tr("is larger than %1 bytes").arg(maxBytes);
        } else {
            const FileHandle file = dir->openExisting(entry.name, VerifiedDirectory::Access::Read, &status, &entry.id);
            if (!file)
                problem = status.text();
            else
                contents = TradeJournalFormat::parse(file.readAt(0, maxBytes));
            if (file && !contents.hasHeader)
                problem = tr("is not a trade journal");
        }
        if (!problem.isEmpty()) {
            found.problems << tr("%1 %2, left alone").arg(dir->pathOf(entry.name), problem);
            continue;
        }
        found.damaged += contents.damaged;
        found.journals.push_back(std::move(contents));
        found.files.push_back(File{journal.first, entry.id});
    }
    readAside(&found);
    return found;
}

void TradeJournal::readAside(Found *found) const
{
    VerifiedDirectory::Status status;
    const auto aside = files()->subdirectory(refusedFolder(), false, &status);
    if (!aside)
        return;
    for (const Entry &entry : aside->entries()) {
        const auto parsed = DataDirectory::parse(entry.name);
        if (!parsed || DataDirectory::storeOf(parsed->kind) != DataDirectory::Store::Trades)
            continue;
        found->lastNumber = qMax(found->lastNumber, parsed->number);
        if (!isPlainFile(entry))
            continue;
        if (parsed->kind == Kind::TradesTemp) {
            aside->remove(entry.name, entry.id); // a set-aside cut short; the trade is still in a journal
            continue;
        }
        ++found->asideTrades;
        found->asideBytes += entry.size;
    }
}

std::shared_ptr<FileHandle> TradeJournal::create(qint64 number, VerifiedDirectory::Status *status) const
{
    const auto dir = files();
    if (!dir) {
        *status = VerifiedDirectory::Status{VerifiedDirectory::Check::Missing, 0};
        return nullptr;
    }
    auto file = std::make_shared<FileHandle>(dir->create(journalName(number), status));
    if (!*file)
        return nullptr;
    if (!append(*file, 0, TradeJournalFormat::header())) {
        dir->remove(journalName(number), file->id());
        *status = VerifiedDirectory::Status{VerifiedDirectory::Check::Failed, errno};
        return nullptr;
    }
    return file;
}

bool TradeJournal::append(const FileHandle &file, qint64 sizeBefore, const QByteArray &bytes)
{
    if (file.writeAll(bytes) == 0)
        return true;
    // A full disk: the journal must not end in a cut line that a later line
    // would follow (were it kept, it would only be skipped when read).
    file.truncate(sizeBefore);
    return false;
}

void TradeJournal::remove(const File &file) const
{
    if (const auto dir = files())
        dir->remove(journalName(file.number), file.id);
}

bool TradeJournal::syncDirectory() const
{
    const auto dir = files();
    return dir && dir->sync();
}

VerifiedDirectory::Status TradeJournal::setAside(qint64 number, const TradeJournalFormat::Trade &trade) const
{
    VerifiedDirectory::Status status;
    const auto dir = files();
    const auto aside = dir ? dir->subdirectory(refusedFolder(), true, &status) : nullptr;
    if (!aside)
        return dir ? status : VerifiedDirectory::Status{VerifiedDirectory::Check::Missing, 0};
    status = aside->writeNew(journalName(number), DataDirectory::fileName(Kind::TradesTemp, number),
                             TradeJournalFormat::header() + TradeJournalFormat::takenLine(trade));
    if (status.ok())
        dir->sync();
    return status;
}
