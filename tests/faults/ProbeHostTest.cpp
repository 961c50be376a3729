#include "ProbeHostTest.h"

#include <QDir>

#include <set>

namespace {

const char probeId[] = "4660-22136";

// "line|stamp\r\n" records.
std::vector<std::string> recordLines(const std::string &csv)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = csv.find("\r\n"); end != std::string::npos; end = csv.find("\r\n", start)) {
        const std::string record = csv.substr(start, end - start);
        lines.push_back(record.substr(0, record.rfind('|')));
        start = end + 2;
    }
    return lines;
}

} // namespace

ProbeHostTest::ProbeHostTest(FakeStoreServer::Scheme scheme)
    : store(scheme), device(install.path() + "/probe-tty")
{
    store.answer("/login", R"({"state":0,"msg":"ok","token":"tok","brandId":"B1","brandLabelList":[]})");
    store.answer("/probe", R"({"state":0,"msg":"ok"})");
    install.writeConfig(configText());
}

QString ProbeHostTest::configText(const QString &probePath) const
{
    return TestInstall::fileLogGroup("nerova")
        + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\nProbeUrl=%3\n"
                  "[Nerova]\nDeviceId=STORE-9\nCheckDeviceInterval=1\n"
                  "[Probe]\nProbeEnabled=true\nProbeDevice=%2\nProbeInterval=1\n"
                  "[Face]\nFaceEnabled=false\n")
              .arg(store.baseUrl(), probeId, probePath);
}

std::unique_ptr<HostProcess> ProbeHostTest::launchedHost(const QString &tty)
{
    device.endExclusiveUse();
    auto host = std::make_unique<HostProcess>(
        HostProcess::Kind::C,
        QStringList{QString("NEROVA_VIRTUAL_SERIAL=%1/%3@%2@Test probe").arg(install.path(), probeId, tty)});
    EXPECT_TRUE(host->isLoaded());
    EXPECT_EQ(host->run("init"), 0);
    return host;
}

void ProbeHostTest::startWorkers(HostProcess &host)
{
    const int ready = notices(host, 6203);
    EXPECT_EQ(host.run("start"), 0);
    EXPECT_TRUE(host.loopUntil([&] { return notices(host, 6203) > ready; }, 10000)) << log().toStdString();
}

std::unique_ptr<HostProcess> ProbeHostTest::startedHost(const QString &tty)
{
    auto host = launchedHost(tty);
    EXPECT_EQ(logIn(*host).value("code").toInt(-1), 0);
    startWorkers(*host);
    return host;
}

std::unique_ptr<HostProcess> ProbeHostTest::startedHostPastItsFirstBatch()
{
    auto host = startedHost();
    writeLine(*host);
    EXPECT_TRUE(allLinesArrive(*host));
    EXPECT_TRUE(batchesAccepted(*host));
    return host;
}

QJsonObject ProbeHostTest::logIn(HostProcess &host, int timeoutMs)
{
    const int before = host.lines("callback", "session").size();
    EXPECT_EQ(host.run("login cashier secret"), 0);
    if (!host.loopUntil([&] { return host.lines("callback", "session").size() > before; }, timeoutMs))
        return QJsonObject();
    return host.lines("callback", "session").last();
}

int ProbeHostTest::notices(HostProcess &host, int code)
{
    int count = 0;
    for (const QJsonObject &line : host.lines("callback", "notify"))
        count += line.value("code").toInt() == code;
    return count;
}

void ProbeHostTest::writeLine(HostProcess &host)
{
    writeLine(host, device, "line-");
}

void ProbeHostTest::writeLine(HostProcess &host, PseudoTerminal &terminal, const std::string &prefix)
{
    written.push_back(prefix + std::to_string(written.size() + 1));
    EXPECT_TRUE(terminal.write(QByteArray::fromStdString(written.back() + "\r\n")));
    host.run("loop 100");
}

std::vector<std::string> ProbeHostTest::uploadedLines(size_t first) const
{
    std::vector<std::string> lines;
    const std::vector<FakeStoreServer::ProbeUpload> uploads = store.probeUploads("/probe");
    for (size_t i = first; i < uploads.size(); ++i) {
        EXPECT_TRUE(uploads[i].isGzip) << "upload " << i;
        const std::vector<std::string> more = recordLines(uploads[i].csv);
        lines.insert(lines.end(), more.begin(), more.end());
    }
    return lines;
}

::testing::AssertionResult ProbeHostTest::allLinesArrive(HostProcess &host, size_t firstAccepted)
{
    host.loopUntil([&] { return uploadedLines(firstAccepted).size() >= written.size(); }, 20000);
    const std::vector<std::string> arrived = uploadedLines(firstAccepted);
    if (arrived == written)
        return ::testing::AssertionSuccess();
    std::string text;
    for (const std::string &line : arrived)
        text += line + " ";
    return ::testing::AssertionFailure() << written.size() << " lines written, accepted uploads hold: " << text
                                         << "\n" << log().toStdString();
}

::testing::AssertionResult ProbeHostTest::allLinesArriveAtLeastOnce(HostProcess &host, int *repeats)
{
    const auto firstArrivals = [&] {
        std::vector<std::string> first;
        std::set<std::string> seen;
        *repeats = 0;
        for (const std::string &line : uploadedLines()) {
            if (seen.insert(line).second)
                first.push_back(line);
            else
                ++*repeats;
        }
        return first;
    };
    host.loopUntil([&] { return firstArrivals().size() >= written.size(); }, 30000);
    const std::vector<std::string> arrived = firstArrivals();
    if (arrived == written)
        return ::testing::AssertionSuccess();
    std::string text;
    for (const std::string &line : arrived)
        text += line + " ";
    return ::testing::AssertionFailure() << written.size() << " lines written, first arrivals: " << text << "\n"
                                         << log().toStdString();
}

bool ProbeHostTest::writeThroughFailedUploads(HostProcess &host, const QString &failureText, int uploads)
{
    for (int upload = 0; upload < uploads; ++upload) {
        const int failed = log().count(failureText);
        writeLine(host);
        if (!host.loopUntil([&] { return log().count(failureText) > failed; }, 15000))
            return false;
    }
    return true;
}

// The server records an upload before its answer is back: the batch leaves
// data/ once the library has read the answer.
bool ProbeHostTest::batchesAccepted(HostProcess &host) const
{
    return host.loopUntil([&] { return QDir(dataDir()).entryList(QDir::Files).isEmpty(); }, 10000);
}

void ProbeHostTest::endHost(HostProcess &host)
{
    EXPECT_TRUE(batchesAccepted(host));
    EXPECT_EQ(host.run("uninit"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    EXPECT_EQ(QDir(dataDir()).entryList(QDir::Files), QStringList());
}
