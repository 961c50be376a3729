// The probe worker's plain parts: the serial port list, the record store
// with its bounds, the upload's files and body, and the server's answer.
#include "FakeStoreServer.h"
#include "ProbeProtocol.h"
#include "ProbeRecordStore.h"
#include "ProbeUploadJob.h"
#include "SerialPortList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

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

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

TEST(ProbeRecordStoreTest, MemoryDropsTheOldestWholeRecordsPastItsBound)
{
    ProbeRecordStore store(QDir::tempPath(), 30);
    EXPECT_EQ(store.append("r1|1\r\nr2|1\r\nr3|1\r\n"), 0);
    EXPECT_EQ(store.append("r4|2\r\nr5|2\r\nr6|2\r\n"), 1); // 36 bytes: one record goes
    EXPECT_EQ(store.memory(), "r2|1\r\nr3|1\r\nr4|2\r\nr5|2\r\nr6|2\r\n");
    const QByteArray taken = store.takeMemory();
    EXPECT_TRUE(store.memory().isEmpty());
    store.append("r7|3\r\n");
    // Records taken back come before the newer ones; the oldest give way.
    EXPECT_EQ(store.restore(taken), 1);
    EXPECT_EQ(store.memory(), "r3|1\r\nr4|2\r\nr5|2\r\nr6|2\r\nr7|3\r\n");
}

TEST(ProbeRecordStoreTest, HeldBatchesOnDiskOldestFirstWithinTheDiskBound)
{
    QTemporaryDir dir;
    ProbeRecordStore store(dir.path() + "/data", 1024, 30);
    EXPECT_FALSE(store.hasRecords());
    // The data directory is made when records are first kept.
    store.append("a|1\r\nb|1\r\n");
    EXPECT_EQ(store.flushMemory(1000), 0);
    EXPECT_TRUE(store.memory().isEmpty());
    store.append("c|2\r\n");
    EXPECT_EQ(store.flushMemory(1000), 0); // same millisecond: the next free name
    store.append("d|3\r\n");
    EXPECT_EQ(store.flushMemory(999), 0);
    const QString data = store.dataDir();
    writeFile(data + "/notes.csv", "x");
    writeFile(data + "/5.gz", "stale");
    writeFile(data + "/5.gz.keep", "other");
    EXPECT_EQ(store.heldFiles(), (QStringList{data + "/999.csv", data + "/1000.csv", data + "/1001.csv"}));
    EXPECT_EQ(readFile(data + "/1000.csv"), "a|1\r\nb|1\r\n");
    EXPECT_TRUE(store.hasRecords());
    EXPECT_EQ(store.newCsvPath(5), data + "/6.csv"); // 5.gz is taken

    store.removeStaleArchives();
    EXPECT_EQ(namesIn(data), (QStringList{"1000.csv", "1001.csv", "5.gz.keep", "999.csv", "notes.csv"}));

    // Over the disk bound the oldest batches go, but never the one kept.
    store.append("e|4\r\nf|4\r\ng|4\r\nh|4\r\n");
    EXPECT_EQ(store.flushMemory(2000), 3); // 999.csv (d), then 1000.csv (a, b): 40 bytes, then 25
    EXPECT_EQ(store.heldFiles(), (QStringList{data + "/1001.csv", data + "/2000.csv"}));
    EXPECT_EQ(store.enforceDiskLimit(data + "/1001.csv"), 0);
    ProbeRecordStore tight(data, 1024, 1);
    EXPECT_EQ(tight.enforceDiskLimit(data + "/1001.csv"), 4);
    EXPECT_EQ(tight.heldFiles(), QStringList{data + "/1001.csv"});
}

TEST(ProbeUploadJobTest, WritesTheBatchArchivesItAndBuildsTheBody)
{
    QTemporaryDir dir;
    ProbeRecordStore store(dir.path() + "/data");
    ProbeUploadJob job;
    job.records = QByteArray("line 1|17\r\n\0x\xff|18\r\n", 20);
    job.newBatchPath = job.csvPath = store.newCsvPath(17);
    job.archivePath = ProbeRecordStore::archivePathFor(job.csvPath);
    job.storeNumber = "店 \"7\"";
    job.store = &store;
    job.run();
    ASSERT_EQ(job.outcome, ProbeUploadJob::Outcome::Ready);
    EXPECT_EQ(readFile(job.csvPath), job.records);
    EXPECT_TRUE(QFile::exists(dir.path() + "/data/17.gz"));
    const std::string body = job.body.toStdString();
    EXPECT_EQ(body.rfind("{\n    \"mac\": \"店 \\\"7\\\"\",\n    \"macData\": \"", 0), 0u) << body;
    EXPECT_EQ(body.substr(body.size() - 4), "\"\n}\n");
    const FakeStoreServer::ProbeUpload upload = FakeStoreServer::decodeProbeUpload(body);
    EXPECT_EQ(upload.mac, "店 \"7\"");
    EXPECT_TRUE(upload.isGzip);
    EXPECT_EQ(upload.csv, job.records.toStdString());

    // Newer records are kept as their own batch while the held one goes
    // out; a held batch that vanished fails.
    ProbeUploadJob held = job;
    held.records = "newer|19\r\n";
    held.newBatchPath = store.newCsvPath(19);
    held.body.clear();
    held.run();
    EXPECT_EQ(FakeStoreServer::decodeProbeUpload(held.body.toStdString()).csv, job.records.toStdString());
    EXPECT_EQ(readFile(held.newBatchPath), "newer|19\r\n");
    held.records.clear();
    QFile::remove(held.csvPath);
    held.run();
    EXPECT_EQ(held.outcome, ProbeUploadJob::Outcome::ArchiveFailed);
    EXPECT_FALSE(QFile::exists(held.archivePath));

    // A data directory that cannot be made: the CSV file fails.
    writeFile(dir.path() + "/blocked", "");
    ProbeRecordStore blocked(dir.path() + "/blocked/data");
    ProbeUploadJob failing = job;
    failing.store = &blocked;
    failing.newBatchPath = failing.csvPath = blocked.newCsvPath(1);
    failing.archivePath = ProbeRecordStore::archivePathFor(failing.csvPath);
    failing.run();
    EXPECT_EQ(failing.outcome, ProbeUploadJob::Outcome::CsvFailed);
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
    for (const char *body : {"", "not json", "[0]", "{}", R"({"state":0.5})", R"({"state":"zero"})",
                             R"({"state":null})", R"({"msg":"no state"})"})
        EXPECT_FALSE(ProbeProtocol::answer(body).accepted) << body;
}

} // namespace
