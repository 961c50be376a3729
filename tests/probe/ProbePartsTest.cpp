// The probe worker's plain parts: the serial port list, the record store
// with its bounds, the upload's files and body, and the server's answer.
#include "FakeStoreServer.h"
#include "ProbeProtocol.h"
#include "ProbeRecordStore.h"
#include "ProbeUploadJob.h"
#include "SerialPortList.h"
#include "TestInstall.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList namesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

TEST(SerialPortListTest, VirtualPortsAndTheProbeDeviceIdentifier)
{
    EXPECT_EQ(SerialPortList::probeDeviceIdentifier(0x1A86, 0x7523), "6790-29987");
    EXPECT_EQ(SerialPortEntry().probeDeviceIdentifier(), "0-0");

    const QList<SerialPortEntry> parsed =
        SerialPortList::parseVirtualPorts("/a@1-2;/b@65535-0@Probe @ desk;bad;/c@70000-1;/d@x-1;@1-2;/e@1-2@x@y");
    ASSERT_EQ(parsed.size(), 3);
    EXPECT_EQ(parsed[0].portName, "/a");
    EXPECT_EQ(parsed[0].systemLocation, "/a");
    EXPECT_EQ(parsed[0].probeDeviceIdentifier(), "1-2");
    EXPECT_EQ(parsed[1].probeDeviceIdentifier(), "65535-0");
    EXPECT_EQ(parsed[1].description, "Probe @ desk");
    EXPECT_EQ(parsed[2].description, "x@y");

    // Listed after the real ports, read again at every enumeration, and a
    // dangling link counts as an unplugged device.
    QTemporaryDir dir;
    const QString device = dir.filePath("tty"), link = dir.filePath("link"), dangling = dir.filePath("gone");
    writeFile(device, "");
    ASSERT_TRUE(QFile::link(device, link));
    ASSERT_TRUE(QFile::link(dir.filePath("nothing"), dangling));
    const int real = SerialPortList::realPorts().size();
    qputenv("NEROVA_VIRTUAL_SERIAL", QString("%1@4660-22136@Probe;%2@1-1").arg(link, dangling).toLocal8Bit());
    QList<SerialPortEntry> ports = SerialPortList::available();
    ASSERT_EQ(ports.size(), real + 1);
    EXPECT_EQ(ports.last().systemLocation, link);
    EXPECT_EQ(ports.last().description, "Probe");
    EXPECT_EQ(ports.last().probeDeviceIdentifier(), "4660-22136");
    QFile::remove(link);
    EXPECT_EQ(SerialPortList::available().size(), real);
    qunsetenv("NEROVA_VIRTUAL_SERIAL");
}

void waitForDisk(ProbeRecordStore &store)
{
    while (!store.disk().isIdle())
        QThread::msleep(1);
}

// The store's files once its disk worker has done what it was asked.
QStringList settledNames(ProbeRecordStore &store)
{
    waitForDisk(store);
    store.collect();
    return namesIn(store.dataDir());
}

struct StoreErrors
{
    QStringList lines;
    std::mutex mutex;
    ProbeRecordStore::ErrorSink sink()
    {
        return [this](const QString &text) {
            std::lock_guard<std::mutex> lock(mutex);
            lines << text;
        };
    }
    QString all()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.join('\n');
    }
};

// Records are on disk the moment they are read; each interval's cut makes
// a batch; a second store on the same directory touches nothing.
TEST(ProbeRecordStoreTest, JournalOnDiskAtOnceBatchesAtEachCutOneOwner)
{
    QTemporaryDir dir;
    StoreErrors errors;
    auto store = std::make_unique<ProbeRecordStore>(dir.path() + "/data", ProbeStoreLimits(), errors.sink());
    EXPECT_TRUE(store->ownsDataDir());
    EXPECT_EQ(store->append("a|1\r\nb|1\r\n"), 0);
    store->append("c|2\r\n");
    const QStringList journal = settledNames(*store);
    ASSERT_EQ(journal.size(), 1);
    EXPECT_TRUE(journal[0].endsWith(".journal"));
    EXPECT_EQ(readFile(store->dataDir() + "/" + journal[0]), "a|1\r\nb|1\r\nc|2\r\n");

    ProbeRecordStore second(store->dataDir(), ProbeStoreLimits(), errors.sink());
    EXPECT_FALSE(second.ownsDataDir());
    EXPECT_TRUE(errors.all().contains("in use by process " + QString::number(QCoreApplication::applicationPid())));
    second.append("other|3\r\n");
    second.cut();
    ASSERT_TRUE(second.hasBatches());
    EXPECT_EQ(second.oldest().memory, "other|3\r\n");

    EXPECT_EQ(store->cut(), 0);
    store->append("d|4\r\n");
    store->cut();
    ASSERT_EQ(store->batchCount(), 2u);
    const QStringList batches = settledNames(*store);
    EXPECT_EQ(batches.size(), 2);
    EXPECT_EQ(second.oldest().memory, "other|3\r\n");
    const ProbeRecordStore::Batch &oldest = store->oldest();
    EXPECT_TRUE(oldest.memory.isEmpty()); // read from disk from now on
    EXPECT_EQ(readFile(store->batchPath(oldest.sequence)), "a|1\r\nb|1\r\nc|2\r\n");
    EXPECT_EQ(oldest.records, 3);
    store->removeOldest();
    EXPECT_EQ(settledNames(*store).size(), 1);
    EXPECT_EQ(readFile(store->batchPath(store->oldest().sequence)), "d|4\r\n");

    // A journal is cut before it would pass the batch size, so every batch
    // fits one upload; one read of many records is spread over journals.
    // Once sealed, a batch lets go of its copy in memory at the next record.
    ProbeStoreLimits small;
    small.batch = 30;
    ProbeRecordStore cutting(dir.path() + "/cutting", small);
    cutting.append("0123456789|1\r\n");
    cutting.append("abcdefghij|2\r\nABCDEFGHIJ|2\r\n");
    ASSERT_EQ(cutting.batchCount(), 1u);
    EXPECT_EQ(cutting.oldest().memory, "0123456789|1\r\nabcdefghij|2\r\n");
    EXPECT_EQ(cutting.oldest().state, ProbeRecordStore::Batch::State::Sealing);
    waitForDisk(cutting);
    cutting.append("k|3\r\n");
    EXPECT_EQ(cutting.oldest().state, ProbeRecordStore::Batch::State::OnDisk);
    EXPECT_TRUE(cutting.oldest().memory.isEmpty());
    EXPECT_EQ(readFile(cutting.batchPath(cutting.oldest().sequence)), "0123456789|1\r\nabcdefghij|2\r\n");
    cutting.cut();
    ASSERT_EQ(cutting.batchCount(), 2u);
    EXPECT_EQ(cutting.oldest().bytes, 28);
    EXPECT_EQ(settledNames(cutting).size(), 2);
}

// What a killed run leaves: a journal cut in its last record, a batch, a
// batch of the earlier version, working files, a batch larger than one
// upload; and foreign files, some under the store's names (a link, a
// FIFO, a second name of a file elsewhere), which are left as they are.
// Names stay in reading order when the clock is behind the last one.
TEST(ProbeRecordStoreTest, AStartAfterAKillRecoversEveryWholeRecord)
{
    QTemporaryDir dir;
    const QString data = dir.path() + "/data";
    QDir().mkpath(data);
    const qint64 future = QDateTime::currentMSecsSinceEpoch() + 86400000;
    writeFile(data + "/300.batch", "b1|1\r\n");
    writeFile(data + "/200.csv", "legacy|0\r\n");
    writeFile(data + "/400.journal", "j1|2\r\nj2|2\r\nj3 cut");
    writeFile(data + QString("/%1.journal").arg(future), "late|9\r\n");
    writeFile(data + "/450.journal", ""); // opened, then killed before its first record
    // A working file is a second name of its batch.
    ASSERT_EQ(::link(QFile::encodeName(data + "/300.batch"), QFile::encodeName(data + "/500.csv")), 0);
    writeFile(data + "/500.gz", "stale");
    writeFile(data + "/notes.csv", "foreign");
    writeFile(data + "/007.batch", "not a name the store writes|1\r\n");
    writeFile(data + "/250.batch", QByteArray(70, 'o') + "|1\r\n"); // larger than one upload
    writeFile(data + "/big.log", QByteArray(4096, 'f'));
    writeFile(dir.path() + "/outside", "the host's own|1\r\n");
    ASSERT_TRUE(QFile::link(dir.path() + "/outside", data + "/600.journal"));
    ASSERT_EQ(::link(QFile::encodeName(dir.path() + "/outside"), QFile::encodeName(data + "/610.csv")), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(data + "/620.batch").constData(), 0600), 0);
    StoreErrors errors;
    ProbeStoreLimits limits;
    limits.batch = 64;
    limits.disk = 4096;
    ProbeRecordStore store(data, limits, errors.sink());
    EXPECT_EQ(settledNames(store), (QStringList{"007.batch", QString("%1.batch").arg(future), "200.batch", "250.batch", "300.batch",
                                                "400.batch", "600.journal", "610.csv", "big.log", "notes.csv"}));
    EXPECT_TRUE(QFileInfo::exists(data + "/620.batch"));
    EXPECT_FALSE(QDir(data + "/oversized").exists());
    EXPECT_EQ(readFile(data + "/400.batch"), "j1|2\r\nj2|2\r\n");
    EXPECT_EQ(readFile(dir.path() + "/outside"), "the host's own|1\r\n");
    for (const char *foreign : {"600.journal is a symbolic link", "620.batch is not a regular file",
                                "610.csv has other names (hard links) than the one this program gave it"})
        EXPECT_TRUE(errors.all().contains(QString("/data/%1: not this library's file, left alone").arg(foreign)))
            << foreign << "\n" << errors.all().toStdString();
    EXPECT_TRUE(errors.all().contains("400.journal ended in a cut record, dropped: 1 (6 bytes)")) << errors.all().toStdString();
    // Neither the foreign file nor the one set aside costs a batch its place.
    store.append("new|10\r\n");
    EXPECT_EQ(store.cut(), 0);
    std::vector<qint64> order;
    for (; store.hasBatches(); store.removeOldest())
        order.push_back(store.oldest().sequence);
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(std::vector<qint64>(order.begin(), order.end() - 1), (std::vector<qint64>{200, 250, 300, 400, future}));
    EXPECT_GT(order.back(), future); // the clock is behind the last name
    EXPECT_EQ(store.nextSequence(), order.back() + 1);
    // A clock set before 1970.
    EXPECT_EQ(ProbeRecordStore::sequenceAfter(-1, -86400000), 0);
    EXPECT_EQ(ProbeRecordStore::sequenceAfter(0, -86400000), 1);
    EXPECT_EQ(ProbeRecordStore::sequenceAfter(7, 1000), 1000);
}

// A disk that cannot take records: they wait in memory, in order, within
// the memory bound, and go to the journal first once it can.
TEST(ProbeRecordStoreTest, RecordsTheDiskCannotTakeWaitInMemoryInOrder)
{
    QTemporaryDir dir;
    const QString data = dir.path() + "/data";
    ProbeStoreLimits limits;
    limits.memory = 30;
    ProbeRecordStore store(data, limits);
    store.append("r1|1\r\n");
    ASSERT_TRUE(QDir(data).removeRecursively());
    writeFile(data, ""); // a file stands where the directory was
    store.cut();         // the journal is lost: its records stay in memory
    settledNames(store);
    EXPECT_EQ(store.append("r2|1\r\nr3|1\r\n"), 0);
    EXPECT_EQ(store.append("r4|2\r\nr5|2\r\nr6|2\r\n"), 1); // over the bound: the oldest whole record goes
    store.cut();
    ASSERT_EQ(store.batchCount(), 1u);
    EXPECT_EQ(store.oldest().memory, "r2|1\r\nr3|1\r\nr4|2\r\nr5|2\r\nr6|2\r\n");
    EXPECT_FALSE(store.oldest().isOnDisk());
    ASSERT_TRUE(QFile::remove(data)); // and the directory is made again
    QThread::msleep(1100); // the journal is tried again a second after a failure
    store.append("r7|3\r\n");
    store.cut();
    settledNames(store);
    ASSERT_EQ(store.batchCount(), 2u);
    store.removeOldest();
    EXPECT_TRUE(store.oldest().isOnDisk());
    EXPECT_EQ(readFile(store.batchPath(store.oldest().sequence)), "r7|3\r\n");
}

// Past the disk bound the oldest records go first, held or set aside,
// never the newest batch; a batch refused a few times in a row is set aside.
TEST(ProbeRecordStoreTest, DiskBoundAndBatchesSetAside)
{
    QTemporaryDir dir;
    ProbeStoreLimits limits;
    limits.disk = 25;
    limits.refusals = 2;
    StoreErrors errors;
    ProbeRecordStore store(dir.path() + "/data", limits, errors.sink());
    for (const char *records : {"a|1\r\nb|1\r\n", "c|2\r\n", "d|3\r\n"}) {
        store.append(records);
        EXPECT_EQ(store.cut(), 0);
    }
    store.append("e|4\r\nf|4\r\ng|4\r\nh|4\r\n");
    EXPECT_EQ(store.cut(), 3); // a, b, then c: 40 bytes, then 30, then 25
    ASSERT_EQ(store.batchCount(), 2u);
    EXPECT_FALSE(store.refuseOldest());
    EXPECT_TRUE(store.refuseOldest());
    settledNames(store);
    ASSERT_EQ(store.batchCount(), 1u);
    const QStringList aside = namesIn(store.dataDir() + "/refused");
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readFile(store.dataDir() + "/refused/" + aside[0]), "d|3\r\n");
    EXPECT_TRUE(errors.all().contains("refused by the server 2 times in a row, moved aside to")) << errors.all().toStdString();
    // The refused batch is the oldest: it goes first, then e to h.
    store.append("i|5\r\nj|5\r\nk|5\r\nl|5\r\n");
    EXPECT_EQ(store.cut(), 4);
    EXPECT_EQ(settledNames(store).size(), 1);
    EXPECT_EQ(namesIn(store.dataDir() + "/refused"), QStringList());
    EXPECT_TRUE(errors.all().contains("refused/" + aside[0] + " deleted, over the disk limit; records dropped: 1"))
        << errors.all().toStdString();
}

// The pieces of the oldest batch, uploaded and accepted one by one.
std::vector<std::string> uploadAll(ProbeRecordStore &store)
{
    std::vector<std::string> uploads;
    while (store.hasBatches()) {
        const std::shared_ptr<ProbeUploadJob> job = store.uploadOfOldest("S");
        job->run();
        EXPECT_EQ(job->outcome, ProbeUploadJob::Outcome::Ready);
        if (job->outcome != ProbeUploadJob::Outcome::Ready)
            break;
        uploads.push_back(FakeStoreServer::decodeProbeUpload(job->body.toStdString()).csv);
        store.removeWorkingFiles(*job);
        store.acceptOldest(*job);
    }
    return uploads;
}

// Small bounds: a batch twice the batch size (found at start) goes out as
// two uploads; what earlier runs set aside in oversized/ and refused/
// counts in the disk bound and goes first, oldest first.
TEST(ProbeRecordStoreTest, BatchesLargerThanAnUploadGoInPiecesAndSetAsideFilesCount)
{
    QTemporaryDir dir;
    const QString data = dir.path() + "/data";
    QDir().mkpath(data + "/oversized");
    QDir().mkpath(data + "/refused");
    const QByteArray record("abcdefghij|123\r\n"); // 16 bytes
    writeFile(data + "/oversized/100.batch", record + record);
    writeFile(data + "/refused/110.batch", record + record);
    writeFile(data + "/120.batch", record.repeated(4));
    writeFile(data + "/130.batch", record + "cut");
    ProbeStoreLimits limits;
    limits.batch = 32;
    limits.disk = 150;
    limits.refusals = 1;
    StoreErrors errors;
    {
        ProbeRecordStore store(data, limits, errors.sink());
        EXPECT_EQ(uploadAll(store), (std::vector<std::string>{(record + record).toStdString(),
                                                              (record + record).toStdString(), record.toStdString()}));
        EXPECT_EQ(settledNames(store), QStringList());

        store.append(record.repeated(4)); // two batches of 32 bytes
        EXPECT_EQ(store.cut(), 0);        // 64 + 64 aside
        EXPECT_EQ(store.batchCount(), 2u);
        store.append(record);
        EXPECT_EQ(store.cut(), 0); // 144
        store.append(record);
        EXPECT_EQ(store.cut(), 0); // 160: oversized/100.batch goes
        settledNames(store);
        EXPECT_EQ(namesIn(data + "/oversized"), QStringList());
        EXPECT_EQ(namesIn(data + "/refused"), QStringList{"110.batch"});
        EXPECT_TRUE(errors.all().contains("oversized/100.batch deleted, over the disk limit; records dropped: 2"))
            << errors.all().toStdString();
        EXPECT_TRUE(store.refuseOldest()); // set aside: still counted
        store.append(record + record);
        EXPECT_EQ(store.cut(), 0); // 160: refused/110.batch goes, the newer refused one stays
        settledNames(store);
        EXPECT_EQ(namesIn(data + "/refused").size(), 1);
        EXPECT_FALSE(QFile::exists(data + "/refused/110.batch"));
        EXPECT_EQ(store.batchCount(), 4u);
    }
    // A record longer than one upload cannot be sent: set aside in oversized/.
    writeFile(data + "/140.batch", QByteArray(40, 'x') + "|1\r\n");
    ProbeRecordStore store(data, limits, errors.sink());
    const std::shared_ptr<ProbeUploadJob> job = store.uploadOfOldest("S");
    job->run();
    EXPECT_EQ(job->outcome, ProbeUploadJob::Outcome::RecordTooLong);
    store.setAsideOldest("too long", ProbeRecordStore::Folder::Oversized);
    settledNames(store);
    EXPECT_EQ(namesIn(data + "/oversized"), QStringList{"140.batch"});
}

// The body carries the archive made in memory; the working files are a
// second name of the batch and its archive, and a disk whose working
// names are taken does not stop the body. The working files go by their
// identity only.
TEST(ProbeUploadJobTest, ArchivesTheBatchInMemoryAndNamesTheWorkingFiles)
{
    QTemporaryDir dir;
    StoreErrors errors;
    ProbeRecordStore store(dir.path() + "/data", ProbeStoreLimits(), errors.sink());
    const QByteArray records("line 1|17\r\n\0x\xff|18\r\n", 19);
    store.append(records);
    store.cut();
    settledNames(store);
    std::shared_ptr<ProbeUploadJob> job = store.uploadOfOldest("店 \"7\"");
    job->run();
    ASSERT_EQ(job->outcome, ProbeUploadJob::Outcome::Ready);
    const QString csv = job->dir->pathOf(job->csvName), archive = job->dir->pathOf(job->archiveName);
    EXPECT_TRUE(csv.endsWith(".csv") && archive.endsWith(".gz")) << csv.toStdString();
    EXPECT_EQ(readFile(csv), records);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(csv).constData(), &info), 0);
    EXPECT_EQ(info.st_nlink, 2u);
    const std::string body = job->body.toStdString();
    EXPECT_EQ(body.rfind("{\n    \"mac\": \"店 \\\"7\\\"\",\n    \"macData\": \"", 0), 0u) << body;
    EXPECT_EQ(body.substr(body.size() - 4), "\"\n}\n");
    const FakeStoreServer::ProbeUpload upload = FakeStoreServer::decodeProbeUpload(body);
    EXPECT_EQ(upload.mac, "店 \"7\"");
    EXPECT_TRUE(upload.isGzip);
    EXPECT_EQ(upload.csv, records.toStdString());
    const QByteArray archived = ProbeProtocol::uploadBody("", readFile(archive));
    EXPECT_EQ(FakeStoreServer::decodeProbeUpload(archived.toStdString()).csv, records.toStdString());
    // A working file replaced meanwhile is not the upload's to delete.
    writeFile(dir.path() + "/outside", "outside");
    ASSERT_TRUE(QFile::remove(archive));
    ASSERT_TRUE(QFile::link(dir.path() + "/outside", archive));
    store.removeWorkingFiles(*job);
    EXPECT_EQ(settledNames(store).size(), 2) << settledNames(store).join(' ').toStdString();
    EXPECT_TRUE(QFileInfo(archive).isSymLink());
    ASSERT_TRUE(QFile::remove(archive));

    // Working names taken: still a body, and the names are reported and
    // left as they are. A name far ahead of the clock (a link here) makes
    // the store's next numbers one more each.
    const QString data = dir.path() + "/taken";
    QDir().mkpath(data);
    writeFile(dir.path() + "/outside", "outside");
    const QByteArray outside = QFile::encodeName(dir.path() + "/outside");
    const qint64 ahead = QDateTime::currentMSecsSinceEpoch() + 86400000;
    ASSERT_EQ(::symlink(outside, QFile::encodeName(QString("%1/%2.journal").arg(data).arg(ahead))), 0);
    ProbeRecordStore taken(data, ProbeStoreLimits(), errors.sink());
    taken.append("m|1\r\n");
    taken.cut();
    settledNames(taken);
    EXPECT_EQ(taken.oldest().sequence, ahead + 1);
    for (const char *suffix : {".csv", ".gz"})
        ASSERT_EQ(::symlink(outside, QFile::encodeName(QString("%1/%2%3").arg(data).arg(ahead + 2).arg(suffix))), 0);
    job = taken.uploadOfOldest("S");
    job->run();
    EXPECT_EQ(job->outcome, ProbeUploadJob::Outcome::Ready);
    EXPECT_EQ(job->csvName, QString("%1.csv").arg(ahead + 2));
    EXPECT_EQ(job->unwritten.size(), 2);
    EXPECT_EQ(job->problems.size(), 2);
    EXPECT_TRUE(job->problems.join('\n').contains(job->archiveName + " is a symbolic link: not this library's file, left alone"))
        << job->problems.join('\n').toStdString();
    EXPECT_EQ(FakeStoreServer::decodeProbeUpload(job->body.toStdString()).csv, "m|1\r\n");
    taken.removeWorkingFiles(*job);
    taken.acceptOldest(*job);
    EXPECT_EQ(settledNames(taken).size(), 3);
    EXPECT_EQ(readFile(dir.path() + "/outside"), "outside");
    EXPECT_TRUE(errors.all().contains(QString("%1.journal is a symbolic link: not this library's file, left alone").arg(ahead)))
        << errors.all().toStdString();
}

// A batch file: the first whole records within the batch size; the last
// piece stands for a cut record after it too.
TEST(ProbeUploadJobTest, PiecesOfABatchFileEndAtRecordEnds)
{
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/data");
    writeFile(dir.path() + "/data/5.batch", "w|1\r\nhalf");
    ProbeRecordStore store(dir.path() + "/data");
    const auto run = [&](qint64 offset, qint64 maxBytes) {
        auto job = store.uploadOfOldest("S");
        job->offset = offset;
        job->maxBytes = maxBytes;
        job->run();
        return job;
    };
    ASSERT_TRUE(store.hasBatches());
    auto whole = run(0, 9);
    EXPECT_EQ(whole->outcome, ProbeUploadJob::Outcome::Ready);
    EXPECT_TRUE(whole->last);
    EXPECT_EQ(whole->consumed, 9);
    EXPECT_EQ(FakeStoreServer::decodeProbeUpload(whole->body.toStdString()).csv, "w|1\r\n");
    auto first = run(0, 8);
    EXPECT_EQ(first->outcome, ProbeUploadJob::Outcome::Ready);
    EXPECT_FALSE(first->last);
    EXPECT_EQ(first->consumed, 5);
    EXPECT_EQ(first->pieceRecords, 1);
    EXPECT_EQ(run(5, 8)->outcome, ProbeUploadJob::Outcome::NoWholeRecord);
    EXPECT_EQ(run(0, 4)->outcome, ProbeUploadJob::Outcome::RecordTooLong);
    ASSERT_TRUE(QFile::remove(dir.path() + "/data/5.batch"));
    EXPECT_EQ(run(0, 9)->outcome, ProbeUploadJob::Outcome::Missing);
    ASSERT_TRUE(QFile::link(dir.path() + "/elsewhere", dir.path() + "/data/5.batch"));
    const auto foreign = run(0, 9);
    EXPECT_EQ(foreign->outcome, ProbeUploadJob::Outcome::Foreign);
    EXPECT_EQ(foreign->problems.size(), 1);
}

TEST(ProbeProtocolTest, OnlyAStateOfZeroIsAccepted)
{
    const ProbeProtocol::Answer ok = ProbeProtocol::answer(R"({"state":0,"msg":"ok"})");
    EXPECT_TRUE(ok.accepted);
    EXPECT_EQ(ok.msg, "ok");
    EXPECT_TRUE(ProbeProtocol::answer(R"({"state":"0"})").accepted);
    const ProbeProtocol::Answer refused = ProbeProtocol::answer(R"({"state":3,"msg":"busy"})");
    EXPECT_FALSE(refused.accepted);
    EXPECT_EQ(refused.state, 3);
    EXPECT_EQ(refused.msg, "busy");
    EXPECT_TRUE(refused.refused);
    EXPECT_TRUE(ProbeProtocol::answer(R"({"state":"-2"})").refused);
    EXPECT_FALSE(ok.refused);
    for (const char *body : {"", "not json", "[0]", "{}", R"({"state":0.5})", R"({"state":"zero"})",
                             R"({"state":null})", R"({"msg":"no state"})"})
        EXPECT_FALSE(ProbeProtocol::answer(body).accepted) << body;
    // A broken server is not a refusal: its batch keeps its place.
    for (const char *body : {"", "not json", "{}", R"({"state":"zero"})", R"({"state":null})"})
        EXPECT_FALSE(ProbeProtocol::answer(body).refused) << body;
}

} // namespace
