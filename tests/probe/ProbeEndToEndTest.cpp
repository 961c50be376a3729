// The probe worker through the real library in the plain C host, with a
// pseudo-terminal as the probe device and the fake store server taking the
// uploads: time-stamped records, nothing lost to failed uploads, unplugging,
// disabling, a restart of the host, and NV_Uninit inside the callbacks.
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "PseudoTerminal.h"
#include "TestInstall.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

const char probeId[] = "4660-22136";

struct Record
{
    std::string line;
    qint64 stamp = -1;
};

// "line|stamp\r\n" records; a record without a stamp reads as stamp -1.
std::vector<Record> recordsOf(const std::string &csv)
{
    std::vector<Record> records;
    size_t start = 0;
    for (size_t end = csv.find("\r\n"); end != std::string::npos; end = csv.find("\r\n", start)) {
        const std::string text = csv.substr(start, end - start);
        const size_t bar = text.rfind('|');
        Record record{text, -1};
        if (bar != std::string::npos) {
            record.line = text.substr(0, bar);
            record.stamp = QByteArray::fromStdString(text.substr(bar + 1)).toLongLong();
        }
        records.push_back(record);
        start = end + 2;
    }
    return records;
}

std::vector<std::string> linesOf(const std::vector<Record> &records)
{
    std::vector<std::string> lines;
    for (const Record &record : records)
        lines.push_back(record.line);
    return lines;
}

class ProbeEndToEndTest : public ::testing::Test
{
protected:
    ProbeEndToEndTest()
    {
        store.answer("/login", R"({"state":0,"msg":"ok","token":"tok","brandId":"B1","brandLabelList":[]})");
        store.answer("/probe", R"({"state":0,"msg":"ok"})");
        configure(true);
    }

    void configure(bool enabled)
    {
        install.replaceConfig(TestInstall::fileLogGroup("nerova")
                              + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\nProbeUrl=/probe\n"
                                        "[Nerova]\nDeviceId=STORE-9\nCheckDeviceInterval=1\n"
                                        "[Probe]\nProbeEnabled=%2\nProbeDevice=%3\nProbeInterval=1\n"
                                        // No camera notices among the probe's.
                                        "[Face]\nFaceEnabled=false\n")
                                    .arg(store.baseUrl(), enabled ? "true" : "false", probeId));
    }
    QString linkPath() const { return install.path() + "/probe-tty"; }
    QString log() const { return install.logText("nerova.log"); }

    // A C host that has logged in and started the workers.
    std::unique_ptr<HostProcess> startedHost(const QStringList &before = {})
    {
        auto host = std::make_unique<HostProcess>(
            HostProcess::Kind::C, QStringList{QString("NEROVA_VIRTUAL_SERIAL=%1@%2@Test probe").arg(linkPath(), probeId)});
        EXPECT_TRUE(host->isLoaded());
        logIn(*host);
        for (const QString &command : before)
            host->run(command);
        EXPECT_EQ(host->run("start"), 0);
        return host;
    }
    void logIn(HostProcess &host)
    {
        EXPECT_EQ(host.run("init"), 0);
        const int sessions = host.lines("callback", "session").size();
        EXPECT_EQ(host.run("login cashier secret"), 0);
        EXPECT_TRUE(host.loopUntil([&] { return host.lines("callback", "session").size() > sessions; }));
    }

    static int notices(HostProcess &host, int code)
    {
        int count = 0;
        for (const QJsonObject &line : host.lines("callback", "notify"))
            count += line.value("code").toInt() == code;
        return count;
    }
    static bool waitForNotices(HostProcess &host, int code, int count)
    {
        return host.loopUntil([&] { return notices(host, code) >= count; }, 15000);
    }

    // The records of the uploads from the first'th on, in order.
    std::vector<Record> uploaded(size_t first = 0) const
    {
        std::string csv;
        const auto uploads = store.probeUploads("/probe");
        for (size_t i = first; i < uploads.size(); ++i)
            csv += uploads[i].csv;
        return recordsOf(csv);
    }
    bool waitForLines(HostProcess &host, size_t count, size_t first = 0)
    {
        return host.loopUntil([&] { return uploaded(first).size() >= count; }, 20000);
    }

    static void expectCleanExit(HostProcess &host)
    {
        ASSERT_TRUE(host.finish());
        EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    }

    FakeStoreServer store;
    TestInstall install;
};

TEST_F(ProbeEndToEndTest, LinesArriveAsRecordsStampedByTheReadThatCompletedThem)
{
    PseudoTerminal device(linkPath());
    ASSERT_TRUE(device.isOpen());
    auto host = startedHost();
    ASSERT_TRUE(waitForNotices(*host, 6203, 1)) << log().toStdString();
    EXPECT_EQ(host->lines("callback", "notify").last().value("text").toString(), "Probe device is ready");
    host->run("loop 1500"); // an interval without a line sends nothing
    EXPECT_TRUE(store.requestsTo("/probe").empty());
    EXPECT_EQ(notices(*host, 6203), 1); // once per opening, not at every check

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    for (const QByteArray &piece : {QByteArray("abc"), QByteArray("def\r\n"), QByteArray("g1\r\ng2\r\n"),
                                    QByteArray("h\r\ni"), QByteArray("j\r\n"), QByteArray("k\r"),
                                    QByteArray("\nl\r\n\r\n"), QByteArray("n\0ul\r\n", 6), QByteArray("中文\r\n")}) {
        ASSERT_TRUE(device.write(piece));
        host->run("loop 150");
    }
    ASSERT_TRUE(waitForLines(*host, 10));
    const qint64 after = QDateTime::currentMSecsSinceEpoch();

    const std::vector<Record> records = uploaded();
    EXPECT_EQ(linesOf(records), (std::vector<std::string>{"abcdef", "g1", "g2", "h", "ij", "k", "l", "",
                                                          std::string("n\0ul", 4), "中文"}));
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_GE(records[i].stamp, before);
        EXPECT_LE(records[i].stamp, after);
        if (i > 0) {
            EXPECT_GE(records[i].stamp, records[i - 1].stamp);
        }
    }
    EXPECT_EQ(records[1].stamp, records[2].stamp); // one read, one stamp

    for (const FakeStoreServer::Request &request : store.requestsTo("/probe")) {
        EXPECT_EQ(request.query, "");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        EXPECT_EQ(request.body.rfind("{\n    \"mac\": \"STORE-9\",\n    \"macData\": \"", 0), 0u);
        const FakeStoreServer::ProbeUpload upload = FakeStoreServer::decodeProbeUpload(request.body);
        EXPECT_EQ(upload.mac, "STORE-9");
        EXPECT_TRUE(upload.isGzip);
    }

    // A line without its end is not sent.
    const size_t requests = store.requestsTo("/probe").size();
    device.write("no end yet");
    host->run("loop 2500");
    EXPECT_EQ(store.requestsTo("/probe").size(), requests);

    EXPECT_TRUE(log().contains(QString("Probe device found: %1, %2").arg(linkPath(), probeId)));
    EXPECT_TRUE(log().contains(QString("Probe url: %1/probe, mac: STORE-9").arg(store.baseUrl())));
    EXPECT_TRUE(log().contains("Report probe data: 0, ok"));
    EXPECT_EQ(host->run("uninit"), 0);
    expectCleanExit(*host);
    EXPECT_EQ(QDir(install.path() + "/data").entryList(QDir::Files), QStringList());
}

// Failed uploads (HTTP error, refusal, broken connection, no JSON) keep
// their records, through a Stop and Start and through NV_Uninit and a new
// host process; every record then arrives once, in order.
TEST_F(ProbeEndToEndTest, RecordsAreKeptUntilTheServerAcceptsThem)
{
    PseudoTerminal device(linkPath());
    store.answer("/probe", FakeStoreServer::Answer{500, R"({"state":0})"});
    auto first = startedHost();
    ASSERT_TRUE(waitForNotices(*first, 6203, 1));
    device.write("a1\r\n");
    ASSERT_TRUE(first->loopUntil([&] { return store.requestsTo("/probe").size() >= 1; }, 15000));
    device.write("a2\r\n");
    ASSERT_TRUE(first->loopUntil([&] { return store.requestsTo("/probe").size() >= 2; }, 15000));
    EXPECT_EQ(first->run("stop"), 0);
    EXPECT_EQ(first->run("start"), 0);
    ASSERT_TRUE(waitForNotices(*first, 6203, 2));
    device.write("a3\r\n");
    first->run("loop 200");
    EXPECT_EQ(first->run("uninit"), 0);
    expectCleanExit(*first);
    EXPECT_FALSE(QDir(install.path() + "/data").entryList({"*.batch", "*.journal"}).isEmpty());

    const size_t failedBefore = store.requestsTo("/probe").size();
    store.queue("/probe", FakeStoreServer::Answer{200, R"({"state":1,"msg":"busy"})"});
    FakeStoreServer::Answer broken;
    broken.drop = true;
    store.queue("/probe", broken);
    store.queue("/probe", FakeStoreServer::Answer{200, "not json"});
    store.answer("/probe", R"({"state":0,"msg":"ok"})");
    auto second = startedHost();
    ASSERT_TRUE(waitForNotices(*second, 6203, 1));
    device.write("b1\r\n");
    const size_t accepted = failedBefore + 3;
    ASSERT_TRUE(waitForLines(*second, 4, accepted)) << log().toStdString();
    EXPECT_EQ(linesOf(uploaded(accepted)), (std::vector<std::string>{"a1", "a2", "a3", "b1"}));
    EXPECT_EQ(uploaded(0)[0].line, "a1");
    EXPECT_TRUE(log().contains("Probe data kept for the next upload"));
    EXPECT_EQ(second->run("uninit"), 0);
    expectCleanExit(*second);
    EXPECT_EQ(QDir(install.path() + "/data").entryList(QDir::Files), QStringList());
}

// A steady stream of lines goes out once an interval, not in an upload
// started again as soon as the last one is answered.
TEST_F(ProbeEndToEndTest, ASteadyStreamIsUploadedOnceAnInterval)
{
    PseudoTerminal device(linkPath());
    auto host = startedHost();
    ASSERT_TRUE(waitForNotices(*host, 6203, 1));
    const int lines = 800;
    std::thread writer([&] {
        for (int i = 0; i < lines; ++i) {
            device.write(QString("line %1\r\n").arg(i).toUtf8());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    host->run("loop 4500");
    writer.join();
    ASSERT_TRUE(waitForLines(*host, lines));
    EXPECT_LE(store.requestsTo("/probe").size(), 8u); // about 5 s at one interval a second
    EXPECT_EQ(uploaded().size(), size_t(lines));
    EXPECT_EQ(host->run("uninit"), 0);
    expectCleanExit(*host);
}

// Whether the host process holds the terminal open.
bool holdsOpen(qint64 pid, const QString &devicePath)
{
    const QDir fds(QString("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (QFile::symLinkTarget(fds.filePath(fd)) == devicePath)
            return true;
    }
    return false;
}

TEST_F(ProbeEndToEndTest, UnpluggingDisablingAndReplugging)
{
    auto device = std::make_unique<PseudoTerminal>(linkPath());
    auto host = startedHost();
    ASSERT_TRUE(waitForNotices(*host, 6203, 1));
    device->write("before\r\npart of a line");
    host->run("loop 300");
    device->unplug();
    ASSERT_TRUE(waitForNotices(*host, 6204, 1)) << log().toStdString();
    EXPECT_TRUE(log().contains("ERROR root - Probe device error: 8, ")) << log().toStdString();
    ASSERT_TRUE(host->loopUntil([&] { return log().contains(QString("Probe device not found: %1").arg(probeId)); }, 10000));

    device = std::make_unique<PseudoTerminal>(linkPath());
    ASSERT_TRUE(waitForNotices(*host, 6203, 2));
    device->write("after\r\n");
    ASSERT_TRUE(waitForLines(*host, 2));
    EXPECT_EQ(linesOf(uploaded()), (std::vector<std::string>{"before", "after"}));

    // Switched off in the file: the link closes at the next check; on again, it reopens.
    EXPECT_TRUE(holdsOpen(host->pid(), device->devicePath()));
    configure(false);
    EXPECT_TRUE(host->loopUntil([&] { return !holdsOpen(host->pid(), device->devicePath()); }, 10000));
    configure(true);
    ASSERT_TRUE(waitForNotices(*host, 6203, 3));
    EXPECT_TRUE(holdsOpen(host->pid(), device->devicePath()));
    EXPECT_EQ(host->run("uninit"), 0);
    expectCleanExit(*host);
}

// A port that is listed but is no terminal fails to open at every check:
// one notice and one ERROR line each time, though Qt signals it twice.
TEST_F(ProbeEndToEndTest, APortThatFailsToOpenGivesOneNoticeAndOneErrorPerCheck)
{
    QFile notATerminal(linkPath());
    ASSERT_TRUE(notATerminal.open(QIODevice::WriteOnly));
    notATerminal.close();
    auto host = startedHost();
    host->run("loop 2500");
    EXPECT_EQ(host->run("stop"), 0);
    host->run("loop 200");
    const int checks = log().count("Probe device found: ");
    EXPECT_GE(checks, 2);
    EXPECT_EQ(notices(*host, 6204), checks);
    EXPECT_EQ(log().count("ERROR root - Probe device error: "), checks) << log().toStdString();
    EXPECT_EQ(host->run("uninit"), 0);
    expectCleanExit(*host);
}

TEST_F(ProbeEndToEndTest, TheHostMayEndTheLibraryInsideTheProbeNotices)
{
    // Device missing at the first check.
    auto missing = startedHost({"on notify 6204 uninit"});
    EXPECT_EQ(missing->reply("uninit").value("result").toInt(-1), 0);
    EXPECT_EQ(missing->run("start"), 6001);
    expectCleanExit(*missing);

    // Device ready, then (after a new start) the link lost.
    PseudoTerminal device(linkPath());
    auto host = startedHost({"on notify 6203 uninit"});
    EXPECT_EQ(host->reply("uninit").value("result").toInt(-1), 0);
    device.write("x\r\n");
    logIn(*host);
    EXPECT_EQ(host->run("start"), 0);
    ASSERT_TRUE(waitForNotices(*host, 6203, 2));
    host->run("on notify 6204 uninit");
    device.unplug();
    EXPECT_EQ(host->reply("uninit").value("result").toInt(-1), 0);
    host->run("loop 300");
    expectCleanExit(*host);
}

} // namespace
