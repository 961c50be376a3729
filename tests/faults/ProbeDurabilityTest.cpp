// A till's own process failing while probe lines arrive, through the real
// library in the plain C host: killed at random moments and started again,
// ended during an upload, sharing its installation with a second host,
// and a server that refuses one batch for ever. No line the library has
// read is lost.
#include "ProbeHostTest.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <random>

namespace {

using Answer = FakeStoreServer::Answer;
using ProbeDurabilityTest = ProbeHostTest;

enum class Ending { KilledWhileLinesArrive, KilledDuringSlowAnswer, ReturnedWithoutUninit };

void killHard(HostProcess &host)
{
    ::kill(static_cast<pid_t>(host.pid()), SIGKILL);
    host.finish();
}

Answer slowOk(int delayMs)
{
    Answer answer{200, R"({"state":0,"msg":"ok"})"};
    answer.delayMs = delayMs;
    return answer;
}

// Whether a line's record is in a journal of data/ yet (looking every
// millisecond for up to 5 s).
bool journalHolds(const QString &dataDir, const std::string &line)
{
    const QByteArray record = QByteArray::fromStdString(line) + '|';
    for (int tries = 0; tries < 5000; ++tries) {
        for (const QString &name : QDir(dataDir).entryList({"*.journal", "*.batch"}, QDir::Files)) {
            QFile journal(dataDir + "/" + name);
            if (journal.open(QIODevice::ReadOnly) && journal.readAll().contains(record))
                return true;
        }
        QThread::msleep(1);
    }
    return false;
}

QStringList heldBatches(const QString &dataDir)
{
    return QDir(dataDir).entryList({"*.batch", "*.journal"}, QDir::Files);
}

TEST_F(ProbeDurabilityTest, KilledAtRandomMomentsAndStartedAgainLosesNoLine)
{
    // NEROVA_TEST_SEED repeats a run.
    const QByteArray seedText = qgetenv("NEROVA_TEST_SEED");
    const unsigned seed = seedText.isEmpty() ? std::random_device()() : seedText.toUInt();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Ending endings[] = {Ending::KilledWhileLinesArrive, Ending::KilledDuringSlowAnswer,
                              Ending::KilledWhileLinesArrive, Ending::ReturnedWithoutUninit,
                              Ending::KilledDuringSlowAnswer, Ending::KilledWhileLinesArrive,
                              Ending::KilledWhileLinesArrive};
    for (const Ending ending : endings) {
        auto host = startedHost();
        const int lines = std::uniform_int_distribution<int>(2, 6)(random);
        for (int i = 0; i < lines; ++i)
            writeLine(*host);
        if (ending == Ending::KilledDuringSlowAnswer) {
            const size_t sent = store.requestsTo("/probe").size();
            store.queue("/probe", slowOk(3000));
            ASSERT_TRUE(host->loopUntil([&] { return store.requestsTo("/probe").size() > sent; }, 10000));
            host->run("loop " + QString::number(std::uniform_int_distribution<int>(0, 500)(random)));
            killHard(*host);
        } else if (ending == Ending::KilledWhileLinesArrive) {
            // Anywhere in the interval (before its upload, during, after),
            // the moment the last line has been read.
            host->run("loop " + QString::number(std::uniform_int_distribution<int>(0, 1200)(random)));
            written.push_back("line-" + std::to_string(written.size() + 1));
            device.write(QByteArray::fromStdString(written.back() + "\r\n"));
            ASSERT_TRUE(journalHolds(dataDir(), written.back()));
            killHard(*host);
        } else {
            host->send("quit");
            ASSERT_TRUE(host->finish());
            EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
        }
    }
    auto host = startedHost();
    writeLine(*host);
    int repeats = 0;
    ASSERT_TRUE(allLinesArriveAtLeastOnce(*host, &repeats));
    std::cout << "probe crash loop (seed " << seed << "): " << written.size() << " lines written, 0 lost, " << repeats
              << " duplicated, " << std::size(endings) << " ends without NV_Uninit\n";
    endHost(*host);
}

// NV_Uninit waits a moment for an answer on its way, so an accepted batch
// is not sent again at the next start; one that does not come in time
// leaves its batch for the next start.
TEST_F(ProbeDurabilityTest, UninitDuringAnUploadWaitsBrieflyForItsAnswer)
{
    auto host = startedHost();
    store.queue("/probe", slowOk(1500));
    writeLine(*host);
    ASSERT_TRUE(host->loopUntil([&] { return store.requestsTo("/probe").size() == 1; }, 10000));
    EXPECT_EQ(host->run("uninit"), 0);
    EXPECT_EQ(heldBatches(dataDir()), QStringList());
    EXPECT_TRUE(log().contains("Report probe data: 0, ok"));
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();

    host = startedHost();
    Answer never;
    never.never = true;
    store.queue("/probe", never);
    writeLine(*host);
    ASSERT_TRUE(host->loopUntil([&] { return store.requestsTo("/probe").size() == 2; }, 10000));
    EXPECT_EQ(host->run("uninit"), 0);
    EXPECT_EQ(heldBatches(dataDir()).size(), 1);
    EXPECT_TRUE(log().contains("Probe upload ended without its answer"));
    ASSERT_TRUE(host->finish());

    host = startedHost();
    EXPECT_TRUE(host->loopUntil([&] { return store.requestsTo("/probe").size() == 3; }, 10000));
    EXPECT_EQ(uploadedLines(), (std::vector<std::string>{"line-1", "line-2", "line-2"})); // line-1 went once
    endHost(*host);
}

// The second host keeps its records in memory and sends them itself; it
// says so in the log, on stderr and in a notice, inside which it may end.
TEST_F(ProbeDurabilityTest, TwoHostsOnOneInstallationSendNothingOfEachOther)
{
    PseudoTerminal otherDevice(install.path() + "/probe-tty-2");
    auto first = startedHost();
    auto other = std::make_unique<HostProcess>(
        HostProcess::Kind::C,
        QStringList{QString("NEROVA_VIRTUAL_SERIAL=%1/probe-tty-2@4660-22136@Test probe").arg(install.path())});
    ASSERT_TRUE(other->isLoaded());
    other->send("on notify 6204 uninit\ninit");
    EXPECT_EQ(other->reply("uninit").value("result").toInt(-1), 0);
    EXPECT_TRUE(log().contains(QString("in use by process %1").arg(first->pid())));
    EXPECT_EQ(other->run("init"), 0);
    EXPECT_EQ(logIn(*other).value("code").toInt(-1), 0);
    startWorkers(*other);

    for (int i = 0; i < 3; ++i) {
        writeLine(*first);
        writeLine(*other, otherDevice, "other-");
    }
    first->run("loop 1500");
    for (int i = 0; i < 3; ++i) {
        writeLine(*other, otherDevice, "other-");
        writeLine(*first);
    }
    other->loopUntil([&] { return uploadedLines().size() >= written.size(); }, 20000);
    std::vector<std::string> arrived = uploadedLines();
    std::vector<std::string> expected = written;
    std::sort(arrived.begin(), arrived.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(arrived, expected) << log().toStdString();

    EXPECT_EQ(other->run("uninit"), 0);
    ASSERT_TRUE(other->finish());
    EXPECT_TRUE(other->errorOutput().contains("nerova: ERROR Probe records are kept in memory only"))
        << other->errorOutput().toStdString();
    endHost(*first);
}

// Refused three times in a row (state, state, HTTP 4xx), a batch is moved
// aside for an operator and the later ones go on; the host hears of it.
TEST_F(ProbeDurabilityTest, ABatchRefusedForGoodIsSetAsideAndLaterLinesGoOn)
{
    auto host = startedHost();
    store.queue("/probe", Answer{200, R"({"state":7,"msg":"bad data"})"});
    store.queue("/probe", Answer{200, R"({"state":7,"msg":"bad data"})"});
    store.queue("/probe", Answer{422, R"({"state":7,"msg":"bad data"})"});
    host->run("on notify 6204 uninit");
    writeLine(*host);
    EXPECT_EQ(host->reply("uninit", 20000).value("result").toInt(-1), 0) << log().toStdString();
    EXPECT_EQ(store.requestsTo("/probe").size(), 3u);
    const auto refusedFiles = [&] { return QDir(dataDir() + "/refused").entryList(QDir::Files); };
    EXPECT_TRUE(host->loopUntil([&] { return !refusedFiles().isEmpty(); }, 5000));
    const QStringList aside = refusedFiles();
    ASSERT_EQ(aside.size(), 1);
    QFile refused(dataDir() + "/refused/" + aside[0]);
    ASSERT_TRUE(refused.open(QIODevice::ReadOnly));
    EXPECT_TRUE(refused.readAll().startsWith("line-1|"));
    EXPECT_TRUE(log().contains("ERROR root - Probe batch refused by the server 3 times in a row, moved aside to")) << log().toStdString();
    EXPECT_TRUE(host->lines("callback", "notify").last().value("text").toString().contains("moved aside"));

    written.clear();
    EXPECT_EQ(host->run("init"), 0);
    EXPECT_EQ(logIn(*host).value("code").toInt(-1), 0);
    startWorkers(*host);
    writeLine(*host, device, "later-");
    host->run("loop 1200");
    writeLine(*host, device, "later-");
    EXPECT_TRUE(allLinesArrive(*host, 3));
    EXPECT_TRUE(batchesAccepted(*host));
    EXPECT_EQ(host->run("uninit"), 0);
    ASSERT_TRUE(host->finish());
    EXPECT_TRUE(host->exitedCleanly()) << host->errorOutput().toStdString();
    EXPECT_EQ(QDir(dataDir() + "/refused").entryList(QDir::Files), aside);
    EXPECT_TRUE(host->errorOutput().contains("nerova: ERROR Probe batch refused by the server 3 times in a row"));
}

} // namespace
