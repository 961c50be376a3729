// The camera feed's reader on a live 640 x 480 MJPEG stream over HTTP (the
// tests' network camera, showing a real face): the CPU time its threads use
// per second of wall time, at the stream's rate, while nobody asks for a
// frame (what the reader costs between detection cycles).
#include "CameraReaderBench.h"

#include "CameraFeed.h"
#include "CascadeFiles.h"
#include "MjpegCamera.h"

#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

// CPU seconds used so far by the threads with the feed's name.
double readerCpuSeconds()
{
    double ticks = 0;
    const QDir tasks("/proc/self/task");
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != CameraFeed::threadName)
            continue;
        QFile stat(tasks.filePath(task + "/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // utime and stime are fields 14 and 15; the name (field 2) may hold spaces.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            ticks += fields[11].toDouble() + fields[12].toDouble();
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void cameraReader(benchmark::State &state)
{
    const QString face = sharedImage("astronaut.png");
    MjpegCamera camera(static_cast<int>(state.range(0)));
    if (face.isEmpty() || !camera.isRunning() || !camera.show(face)) {
        state.SkipWithError("test image missing or no camera");
        return;
    }
    CameraFeed feed;
    CameraInfo info;
    info.captureTarget = camera.url();
    info.isVirtual = true;
    feed.open(info);
    for (int i = 0; i < 500 && feed.state() != CameraFeed::State::Open; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (feed.state() != CameraFeed::State::Open) {
        state.SkipWithError("the stream did not open");
        return;
    }
    const auto window = std::chrono::seconds(3);
    double cpu = 0;
    double wall = 0;
    const int framesBefore = camera.framesSent();
    for (auto _ : state) {
        const double cpuBefore = readerCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(window);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(elapsed);
        cpu += readerCpuSeconds() - cpuBefore;
        wall += elapsed;
    }
    state.counters["reader_cpu_percent_of_a_core"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["frames_per_s"] = wall > 0 ? (camera.framesSent() - framesBefore) / wall : 0;
}

} // namespace

void registerCameraReaderBenchmarks()
{
    benchmark::RegisterBenchmark("cameraReader/640x480_mjpeg_fps", cameraReader)
        ->Arg(10)
        ->Arg(30)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}
