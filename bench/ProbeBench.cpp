// The probe worker under load, with a pseudo-terminal as the device and
// the fake store server taking the upload:
//  - ingest at 100 times the device's line rate (115200 baud) for 10 s,
//    counting lines lost or merged on the way to the server;
//  - the longest time the host thread is blocked by one upload of 300 s of
//    records at the full line rate (about 3.5 MB);
//  - the journal's cost on the host thread per record, one record a read
//    (the way a slow device's lines come; its sync runs on another thread).
#include "FakeStoreServer.h"
#include "NerovaBase.h"
#include "NerovaProbe.h"
#include "ProbeRecordStore.h"
#include "PseudoTerminal.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <log4cxx/logmanager.h>

#include <atomic>
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
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Writes the lines from another thread (at most linesPerSecond, or as fast
// as the terminal takes them) while this thread runs the event loop, and
// lets the probe read what is left. Returns the writer's seconds.
double feed(PseudoTerminal &device, int lines, double linesPerSecond = 0)
{
    std::atomic<bool> done{false};
    QElapsedTimer elapsed;
    elapsed.start();
    std::thread writer([&] {
        const auto begin = std::chrono::steady_clock::now();
        int written = 0;
        for (int tick = 1; written < lines; ++tick) {
            const int until = linesPerSecond > 0 ? qMin(lines, static_cast<int>(tick * linesPerSecond / 100)) : qMin(lines, written + 1000);
            QByteArray burst;
            for (; written < until; ++written)
                burst += deviceLine(written);
            device.write(burst);
            if (linesPerSecond > 0)
                std::this_thread::sleep_until(begin + std::chrono::milliseconds(10 * tick));
        }
        done = true;
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    writer.join();
    const double seconds = elapsed.elapsed() / 1000.0;
    runEvents(500);
    return seconds;
}

size_t uploadsSoFar()
{
    return setup.store->requestsTo("/probe").size();
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

// Uploads what the probe holds; the longest the event loop was away from
// its timer (a 1 ms tick) from the call until the reply was handled.
bool upload(NerovaProbe &probe, double *longestBlockMs)
{
    const size_t before = uploadsSoFar();
    QElapsedTimer sinceTick;
    qint64 longestNs = 0;
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        longestNs = qMax(longestNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    tick.start(1);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    QTimer poll;
    int quietTicks = 0;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (uploadsSoFar() > before && ++quietTicks > 20) // the reply is handled by then
            loop.quit();
    });
    poll.start(10);
    sinceTick.start();
    probe.TriggerReportProbe();
    loop.exec();
    *longestBlockMs = longestNs / 1e6;
    return uploadsSoFar() > before;
}

void BM_IngestAtHundredTimesTheLineRate(benchmark::State &state)
{
    const double linesPerSecond = 100 * lineBytesPerSecond / lineLength;
    const int lines = static_cast<int>(10 * linesPerSecond);
    for (auto _ : state) {
        PseudoTerminal device(setup.link);
        NerovaProbe probe;
        probe.Start();
        const double seconds = feed(device, lines, linesPerSecond);
        double blockedMs = 0;
        if (!upload(probe, &blockedMs)) {
            state.SkipWithError("no upload arrived");
            return;
        }
        state.counters["lines_per_second"] = lines / seconds;
        checkRecords(state, lines);
        probe.Stop();
    }
}
BENCHMARK(BM_IngestAtHundredTimesTheLineRate)->Iterations(1)->Unit(benchmark::kSecond);

void BM_HostThreadBlockedByOneUpload(benchmark::State &state)
{
    const int lines = static_cast<int>(300 * lineBytesPerSecond / lineLength);
    for (auto _ : state) {
        PseudoTerminal device(setup.link);
        NerovaProbe probe;
        probe.Start();
        feed(device, lines);
        double blockedMs = 0;
        if (!upload(probe, &blockedMs)) {
            state.SkipWithError("no upload arrived");
            return;
        }
        state.counters["max_blocked_ms"] = blockedMs;
        state.counters["upload_bytes"] = static_cast<double>(setup.store->requestsTo("/probe").back().body.size());
        checkRecords(state, lines);
        probe.Stop();
    }
}
BENCHMARK(BM_HostThreadBlockedByOneUpload)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_JournalCostPerRecord(benchmark::State &state)
{
    QTemporaryDir dir;
    ProbeRecordStore store(dir.path() + "/data");
    const QByteArray record = deviceLine(0).chopped(2) + "|1796787639365\r\n";
    int64_t records = 0;
    for (auto _ : state) {
        store.append(record);
        // A batch of an interval at a hundred times the line rate.
        if (++records % 20000 == 0) {
            state.PauseTiming();
            store.cut();
            while (store.hasBatches())
                store.removeOldest();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(records);
    state.SetBytesProcessed(records * record.size());
}
BENCHMARK(BM_JournalCostPerRecord)->Iterations(200000)->Unit(benchmark::kMicrosecond);

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
