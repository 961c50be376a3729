// One detection cycle of the library against the bare OpenCV calls with the
// same parameters, on the same frames (640 x 480 and 1280 x 720, with a face
// and without), in the same run.
#include "CascadeFiles.h"
#include "CascadeSet.h"
#include "FaceCycle.h"
#include "SceneCanvas.h"
#ifdef NEROVA_CAMERA_READER_BENCH
#include "CameraReaderBench.h"
#endif

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <string>
#include <utility>
#include <memory>

namespace {

struct Bench
{
    QTemporaryDir dir;
    CascadeSet cascades;
    bool ready = false;
    cv::Mat frames[4]; // 640 face, 640 none, 1280 face, 1280 none
};


Bench &bench()
{
    static Bench *instance = [] {
        auto *b = new Bench;
        const QString missing = installCascades(b->dir.path());
        const QString face = sharedImage("astronaut.png");
        const QString none = sharedImage("fruits.jpg");
        if (!missing.isEmpty() || face.isEmpty() || none.isEmpty()) {
            std::fprintf(stderr, "skipped: missing %s\n",
                         qPrintable(missing.isEmpty() ? "a test image" : missing));
            return b;
        }
        b->cascades.load(b->dir.path());
        const cv::Mat faceImage = cv::imread(face.toStdString());
        const cv::Mat noneImage = cv::imread(none.toStdString());
        b->frames[0] = onCanvas(faceImage, {640, 480});
        b->frames[1] = onCanvas(noneImage, {640, 480});
        b->frames[2] = onCanvas(faceImage, {1280, 720});
        b->frames[3] = onCanvas(noneImage, {1280, 720});
        b->ready = true;
        return b;
    }();
    return *instance;
}

void libraryCycle(benchmark::State &state)
{
    Bench &b = bench();
    if (!b.ready) {
        state.SkipWithError("test data missing");
        return;
    }
    const cv::Mat &frame = b.frames[state.range(0)];
    FaceCycle cycle(b.cascades);
    const FaceCycleSettings settings;
    for (auto _ : state)
        benchmark::DoNotOptimize(cycle.run(frame, settings));
}

// The same work written directly against OpenCV.
void bareOpenCv(benchmark::State &state)
{
    Bench &b = bench();
    if (!b.ready) {
        state.SkipWithError("test data missing");
        return;
    }
    const cv::Mat &frame = b.frames[state.range(0)];
    std::vector<cv::CascadeClassifier *> chain;
    for (CascadeSet::Face face : FaceCycle::fallbackOrder)
        chain.push_back(const_cast<cv::CascadeClassifier *>(&b.cascades.face(face)));
    const CascadeSet::Feature features[] = {CascadeSet::McsLeftEye, CascadeSet::McsRightEye, CascadeSet::McsNose,
                                            CascadeSet::McsMouth};
    for (auto _ : state) {
        cv::Mat grey;
        cv::Mat equalised;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        cv::equalizeHist(grey, equalised);
        std::vector<cv::Rect> faces;
        for (cv::CascadeClassifier *cascade : chain) {
            cascade->detectMultiScale(equalised, faces, 1.1, 2, cv::CASCADE_SCALE_IMAGE, cv::Size(80, 80));
            if (!faces.empty())
                break;
        }
        if (faces.empty())
            continue;
        cv::Rect best = faces[0];
        for (const cv::Rect &r : faces) {
            if (r.area() > best.area())
                best = r;
        }
        int score = 0;
        for (CascadeSet::Feature feature : features) {
            std::vector<cv::Rect> found;
            const_cast<cv::CascadeClassifier &>(b.cascades.feature(feature))
                .detectMultiScale(equalised(best), found, 1.1, 2, cv::CASCADE_SCALE_IMAGE, cv::Size(30, 30));
            score += found.empty() ? 0 : 25;
        }
        std::vector<uchar> png;
        cv::imencode(".png", frame(best), png);
        benchmark::DoNotOptimize(score);
        benchmark::DoNotOptimize(png.data());
    }
}

} // namespace

// frame: 0 = 640 x 480 with a face, 1 = 640 x 480 without, 2 = 1280 x 720
// with a face, 3 = 1280 x 720 without. The two variants of each frame run
// one after the other. OpenCV runs single-threaded here, so that the CPU
// time of the measuring thread is the whole work, whatever else the
// machine is doing.
int main(int argc, char **argv)
{
    cv::setNumThreads(1);
    const char *frames[] = {"640x480_face", "640x480_none", "1280x720_face", "1280x720_none"};
    for (int frame = 0; frame < 4; ++frame) {
        for (auto variant : {std::make_pair("bareOpenCv/", bareOpenCv), std::make_pair("libraryCycle/", libraryCycle)})
            benchmark::RegisterBenchmark((std::string(variant.first) + frames[frame]).c_str(), variant.second)
                ->Arg(frame)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(2.0);
    }
#ifdef NEROVA_CAMERA_READER_BENCH
    registerCameraReaderBenchmarks();
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
