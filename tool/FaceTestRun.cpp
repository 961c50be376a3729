#include "FaceTestRun.h"

#include <chrono>

FaceTestRun::FaceTestRun(const FaceTestAnalyser &analyser, const CameraInfo &camera,
                         const FaceTestAnalyser::Switches &switches)
    : m_analyser(analyser)
    , m_camera(camera)
    , m_switches(switches)
{
    qRegisterMetaType<FaceTestAnalyser::Shot>();
}

FaceTestRun::~FaceTestRun()
{
    stop();
    if (m_thread.joinable())
        m_thread.join();
}

void FaceTestRun::start()
{
    m_thread = std::thread([this] { run(); });
}

void FaceTestRun::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
}

bool FaceTestRun::stopped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stop;
}

bool FaceTestRun::pause(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
}

void FaceTestRun::run()
{
    CameraCapture capture;
    if (!stopped() && capture.open(m_camera)) {
        cv::Mat discarded;
        capture.read(discarded);
        if (pause(kSettleMs)) {
            capture.read(discarded);
            if (pause(kSettleMs))
                takeShots(capture);
        }
    }
    capture.release();
    emit finished();
}

// An empty frame ends the run: that shot's verdict stays "testing".
void FaceTestRun::takeShots(CameraCapture &capture)
{
    for (int shot = 1; shot <= kShots && !stopped(); ++shot) {
        emit shotStarted(shot);
        cv::Mat frame;
        if (!capture.read(frame) || frame.empty())
            return;
        const FaceTestAnalyser::Shot result = m_analyser.analyse(frame, m_switches, [this] { return stopped(); });
        if (result.stopped)
            return;
        emit shotTaken(shot, result);
        if (!pause(kShotIntervalMs))
            return;
    }
}
