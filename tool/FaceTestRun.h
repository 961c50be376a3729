#pragma once

#include "CameraCapture.h"
#include "FaceTestAnalyser.h"

#include <QObject>

#include <condition_variable>
#include <mutex>
#include <thread>

// One run of the wizard's face test, on a thread of its own so that the
// window keeps painting and answering: the camera is opened, two frames are
// discarded 100 ms apart, then three shots are taken 2 s apart, each
// analysed, and the camera is released. Only that thread touches the camera.
//
// The signals arrive queued on the thread that made the run, finished()
// last. stop() ends the run at its next step (a wait, a search of the
// analysis or a camera read) and the camera goes with it.
class FaceTestRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSettleMs = 100;
    static constexpr int kShotIntervalMs = 2000;
    static constexpr int kShots = 3;

    // The analyser must outlive the run and not load while it runs.
    FaceTestRun(const FaceTestAnalyser &analyser, const CameraInfo &camera,
                const FaceTestAnalyser::Switches &switches);
    ~FaceTestRun() override; // stops the run and waits for its thread

    void start();
    void stop();

signals:
    void shotStarted(int shot);
    void shotTaken(int shot, const FaceTestAnalyser::Shot &result);
    void finished();

private:
    void run();
    void takeShots(CameraCapture &capture);
    bool pause(int ms); // false when stopped
    bool stopped() const;

    const FaceTestAnalyser &m_analyser;
    const CameraInfo m_camera;
    const FaceTestAnalyser::Switches m_switches;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

Q_DECLARE_METATYPE(FaceTestAnalyser::Shot)
