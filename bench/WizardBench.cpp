// The wizard's face test: the time one shot's analysis takes on the test's
// thread (before, the window stood still for that long), and how long a
// close waits for a run given up in the middle of a shot's analysis (the
// camera is released when the run ends).
#include "CameraList.h"
#include "CascadeFiles.h"
#include "FaceTestAnalyser.h"
#include "FaceTestRun.h"
#include "SceneCanvas.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

struct Bench
{
    QTemporaryDir dir;
    FaceTestAnalyser analyser;
    cv::Mat frame;
    QString cameraFile;
    bool ready = false;
};

Bench &bench()
{
    static Bench *instance = [] {
        auto *b = new Bench;
        const QString missing = installCascades(b->dir.path());
        const QString face = sharedImage("astronaut.png");
        if (!missing.isEmpty() || face.isEmpty()) {
            std::fprintf(stderr, "skipped: missing %s\n", qPrintable(missing.isEmpty() ? "astronaut.png" : missing));
            return b;
        }
        b->analyser.load(b->dir.path());
        b->frame = onCanvas(cv::imread(face.toStdString()), {640, 480});
        b->cameraFile = b->dir.path() + "/camera.png";
        cv::imwrite(b->cameraFile.toStdString(), b->frame);
        b->ready = true;
        return b;
    }();
    return *instance;
}

void shotAnalysis(benchmark::State &state)
{
    Bench &b = bench();
    if (!b.ready) {
        state.SkipWithError("test data missing");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(b.analyser.analyse(b.frame, FaceTestAnalyser::Switches{}));
}
BENCHMARK(shotAnalysis)->Unit(benchmark::kMillisecond);

// The run is stopped at a moment spread over the first shot's analysis.
void stopDuringAnalysis(benchmark::State &state)
{
    Bench &b = bench();
    if (!b.ready) {
        state.SkipWithError("test data missing");
        return;
    }
    CameraInfo camera;
    camera.deviceName = "Door";
    camera.captureTarget = b.cameraFile;
    camera.isVirtual = true;
    int iteration = 0;
    double longest = 0;
    for (auto _ : state) {
        auto run = std::make_unique<FaceTestRun>(b.analyser, camera, FaceTestAnalyser::Switches{});
        run->start();
        const int into = 2 * FaceTestRun::kSettleMs + 20 + (iteration++ % 10) * 30;
        std::this_thread::sleep_for(std::chrono::milliseconds(into));
        const auto start = std::chrono::steady_clock::now();
        run->stop();
        run.reset(); // waits for the thread, which releases the camera
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        longest = std::max(longest, waited);
        state.SetIterationTime(waited);
    }
    state.counters["longest_ms"] = longest * 1000;
}
BENCHMARK(stopDuringAnalysis)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

BENCHMARK_MAIN();
