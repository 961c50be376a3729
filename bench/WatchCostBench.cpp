// What the library costs a store's till while it watches a camera: the CPU
// time of the real C host with the real library (every thread of it) per
// second of wall time, with default settings and a default interval of 5 s:
//  - an empty 1280 x 720 scene with camera noise (a still image written
//    anew with fresh noise every second), with the motion gate on (the
//    default), with Face/OncePerVisit on, and with the gate off (every cycle
//    runs the cascades);
//  - an RTSP camera (GStreamer's RTSP server, H.264 at 640 x 480 and 10
//    frames a second, Face/FaceInterval 2), which the library decodes
//    whole, gate or not.
// Each measures 30 s after the first cycles. Needs ../shared/data.
#include "CascadeFiles.h"
#include "FakeFaceCloud.h"
#include "FakeStoreServer.h"
#include "HostProcess.h"
#include "RtspCamera.h"
#include "SceneCanvas.h"
#include "TestInstall.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <opencv2/imgcodecs.hpp>

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

const int warmUpMs = 15000;
const int measuredSeconds = 30;

struct Watch
{
    const char *name;
    const char *faceKeys;
    bool rtsp;
};

const Watch watches[] = {
    {"emptyNoisy1280x720/default", "", false},
    {"emptyNoisy1280x720/oncePerVisit", "OncePerVisit=true\n", false},
    {"emptyNoisy1280x720/motionGateOff", "MotionGate=false\n", false},
    {"rtsp640x480at10fps/interval2", "FaceInterval=2\n", true},
};

// utime and stime of the process; the name (field 2) may hold spaces.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() <= 12)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

class Store
{
public:
    Store(const Watch &watch, cv::Size size)
    {
        m_empty = onCanvas(cv::imread(sharedImage("fruits.jpg").toStdString()), size);
        showNoise();
        store.answer("/login", R"({"state":0,"msg":"ok","token":"t1","brandId":"B1","brandLabelList":[]})");
        cloud.answer(FakeFaceCloud::tokenPath, FakeFaceCloud::tokenReply("tok"));
        install.writeConfig(TestInstall::fileLogGroup("nerova")
                            + QString("[Server]\nServer=%1\nLoginUrl=/login\nTradeUrl=/trade\n"
                                      "[Probe]\nProbeEnabled=false\n"
                                      "[Face]\nFaceDevice=vid_0000&pid_0000&mi_00#virtual1\n%2")
                                  .arg(store.baseUrl(), watch.faceKeys)
                            + cloud.configGroup());
    }

    QString scene() const { return install.path() + "/scene.png"; }

    // Fresh noise of a few grey levels on the empty scene.
    void showNoise()
    {
        cv::Mat noise(m_empty.size(), CV_16SC3);
        cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(3));
        cv::Mat frame;
        cv::add(m_empty, noise, frame, cv::noArray(), CV_8UC3);
        const QString next = install.path() + "/next.png";
        cv::imwrite(next.toStdString(), frame);
        QFile::remove(scene());
        QFile::rename(next, scene());
    }

    TestInstall install;
    FakeStoreServer store;
    FakeFaceCloud cloud;

private:
    cv::Mat m_empty;
};

bool cameraReady(HostProcess &host)
{
    return host.loopUntil(
        [&] {
            for (const QJsonObject &line : host.lines("callback", "notify"))
                if (line.value("code").toInt() == 6201)
                    return true;
            return false;
        },
        20000);
}

void watchEmptyStore(benchmark::State &state, const Watch &watch)
{
    if (sharedImage("fruits.jpg").isEmpty()) {
        state.SkipWithError("missing ../shared/data/images/fruits.jpg");
        return;
    }
    Store store(watch, watch.rtsp ? cv::Size(640, 480) : cv::Size(1280, 720));
    if (!installDebianCascades(store.install.path()).isEmpty()) {
        state.SkipWithError("missing cascades");
        return;
    }
    RtspCamera camera(store.scene());
    if (watch.rtsp && !camera.start()) {
        state.SkipWithError("the RTSP camera was not built or did not start");
        return;
    }
    HostProcess host(HostProcess::Kind::C,
                     {"NEROVA_VIRTUAL_CAMERAS=Shop door=" + (watch.rtsp ? camera.url() : store.scene())});
    const char *failed = nullptr;
    if (host.run("init") != 0 || host.run("login cashier secret") != 0)
        failed = "init or login failed";
    else if (!host.loopUntil([&] { return !host.lines("callback", "session").isEmpty(); }, 20000))
        failed = "no login answer";
    else if (host.run("start") != 0)
        failed = "start failed";
    else if (!cameraReady(host))
        failed = "the camera did not open";
    if (failed) {
        state.SkipWithError(failed);
        return;
    }
    host.run(QStringLiteral("loop %1").arg(warmUpMs));
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds(host.pid());
        QElapsedTimer wall;
        wall.start();
        for (int second = 0; second < measuredSeconds; ++second) {
            store.showNoise();
            host.run("loop 1000");
        }
        const double seconds = wall.elapsed() / 1000.0;
        state.SetIterationTime(seconds);
        state.counters["cpu_percent_of_a_core"] = 100.0 * (processCpuSeconds(host.pid()) - cpuBefore) / seconds;
    }
    host.run("uninit");
    host.finish();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    for (const Watch &watch : watches)
        benchmark::RegisterBenchmark(watch.name, watchEmptyStore, watch)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
