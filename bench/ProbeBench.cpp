// The probe worker under load, with a pseudo-terminal as the device and
// the fake store server taking the upload:
//  - ingest at 100 times the device's line rate (115200 baud) for 10 s,
//    counting lines lost or merged on the way to the server;
//  - the longest time the host thread is blocked by one upload of 300 s of
//    records at the full line rate (about 3.5 MB).
#include "FakeStoreServer.h"
#include "NerovaBase.h"
#include "NerovaProbe.h"
#include "PseudoTerminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <log4cxx/logmanager.h>

#include <chrono>
#include <thread>

namespace {

constexpr double lineBytesPerSecond = 115200 / 10.0; // 8N1: ten bits a byte
constexpr int lineLength = 64;                         // with CR LF, like a probe sighting

struct Setup
{
    QString home;
    QString link;
    FakeStoreServer *store = nullptr;
};
Setup setup;

// "seq=<n>,..." padded to lineLength bytes with CR LF.
QByteArray deviceLine(int sequence)
{
    QByteArray line = "seq=" + QByteArray::number(sequence) + ",a4:5e:60:12:34:56,-67,";
    line.append(QByteArray(lineLength - 2 - line.size(), 'x'));
    return line + "\r\n";
}

void runEvents(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Lets the probe read what the terminal still holds.
void drain()
{
    runEvents(500);
}

size_t uploadsSoFar()
{
    return setup.store->requestsTo("/probe").size();
}

bool waitForUpload(size_t count)
{
    QDeadlineTimer deadline(60000);
    while (uploadsSoFar() < count && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    runEvents(200); // the reply is handled
    return uploadsSoFar() >= count;
}

// Reads the records of the last upload: a record that is not one whole
// stamped device line is merged; a sequence number skipped is lost.
void checkRecords(benchmark::State &state, int expected)
{
    const std::string csv = setup.store->probeUploads("/probe").back().csv;
    int next = 0, lost = 0, merged = 0;
    size_t start = 0;
    for (size_t end = csv.find("\r\n"); end != std::string::npos; end = csv.find("\r\n", start)) {
        const QByteArray record = QByteArray::fromStdString(csv.substr(start, end - start));
        start = end + 2;
        const QByteArray line = record.left(record.lastIndexOf('|'));
        bool stamped = false;
        record.mid(line.size() + 1).toLongLong(&stamped);
        if (!stamped || line.size() != lineLength - 2 || !line.startsWith("seq=") || line.count("seq=") != 1) {
            ++merged;
            continue;
        }
        const int sequence = line.mid(4, line.indexOf(',') - 4).toInt();
        lost += qMax(0, sequence - next);
        next = sequence + 1;
    }
    state.counters["lost"] = lost + qMax(0, expected - next);
    state.counters["merged"] = merged;
}

void BM_IngestAtHundredTimesTheLineRate(benchmark::State &state)
{
    const double seconds = 10;
    const double linesPerSecond = 100 * lineBytesPerSecond / lineLength;
    for (auto _ : state) {
        PseudoTerminal device(setup.link);
        NerovaProbe probe;
        probe.Start();
        int written = 0;
        std::thread writer([&] {
            const auto begin = std::chrono::steady_clock::now();
            for (int tick = 1; tick <= seconds * 100; ++tick) {
                QByteArray burst;
                for (; written < tick * linesPerSecond / 100; ++written)
                    burst += deviceLine(written);
                device.write(burst);
                std::this_thread::sleep_until(begin + std::chrono::milliseconds(10 * tick));
            }
        });
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < seconds * 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        writer.join();
        drain();
        const double ingestSeconds = elapsed.elapsed() / 1000.0;
        const size_t before = uploadsSoFar();
        probe.TriggerReportProbe();
        if (!waitForUpload(before + 1)) {
            state.SkipWithError("no upload arrived");
            return;
        }
        state.counters["lines_per_second"] = written / ingestSeconds;
        checkRecords(state, written);
        probe.Stop();
    }
}
BENCHMARK(BM_IngestAtHundredTimesTheLineRate)->Iterations(1)->Unit(benchmark::kSecond);

// The event loop's longest pause while one upload is packed and sent.
void BM_HostThreadBlockedByOneUpload(benchmark::State &state)
{
    const int lines = static_cast<int>(300 * lineBytesPerSecond / lineLength);
    for (auto _ : state) {
        PseudoTerminal device(setup.link);
        NerovaProbe probe;
        probe.Start();
        for (int sequence = 0; sequence < lines; sequence += 1000) {
            QByteArray block;
            for (int i = sequence; i < qMin(lines, sequence + 1000); ++i)
                block += deviceLine(i);
            device.write(block);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        drain();
        const size_t before = uploadsSoFar();
        QElapsedTimer call;
        call.start();
        probe.TriggerReportProbe();
        const qint64 triggerNs = call.nsecsElapsed();
        qint64 longestGapNs = triggerNs;
        QElapsedTimer gap;
        gap.start();
        QDeadlineTimer deadline(60000);
        while (uploadsSoFar() < before + 1 && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            longestGapNs = qMax(longestGapNs, gap.nsecsElapsed());
            gap.restart();
        }
        for (int i = 0; i < 50; ++i) { // until the reply has been handled
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            longestGapNs = qMax(longestGapNs, gap.nsecsElapsed());
            gap.restart();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            gap.restart();
        }
        state.counters["max_blocked_ms"] = longestGapNs / 1e6;
        state.counters["upload_bytes"] = static_cast<double>(setup.store->requestsTo("/probe").back().body.size());
        checkRecords(state, lines);
        probe.Stop();
    }
}
BENCHMARK(BM_HostThreadBlockedByOneUpload)->Iterations(1)->Unit(benchmark::kMillisecond);

void writeInstallation(const QString &root, const QString &server)
{
    QDir(root).mkpath("conf");
    QFile file(root + "/conf/default.ini");
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QString("[Server]\nServer=%1\nProbeUrl=/probe\n[Nerova]\nDeviceId=BENCH\nCheckDeviceInterval=60\n"
                       "[Probe]\nProbeEnabled=true\nProbeDevice=1-2\nProbeInterval=3600\n"
                       "[Log]\nlog4j.rootLogger=ERROR, file\nlog4j.appender.file=org.apache.log4j.FileAppender\n"
                       "log4j.appender.file.File=bench\nlog4j.appender.file.layout=org.apache.log4j.SimpleLayout\n")
                   .arg(server)
                   .toUtf8());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dir;
    FakeStoreServer store;
    store.answer("/probe", R"({"state":0})");
    writeInstallation(dir.path(), store.baseUrl());
    setup = Setup{dir.path(), dir.path() + "/probe-tty", &store};
    qputenv("NEROVA_HOME", dir.path().toLocal8Bit());
    qputenv("NEROVA_VIRTUAL_SERIAL", (setup.link + "@1-2").toLocal8Bit());
    {
        NerovaBase nerovaBase;
        benchmark::RunSpecifiedBenchmarks();
    }
    log4cxx::LogManager::resetConfiguration();
    return 0;
}
